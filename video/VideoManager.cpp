#include "video/VideoManager.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include <opencv2/imgproc.hpp>

namespace {

// Records whose label has no table entry (hand-edited files, a tracking step without a selected
// label) are still drawn, in a light grey that no label uses, so the operator can see and delete
// them.
const cv::Scalar kFallbackColor(200, 200, 200, 0);
const cv::Scalar kTrackerBoxColor(150, 150, 150, 0);
const cv::Scalar kSelectedNumberColor(128, 0, 0, 0);
const cv::Scalar kNumberColor(205, 205, 0, 0);
constexpr int kMinTrackSide = 10;

cv::Ptr<cv::Tracker> MakeCsrt() {
    return cv::TrackerCSRT::create(cv::TrackerCSRT::Params());
}

int RoundHalfUp(double v) {
    return static_cast<int>(std::floor(v + 0.5));
}

// Truncation toward zero, with values no int can hold (a broken header, NaN) taken as 0.
int TruncateToInt(double v) {
    if (!std::isfinite(v) || v <= -2147483649.0 || v >= 2147483648.0) {
        return 0;
    }
    return static_cast<int>(v);
}

}  // namespace

CVideoManager::CVideoManager()
    : m_pTracker(MakeCsrt()),
      m_colors{{
          {255, 0, 0, 0},     {0, 128, 0, 0},     {0, 0, 255, 0},     {0, 255, 255, 0},
          {255, 0, 255, 0},   {255, 255, 0, 0},   {128, 128, 0, 0},   {0, 128, 128, 0},
          {128, 0, 128, 0},   {128, 128, 128, 0}, {255, 255, 255, 0}, {139, 69, 19, 0},
          {0, 191, 255, 0},   {178, 34, 34, 0},   {72, 61, 139, 0},   {255, 165, 0, 0},
          {106, 90, 205, 0},  {46, 139, 87, 0},   {218, 165, 32, 0},  {128, 0, 128, 0},
          {0, 128, 255, 0},   {139, 0, 139, 0},   {0, 0, 139, 0},     {0, 100, 0, 0},
          {255, 192, 203, 0}, {75, 0, 130, 0},    {147, 112, 219, 0}, {32, 178, 170, 0},
          {255, 215, 0, 0},   {165, 42, 53, 0},
      }},
      m_pSpareTracker(MakeCsrt()) {}

CVideoManager::~CVideoManager() {
    m_matFrame.release();
    m_matDisplay.release();
    m_matClean.release();
    m_pTracker.reset();
    m_pSpareTracker.reset();
    try {
        m_capture.release();
    } catch (const cv::Exception&) {
    }
}

bool CVideoManager::Open(const std::filesystem::path& path) {
    double count = 0;
    double width = 0;
    double height = 0;
    try {
        // path.string() is the UTF-8 form on this platform, which is what the backend expects.
        if (!m_capture.open(path.string(), cv::CAP_ANY) || !m_capture.isOpened()) {
            return false;
        }
        count = m_capture.get(cv::CAP_PROP_FRAME_COUNT);
        width = m_capture.get(cv::CAP_PROP_FRAME_WIDTH);
        height = m_capture.get(cv::CAP_PROP_FRAME_HEIGHT);
    } catch (const cv::Exception&) {
        return false;
    }
    // A stream that reports no size or count would leave the views dividing by zero; such a
    // stream keeps the neutral value 1 that an unopened source has.
    m_nFrameCount = std::max(1, TruncateToInt(count));
    m_nWidth = std::max(1, TruncateToInt(width));
    m_nHeight = std::max(1, TruncateToInt(height));
    DropFrame();
    return true;
}

bool CVideoManager::IsOpened() const {
    try {
        return m_capture.isOpened();
    } catch (const cv::Exception&) {
        return false;
    }
}

double CVideoManager::Position() const {
    try {
        return m_capture.get(cv::CAP_PROP_POS_FRAMES);
    } catch (const cv::Exception&) {
        return 0.0;
    }
}

