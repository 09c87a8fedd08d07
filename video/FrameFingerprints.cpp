#include "video/FrameFingerprints.h"

#include <algorithm>
#include <cstring>

namespace {

// Every 4th row: enough to tell apart frames that differ anywhere but in a thin horizontal
// line, at a quarter of the cost of hashing the whole frame (a 1080p frame is 6 MB).
constexpr int kRowStep = 4;

inline uint64_t Mix(uint64_t h, uint64_t v) {
    h ^= v;
    h *= 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 31);
}

}  // namespace

FrameFingerprint MakeFingerprint(const cv::Mat& frame, double msec) {
    FrameFingerprint fp;
    fp.msec = msec;
    if (frame.empty()) {
        return fp;
    }
    const size_t rowBytes = frame.cols * frame.elemSize();
    const size_t words = rowBytes / 8;
    // Four independent lanes keep the multiplications from waiting on each other.
    uint64_t lane[4] = {0x243F6A8885A308D3ull, 0x13198A2E03707344ull, 0xA4093822299F31D0ull,
                        0x082EFA98EC4E6C89ull};
    for (int y = 0; y < frame.rows; y += kRowStep) {
        const uchar* row = frame.ptr(y);
        size_t w = 0;
        for (; w + 4 <= words; w += 4) {
            uint64_t v[4];
            std::memcpy(v, row + w * 8, sizeof v);
            lane[0] = Mix(lane[0], v[0]);
            lane[1] = Mix(lane[1], v[1]);
            lane[2] = Mix(lane[2], v[2]);
            lane[3] = Mix(lane[3], v[3]);
        }
        for (size_t done = w * 8; done < rowBytes; done += 8) {
            uint64_t tail = 0;
            std::memcpy(&tail, row + done, std::min<size_t>(8, rowBytes - done));
            lane[0] = Mix(lane[0], tail);
        }
    }
    uint64_t h = static_cast<uint64_t>(frame.rows) << 32 | static_cast<uint32_t>(frame.cols);
    for (uint64_t l : lane) {
        h = Mix(h, l);
    }
    fp.hash = h == 0 ? 1 : h;
    return fp;
}

bool CFrameFingerprints::Record(int index, const FrameFingerprint& fp) {
    if (index < 0 || !fp.Known()) {
        return true;
    }
    const size_t i = static_cast<size_t>(index);
    if (i >= m_byIndex.size()) {
        m_byIndex.resize(i + 1);
    }
    FrameFingerprint& slot = m_byIndex[i];
    if (slot.Known()) {
        return slot == fp;
    }
    slot = fp;
    m_byHash.emplace(fp.hash, index);
    return true;
}

bool CFrameFingerprints::Known(int index) const {
    return index >= 0 && static_cast<size_t>(index) < m_byIndex.size() &&
           m_byIndex[static_cast<size_t>(index)].Known();
}

int CFrameFingerprints::Identify(const FrameFingerprint& fp) const {
    if (!fp.Known()) {
        return -1;
    }
    int found = -1;
    const auto range = m_byHash.equal_range(fp.hash);
    for (auto it = range.first; it != range.second; ++it) {
        if (m_byIndex[static_cast<size_t>(it->second)] != fp) {
            continue;
        }
        if (found >= 0) {
            // Two frames alike in pixels and timestamp: which one this is cannot be told.
            return -1;
        }
        found = it->second;
    }
    return found;
}

int CFrameFingerprints::KnownAtOrBefore(int index, int maxBack) const {
    if (index < 0 || m_byIndex.empty()) {
        return -1;
    }
    const int last = std::min(index, static_cast<int>(m_byIndex.size()) - 1);
    const int first = std::max(0, index - std::max(0, maxBack));
    for (int i = last; i >= first; --i) {
        if (m_byIndex[static_cast<size_t>(i)].Known()) {
            return i;
        }
    }
    return -1;
}

void CFrameFingerprints::Clear() {
    m_byIndex.clear();
    m_byHash.clear();
}
