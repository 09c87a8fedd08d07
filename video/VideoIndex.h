#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

#include "video/FrameIndex.h"

class CFrameIndexBuilder;

// The frame index of one opened video and everything that feeds it: the worker that builds it
// by reading the file in order, frames that the owner itself reads in order from the start, and
// the index file in the label folder (taken when it fits the content of the video, written once
// the index is complete).
//
// The index is complete only after a clean end of the file. A read error ends the worker too,
// but leaves the index partial, remembers where reading failed and is never written: an index
// file always holds the whole video.
//
// Ownership and threading: owned by CVideoManager (or a batch indexer), used on one thread; the
// worker inside runs on its own.
class CVideoIndex {
  public:
    CVideoIndex();
    ~CVideoIndex();
    CVideoIndex(const CVideoIndex&) = delete;
    CVideoIndex& operator=(const CVideoIndex&) = delete;

    // Forgets everything and ties the index to this video (`packets`: the container's count,
    // see CFrameDecoder::ContainerPackets).
    void Reset(const std::filesystem::path& video, int64_t packets);
    // Starts the worker unless the index is complete or a worker runs.
    void Start();
    bool Working() const { return m_pBuilder != nullptr; }
    // Takes what the worker found since the last call; cheap.
    void Poll();
    // Blocks until the worker has handed over `frames` frames or ended, or for `limit` at most
    // (0: no limit), then polls.
    void WaitFor(int frames, std::chrono::milliseconds limit = std::chrono::milliseconds(0));

    // The folder the index file lives in (a hidden sub-folder of it): a file there that fits
    // the video is taken at once (true), else the index is written there when complete.
    bool SetFolder(const std::filesystem::path& labelFolder);
    static std::filesystem::path FilePath(const std::filesystem::path& labelFolder);
    bool FromFile() const { return m_bFromFile; }
    bool Saved() const { return m_bSaved; }

    // Frame `n` as the owner read it in order from the start: it joins the index when it is the
    // next one the index lacks.
    void ReadInOrder(int n, const IndexedFrame& frame);
    // The owner's reading in order from the start ended after `frames` frames: cleanly (the
    // index is then complete) or at a read error.
    void ReadInOrderEnded(int frames, bool readError);

    const CFrameIndex& Frames() const { return m_index; }
    int Count() const { return m_index.Count(); }
    bool Complete() const { return m_index.Complete(); }
    // The number of frames read before the file could not be read further, or -1.
    int ReadErrorAfter() const { return m_nReadErrorAfter; }

    // Test-only: the worker stops after this many frames and the index stays partial.
    void StopWorkerAfterForTests(int frames) { m_nStopAfter = frames; }

  private:
    void Finish();
    void SaveIfComplete();

    std::filesystem::path m_video;
    VideoSignature m_signature;
    bool m_bSignature = false;
    CFrameIndex m_index;
    std::unique_ptr<CFrameIndexBuilder> m_pBuilder;
    std::filesystem::path m_file;
    bool m_bFromFile = false;
    bool m_bSaved = false;
    // Frames the worker has handed over so far (it starts at frame 0).
    int m_nWorkerFrames = 0;
    int m_nReadErrorAfter = -1;
    int m_nStopAfter = -1;
};
