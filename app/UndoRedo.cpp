// Undo and redo of the operator's edits. The label store keeps the steps and puts records and
// files back; here the window follows: the frame the edit was made on, the palette and the GO
// buttons.

#include "app/TagwrightDlg.h"
#include "labels/LabelManager.h"
#include "video/VideoManager.h"

void CTagwrightDlg::UndoEdit(bool redo) {
    CLabelManager* lm = m_pLabelManager;
    CVideoManager* vm = m_pVideoManager;
    if ((m_nModeFlags & MODE_VIDEO_OPEN) == 0 || lm == nullptr || vm == nullptr) {
        return;
    }
    // A pending draw has taken a ROI out that its release settles, and a crop drag or a grab
    // would finish on a state the undo has changed under it.
    if ((m_nModeFlags & (MODE_DRAW | MODE_CROP | MODE_GRAB)) != 0) {
        return;
    }
    CLabelManager::EditOutcome out;
    const bool complete = redo ? lm->Redo(out) : lm->Undo(out);
    if (!out.changed) {
        return;  // nothing to take back, or nothing could be written (the store has said so)
    }
    // Labels that come back get their GO buttons; as after any deletion, a label that goes
    // keeps its button until the next video is opened.
    for (int label : out.labels) {
        if (IsLabelNumber(label) && lm->GetLabelClass(label) >= 0) {
            SetGoButtonEnabled(label, true);
        }
    }
    ShowLabelClass(lm->GetCurLabel());
    if (complete && out.viewFrame >= 0 && out.viewFrame != vm->CurrentFrameIndex() &&
        vm->SeekFrame(out.viewFrame)) {
        RefreshView(1);
        return;
    }
    ReloadAndRefresh();
}
