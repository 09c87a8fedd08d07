#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "video/FrameIndex.h"

class CFrameDecoder;

// Builds the frame index of a video on a thread of its own: from the packets' headers where that
// gives the decoder's order for certain (H.264, see CHeaderOrder), else, and from where that stops
// applying, with a decoder of its own that reads the file in order without making pictures. The
// frames it finds are handed over in batches through one lock-protected list; the owner takes them
// whenever it likes.
//
// The thread runs at a lowered scheduling priority (kNice), so that on a busy machine the user
// interface's own decoding comes first, yet high enough that other busy programs do not starve
// it. Its decoder skips the work that only changes pixels. Stop (and the destructor) ask it to
// end and join it; it looks at that request after every frame, so the join waits for one frame
// at most.
//
// On a video long enough to be worth it, and a machine with more than one core, a second worker
// reads the second half meanwhile: it seeks to the middle and keeps the frames it decodes from
// its first key frame on (those come out exactly as reading from the start yields them). When
// the first worker's frames reach the second's first kept frame, and the next kSpliceCheck
// frames agree, the first stops decoding and hands on the second's frames.
//
// Ownership and threading: owned and used by one thread; only the workers inside are others.
class CFrameIndexBuilder {
  public:
    // How the worker ended: still running, at the clean end of the file (the index is the
    // whole file), at a read error (the file could not be read further), or stopped.
    enum class End { kRunning, kEndOfFile, kReadError, kStopped };
    static constexpr int kNice = 10;
    // A second worker is started for videos of at least this many frames (by the container).
    static constexpr int kSplitFrames = 600;
    static constexpr int kSpliceCheck = 8;

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
    // Test and benchmark only: whether builders started from now on use a second worker on
    // any video (true), on none (false), or as their rule says (the default).
    enum class Split { kByRule, kAlways, kNever };
    static void SetSplitForTests(Split split);
    // Test and benchmark only: whether builders started from now on may take the order from the
    // headers (the default) or always decode.
    static void SetHeaderOrderForTests(bool allowed);
    // How many of the frames found came from the headers (the rest were decoded).
    int FramesFromHeaders() const { return m_nFromHeaders; }

  private:
    void Run(std::filesystem::path video);
    // The order from the headers, handed as it settles; the frames handed go to `handed`.
    End ReadHeaders(const std::filesystem::path& video, std::vector<IndexedFrame>& handed);
    // Decodes from the start, handing what comes after `handed`, until the end.
    End DecodeFrom(CFrameDecoder& decoder, const std::filesystem::path& video,
                   const std::vector<IndexedFrame>& handed, std::vector<IndexedFrame>& batch);
    void RunSecond(std::filesystem::path video, FrameKey middle);
    // The first worker's frame `n`, decoded by itself: true once the second worker's frames
    // are known to go on from there (then `offset` maps frame numbers to places in m_tail).
    bool TrySplice(const IndexedFrame& frame, int n, int& offset);
    // The second worker's frame for frame number n, waiting for it; false (and how the second
    // worker ended) when none will come.
    bool NextFromSecond(int n, int offset, IndexedFrame& frame, End& end);
    void Hand(std::vector<IndexedFrame>& batch, End end);

    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<IndexedFrame> m_pending;
    int m_nFound = 0;
    // The second worker and what it found (under m_mutex): its frames in order from its seek,
    // the place in them of its first key frame (-1 until found), how it ended.
    std::thread m_second;
    std::atomic<bool> m_bStopSecond{false};
    std::vector<IndexedFrame> m_tail;
    int m_nAnchor = -1;
    End m_tailEnd = End::kRunning;
    // The first worker's own frames, for the splice (first worker only).
    std::vector<FrameKey> m_own;
    std::unordered_map<FrameKey, int, FrameKeyHash> m_ownAt;
    int m_nAnchorAt = -1;
    int m_nSpliceChecked = 0;
    bool m_bSecond = false;
    int m_nStopAfter = -1;
    std::atomic<int> m_nFromHeaders{0};
    End m_end = End::kRunning;
    bool m_bEnded = true;
};
