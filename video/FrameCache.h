#pragma once

#include <cstddef>
#include <list>
#include <unordered_map>

#include <opencv2/core.hpp>

// Decoded frames under integer keys within a fixed budget of bytes, the least recently used
// frame evicted first. One key can be pinned: the frame on screen, whose clean copy must survive
// whatever is decoded next.
//
// Frames are owned by the cache and never share memory with anything handed out: callers copy
// out of it. The memory of an evicted frame is reused for the next frame of the same size, so a
// full cache does not allocate and free a large image on every decode.
//
// Ownership and threading: a plain value owned by the video source, used on one thread.
class CFrameCache {
  public:
    explicit CFrameCache(size_t budgetBytes);
    CFrameCache(const CFrameCache&) = delete;
    CFrameCache& operator=(const CFrameCache&) = delete;

    // Changes the budget and evicts down to it (the pinned frame stays).
    void SetBudget(size_t budgetBytes);
    size_t Budget() const { return m_nBudget; }
    // Bytes of pixel data held now, and the most held at any time since construction.
    size_t Bytes() const { return m_nBytes; }
    size_t PeakBytes() const { return m_nPeakBytes; }
    size_t Count() const { return m_index.size(); }
    // How many frames of this size the budget holds at once.
    size_t Capacity(size_t frameBytes) const;

    bool Contains(int key) const { return m_index.count(key) != 0; }
    // The frame under key, marked as used just now; null when absent.
    const cv::Mat* Find(int key);

    // A frame of the given size and type under key, to be written by the caller: the existing
    // frame under key, or room made by evicting least recently used frames (never the pinned
    // one). Null when the budget cannot hold the frame; nothing is evicted then.
    cv::Mat* Slot(int key, cv::Size size, int type);
    void Erase(int key);
    // Erases every frame whose key is below `key`, the pinned one included.
    void EraseBelow(int key);

    // The pinned key is never evicted; kNoKey pins nothing.
    static constexpr int kNoKey = -2147483647 - 1;
    void Pin(int key) { m_nPinned = key; }
    int Pinned() const { return m_nPinned; }

    // Drops every frame; the peak figure and the budget stay.
    void Clear();

  private:
    struct Entry {
        int key;
        cv::Mat image;
        size_t bytes;
    };
    using List = std::list<Entry>;

    // Evicts least recently used frames, not the pinned one, until `needed` more bytes fit.
    // Returns false (having evicted nothing) when even that would not make room. The memory of
    // one evicted frame of the given size and type is handed back in `reuse`.
    bool MakeRoom(size_t needed, cv::Size size, int type, cv::Mat& reuse);

    size_t m_nBudget;
    size_t m_nBytes = 0;
    size_t m_nPeakBytes = 0;
    int m_nPinned = kNoKey;
    List m_lru;  // most recently used first
    std::unordered_map<int, List::iterator> m_index;
};
