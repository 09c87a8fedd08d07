// CVideoManager: the display image, the label colours, drawing into the current frame, and the
// tracker's part of the facade.
#include <array>
#include <string>

#include <opencv2/imgproc.hpp>

#include "video/VideoManager.h"

namespace {

// Label colours, index = label number - 1 (BGR order as OpenCV draws).
const std::array<cv::Scalar, kLabelCount> kLabelColors{{
    {255, 0, 0, 0},     {0, 128, 0, 0},     {0, 0, 255, 0},     {0, 255, 255, 0},
    {255, 0, 255, 0},   {255, 255, 0, 0},   {128, 128, 0, 0},   {0, 128, 128, 0},
    {128, 0, 128, 0},   {128, 128, 128, 0}, {255, 255, 255, 0}, {139, 69, 19, 0},
    {0, 191, 255, 0},   {178, 34, 34, 0},   {72, 61, 139, 0},   {255, 165, 0, 0},
    {106, 90, 205, 0},  {46, 139, 87, 0},   {218, 165, 32, 0},  {128, 0, 128, 0},
    {0, 128, 255, 0},   {139, 0, 139, 0},   {0, 0, 139, 0},     {0, 100, 0, 0},
    {255, 192, 203, 0}, {75, 0, 130, 0},    {147, 112, 219, 0}, {32, 178, 170, 0},
    {255, 215, 0, 0},   {165, 42, 53, 0},
}};

// Records whose label has no table entry (hand-edited files, a tracking step without a selected
// label) are still drawn, in a light grey that no label uses, so the operator can see and delete
// them.
const cv::Scalar kFallbackColor(200, 200, 200, 0);
const cv::Scalar kTrackerBoxColor(150, 150, 150, 0);
const cv::Scalar kSelectedNumberColor(128, 0, 0, 0);
const cv::Scalar kNumberColor(205, 205, 0, 0);

}  // namespace

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
    if (label < 1 || label > static_cast<int>(kLabelColors.size())) {
        return kFallbackColor;
    }
    return kLabelColors[static_cast<size_t>(label - 1)];
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

bool CVideoManager::InitTracker(const CRect& rect) {
    return m_tracker.Init(m_matFrame, rect);
}

bool CVideoManager::TrackNext(CRect& rect) {
    cv::Rect box;
    if (!m_tracker.Update(m_matFrame, box)) {
        return false;
    }
    rect = {box.x, box.y, box.x + box.width, box.y + box.height};
    DrawRectangle(rect, kTrackerBoxColor, 2);
    return true;
}
