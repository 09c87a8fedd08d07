// The frame view: fitting the picture area to the video, painting the current frame, converting
// picture coordinates to frame pixels, and the overlays drawn into the frame before painting.

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/TagwrightDlg.h"
#include "labels/LabelManager.h"
#include "res/Layout.h"
#include "video/VideoManager.h"

namespace {

// The rubber band of a draw, move or crop drag (blue-dominant in BGR order).
const cv::Scalar kDragColor(200, 10, 10, 0);
constexpr int kDragThickness = 2;

// The picture area as the window layout places it for the current client size, before any fit
// shrank it. Falls back to the control's present rectangle when the template is unknown.
CRect LayoutPictureRect(const IDialogWindow& wnd) {
    if (const DialogTemplate* tmpl = FindDialogTemplate(IDD_TAGWRIGHT_DIALOG)) {
        for (std::size_t i = 0; i < tmpl->controlCount; ++i) {
            if (tmpl->controls[i].id == IDC_PICTURE) {
                return LayoutControlRect(*tmpl, tmpl->controls[i], wnd.GetClientSize());
            }
        }
    }
    return wnd.GetControlRect(IDC_PICTURE);
}

}  // namespace

bool CTagwrightDlg::ComputeViewSize() {
    if (m_pVideoManager == nullptr) {
        return false;
    }
    m_nImageWidth = static_cast<unsigned>(std::max(0, m_pVideoManager->GetWidth()));
    m_nImageHeight = static_cast<unsigned>(std::max(0, m_pVideoManager->GetHeight()));
    if (m_nImageWidth == 0 || m_nImageHeight == 0) {
        return false;
    }

    // A previous video's fit may have shrunk the picture area; give it back the space the
    // layout allots before sizing for the new video, or a portrait video after a landscape one
    // would be squeezed into the old, flatter area.
    const CRect layout = LayoutPictureRect(m_wnd);
    m_wnd.ResizeControl(IDC_PICTURE, layout.Width(), layout.Height());

    const int cw = layout.Width();
    const int ch = layout.Height();
    if (m_nImageWidth > m_nImageHeight) {
        m_fScaleX = 1.0f;
        m_fScaleY = static_cast<float>(m_nImageHeight) / static_cast<float>(m_nImageWidth);
        m_nViewWidth = cw;
        m_nViewHeight = static_cast<int>(static_cast<float>(cw) * m_fScaleY);
    } else {
        m_fScaleY = 1.0f;
        m_fScaleX = static_cast<float>(m_nImageWidth) / static_cast<float>(m_nImageHeight);
        m_nViewHeight = ch;
        m_nViewWidth = static_cast<int>(static_cast<float>(ch) * m_fScaleX);
    }
    return true;
}

bool CTagwrightDlg::FitPictureToFrame() {
    if ((m_nModeFlags & MODE_VIDEO_OPEN) == 0 || m_nImageWidth == 0 || m_nImageHeight == 0) {
        return false;
    }
    const CRect area = PictureRect();
    const int cw = area.Width();
    const int ch = area.Height();

    // Single precision and truncation toward zero, as the view size has always been computed.
    m_fScaleX = static_cast<float>(m_nImageWidth) / static_cast<float>(m_nImageHeight);
    m_fScaleY = static_cast<float>(m_nImageHeight) / static_cast<float>(m_nImageWidth);
    int viewW = 0;
    int viewH = 0;
    if (m_nImageWidth > m_nImageHeight) {
        viewW = cw;
        viewH = static_cast<int>(static_cast<float>(cw) * m_fScaleY);
    } else {
        viewH = ch;
        viewW = static_cast<int>(static_cast<float>(ch) * m_fScaleX);
    }
    if (viewH > ch) {
        viewH = ch;
        viewW = static_cast<int>(static_cast<float>(ch) * m_fScaleX);
    }
    if (viewW > cw) {
        viewW = cw;
        viewH = static_cast<int>(static_cast<float>(cw) * m_fScaleY);
    }
    m_nViewWidth = viewW;
    m_nViewHeight = viewH;
    m_wnd.ResizeControl(IDC_PICTURE, viewW, viewH);
    return true;
}

bool CTagwrightDlg::RefreshView(int drawOverlay) {
    if ((m_nModeFlags & MODE_VIDEO_OPEN) == 0 || m_pVideoManager == nullptr) {
        return false;
    }
    // After a read past the end there is no frame to show; the picture keeps what it shows.
    if (m_pVideoManager->CurrentFrame().empty()) {
        return false;
    }
    if (drawOverlay != 0) {
        DrawFrameOverlay();
    }
    // The display image is made once, after the overlay: an image made before it would only
    // describe the same geometry, which the window does not need.
    return PaintFrame(m_pVideoManager->MakeDisplayImage());
}

