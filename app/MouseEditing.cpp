// Left-button editing of the ROIs of the shown frame: drawing a new ROI on empty picture area,
// grabbing and moving an existing one, and the drag that defines the crop region.
//
// Three coordinate spaces meet here: window client pixels (what the handlers receive), picture
// pixels (client pixels minus the picture's top-left corner) and frame pixels (what the store
// keeps). Conversion only ever goes from picture to frame pixels.

#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/TagwrightDlg.h"
#include "labels/LabelManager.h"
#include "video/VideoManager.h"

namespace {

// The rubber band of a drag from anchor to p, in window client pixels: the end point is clipped
// at the picture's right and bottom edges; nothing is clipped on the left or top, so a drag up
// or to the left gives an inverted rectangle.
CRect DragRectangle(const CPoint& anchor, const CPoint& p, const CRect& picture) {
    return {anchor.x, anchor.y, std::min(p.x, picture.right), std::min(p.y, picture.bottom)};
}

}  // namespace

void CTagwrightDlg::OnLButtonDown(const CPoint& point) {
    EndGestureIfButtonLost();
    if ((m_nModeFlags & (MODE_CROP | MODE_VIDEO_OPEN)) == (MODE_CROP | MODE_VIDEO_OPEN)) {
        // A crop drag may start anywhere in the window.
        m_ptAnchor = point;
        m_bGesture = true;
        return;
    }
    const CRect picture = PictureRect();
    if ((m_nModeFlags & MODE_VIDEO_OPEN) == 0 || !picture.Contains(point) ||
        m_pVideoManager == nullptr || m_pLabelManager == nullptr) {
        return;
    }
    const int f = m_pVideoManager->CurrentFrameIndex();
    if (f < 0 || RefuseUnverifiedFrame()) {
        // No frame on screen (the source could not read one), or one that may be another
        // frame than its number says: nothing to edit.
        return;
    }
    const int label = m_pLabelManager->HitTest(f, ViewPointToImage(point - picture.TopLeft()));
    m_ptAnchor = point;
    m_ptAnchorImage = ClientToImage(point);
    m_bGesture = true;
    if (label >= 1) {
        m_nModeFlags |= MODE_GRAB;
        m_pLabelManager->SelectROI(label, f);
        SelectLabel(label, true);
        return;
    }

    // A press on empty area starts a draw that will replace the active label's ROI of this
    // frame, so that ROI leaves the store now. Its file is not touched yet; we keep a copy so an
    // abandoned draw can put it back and nothing is lost.
    const bool drawWasPending = (m_nModeFlags & MODE_DRAW) != 0;
    if (m_bHavePendingRemoved) {
        if (drawWasPending) {
            // An earlier press (released outside the picture) never finished its draw; this
            // press supersedes it, so its ROI goes back before this one is taken out.
            m_pLabelManager->RestoreROI(m_pendingRemoved);
        }
        // Without a pending draw the copy is stale (a new video was opened since, or the draw
        // was ended another way); the files still hold that ROI.
        m_bHavePendingRemoved = false;
    }
    if (drawWasPending) {
        m_pLabelManager->EndEditStep(-1);  // the superseded draw's step
    }
    m_nModeFlags = (m_nModeFlags | MODE_DRAW) ^ MODE_IDLE;
    // The draw is one step from this press, whose removal it includes, to its release.
    m_pLabelManager->BeginEditStep();
    m_bHavePendingRemoved =
        m_pLabelManager->FindROI(m_pLabelManager->GetCurLabel(), f, m_pendingRemoved);
    m_pLabelManager->DeleteROI(f, -1);
}

void CTagwrightDlg::OnMouseMove(const CPoint& point) {
    // After a box or menu took the release, the first move shows the button is up.
    EndGestureIfButtonLost();
    if (m_pVideoManager == nullptr || m_pLabelManager == nullptr) {
        return;
    }
    const CRect picture = PictureRect();
    if ((m_nModeFlags & (MODE_VIDEO_OPEN | MODE_IDLE)) == (MODE_VIDEO_OPEN | MODE_IDLE)) {
        const int f = m_pVideoManager->CurrentFrameIndex();
        const int label = m_pLabelManager->HitTest(f, ViewPointToImage(point - picture.TopLeft()));
        m_hCursor = label > -1 ? CursorShape::Hand : CursorShape::Arrow;
        m_wnd.SetCursor(m_hCursor);
        if (!m_wnd.IsLeftButtonDown()) {
            return;
        }
        // Dragging the selected ROI: only the moved rectangle is shown, the other ROIs of the
        // frame are hidden until the release.
        m_ptDragOffset = point - m_ptAnchor;
        CRect rect;
        if (m_bGesture && (m_nModeFlags & MODE_GRAB) != 0) {
            rect = MovedSelection(point);
        } else {
            // The button went down outside the picture: the selection follows the pointer's
            // distance from the last anchor, and the release commits nothing.
            const CPoint d = ViewPointToImage(m_ptDragOffset);
            rect = m_pLabelManager->GetSelectedRect().Offset(d.x, d.y);
        }
        DrawDragRectangle(rect);
        RefreshView(0);
        return;
    }
    if (m_wnd.IsLeftButtonDown() && (m_nModeFlags & (MODE_DRAW | MODE_CROP)) != 0) {
        const CRect drag = DragRectangle(m_ptAnchor, point, picture);
        const CPoint origin = picture.TopLeft();
        DrawDragRectangle(ViewRectToImage(drag.Offset(-origin.x, -origin.y)));
        RefreshView(1);
    }
}

