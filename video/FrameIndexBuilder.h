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
// The thread runs at a lowered scheduling priority (kNice), so that on a busy machine the user
// interface's own decoding comes first, yet high enough that other busy programs do not starve
// it. Its decoder skips the work that only changes pixels. Stop (and the destructor) ask it to
// end and join it; it looks at that request after every frame, so the join waits for one frame
// at most.
//
// Ownership and threading: owned and used by one thread; only the worker inside is another.
class CFrameIndexBuilder {
  public:
    // How the worker ended: still running, at the clean end of the file (the index is the
    // whole file), at a read error (the file could not be read further), or stopped.
    enum class End { kRunning, kEndOfFile, kReadError, kStopped };
    static constexpr int kNice = 10;

    CFrameIndexBuilder() = default;
    ~CFrameIndexBuilder();
    CFrameIndexBuilder(const CFrameIndexBuilder&) = delete;
    CFrameIndexBuilder& operator=(const CFrameIndexBuilder&) = delete;

    void Start(const std::filesystem::path& video);
    void Stop();

    // Appends the frames found since the last call to `out` and tells how the worker stands
    // (anything but kRunning: nothing more will come).
    End Take(std::vector<IndexedFrame>& out);
    // Blocks until the worker has found at least `frames` frames in all or has ended, or (with
    // a `limit` above zero) for that long at most: a worker starved by a busy machine must not
    // freeze its owner. True when the frames are there.
    bool WaitFor(int frames, std::chrono::milliseconds limit = std::chrono::milliseconds(0));

    // Test-only: the worker stops (as if asked to) after this many frames, leaving a partial
    // index that stays partial. Takes effect at the next Start.
    void StopAfterForTests(int frames) { m_nStopAfter = frames; }
    // Benchmark-only: the nice value of workers started from now on (kNice otherwise).
    static void SetNiceForBenchmarks(int nice);

  private:
    void Run(std::filesystem::path video);
    void Hand(std::vector<IndexedFrame>& batch, End end);

    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<IndexedFrame> m_pending;
    int m_nFound = 0;
    int m_nStopAfter = -1;
    End m_end = End::kRunning;
    bool m_bEnded = true;
};
