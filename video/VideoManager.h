#pragma once

#include <array>
#include <filesystem>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/tracking.hpp>
#include <opencv2/videoio.hpp>

#include "labels/Geometry.h"
#include "labels/ROI.h"
#include "video/FrameCache.h"
#include "video/FrameFingerprints.h"

// CVideoManager is the one object through which the editor touches the opened video: the capture,
// the current frame image (which is also the drawing canvas), the display image, the label colour
// table and the CSRT tracker.
//
// The index of the frame on screen follows the capture's position arithmetic (the position is the
// index of the next frame, the shown frame is the position minus one), but the position is kept
// here rather than asked of the capture: frames come from a cache of decoded frames while the
// decoder stands elsewhere. Every read returns true when a frame image is present afterwards.
//
// Exactness: the frame shown under index n is the n-th frame that reading the file in order
// from its start gives. Only frames whose index is certain (read in order from a frame whose
// index is certain, beginning with the first frame after Open) enter the cache; steps back,
// reloads and seeks take them from there, read forward from the decoder when that is short,
// or seek the capture to a frame read before and tell by its fingerprint where the seek really
// landed. Only a seek into a part of the file never read before relies on the capture's own
// frame arithmetic, which on files with irregular timestamps can be off by a few frames; steps
// from such a frame go through a block read after one seek and numbered by the capture's count.
//
// Ownership and threading: owned by the main dialog, one per opened video, used only on the
// user-interface thread. OpenCV exceptions never leave this class: they become failure results.
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

    // --- decoded-frame cache ---
    static constexpr size_t kCacheBudget = size_t{512} << 20;
    // Bytes of decoded frames held now, and the most held at once since construction. The
    // current frame image (the drawing canvas) and one scratch frame come on top.
    size_t CacheBytes() const { return m_cache.Bytes(); }
    size_t CachePeakBytes() const { return m_cache.PeakBytes(); }
    size_t CacheBudget() const { return m_cache.Budget(); }
    // For tests and benchmarks: a smaller budget, applied at once.
    void SetCacheBudget(size_t bytes) { m_cache.SetBudget(bytes); }
    // How often the capture was asked to seek since construction (each seek decodes from the
    // previous key frame, the cost the cache is there to avoid).
    int CaptureSeekCount() const { return m_nCaptureSeeks; }

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

    // --- tracking ---
    // Starts the tracker on rect (frame pixels) over the current frame. False (tracker unchanged)
    // for boxes under 10 x 10 or when the tracker refuses the box.
    bool InitTracker(const CRect& rect);
    // One tracker update on the current frame; on success draws the grey box and returns it.
    bool TrackNext(CRect& rect);
    // Test seam: replaces the tracker (for example with one whose update always fails). The
    // given object is not started; from then on every InitTracker initialises it in place.
    void SetTracker(cv::Ptr<cv::Tracker> tracker);

    // The tracked box (frame pixels) as the last accepted InitTracker or successful TrackNext
    // left it; (0, 0, 0, 0) before the first.
    CRect TrackedRect() const;
    // Boxes whose longer side exceeds this many frame pixels are tracked on a scaled-down copy
    // of the frame in which that side has this length.
    static constexpr int kTrackerSide = 200;
    // For comparisons in tests and benchmarks: the side used from the next InitTracker on;
    // 0 hands every box to the tracker at full frame resolution.
    void SetTrackerSide(int side) { m_nTrackerSide = side; }
    // The scale (tracker pixels per frame pixel) chosen by the last accepted InitTracker.
    double TrackerScale() const { return m_dTrackScale; }

  private:
    // Why a frame is asked for: a step back decodes a whole block behind the frame, so that the
    // next steps back find their frames in the cache.
    enum class Purpose { kNext, kPrevious, kReload, kSeek };
    enum class Decoded { kFrame, kEnd, kLost };

    // The capture's own position (used only where its frame arithmetic is all there is).
    double CapturePosition() const;
    // The one place where a frame is put on screen: from the cache, by reading forward, by a
    // seek whose landing is identified, or by the capture's plain seek, in that order.
    bool ShowFrameAt(int index, Purpose why);
    bool ShowCached(int index);
    // Reads from the decoder's certain position up to index and shows it; the frames of the
    // block behind index are kept.
    bool ReadForwardTo(int index);
    // Seeks the capture to a frame read before, tells where it landed and reads on to index.
    bool SeekExact(int index, Purpose why);
    // The capture's plain seek and read; the frame shown is the one the capture says is index.
    bool SeekCapture(int index);
    // A step back where no frame read before is near: one plain seek to the start of the block
    // behind index and reading forward, the frames numbered by the capture's own count.
    bool ReadUncertainBlock(int index);
    void ShowUncertain(int index, const cv::Mat& image);
    void ForgetUncertain();
    // Decodes the next frame where the decoder's index is not known.
    bool DecodeUncertain();
    // Decodes frame `index` (the decoder's certain next frame) into the current frame when
    // `show`, else into the scratch image, and keeps a copy in the cache when `keep`.
    Decoded DecodeCertain(int index, bool keep, bool show);
    // Seeks the capture to `anchor`, decodes one frame into the scratch image and returns its
    // index as the fingerprints tell it, or -1.
    int SeekAndIdentify(int anchor);
    // Decodes the next frame into out. `grabbed` tells whether the decoder moved on by a frame,
    // which it does even when the picture then cannot be had.
    bool GrabAndRetrieve(cv::Mat& out, double& msec, bool& grabbed);
    bool SetCapturePosition(int index);
    void Keep(int index, const cv::Mat& image);
    void MarkShownCertain(int index);
    // Frames the cache keeps behind a frame reached by stepping back.
    int BlockFrames() const;
    // Forgets every cached frame and fingerprint and the decoder's index.
    void Forget();
    void DropFrame();
    // The frame as the tracker sees it: m_matFrame itself, or a scaled copy for large boxes.
    const cv::Mat& TrackerFrame(double scale, cv::Size2d& axisScale);

    cv::VideoCapture m_capture;
    cv::Mat m_matFrame;
    cv::Mat m_matDisplay;
    cv::Ptr<cv::Tracker> m_pTracker;
    cv::Rect m_rcTrack;
    int m_nWidth = 1;
    int m_nHeight = 1;
    int m_nFrameCount = 1;
    std::array<cv::Scalar, 30> m_colors;

    // Clean decoded frames by index; the frame on screen is pinned. Frames whose index rests on
    // the capture's count alone (read after a plain capture seek into a part never read) are
    // kept under UncertainKey(index), below every certain key, so that no certain lookup takes
    // them; they serve reloads and steps through that stretch only while the frame on screen
    // belongs to it, and are dropped when the next stretch starts or a certain frame is shown.
    static constexpr int UncertainKey(int index) { return -2 - index; }
    CFrameCache m_cache{kCacheBudget};
    CFrameFingerprints m_fingerprints;
    // The index of the frame on screen (position minus one), whether its picture comes from
    // the cache or the decoder, and whether that index is certain.
    int m_nShown = -1;
    bool m_bShownCertain = true;
    // The index of the next frame the decoder delivers, or -1 when it is not known (after a
    // plain capture seek whose landing could not be identified). While it is not known and the
    // shown frame is uncertain, the decoder stands just after the shown frame.
    int m_nDecoderNext = -1;
    size_t m_nFrameBytes = 0;
    int m_nCaptureSeeks = 0;
    // Frames decoded on the way to another one.
    cv::Mat m_matScratch;

    // m_pTracker holds the started model; a new box is tried on m_pSpareTracker first, so that
    // an init that throws half-way leaves the running model untouched. Both are CSRT with
    // default parameters unless a test replaced the tracker (then m_pSpareTracker is null).
    cv::Ptr<cv::Tracker> m_pSpareTracker;
    bool m_bTrackerStarted = false;
    // Scale of the tracker's frame, the box handed to init in tracker pixels, and the box
    // handed to init in frame pixels: results are mapped back relative to these so that an
    // unchanged tracker box gives exactly the initial frame box.
    int m_nTrackerSide = kTrackerSide;
    double m_dTrackScale = 1.0;
    cv::Size2d m_trackAxisScale{1.0, 1.0};
    cv::Rect m_rcInitScaled;
    cv::Rect m_rcInitFrame;
    cv::Mat m_matTrackFrame;
};
