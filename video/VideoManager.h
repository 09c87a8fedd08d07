#pragma once

#include <array>
#include <filesystem>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/tracking.hpp>
#include <opencv2/videoio.hpp>

#include "labels/Geometry.h"
#include "labels/ROI.h"

// CVideoManager is the one object through which the editor touches the opened video: the capture,
// the current frame image (which is also the drawing canvas), the display image, the label colour
// table and the CSRT tracker.
//
// The index of the frame on screen is always the capture position minus one; there is no frame
// counter of its own. Every read returns true when a frame image is present afterwards.
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
    double Position() const;
    // The one place where frames are decoded: positions the capture at index (unless the shown
    // frame is asked for again and its clean copy can serve) and decodes one frame.
    bool ShowFrameAt(int index);
    // Decodes the frame at the capture position and keeps the clean copy in step.
    bool DecodeNext();
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

    // The decoded frame on screen without any drawing, and its index (-1: none). Restoring it
    // avoids a seek, which on long groups of pictures decodes hundreds of frames.
    cv::Mat m_matClean;
    int m_nCleanIndex = -1;

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
