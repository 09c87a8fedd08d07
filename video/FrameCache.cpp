#include "video/FrameCache.h"

#include <utility>

namespace {

size_t FrameBytes(cv::Size size, int type) {
    if (size.width <= 0 || size.height <= 0) {
        return 0;
    }
    return static_cast<size_t>(size.width) * static_cast<size_t>(size.height) *
           static_cast<size_t>(CV_ELEM_SIZE(type));
}

}  // namespace

CFrameCache::CFrameCache(size_t budgetBytes) : m_nBudget(budgetBytes) {}

void CFrameCache::SetBudget(size_t budgetBytes) {
    m_nBudget = budgetBytes;
    // Evict from the least recently used end, skipping the pinned frame.
    auto it = m_lru.end();
    while (m_nBytes > m_nBudget && it != m_lru.begin()) {
        --it;
        if (it->key == m_nPinned) {
            continue;
        }
        m_nBytes -= it->bytes;
        m_index.erase(it->key);
        it = m_lru.erase(it);
    }
}

size_t CFrameCache::Capacity(size_t frameBytes) const {
    return frameBytes == 0 ? 0 : m_nBudget / frameBytes;
}

const cv::Mat* CFrameCache::Find(int key) {
    const auto found = m_index.find(key);
    if (found == m_index.end()) {
        return nullptr;
    }
    m_lru.splice(m_lru.begin(), m_lru, found->second);
    return &found->second->image;
}

bool CFrameCache::MakeRoom(size_t needed, cv::Size size, int type, cv::Mat& reuse) {
    if (needed > m_nBudget) {
        return false;
    }
    // First check that enough unpinned frames exist, so that a refusal evicts nothing.
    size_t evictable = 0;
    for (const Entry& e : m_lru) {
        if (e.key != m_nPinned) {
            evictable += e.bytes;
        }
    }
    if (m_nBytes - evictable + needed > m_nBudget) {
        return false;
    }
    auto it = m_lru.end();
    while (m_nBytes + needed > m_nBudget && it != m_lru.begin()) {
        --it;
        if (it->key == m_nPinned) {
            continue;
        }
        m_nBytes -= it->bytes;
        if (reuse.empty() && it->image.size() == size && it->image.type() == type) {
            reuse = std::move(it->image);
        }
        m_index.erase(it->key);
        it = m_lru.erase(it);
    }
    return true;
}

cv::Mat* CFrameCache::Slot(int key, cv::Size size, int type) {
    const size_t bytes = FrameBytes(size, type);
    if (bytes == 0) {
        return nullptr;
    }
    const auto found = m_index.find(key);
    if (found != m_index.end()) {
        Entry& e = *found->second;
        if (e.image.size() == size && e.image.type() == type) {
            m_lru.splice(m_lru.begin(), m_lru, found->second);
            return &e.image;
        }
        Erase(key);
    }
    // All frames of one video have one size and type, so once the cache is full every new
    // frame takes over the memory of the one it evicts.
    cv::Mat reuse;
    if (!MakeRoom(bytes, size, type, reuse)) {
        return nullptr;
    }
    Entry entry{key, std::move(reuse), bytes};
    entry.image.create(size, type);
    m_lru.push_front(std::move(entry));
    m_index[key] = m_lru.begin();
    m_nBytes += bytes;
    if (m_nBytes > m_nPeakBytes) {
        m_nPeakBytes = m_nBytes;
    }
    return &m_lru.front().image;
}

void CFrameCache::Erase(int key) {
    const auto found = m_index.find(key);
    if (found == m_index.end()) {
        return;
    }
    m_nBytes -= found->second->bytes;
    m_lru.erase(found->second);
    m_index.erase(found);
}

void CFrameCache::EraseBelow(int key) {
    for (auto it = m_lru.begin(); it != m_lru.end();) {
        if (it->key < key) {
            m_nBytes -= it->bytes;
            m_index.erase(it->key);
            it = m_lru.erase(it);
        } else {
            ++it;
        }
    }
}

void CFrameCache::Clear() {
    m_lru.clear();
    m_index.clear();
    m_nBytes = 0;
}
