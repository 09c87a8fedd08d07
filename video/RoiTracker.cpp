#include "video/RoiTracker.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include <opencv2/imgproc.hpp>

namespace {

constexpr int kMinTrackSide = 10;

cv::Ptr<cv::Tracker> MakeCsrt() {
    return cv::TrackerCSRT::create(cv::TrackerCSRT::Params());
}

int RoundHalfUp(double v) {
    return static_cast<int>(std::floor(v + 0.5));
}

}  // namespace

CRoiTracker::CRoiTracker() : m_pTracker(MakeCsrt()), m_pSpare(MakeCsrt()) {}

const cv::Mat& CRoiTracker::ScaledFrame(const cv::Mat& frame, double scale, cv::Size2d& axisScale) {
    if (scale >= 1.0) {
        axisScale = {1.0, 1.0};
        return frame;
    }
    const cv::Size size(std::max(1, RoundHalfUp(frame.cols * scale)),
                        std::max(1, RoundHalfUp(frame.rows * scale)));
    // INTER_AREA averages the pixels that fold into one, so fine texture does not alias.
    cv::resize(frame, m_matScaled, size, 0, 0, cv::INTER_AREA);
    axisScale = {static_cast<double>(size.width) / frame.cols,
                 static_cast<double>(size.height) / frame.rows};
    return m_matScaled;
}

bool CRoiTracker::Init(const cv::Mat& frame, const CRect& rect) {
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width < kMinTrackSide || height < kMinTrackSide || frame.empty() || !m_pTracker) {
        return false;
    }
    // CSRT resamples its search window to a template of about kTrackerSide pixels anyway, but
    // cuts that window and its scale pyramid out of the full frame first, which is what makes a
    // large box cost seconds. Handing it a frame already scaled so that the box's longer side is
    // kTrackerSide gives it the same template at a fraction of the work. The shorter side is not
    // taken under the minimum box size by the scaling.
    const int longer = std::max(width, height);
    const int shorter = std::min(width, height);
    double scale = 1.0;
    if (m_nSide > 0 && longer > m_nSide) {
        scale = std::max(static_cast<double>(m_nSide) / longer,
                         std::min(1.0, static_cast<double>(kMinTrackSide) / shorter));
    }
    const cv::Rect frameBox(rect.left, rect.top, width, height);
    cv::Ptr<cv::Tracker> candidate = m_pSpare ? m_pSpare : m_pTracker;
    try {
        cv::Size2d axis;
        const cv::Mat& image = ScaledFrame(frame, scale, axis);
        cv::Rect box = frameBox;
        if (scale < 1.0) {
            const double cx = (rect.left + width / 2.0) * axis.width;
            const double cy = (rect.top + height / 2.0) * axis.height;
            box.width = std::max(1, RoundHalfUp(width * axis.width));
            box.height = std::max(1, RoundHalfUp(height * axis.height));
            box.x = RoundHalfUp(cx - box.width / 2.0);
            box.y = RoundHalfUp(cy - box.height / 2.0);
        }
        candidate->init(image, box);
        m_rcInitScaled = box;
        m_axisScale = axis;
    } catch (const cv::Exception&) {
        // OpenCV 4.6's CSRT throws on very thin boxes, boxes outside the frame and the like.
        // The spare may be half-initialised now: replace it, and keep the running model.
        if (m_pSpare) {
            m_pSpare = MakeCsrt();
        } else {
            // A tracker set from outside was initialised in place and is no longer usable.
            m_bStarted = false;
        }
        return false;
    }
    if (m_pSpare) {
        std::swap(m_pTracker, m_pSpare);
    }
    m_bStarted = true;
    m_dScale = scale;
    m_rcTrack = frameBox;
    m_rcInitFrame = frameBox;
    return true;
}

bool CRoiTracker::Update(const cv::Mat& frame, cv::Rect& out) {
    // Before any accepted init CSRT has no model; its update would fail an assertion.
    if (!m_bStarted || frame.empty() || !m_pTracker) {
        return false;
    }
    cv::Rect box;
    try {
        if (m_dScale >= 1.0) {
            box = m_rcTrack;
            if (!m_pTracker->update(frame, box)) {
                return false;
            }
        } else {
            cv::Size2d axis;
            const cv::Mat& image = ScaledFrame(frame, m_dScale, axis);
            cv::Rect scaled = m_rcInitScaled;
            if (!m_pTracker->update(image, scaled)) {
                return false;
            }
            // Back to frame pixels relative to the initial box: the size by the ratio to the
            // initial tracker box, the centre by its shift. A box the tracker leaves where it
            // was is then exactly the initial box, with no growth or offset from rounding.
            box.width = RoundHalfUp(static_cast<double>(m_rcInitFrame.width) * scaled.width /
                                    m_rcInitScaled.width);
            box.height = RoundHalfUp(static_cast<double>(m_rcInitFrame.height) * scaled.height /
                                     m_rcInitScaled.height);
            const double dx =
                (scaled.x + scaled.width / 2.0) - (m_rcInitScaled.x + m_rcInitScaled.width / 2.0);
            const double dy =
                (scaled.y + scaled.height / 2.0) - (m_rcInitScaled.y + m_rcInitScaled.height / 2.0);
            const double cx = m_rcInitFrame.x + m_rcInitFrame.width / 2.0 + dx / axis.width;
            const double cy = m_rcInitFrame.y + m_rcInitFrame.height / 2.0 + dy / axis.height;
            box.x = RoundHalfUp(cx - box.width / 2.0);
            box.y = RoundHalfUp(cy - box.height / 2.0);
        }
    } catch (const cv::Exception&) {
        // A model that threw half-way through an update cannot be trusted for the next frame:
        // the target counts as lost until the tracker is started again.
        m_bStarted = false;
        return false;
    }
    m_rcTrack = box;
    out = box;
    return true;
}

void CRoiTracker::SetTracker(cv::Ptr<cv::Tracker> tracker) {
    m_pTracker = std::move(tracker);
    m_pSpare.reset();
    m_bStarted = false;
}

CRect CRoiTracker::TrackedRect() const {
    return {m_rcTrack.x, m_rcTrack.y, m_rcTrack.x + m_rcTrack.width,
            m_rcTrack.y + m_rcTrack.height};
}
