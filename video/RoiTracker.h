#pragma once

#include <opencv2/core.hpp>
#include <opencv2/tracking.hpp>

#include "labels/Geometry.h"

// The CSRT tracker that carries a box from frame to frame. Boxes whose longer side is above
// kTrackerSide are tracked on a copy of the frame scaled so that side has that length (CSRT's
// cost grows with the box); results are mapped back relative to the starting box, so scaling
// alone never moves or grows a box. A new box is tried on a spare tracker and swapped in only
// when that succeeds. Every cv::Exception is caught here and becomes a false result.
//
// Ownership and threading: a plain object owned by the video source, used on one thread.
class CRoiTracker {
  public:
    static constexpr int kTrackerSide = 200;

    CRoiTracker();

    // Starts tracking rect (frame pixels) on frame. False (tracker unchanged) for boxes under
    // 10 x 10 or when the tracker refuses the box.
    bool Init(const cv::Mat& frame, const CRect& rect);
    // One update on frame; on success the found box (frame pixels) in `box`.
    bool Update(const cv::Mat& frame, cv::Rect& box);
    // Replaces the tracker; from then on every Init initialises it in place.
    void SetTracker(cv::Ptr<cv::Tracker> tracker);

    CRect TrackedRect() const;
    void SetSide(int side) { m_nSide = side; }
    double Scale() const { return m_dScale; }

  private:
    const cv::Mat& ScaledFrame(const cv::Mat& frame, double scale, cv::Size2d& axisScale);

    cv::Ptr<cv::Tracker> m_pTracker;
    // Tried first with every new box, so that an init that throws half-way leaves the running
    // model untouched. Null when a test replaced the tracker.
    cv::Ptr<cv::Tracker> m_pSpare;
    bool m_bStarted = false;
    cv::Rect m_rcTrack;
    int m_nSide = kTrackerSide;
    double m_dScale = 1.0;
    cv::Size2d m_axisScale{1.0, 1.0};
    cv::Rect m_rcInitScaled;
    cv::Rect m_rcInitFrame;
    cv::Mat m_matScaled;
};
