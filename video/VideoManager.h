#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/tracking.hpp>

#include "labels/Geometry.h"
#include "labels/ROI.h"
#include "video/DecoderPosition.h"
#include "video/FrameCache.h"
#include "video/FrameDecoder.h"
#include "video/RoiTracker.h"
#include "video/VideoIndex.h"

// CVideoManager is the one object through which the editor touches the opened video: the
// decoder, the current frame image (which is also the drawing canvas), the display image, the
// label colour table and the CSRT tracker.
//
// Frame n is the n-th frame that reading the file in order from its start yields, as OpenCV's
// capture yields them, so label folders keep their meaning. Reading in order from the start
// counts frames exactly. Every other way to a frame goes through the frame index (CVideoIndex):
// the name of every frame in the file (FrameKey: packet position, size and timestamp), made by
// decoding the whole file on a worker thread started by Open, or read from the index file in
// the label folder. A seek goes to the key frame before its target and decodes forward; a frame
// counts as the frame the index names only when its name proves it (see CFrameIndex).
//
// A frame is shown as verified (IsCurrentFrameVerified) only when it was counted from the start
// or its name was checked against the index; only such frames enter the frame cache. Where the
// index does not reach yet, a jump still shows a picture: where the frame rate says the frame
// is, or else read on from the nearest place that can be recognised (or from the start), marked
// as not verified; a reload once the index covers it (CanVerifyCurrentFrame) checks it or shows
// the exact frame.
//
// Ownership and threading: owned by the main dialog, one per opened video, used only on the
// user-interface thread; the index worker is internal and joined by Open and the destructor.
// FFmpeg and OpenCV errors never leave this class: they become failure results.
class CVideoManager {
  public:
    CVideoManager();
    virtual ~CVideoManager();
    CVideoManager(const CVideoManager&) = delete;
    CVideoManager& operator=(const CVideoManager&) = delete;

    bool Open(const std::filesystem::path& path);
    bool IsOpened() const;

    bool ReadNextFrame();
    bool ReadPreviousFrame();
    bool ReloadCurrentFrame();
    bool SeekFrame(int n);
    int CurrentFrameIndex() const;

    // The current frame resized to a width that is a multiple of 4 (bilinear), height unchanged.
    const cv::Mat& MakeDisplayImage();

    // --- frame index ---
    // The folder the index file lives in (a hidden sub-folder of it): a file there that fits
    // the content of the video is taken at once, else the index built now is written there
    // when complete. Without a call, or when the folder cannot be written, the index lives in
    // memory only. A reader that reads the whole video in order from its start (the exporter)
    // stores the index this way as a by-product, without a worker: SetIndexOnOpen(false),
    // Open, SetIndexFolder, then ReadNextFrame until it fails.
    void SetIndexFolder(const std::filesystem::path& labelFolder);
    static std::filesystem::path IndexFilePath(const std::filesystem::path& labelFolder);
    // Takes what the worker found since the last call; cheap, meant for a timer.
    void PollIndex();
    int IndexedFrames() const { return m_index.Count(); }
    bool IsIndexComplete() const { return m_index.Complete(); }
    bool IndexLoadedFromFile() const { return m_index.FromFile(); }
    // Percent of the frame count indexed so far (100 once complete).
    int IndexPercent() const;
    // The last frame that could be read before the file failed (an I/O error, not its end),
    // or -1 when reading has not failed.
    int LastReadableFrame() const;
    // Whether the frame on screen is known to be the frame its index names.
    bool IsCurrentFrameVerified() const { return m_bShownVerified; }
    // True when the frame on screen is not verified and the index now reaches it: a reload
    // would check it or show the exact frame.
    bool CanVerifyCurrentFrame() const;
    // Open starts no worker; StartIndexing starts it later.
    void SetIndexOnOpen(bool start) { m_bIndexOnOpen = start; }
    void StartIndexing();
    // A seek no further than this many frames past what the index covers waits for the worker
    // (a while at most) instead of guessing: the worker reads far faster than a seek decodes.
    // Scaled by the frame size: this many 640 x 480 frames.
    static constexpr int kIndexWaitFrames = 300;

    // --- decoded-frame cache ---
    static constexpr size_t kCacheBudget = size_t{512} << 20;
    // Bytes of decoded frames held now, and the most held at once since construction. The
    // current frame image (the drawing canvas) and one scratch frame come on top.
    size_t CacheBytes() const { return m_cache.Bytes(); }
    size_t CachePeakBytes() const { return m_cache.PeakBytes(); }
    size_t CacheBudget() const { return m_cache.Budget(); }
    // A smaller budget, applied at once (0: nothing is kept, as for a reader in order).
    void SetCacheBudget(size_t bytes) { m_cache.SetBudget(bytes); }