void CTagwrightDlg::OnLButtonUp(const CPoint& point) {
    // A grab lives only as long as the button is held. Left set after the release, a later C
    // (or release) would measure the move from an anchor that no longer exists and shift the
    // ROI by the pointer's whole client position.
    // From here on the button is up: a box the release shows (a failed write) ends nothing.
    const bool gesture = std::exchange(m_bGesture, false);
    const bool grabbing = (m_nModeFlags & MODE_GRAB) != 0;
    m_nModeFlags &= ~MODE_GRAB;

    const CRect picture = PictureRect();
    if (!picture.Contains(point)) {
        // Outside the picture a draw or a move ends without an edit: where the pointer went is
        // not on screen, and a pending gesture would otherwise be finished by some later,
        // unrelated release. Crop mode goes on; its next press sets a new anchor.
        EndUnchanged(grabbing);
        return;
    }
    const CPoint origin = picture.TopLeft();
    const CRect drag = DragRectangle(m_ptAnchor, point, picture);
    const CRect dragImage = ViewRectToImage(drag.Offset(-origin.x, -origin.y));

    if ((m_nModeFlags & MODE_CROP) != 0) {
        if (!gesture) {
            // The press that began this drag was ended by a box or menu in between.
            m_ptAnchor = {0, 0};
            return;
        }
        // Written as measured, even empty or inverted; the store reports the outcome itself.
        if (m_pLabelManager != nullptr) {
            m_pLabelManager->WriteCropFile(dragImage);
        }
        ReloadAndRefresh();
        m_nModeFlags = (m_nModeFlags ^ MODE_CROP) | MODE_IDLE;
    } else if ((m_nModeFlags & MODE_DRAW) != 0) {
        // At least 2 x 2 window pixels; this also rejects every drag up or to the left.
        if (drag.Width() <= 1 || drag.Height() <= 1) {
            AbandonDraw();
            return;
        }
        const int label = AddRoiAtCurrentFrame(dragImage);
        if (label < 1) {
            AbandonDraw();
            return;
        }
        const int f = m_pVideoManager->CurrentFrameIndex();
        if (m_bHavePendingRemoved) {
            // The new ROI replaces the removed one when it went under the same label on the same
            // frame. Playback or a label key during the drag can make them differ; the removed
            // ROI is then not replaced by anything and goes back.
            if (m_pendingRemoved.nLabel != label || m_pendingRemoved.nFrame != f) {
                m_pLabelManager->RestoreROI(m_pendingRemoved);
            }
            m_bHavePendingRemoved = false;
        }
        m_pLabelManager->SelectROI(label, f);
        m_pLabelManager->EndEditStep(f);
        SetGoButtonEnabled(m_pLabelManager->GetCurLabel(), true);
        ReloadAndRefresh();
        InitTracker(dragImage);
        m_nModeFlags = (m_nModeFlags ^ MODE_DRAW) | MODE_IDLE;
    } else if ((m_nModeFlags & MODE_IDLE) != 0) {
        // Playback, a key or the wheel may have changed the frame since the press; the grabbed
        // ROI is then no longer on screen, and moving it would edit a frame nobody sees.
        const bool grabOnScreen =
            grabbing && m_pLabelManager != nullptr && m_pVideoManager != nullptr &&
            m_pLabelManager->GetSelFrame() == m_pVideoManager->CurrentFrameIndex();
        if (grabOnScreen) {
            CRect rect = m_pLabelManager->GetSelectedRect();
            m_ptDragOffset = point - m_ptAnchor;
            // A click without movement changes no rectangle and writes no file.
            if (ClientToImage(point) != m_ptAnchorImage) {
                rect = MovedSelection(point);
                m_pLabelManager->BeginEditStep();
                m_pLabelManager->SetSelectedRect(rect);
                m_pLabelManager->EndEditStep(m_pLabelManager->GetSelFrame());
            }
            InitTracker(rect);
        }
        ReloadAndRefresh();
    }
    m_ptAnchor = {0, 0};
}

