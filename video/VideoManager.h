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
    // Test seam: replaces the tracker (for example with one whose update always fails).
    void SetTracker(cv::Ptr<cv::Tracker> tracker);

private:
    cv::VideoCapture m_capture;
    cv::Mat m_matFrame;
    cv::Mat m_matDisplay;
    cv::Ptr<cv::Tracker> m_pTracker;
    cv::Rect m_rcTrack;
    int m_nWidth = 1;
    int m_nHeight = 1;
    int m_nFrameCount = 1;
    std::array<cv::Scalar, 30> m_colors;
};
