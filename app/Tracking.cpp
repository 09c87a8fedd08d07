// The tracking step: the CSRT tracker owned by the video source carries the selected ROI forward
// one frame per T press, and the result is stored as a ROI of the same label on the new frame.

#include "app/TagwrightDlg.h"
#include "labels/LabelManager.h"
#include "video/VideoManager.h"

bool CTagwrightDlg::InitTracker(const CRect& rect) {
    if (m_pVideoManager == nullptr) {
        return false;
    }
    // The video source refuses boxes under 10 x 10 frame pixels and keeps its previous target.
    return m_pVideoManager->InitTracker(rect);
}

void CTagwrightDlg::TrackToNextFrame() {
    if ((m_nModeFlags & MODE_VIDEO_OPEN) == 0) {
        return;
    }
    // The step ends playback properly first: the assignment below clears the playing bit, and
    // a timer left running would go on playing under a PLAY caption, so that the next Space or
    // an OPEN would act as if playback were stopped.
    if ((m_nModeFlags & MODE_PLAYING) != 0) {
        TogglePlayback();
    }
    // A draw in progress ends without adding anything; the assignment below also ends a
    // pending crop and any grab.
    AbandonDraw();
    // Without a pending draw a kept copy is stale (another video was opened since).
    m_bHavePendingRemoved = false;
    m_bGesture = false;
    m_nModeFlags = MODE_VIDEO_OPEN | MODE_TRACK;

    const int label = m_pLabelManager != nullptr ? m_pLabelManager->GetSelLabel() : -1;
    // With no valid label selected (for example after a right-click on empty area) a step
    // would file the tracked box under a label that has no button and no colour; refuse it and
    // leave the frame where it is.
    const bool validLabel = IsLabelNumber(label);
    if (validLabel && m_pVideoManager != nullptr && m_pVideoManager->CurrentFrameIndex() >= 0 &&
        m_pVideoManager->ReadNextFrame()) {
        CRect box;
        if (m_pVideoManager->TrackNext(box)) {
            const int f = m_pVideoManager->CurrentFrameIndex();
            CLabelManager::StepScope step(*m_pLabelManager, f);
            AddRoiAtCurrentFrame(box);
            m_pLabelManager->SelectROI(label, f);
        }
        // Also after a lost track: the source has moved on, and the picture, slider and counter
        // must show the frame that edits now go to. Nothing is stored then; the selection and
        // the tracker stay, so the next T press continues from here.
        RefreshView(1);
    }
    m_nModeFlags = MODE_VIDEO_OPEN | MODE_IDLE;
}