    // The current frame image (drawing canvas); empty before the first read and after a failed one.
    cv::Mat& CurrentFrame() { return m_matFrame; }
    const cv::Mat& CurrentFrame() const { return m_matFrame; }

    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    // The exact frame count once the index is complete; until then the container's count, or
    // the frames indexed so far where that is more (a raw stream reports no count at all).
    int GetFrameCount() const;

    // --- drawing into the current frame ---
    // Colour of a label; labels outside 1..30 get a neutral fallback colour.
    cv::Scalar LabelColor(int label) const;
    bool DrawRois(const std::vector<ROI>& list);
    // Draws one rectangle (frame pixels) into the current frame, used for the rubber band.
    void DrawRectangle(const CRect& rect, const cv::Scalar& color, int thickness);

    // --- tracking (see CRoiTracker) ---
    bool InitTracker(const CRect& rect);
    // One tracker update on the current frame; on success draws the grey box and returns it.
    bool TrackNext(CRect& rect);
    CRect TrackedRect() const { return m_tracker.TrackedRect(); }
    static constexpr int kTrackerSide = CRoiTracker::kTrackerSide;
    void SetTrackerSide(int side) { m_tracker.SetSide(side); }
    double TrackerScale() const { return m_tracker.Scale(); }

    // --- for tests and benchmarks only ---
    // Blocks until the worker has ended, then polls.
    void WaitForIndex();
    // Replaces the frame-size-scaled wait of kIndexWaitFrames.
    void SetIndexWaitFrames(int frames) { m_nIndexWaitFrames = frames; }
    // The worker stops after this many frames, leaving the index partial (set before Open).
    void StopIndexAfterForTests(int frames) { m_index.StopWorkerAfterForTests(frames); }
    // How often the decoder was sent to a key frame since construction.
    int SeekCount() const { return m_nSeeks; }
    // Replaces the tracker; from then on every InitTracker initialises it in place.
    void SetTracker(cv::Ptr<cv::Tracker> tracker) { m_tracker.SetTracker(std::move(tracker)); }

  private:
    // Why a frame is asked for: a step back keeps a whole block behind the frame, so that the
    // next steps back find their frames in the cache.
    enum class Purpose { kNext, kPrevious, kReload, kSeek };
    // How reading on from the decoder's position went: the frame is shown (verified or not),
    // the file ended first, the decoder turned out not to be where its count said (the caller
    // seeks instead), or a picture could not be made.
    enum class Reach { kShown, kEnded, kLost, kFailed };

    bool ShowFrameAt(int index, Purpose why);
    bool ShowCached(int index);
    // Reads on from the decoder's position to index; proven frames from keepFrom on are cached.
    Reach ReadForwardTo(int index, int keepFrom);
    // Seeks to a key frame before index that the index recognises and decodes until index;
    // read from the start when that fails.
    bool SeekIndexed(int index, int keepFrom);
    // Reopens the file and reads from its first frame: the way that cannot miss.
    bool ReadFromStart(int index, int keepFrom);
    // Where the index does not reach yet: a seek by the frame rate, shown as not verified, or
    // reading on from the nearest recognisable place when that finds nothing.
    bool SeekUnverified(int index, int keepFrom);
    void ShowUnverified(int index, const FrameKey& key);
    bool Convert(cv::Mat& out);
    // The decoder's frame as frame `index`: into the current frame (and the cache) when `show`,
    // else into the cache only. False when it could not be converted.
    bool KeepDecoded(int index, bool show);
    void Keep(int index, const cv::Mat& image);
    void ShowVerified(int index);
    int KeepFrom(int index, Purpose why) const;
    void DropFrame();

    std::filesystem::path m_path;
    CFrameDecoder m_decoder;
    CVideoIndex m_index;
    bool m_bIndexOnOpen = true;
    int m_nIndexWaitFrames = -1;

    cv::Mat m_matFrame;
    cv::Mat m_matDisplay;
    CRoiTracker m_tracker;
    int m_nWidth = 1;
    int m_nHeight = 1;
    // The container's count (see GetFrameCount).
    int m_nFrameCount = 1;

    // Clean decoded frames of proven number; the frame on screen is pinned.
    CFrameCache m_cache{kCacheBudget};
    // The frame on screen (position minus one) and whether it is known to be that frame.
    int m_nShown = -1;
    bool m_bShownVerified = true;
    // The clean picture and the name of a frame shown as not verified (reloads give it back;
    // the index confirms it by its name).
    cv::Mat m_matUnverified;
    FrameKey m_shownKey;
    DecoderPosition m_pos = DecoderPosition::Lost();
    size_t m_nFrameBytes = 0;
    int m_nSeeks = 0;
};
