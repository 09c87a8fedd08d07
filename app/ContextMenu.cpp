// Right-click selection and the one-item context menu that deletes the selected label from all
// later frames.

#include <cstdio>
#include <utility>

#include "app/TagwrightDlg.h"
#include "labels/LabelManager.h"
#include "video/VideoManager.h"

void CTagwrightDlg::OnRButtonDown(const CPoint& point) {
    EndGestureIfButtonLost();
    m_bSkipContextMenu = false;
    if (m_bGesture) {
        // A second button during a draw, move or crop drag ends it unchanged, as a release
        // outside the picture would; the right click does nothing else (no selection, no menu),
        // so the gesture's target never changes under the held left button.
        EndGesture();
        m_bSkipContextMenu = true;
        return;
    }
    const CRect picture = PictureRect();
    if ((m_nModeFlags & MODE_VIDEO_OPEN) == 0 || !picture.Contains(point) ||
        m_pVideoManager == nullptr || m_pLabelManager == nullptr) {
        // Outside the picture the previous selection stays, but the menu offers nothing.
        m_bRoiAtRightClick = 0;
        return;
    }
    const int f = m_pVideoManager->CurrentFrameIndex();
    const int label = m_pLabelManager->HitTest(f, ViewPointToImage(point - picture.TopLeft()));
    m_bRoiAtRightClick = label > 0 ? 1 : 0;
    // A miss selects label -1 on this frame, which names no record.
    m_pLabelManager->SelectROI(label, f);
    // An empty rectangle (nothing hit) is refused by the tracker, which keeps its target.
    InitTracker(m_pLabelManager->GetSelectedRect());
    ReloadAndRefresh();
}

void CTagwrightDlg::OnContextMenu(const CPoint& screen) {
    EndGestureIfButtonLost();
    if (std::exchange(m_bSkipContextMenu, false)) {
        return;
    }
    if ((m_nModeFlags & MODE_VIDEO_OPEN) == 0 || m_pLabelManager == nullptr) {
        return;
    }
    // The menu takes the pointer and the release of a held left button.
    EndGesture();
    char text[128];
    std::snprintf(text, sizeof text, "Delete selected Label %d (from this frame index: %d)",
                  m_pLabelManager->GetSelLabel(), m_pLabelManager->GetSelFrame());
    ++m_nModalDepth;
    const int command =
        m_wnd.TrackPopupMenu(screen, text, ID_DELETE_LABEL_AFTER, m_bRoiAtRightClick == 1);
    --m_nModalDepth;
    if (command != 0) {
        OnCommand(command);
    }
}

void CTagwrightDlg::OnDeleteLabelAfter() {
    if ((m_nModeFlags & MODE_VIDEO_OPEN) == 0 || m_pLabelManager == nullptr ||
        RefuseUnverifiedFrame()) {
        return;
    }
    // Rewrites one file per removed ROI, which can take a while on a long video. The frame
    // itself keeps its ROI; the view and the GO buttons are left as they are.
    // A draw in progress ends first, so that the ROI its press holds out is deleted too.
    AbandonDraw();
    m_app.BeginWaitCursor();
    BeginMessageBatch();
    // One step however many frames it touches; undone, it shows the frame the menu named.
    const int frame = m_pLabelManager->GetSelFrame();
    {
        CLabelManager::StepScope step(*m_pLabelManager, frame);
        m_pLabelManager->DeleteLabelAfter(frame, m_pLabelManager->GetSelLabel());
    }
    m_app.EndWaitCursor();
    UpdateSliderMarks();  // the view stays, but the deleted stretch leaves the slider
    EndMessageBatch();
}