int CVideoManager::CurrentFrameIndex() const {
    return TruncateToInt(Position() - 1.0);
}

void CVideoManager::DropFrame() {
    m_matFrame.release();
    m_matClean.release();
    m_nCleanIndex = -1;
}

bool CVideoManager::DecodeNext() {
    bool ok = false;
    try {
        ok = m_capture.read(m_matFrame);
    } catch (const cv::Exception&) {
        ok = false;
    }
    if (!ok || m_matFrame.empty()) {
        // A failed read leaves no picture, and no clean copy that could be mistaken for one.
        DropFrame();
        return false;
    }
    m_matFrame.copyTo(m_matClean);
    m_nCleanIndex = CurrentFrameIndex();
    return true;
}

bool CVideoManager::ShowFrameAt(int index) {
    if (index == m_nCleanIndex && !m_matClean.empty() && CurrentFrameIndex() == index) {
        // The capture still stands just after this frame: the clean copy is that frame exactly,
        // without the seek and the decoding from the previous key frame.
        m_matClean.copyTo(m_matFrame);
        return true;
    }
    try {
        if (!m_capture.set(cv::CAP_PROP_POS_FRAMES, static_cast<double>(index))) {
            DropFrame();
            return false;
        }
    } catch (const cv::Exception&) {
        DropFrame();
        return false;
    }
    return DecodeNext();
}

bool CVideoManager::ReadNextFrame() {
    return DecodeNext();
}

bool CVideoManager::ReadPreviousFrame() {
    // On the first frame the step back would ask for position -1; the first frame is shown
    // again instead, so the left arrow never fails at the start of the video.
    const int target = TruncateToInt(Position() - 2.0);
    return ShowFrameAt(std::max(0, target));
}

bool CVideoManager::ReloadCurrentFrame() {
    const int target = TruncateToInt(Position()) - 1;
    return ShowFrameAt(std::max(0, target));
}

bool CVideoManager::SeekFrame(int n) {
    if (n < 0) {
        DropFrame();
        return false;
    }
    return ShowFrameAt(n);
}

const cv::Mat& CVideoManager::MakeDisplayImage() {
    if (m_matFrame.empty()) {
        m_matDisplay.release();
        return m_matDisplay;
    }
    // Rows of a 24-bit image painted as a device-independent bitmap must be whole 32-bit words:
    // the width is resampled up to the next multiple of 4, never padded.
    const int w4 = ((m_matFrame.cols + 3) / 4) * 4;
    try {
        cv::resize(m_matFrame, m_matDisplay, cv::Size(w4, m_matFrame.rows), 0, 0, cv::INTER_LINEAR);
    } catch (const cv::Exception&) {
        m_matDisplay.release();
    }
    return m_matDisplay;
}

cv::Scalar CVideoManager::LabelColor(int label) const {
    if (label < 1 || label > static_cast<int>(m_colors.size())) {
        return kFallbackColor;
    }
    return m_colors[static_cast<size_t>(label - 1)];
}

bool CVideoManager::DrawRois(const std::vector<ROI>& list) {
    if (m_matFrame.empty()) {
        return true;
    }
    for (const ROI& roi : list) {
        const int thickness = roi.bSelected != 0 ? 3 : 2;
        const CRect& r = roi.rect;
        try {
            cv::rectangle(m_matFrame, cv::Rect(r.left, r.top, r.Width(), r.Height()),
                          LabelColor(roi.nLabel), thickness, cv::LINE_8, 0);
            cv::putText(m_matFrame, std::to_string(roi.nLabel),
                        cv::Point(r.right + 2, r.bottom + 2), cv::FONT_HERSHEY_SCRIPT_SIMPLEX, 0.8,
                        roi.bSelected != 0 ? kSelectedNumberColor : kNumberColor, thickness,
                        cv::LINE_8, false);
        } catch (const cv::Exception&) {
            // A record OpenCV cannot draw is left out; the others are still drawn.
        }
    }
    return true;
}

