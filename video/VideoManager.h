#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/tracking.hpp>

#include "labels/Geometry.h"
#include "labels/ROI.h"
#include "video/FrameCache.h"
#include "video/FrameDecoder.h"
#include "video/FrameIndex.h"
#include "video/RoiTracker.h"

class CFrameIndexBuilder;

// CVideoManager is the one object through which the editor touches the opened video: the
// decoder, the current frame image (which is also the drawing canvas), the display image, the
// label colour table and the CSRT tracker.
//
// Frame n is the n-th frame that reading the file in order from its start yields, as OpenCV's
// capture yields them, so label folders keep their meaning. Reading in order counts frames
// exactly. Every other way to a frame goes through the frame index: the timestamp of every
// frame, made by decoding the whole file on a worker thread started by Open (or read from the
// index file in the label folder, when SetIndexFolder finds a valid one). A seek goes to the key
// frame before its target and decodes forward until the frame the index names is recognised.
// Frames read in order from the start join the index as they come, so playback never outruns it.
//
// Until the index reaches a frame, a seek there lands where the frame rate says the frame should
// be: such a frame is shown as not verified (IsCurrentFrameVerified), and a reload once the
// index covers it (CanVerifyCurrentFrame) shows the exact frame.
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
    // The folder the index file lives in (a hidden sub-folder of it): a valid file there is
    // taken at once, else the index built now is written there when complete. Without a call,
    // or when the folder cannot be written, the index lives in memory only.
    void SetIndexFolder(const std::filesystem::path& labelFolder);
    static std::filesystem::path IndexFilePath(const std::filesystem::path& labelFolder);
    // Takes what the worker found since the last call; cheap, meant for a timer.
    void PollIndex();
    int IndexedFrames() const { return m_index.Count(); }
    bool IsIndexComplete() const { return m_index.Complete(); }
    bool IndexLoadedFromFile() const { return m_bIndexFromFile; }
    // Percent of the reported frame count indexed so far (100 once complete).
    int IndexPercent() const;
    // Blocks until the worker has ended, then polls (benchmarks and tests).
    void WaitForIndex();
    // Whether the frame on screen is known to be the frame its index names.
    bool IsCurrentFrameVerified() const { return m_bShownVerified; }
    // True when the frame on screen is not verified and the index now reaches it: a reload
    // would show the exact frame.
    bool CanVerifyCurrentFrame() const;
    // Open starts no worker (tests; the exporter, which only reads in order); StartIndexing
    // starts it later.
    void SetIndexOnOpen(bool start) { m_bIndexOnOpen = start; }
    void StartIndexing();
    // A seek no further than this many frames past what the index covers waits for the worker
    // instead of guessing (the worker reads far faster than a seek decodes). Scaled by the
    // frame size: this many 640 x 480 frames.
    static constexpr int kIndexWaitFrames = 300;
    void SetIndexWaitFrames(int frames) { m_nIndexWaitFrames = frames; }

    // --- decoded-frame cache ---
    static constexpr size_t kCacheBudget = size_t{512} << 20;
    // Bytes of decoded frames held now, and the most held at once since construction. The
    // current frame image (the drawing canvas) and one scratch frame come on top.
    size_t CacheBytes() const { return m_cache.Bytes(); }
    size_t CachePeakBytes() const { return m_cache.PeakBytes(); }
    size_t CacheBudget() const { return m_cache.Budget(); }
    // For tests and benchmarks: a smaller budget, applied at once.
    void SetCacheBudget(size_t bytes) { m_cache.SetBudget(bytes); }
    // How often the decoder was sent to a key frame since construction.
    int SeekCount() const { return m_nSeeks; }

    // The current frame image (drawing canvas); empty before the first read and after a failed one.
    cv::Mat& CurrentFrame() { return m_matFrame; }
    const cv::Mat& CurrentFrame() const { return m_matFrame; }

    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    int GetFrameCount() const { return m_nFrameCount; }

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
    // Test seam: replaces the tracker; from then on every InitTracker initialises it in place.
    void SetTracker(cv::Ptr<cv::Tracker> tracker) { m_tracker.SetTracker(std::move(tracker)); }
    CRect TrackedRect() const { return m_tracker.TrackedRect(); }
    static constexpr int kTrackerSide = CRoiTracker::kTrackerSide;
    void SetTrackerSide(int side) { m_tracker.SetSide(side); }
    double TrackerScale() const { return m_tracker.Scale(); }

  private:
    // Why a frame is asked for: a step back keeps a whole block behind the frame, so that the
    // next steps back find their frames in the cache.
    enum class Purpose { kNext, kPrevious, kReload, kSeek };

    bool ShowFrameAt(int index, Purpose why);
    bool ShowCached(int index);
    // Reads on from the decoder's known position to index; frames from keepFrom on are cached.
    bool ReadForwardTo(int index, int keepFrom);
    // Seeks to the key frame before index by the index and decodes until index is recognised.
    bool SeekIndexed(int index, Purpose why);
    // Reopens the file and reads from its first frame: the way that cannot miss.
    bool ReadFromStart(int index, int keepFrom);
    // Where the index does not reach yet: a seek by the frame rate, shown as not verified.
    bool SeekUnverified(int index);
    // Shows the decoder's frame (the next one when decodeNext) as index, not verified.
    bool ShowUnverified(int index, bool decodeNext);
    bool Convert(cv::Mat& out);
    // The decoder's frame as frame `index`: into the current frame (and the cache) when `show`,
    // else into the cache only. False when it could not be converted.
    bool KeepDecoded(int index, bool show);
    void Keep(int index, const cv::Mat& image);
    void ShowVerified(int index);
    int BlockFrames() const;
    void DropFrame();
    void SaveIndexIfComplete();

    std::filesystem::path m_path;
    CFrameDecoder m_decoder;
    CFrameIndex m_index;
    std::unique_ptr<CFrameIndexBuilder> m_pBuilder;
    std::filesystem::path m_indexFile;
    VideoSignature m_signature;
    bool m_bIndexFromFile = false;
    bool m_bIndexSaved = false;
    bool m_bIndexOnOpen = true;
    int m_nIndexWaitFrames = -1;

    cv::Mat m_matFrame;
    cv::Mat m_matDisplay;
    CRoiTracker m_tracker;
    int m_nWidth = 1;
    int m_nHeight = 1;
    int m_nFrameCount = 1;

    // Clean decoded frames of verified index; the frame on screen is pinned.
    CFrameCache m_cache{kCacheBudget};
    // The frame on screen (position minus one) and whether it is known to be that frame.
    int m_nShown = -1;
    bool m_bShownVerified = true;
    // The clean picture of a frame shown as not verified (reloads give it back).
    cv::Mat m_matUnverified;
    // The number of the next frame the decoder delivers, or -1 when not known; whether that
    // number is verified (counted from the start or from a frame the index recognised).
    int m_nDecoderNext = -1;
    bool m_bDecoderVerified = false;
    // The decoder has read in order from the start since it was opened: its timestamps are
    // exactly the worker's, so its frames may extend the index.
    bool m_bDecoderFromStart = false;
    // Frames the worker has handed over so far (it starts at frame 0).
    int m_nWorkerFrames = 0;
    size_t m_nFrameBytes = 0;
    int m_nSeeks = 0;
};
