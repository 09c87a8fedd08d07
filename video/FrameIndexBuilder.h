#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "video/FrameIndex.h"

// Builds the frame index of a video on a thread of its own, with a decoder of its own that reads
// the file in order without making pictures. The frames it finds are handed over in batches
// through one lock-protected list; the owner takes them whenever it likes.
//
// The thread runs at the lowest scheduling priority, so that on a busy machine the user
// interface's own decoding comes first. Stop (and the destructor) ask it to end and join it;
// it looks at that request after every frame, so the join waits for one frame at most.
//
// Ownership and threading: owned and used by one thread; only the worker inside is another.
class CFrameIndexBuilder {
  public:
    CFrameIndexBuilder() = default;
    ~CFrameIndexBuilder();
    CFrameIndexBuilder(const CFrameIndexBuilder&) = delete;
    CFrameIndexBuilder& operator=(const CFrameIndexBuilder&) = delete;

    void Start(const std::filesystem::path& video);
    void Stop();

    // Appends the frames found since the last call to `out`. `finished` tells whether the
    // worker has read to the end of what can be read (then nothing more will come).
    void Take(std::vector<IndexedFrame>& out, bool& finished);
    // Blocks until the worker has found at least `frames` frames in all or has ended, or (with
    // a `limit` above zero) for that long at most: a worker starved by a busy machine must not
    // freeze its owner. True when the frames are there.
    bool WaitFor(int frames, std::chrono::milliseconds limit = std::chrono::milliseconds(0));

  private:
    void Run(std::filesystem::path video);
    void Hand(std::vector<IndexedFrame>& batch, bool finished);

    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<IndexedFrame> m_pending;
    int m_nFound = 0;
    bool m_bFinished = false;
    bool m_bEnded = true;
};