void CVideoManager::DrawRectangle(const CRect& rect, const cv::Scalar& color, int thickness) {
    if (m_matFrame.empty()) {
        return;
    }
    try {
        cv::rectangle(m_matFrame, cv::Rect(rect.left, rect.top, rect.Width(), rect.Height()), color,
                      thickness, cv::LINE_8, 0);
    } catch (const cv::Exception&) {
    }
}

const cv::Mat& CVideoManager::TrackerFrame(double scale, cv::Size2d& axisScale) {
    if (scale >= 1.0) {
        axisScale = {1.0, 1.0};
        return m_matFrame;
    }
    const cv::Size size(std::max(1, RoundHalfUp(m_matFrame.cols * scale)),
                        std::max(1, RoundHalfUp(m_matFrame.rows * scale)));
    // INTER_AREA averages the pixels that fold into one, so fine texture does not alias.
    cv::resize(m_matFrame, m_matTrackFrame, size, 0, 0, cv::INTER_AREA);
    axisScale = {static_cast<double>(size.width) / m_matFrame.cols,
                 static_cast<double>(size.height) / m_matFrame.rows};
    return m_matTrackFrame;
}

bool CVideoManager::InitTracker(const CRect& rect) {
    const int width = rect.right - rect.left;
    if (width < kMinTrackSide) {
        return false;
    }
    const int height = rect.bottom - rect.top;
    if (height < kMinTrackSide) {
        return false;
    }
    if (m_matFrame.empty() || !m_pTracker) {
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
    if (m_nTrackerSide > 0 && longer > m_nTrackerSide) {
        scale = std::max(static_cast<double>(m_nTrackerSide) / longer,
                         std::min(1.0, static_cast<double>(kMinTrackSide) / shorter));
    }

    const cv::Rect frameBox(rect.left, rect.top, width, height);
    cv::Ptr<cv::Tracker> candidate = m_pSpareTracker ? m_pSpareTracker : m_pTracker;
    try {
        cv::Size2d axis;
        const cv::Mat& image = TrackerFrame(scale, axis);
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
        m_trackAxisScale = axis;
    } catch (const cv::Exception&) {
        // OpenCV 4.6's CSRT throws on very thin boxes, boxes outside the frame and the like.
        // The spare may be half-initialised now: replace it, and keep the running model.
        if (m_pSpareTracker) {
            m_pSpareTracker = MakeCsrt();
        } else {
            // A tracker set from outside was initialised in place and is no longer usable.
            m_bTrackerStarted = false;
        }
        return false;
    }
    if (m_pSpareTracker) {
        std::swap(m_pTracker, m_pSpareTracker);
    }
    m_bTrackerStarted = true;
    m_dTrackScale = scale;
    m_rcTrack = frameBox;
    m_rcInitFrame = frameBox;
    return true;
}

bool CVideoManager::TrackNext(CRect& rect) {
    // Before any accepted init CSRT has no model; its update would fail an assertion.
    if (!m_bTrackerStarted || m_matFrame.empty() || !m_pTracker) {
        return false;
    }
    cv::Rect box;
    try {
        if (m_dTrackScale >= 1.0) {
            box = m_rcTrack;
            if (!m_pTracker->update(m_matFrame, box)) {
                return false;
            }
        } else {
            cv::Size2d axis;
            const cv::Mat& image = TrackerFrame(m_dTrackScale, axis);
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
        m_bTrackerStarted = false;
        return false;
    }
    m_rcTrack = box;
    DrawRectangle({box.x, box.y, box.x + box.width, box.y + box.height}, kTrackerBoxColor, 2);
    rect = {box.x, box.y, box.x + box.width, box.y + box.height};
    return true;
}

void CVideoManager::SetTracker(cv::Ptr<cv::Tracker> tracker) {
    m_pTracker = std::move(tracker);
    m_pSpareTracker.reset();
    m_bTrackerStarted = false;
}

CRect CVideoManager::TrackedRect() const {
    return {m_rcTrack.x, m_rcTrack.y, m_rcTrack.x + m_rcTrack.width,
            m_rcTrack.y + m_rcTrack.height};
}