bool CTagwrightDlg::PaintFrame(const cv::Mat& displayImage) {
    if ((m_nModeFlags & MODE_VIDEO_OPEN) == 0 || m_pVideoManager == nullptr ||
        displayImage.empty()) {
        return false;
    }
    m_wnd.PaintImage(IDC_PICTURE, displayImage, m_nViewWidth, m_nViewHeight);

    m_wnd.SetSliderPos(IDC_SLIDER, m_pVideoManager->CurrentFrameIndex());
    m_wnd.SetControlText(IDC_STATIC_FRAME, FrameCounterText());
    // Every edit ends in a refresh, so the marks follow edits from here; a plain step changes
    // nothing they depend on and hands nothing over.
    UpdateSliderMarks();
    return true;
}

std::string CTagwrightDlg::FrameCounterText() const {
    std::string text = std::to_string(m_pVideoManager->CurrentFrameIndex());
    if (!m_pVideoManager->IsCurrentFrameVerified()) {
        text += "?";
    }
    return text;
}

void CTagwrightDlg::UpdateSliderMarks() {
    const bool open = (m_nModeFlags & MODE_VIDEO_OPEN) != 0 && m_pVideoManager != nullptr;
    Rgb color;
    if (open && m_pLabelManager != nullptr) {
        const cv::Scalar bgr = m_pVideoManager->LabelColor(m_pLabelManager->GetCurLabel());
        color = Rgb{static_cast<std::uint8_t>(bgr[2]), static_cast<std::uint8_t>(bgr[1]),
                    static_cast<std::uint8_t>(bgr[0])};
    }
    if (m_sliderMarks.Follow(open ? m_pLabelManager : nullptr, color)) {
        m_wnd.SetSliderMarks(IDC_SLIDER, &m_sliderMarks);
    }
}

namespace {

// The picture-to-frame scale: the smaller of the two axis quotients, so the whole frame fits.
double PictureScale(const CRect& picture, unsigned imageW, unsigned imageH) {
    if (imageW == 0 || imageH == 0 || picture.Width() <= 0 || picture.Height() <= 0) {
        return 0.0;
    }
    const double sx = static_cast<double>(picture.Width()) / imageW;
    const double sy = static_cast<double>(picture.Height()) / imageH;
    return std::min(sx, sy);
}

}  // namespace

CRect CTagwrightDlg::ViewRectToImage(const CRect& rect) const {
    const double s = PictureScale(PictureRect(), m_nImageWidth, m_nImageHeight);
    if (s <= 0.0) {
        return rect;
    }
    // Size is converted on its own and added to the converted corner, so a rectangle keeps its
    // converted size wherever it lies.
    CRect out;
    out.left = static_cast<int>(rect.left / s);
    out.top = static_cast<int>(rect.top / s);
    out.right = out.left + static_cast<int>((rect.right - rect.left) / s);
    out.bottom = out.top + static_cast<int>((rect.bottom - rect.top) / s);
    return out;
}

CPoint CTagwrightDlg::ViewPointToImage(const CPoint& point) const {
    const double s = PictureScale(PictureRect(), m_nImageWidth, m_nImageHeight);
    if (s <= 0.0) {
        return point;
    }
    // The scale passes through single precision here; points land on the same frame pixels as
    // they always have (the centre of a 1920 x 1080 frame in a 1000 x 562 picture is 960, 540).
    const double sf = static_cast<double>(static_cast<float>(s));
    return {static_cast<int>(point.x / sf), static_cast<int>(point.y / sf)};
}

bool CTagwrightDlg::DrawFrameOverlay() {
    if (m_pLabelManager == nullptr || m_pVideoManager == nullptr) {
        return false;
    }
    std::vector<ROI> list;
    m_pLabelManager->GetFrameROIs(m_pVideoManager->CurrentFrameIndex(), list);
    m_pVideoManager->DrawRois(list);
    return true;
}

bool CTagwrightDlg::DrawDragRectangle(const CRect& rect) {
    if (m_pVideoManager == nullptr) {
        return false;
    }
    // Decoding the frame again wipes the previous rubber band and overlay.
    m_pVideoManager->ReloadCurrentFrame();
    m_pVideoManager->DrawRectangle(rect, kDragColor, kDragThickness);
    return true;
}
