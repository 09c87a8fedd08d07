// The I key: fills every frame between the current label's box on this frame and its nearest
// earlier box with a box of that label, found by the tracker (video/GapTracker.h) and stored as
// one undo step (labels/GapFill.h).

#include <cstdio>
#include <string>
#include <vector>

#include "app/TagwrightDlg.h"
#include "labels/GapFill.h"
#include "labels/LabelManager.h"
#include "video/GapTracker.h"
#include "video/VideoManager.h"

namespace {

std::string Format(const char* format, int a, int b = 0) {
    char text[256];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

void CTagwrightDlg::OnKeyFillGap() {
    CVideoManager* vm = m_pVideoManager;
    CLabelManager* lm = m_pLabelManager;
    if ((m_nModeFlags & MODE_VIDEO_OPEN) == 0 || vm == nullptr || lm == nullptr ||
        vm->CurrentFrameIndex() < 0) {
        return;
    }
    if ((m_nModeFlags & MODE_PLAYING) != 0) {
        ShowMessageBox("Fill (I): pause playback first.", MessageBoxType::Ok);
        return;
    }
    if ((m_nModeFlags & (MODE_DRAW | MODE_GRAB | MODE_CROP | MODE_TRACK)) != 0) {
        ShowMessageBox("Fill (I): finish drawing, moving or cropping first.", MessageBoxType::Ok);
        return;
    }
    const int f = vm->CurrentFrameIndex();
    // The tracker must see the frames the labels name; beyond the index a frame may be another.
    if (!vm->IsCurrentFrameVerified()) {
        ShowMessageBox(Format("Fill (I): frame %d is not verified yet (shown as %d?). Wait until "
                              "the frame index reaches it.",
                              f, f),
                       MessageBoxType::Ok);
        return;
    }
    const int label = lm->GetCurLabel();
    LabelGap gap;
    switch (FindLabelGap(*lm, label, f, gap)) {
        case GapLookup::kNoBoxHere:
            ShowMessageBox(Format("Fill (I): this frame holds no box of label %d. Draw it here "
                                  "first; I fills back to the label's previous box.",
                                  label),
                           MessageBoxType::Ok);
            return;
        case GapLookup::kNoEarlierBox:
            ShowMessageBox(Format("Fill (I): no earlier frame holds a box of label %d.", label),
                           MessageBoxType::Ok);
            return;
        case GapLookup::kNothingBetween:
            ShowMessageBox(Format("Fill (I): label %d is on frame %d, right before this one: "
                                  "there is nothing to fill.",
                                  label, gap.first),
                           MessageBoxType::Ok);
            return;
        case GapLookup::kFound:
            break;
    }

    // Input waits while the tracker runs (Escape stops it); the playback and index ticks that
    // come meanwhile leave the frame alone.
    m_nModeFlags = MODE_VIDEO_OPEN | MODE_TRACK;
    ++m_nModalDepth;
    std::vector<CRect> boxes;
    int failed = -1;
    m_app.BeginProgress(
        Format("Filling label %d from frame %d", label, gap.first) + Format(" to frame %d...", f),
        2 * gap.Length());
    const GapTrackResult result = TrackGapBoxes(
        gap, VideoGapFrames(*vm), [this](int done, int) { return m_app.StepProgress(done); }, boxes,
        failed);
    m_app.EndProgress();
    --m_nModalDepth;
    m_nModeFlags = MODE_VIDEO_OPEN | MODE_IDLE;
    // The tracker walked the video; back to the frame the operator was on.
    vm->SeekFrame(f);

    if (result == GapTrackResult::kNoFrame) {
        ShowMessageBox(Format("Fill (I): frame %d could not be read; nothing was filled.", failed),
                       MessageBoxType::Ok);
    } else if (result == GapTrackResult::kDone) {
        // Boxes are kept inside the frame and, when there is one, the crop region.
        // A crop region off the frame is no region.
        CRect bounds{0, 0, vm->GetWidth(), vm->GetHeight()};
        CRect crop;
        CRect inCrop;
        if (lm->ReadCropFile(crop) && ClipBox(bounds, crop, inCrop)) {
            bounds = inCrop;
        }
        BeginMessageBatch();
        const int stored = FillLabelGap(*lm, gap, boxes, bounds);
        EndMessageBatch();
        if (stored < 0) {
            ShowMessageBox("Fill (I): the labels changed meanwhile; nothing was filled.",
                           MessageBoxType::Ok);
        } else if (stored == 0) {
            ShowMessageBox(
                "Fill (I): every box between lies outside the frame or the crop "
                "region; nothing was filled.",
                MessageBoxType::Ok);
        }
    }
    // Stopped with Escape: nothing was written, and nothing needs saying.
    RefreshView(1);
}
