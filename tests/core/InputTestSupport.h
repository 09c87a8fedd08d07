#pragma once

// Helpers shared by the mouse, tracking, keyboard, playback and context-menu tests of the main
// dialog.

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include "labels/LabelManager.h"
#include "support/DialogHarness.h"
#include "video/VideoManager.h"

// A tracker whose answers the test decides, recording what it was asked. Its state lives outside
// the tracker object because the video source owns the tracker.
struct ScriptedTrackerState {
    std::vector<cv::Rect> inits;  // every box handed to init, in order
    int updates = 0;
    bool updateSucceeds = true;
    cv::Rect box;  // what a successful update reports (the last init box by default)
};

class ScriptedTracker : public cv::Tracker {
  public:
    explicit ScriptedTracker(std::shared_ptr<ScriptedTrackerState> state)
        : m_state(std::move(state)) {}
    void init(cv::InputArray, const cv::Rect& boundingBox) override {
        m_state->inits.push_back(boundingBox);
        m_state->box = boundingBox;
    }
    bool update(cv::InputArray, cv::Rect& boundingBox) override {
        ++m_state->updates;
        if (!m_state->updateSucceeds) {
            return false;
        }
        boundingBox = m_state->box;
        return true;
    }

  private:
    std::shared_ptr<ScriptedTrackerState> m_state;
};

// Puts a scripted tracker into the open video source and returns its state.
inline std::shared_ptr<ScriptedTrackerState> InstallScriptedTracker(DialogHarness& h) {
    auto state = std::make_shared<ScriptedTrackerState>();
    h.dlg.GetVideoManager()->SetTracker(cv::makePtr<ScriptedTracker>(state));
    return state;
}

// One per-frame file line as the store writes it.
inline std::string LabelLine(const CRect& r, int label, int nClass) {
    char line[128];
    std::snprintf(line, sizeof line, "%d,%d,%d,%d,%d,%d\r\n", r.left, r.top, r.right, r.bottom,
                  label, nClass);
    return line;
}

// The frame-pixel rectangle the dialog makes of a drag from client point a to client point b
// released inside the picture (no clipping needed then).
inline CRect DragToImage(const DialogHarness& h, const CPoint& a, const CPoint& b) {
    const CRect pic = h.PictureRect();
    return h.dlg.ViewRectToImage({a.x - pic.left, a.y - pic.top, b.x - pic.left, b.y - pic.top});
}

// Presses at a, moves to b with the button held and releases at b (client pixels).
inline void DragClient(DialogHarness& h, const CPoint& a, const CPoint& b) {
    h.wnd.LButtonDown(a);
    h.wnd.MouseMove(b);
    h.wnd.LButtonUp(b);
}

// The same, with both ends given in frame pixels.
inline void DragFrame(DialogHarness& h, const CPoint& a, const CPoint& b) {
    DragClient(h, h.FrameToClient(a), h.FrameToClient(b));
}

// A pixel of the image last painted into the picture (frame resolution, BGR).
inline cv::Vec3b PaintedPixel(const DialogHarness& h, int x, int y) {
    return h.wnd.Ctl(IDC_PICTURE).image.at<cv::Vec3b>(y, x);
}

// How many pixels of row y around column x have the colour: the thickness of a vertical outline
// edge drawn at x (2 for a ROI, 3 for the selected one).
inline int EdgeThickness(const DialogHarness& h, int x, int y, const cv::Vec3b& color) {
    const cv::Mat& img = h.wnd.Ctl(IDC_PICTURE).image;
    int n = 0;
    for (int c = std::max(0, x - 4); c <= std::min(img.cols - 1, x + 4); ++c) {
        n += img.at<cv::Vec3b>(y, c) == color ? 1 : 0;
    }
    return n;
}

// The same count for an outline drawn the way the overlay draws it, on a blank image.
inline int ReferenceEdgeThickness(int thickness) {
    cv::Mat img(100, 100, CV_8UC3, cv::Scalar(0, 0, 0));
    cv::rectangle(img, cv::Rect(40, 20, 30, 60), cv::Scalar(255, 255, 255), thickness, cv::LINE_8);
    int n = 0;
    for (int c = 36; c <= 44; ++c) {
        n += img.at<cv::Vec3b>(50, c) == cv::Vec3b(255, 255, 255) ? 1 : 0;
    }
    return n;
}

inline cv::Vec3b Bgr(int b, int g, int r) {
    return cv::Vec3b(static_cast<uchar>(b), static_cast<uchar>(g), static_cast<uchar>(r));
}

// Outline colours: label 1, label 2, label 3 and the rubber band.
inline const cv::Vec3b kLabel1Color = Bgr(255, 0, 0);
inline const cv::Vec3b kLabel2Color = Bgr(0, 128, 0);
inline const cv::Vec3b kRubberBand = Bgr(200, 10, 10);

inline bool HasRoi(const DialogHarness& h, int label, int frame, CRect* rect = nullptr) {
    ROI r;
    if (!h.dlg.GetLabelManager()->FindROI(label, frame, r)) {
        return false;
    }
    if (rect != nullptr) {
        *rect = r.rect;
    }
    return true;
}

// Intersection over union of two rectangles.
inline double IoU(const CRect& a, const CRect& b) {
    const cv::Rect ra(a.left, a.top, a.Width(), a.Height());
    const cv::Rect rb(b.left, b.top, b.Width(), b.Height());
    const double inter = (ra & rb).area();
    const double uni = ra.area() + rb.area() - inter;
    return uni > 0 ? inter / uni : 0.0;
}