void CTagwrightDlg::EndGesture() {
    if (!m_bGesture) {
        return;
    }
    m_bGesture = false;
    const bool grabbing = (m_nModeFlags & MODE_GRAB) != 0;
    m_nModeFlags &= ~MODE_GRAB;
    EndUnchanged(grabbing);
}

void CTagwrightDlg::EndUnchanged(bool grabbing) {
    if ((m_nModeFlags & MODE_DRAW) != 0) {
        AbandonDraw();
        return;
    }
    if (grabbing) {
        ReloadAndRefresh();  // the other ROIs were hidden during the drag
    }
    m_ptAnchor = {0, 0};
}

void CTagwrightDlg::EndGestureIfButtonLost() {
    if (m_bGesture && !m_wnd.IsLeftButtonDown()) {
        EndGesture();
    }
}

void CTagwrightDlg::OnCancelMode() {
    EndGesture();
}

bool CTagwrightDlg::RefuseUnverifiedFrame() {
    if (m_pVideoManager == nullptr || m_pVideoManager->IsCurrentFrameVerified()) {
        return false;
    }
    // Making the frame exact now would mean waiting for the index worker to read the video up
    // to here, which can take minutes; the index timer shows the exact frame by itself as soon
    // as the index gets there.
    const int f = m_pVideoManager->CurrentFrameIndex();
    const int indexed = m_pVideoManager->IndexedFrames();
    char text[512];
    std::snprintf(
        text, sizeof text,
        "Frame %d is not exact yet (\"%d?\"): it was found by the frame rate ahead of the "
        "frame index and may show another frame, so nothing was changed.\n"
        "The frame index has reached frame %d of %d (%d%%); frame %d will be shown "
        "exactly, without \"?\", as soon as it gets there.",
        f, f, indexed > 0 ? indexed - 1 : 0, m_pVideoManager->GetFrameCount(),
        m_pVideoManager->IndexPercent(), f);
    ShowMessageBox(text, MessageBoxType::Ok);
    return true;
}

CPoint CTagwrightDlg::ClientToImage(const CPoint& point) const {
    return ViewPointToImage(point - PictureRect().TopLeft());
}

CRect CTagwrightDlg::MovedSelection(const CPoint& point) const {
    const CPoint now = ClientToImage(point);
    CRect rect = m_pLabelManager->GetSelectedRect().Offset(now.x - m_ptAnchorImage.x,
                                                           now.y - m_ptAnchorImage.y);
    // Both points lie in the picture, so the moved box still overlaps the frame; what would
    // stick out is cut off rather than stored outside the picture.
    const int w = static_cast<int>(m_nImageWidth);
    const int h = static_cast<int>(m_nImageHeight);
    rect.left = std::clamp(rect.left, 0, w);
    rect.right = std::clamp(rect.right, 0, w);
    rect.top = std::clamp(rect.top, 0, h);
    rect.bottom = std::clamp(rect.bottom, 0, h);
    return rect;
}

void CTagwrightDlg::AbandonDraw() {
    if ((m_nModeFlags & MODE_DRAW) == 0) {
        return;
    }
    // The ROI the press took out goes back, so the store, the view and the frame file agree
    // again.
    if (m_pLabelManager != nullptr) {
        if (m_bHavePendingRemoved) {
            m_pLabelManager->RestoreROI(m_pendingRemoved);
        }
        // The draw's step, opened by its press, closes with nothing in it unless putting the
        // ROI back rewrote its file.
        m_pLabelManager->EndEditStep(-1);
    }
    m_bHavePendingRemoved = false;
    m_bGesture = false;
    ReloadAndRefresh();
    m_nModeFlags = (m_nModeFlags ^ MODE_DRAW) | MODE_IDLE;
    m_ptAnchor = {0, 0};
}

int CTagwrightDlg::AddRoiAtCurrentFrame(const CRect& rect) {
    if (m_pLabelManager == nullptr || m_pVideoManager == nullptr) {
        return 0;
    }
    const int f = m_pVideoManager->CurrentFrameIndex();
    if (f < 0) {
        // No frame is on screen; a label file for a negative index must never be written.
        return 0;
    }
    ReadClassFromRadios();
    return m_pLabelManager->AddROI(f, rect, m_nClass, m_nModeFlags);
}
