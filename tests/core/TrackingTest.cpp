// The T key's tracking step on the in-memory window: the real CSRT tracker on a generated clip,
// and a scripted tracker for the lost-track and refused cases.

#include <gtest/gtest.h>

#include "InputTestSupport.h"

namespace {

constexpr int VK_T = 0x54;

class Tracking : public DialogTest {
  protected:
    CLabelManager& Store() { return *dlg.GetLabelManager(); }
    int Counter() const { return std::stoi(wnd.GetControlText(IDC_STATIC_FRAME)); }
};

TEST_F(Tracking, ThreeStepsFollowTheBlobUnderTheSameLabel) {
    const SampleVideoOptions opts = SmallVideo();
    const auto video = MakeAndOpen("clip.avi", opts);
    ASSERT_FALSE(video.empty());
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[3]));  // label 4

    // Draw the blob's box on frame 0; that starts the tracker on it.
    const CRect blob0 = SampleBlobBox(opts, 0);
    DragFrame(*this, blob0.TopLeft(), {blob0.right, blob0.bottom});
    CRect drawn;
    ASSERT_TRUE(HasRoi(*this, 4, 0, &drawn));
    ASSERT_GT(IoU(drawn, blob0), 0.9);
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[0]));  // the step ignores the active label

    for (int k = 1; k <= 3; ++k) {
        EXPECT_TRUE(wnd.KeyDown(VK_T));
        EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
        CRect box;
        ASSERT_TRUE(HasRoi(*this, 4, k, &box)) << "frame " << k;
        EXPECT_GT(IoU(box, SampleBlobBox(opts, k)), 0.6) << "frame " << k;
        EXPECT_EQ(ReadLabelFile(video, k), LabelLine(box, 4, 0));
        EXPECT_FALSE(HasRoi(*this, 1, k));
        EXPECT_EQ(Store().GetSelLabel(), 4);
        EXPECT_EQ(Store().GetSelFrame(), k);
        EXPECT_EQ(ShownFrameIndex(), k);
        EXPECT_EQ(Counter(), k);
        EXPECT_EQ(wnd.GetSliderPos(IDC_SLIDER), k);
        // Drawn as the selected ROI: 3 pixels thick over the grey tracker box.
        const int mid = (box.top + box.bottom) / 2;
        EXPECT_EQ(EdgeThickness(*this, box.left, mid, Bgr(0, 255, 255)), ReferenceEdgeThickness(3));
    }
}

TEST_F(Tracking, StepAtTheLastFrameStoresNothing) {
    const SampleVideoOptions opts = SmallVideo();
    const auto video = MakeVideo("clip.avi", opts);
    ASSERT_FALSE(video.empty());
    const int last = opts.frames - 1;
    WriteLabelFile(video, last, {MakeRoi(last, 2, 0, {100, 100, 160, 150})});
    ASSERT_TRUE(OpenViaButton(video));
    wnd.ScrollSlider(last);
    ASSERT_EQ(ShownFrameIndex(), last);
    wnd.RButtonDown(FrameToClient({120, 120}));  // selects label 2 and starts the tracker
    ASSERT_EQ(Store().GetSelLabel(), 2);
    const int paints = wnd.Ctl(IDC_PICTURE).paintCount;
    const int count = Store().GetCount();

    EXPECT_TRUE(wnd.KeyDown(VK_T));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_EQ(Store().GetCount(), count);
    EXPECT_EQ(ReadLabelFile(video, last + 1), "");
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).paintCount, paints);
    EXPECT_EQ(ShownFrameIndex(), last);
    EXPECT_EQ(Counter(), last);
}

TEST_F(Tracking, StepWithNoLabelSelectedStoresNothingAndStaysOnTheFrame) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 0, {MakeRoi(0, 2, 0, {100, 100, 160, 150})});
    ASSERT_TRUE(OpenViaButton(video));
    // Start the tracker on the ROI, then right-click empty area: label -1 selected.
    wnd.RButtonDown(FrameToClient({120, 120}));
    wnd.RButtonDown(FrameToClient({250, 200}));
    ASSERT_EQ(Store().GetSelLabel(), -1);
    auto tracker = InstallScriptedTracker(*this);
    const int count = Store().GetCount();

    EXPECT_TRUE(wnd.KeyDown(VK_T));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_EQ(Store().GetCount(), count);
    EXPECT_EQ(dlg.GetVideoManager()->CurrentFrameIndex(), 0);
    EXPECT_EQ(ShownFrameIndex(), 0);
    EXPECT_EQ(tracker->updates, 0);
    EXPECT_EQ(ReadLabelFile(video, 1), "");
}

TEST_F(Tracking, LostTrackShowsTheNewFrameAndTheNextDrawLandsThere) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 0, {MakeRoi(0, 2, 0, {100, 100, 160, 150})});
    ASSERT_TRUE(OpenViaButton(video));
    auto tracker = InstallScriptedTracker(*this);
    wnd.RButtonDown(FrameToClient({120, 120}));
    ASSERT_EQ(tracker->inits.size(), 1u);
    tracker->updateSucceeds = false;
    const int count = Store().GetCount();

    EXPECT_TRUE(wnd.KeyDown(VK_T));
    EXPECT_EQ(tracker->updates, 1);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_EQ(Store().GetCount(), count);
    // Picture, counter and slider all show frame 1, where edits now go.
    EXPECT_EQ(ShownFrameIndex(), 1);
    EXPECT_EQ(Counter(), 1);
    EXPECT_EQ(wnd.GetSliderPos(IDC_SLIDER), 1);
    // Selection and tracker stay as they were.
    EXPECT_EQ(Store().GetSelLabel(), 2);
    EXPECT_EQ(Store().GetSelFrame(), 0);
    EXPECT_EQ(tracker->inits.size(), 1u);

    const CPoint a = FrameToClient({40, 60});
    const CPoint b = FrameToClient({90, 110});
    DragClient(*this, a, b);
    EXPECT_EQ(ReadLabelFile(video, 1), LabelLine(DragToImage(*this, a, b), 1, 0));
    EXPECT_EQ(ReadLabelFile(video, 0), LabelLine({100, 100, 160, 150}, 2, 0));

    // The draw selected the new ROI and restarted the tracker on it; the next step goes on
    // from the frame shown.
    ASSERT_EQ(tracker->inits.size(), 2u);
    tracker->updateSucceeds = true;
    EXPECT_TRUE(wnd.KeyDown(VK_T));
    CRect carried;
    ASSERT_TRUE(HasRoi(*this, 1, 2, &carried));
    EXPECT_EQ(carried, DragToImage(*this, a, b));
    EXPECT_EQ(ShownFrameIndex(), 2);
}

TEST_F(Tracking, StepBeforeTheTrackerWasEverStartedStoresNothing) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 0, {MakeRoi(0, 2, 0, {100, 100, 160, 150})});
    ASSERT_TRUE(OpenViaButton(video));
    // Select without starting the tracker: a click on the ROI starts it, so select directly.
    Store().SelectROI(2, 0);
    EXPECT_TRUE(wnd.KeyDown(VK_T));
    EXPECT_EQ(Store().GetCount(), 1);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_EQ(ShownFrameIndex(), dlg.GetVideoManager()->CurrentFrameIndex());
}

// The flags, the timer and the PLAY caption always tell the same story: a step during playback
// stops playback, so neither the next Space nor a new video finds a timer still running.
TEST_F(Tracking, StepDuringPlaybackStopsPlayback) {
    const auto video = MakeAndOpen();
    ASSERT_FALSE(video.empty());
    ASSERT_TRUE(wnd.KeyDown(VK_SPACE));
    ASSERT_TRUE(wnd.TimerRunning(PLAY_TIMER_ID));

    EXPECT_TRUE(wnd.KeyDown(VK_T));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_FALSE(wnd.TimerRunning(PLAY_TIMER_ID));
    EXPECT_EQ(wnd.GetControlText(IDC_BTN_PLAY), "&PLAY");

    // Another video opens paused and stays on its frame 0.
    ASSERT_FALSE(MakeAndOpen("other.avi").empty());
    EXPECT_FALSE(wnd.TimerRunning(PLAY_TIMER_ID));
    wnd.FireTimer(PLAY_TIMER_ID);
    EXPECT_EQ(ShownFrameIndex(), 0);
    // And the next Space starts playback.
    EXPECT_TRUE(wnd.KeyDown(VK_SPACE));
    EXPECT_TRUE(wnd.TimerRunning(PLAY_TIMER_ID));
    EXPECT_EQ(wnd.GetControlText(IDC_BTN_PLAY), "&PAUSE");
}

TEST_F(Tracking, StepEndsAPendingCropAndAnUnfinishedDrawWithoutLosingTheRoi) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 0, {MakeRoi(0, 1, 0, {100, 100, 160, 150})});
    ASSERT_TRUE(OpenViaButton(video));
    // A press on empty area takes label 1's ROI out for the draw; T ends the draw.
    wnd.LButtonDown(FrameToClient({40, 60}));
    ASSERT_FALSE(HasRoi(*this, 1, 0));
    EXPECT_TRUE(wnd.KeyDown(VK_T));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_TRUE(HasRoi(*this, 1, 0));
    EXPECT_EQ(ReadLabelFile(video, 0), LabelLine({100, 100, 160, 150}, 1, 0));

    ASSERT_TRUE(wnd.Click(IDC_BTN_CROP));
    ASSERT_EQ(dlg.GetModeFlags() & MODE_CROP, MODE_CROP);
    EXPECT_TRUE(wnd.KeyDown(VK_T));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
}

TEST_F(Tracking, ARoiTakenOutByAPressNeverReachesAnotherVideo) {
    const auto first = MakeVideo("first.avi");
    ASSERT_FALSE(first.empty());
    WriteLabelFile(first, 0, {MakeRoi(0, 1, 0, {100, 100, 160, 150})});
    ASSERT_TRUE(OpenViaButton(first));
    wnd.LButtonDown(FrameToClient({40, 60}));  // takes label 1's ROI out for the draw
    ASSERT_FALSE(HasRoi(*this, 1, 0));

    // Another video opens while the button is still down; the old ROI stays in its own file.
    const auto second = MakeAndOpen("second.avi");
    ASSERT_FALSE(second.empty());
    EXPECT_TRUE(wnd.KeyDown(VK_T));
    const CPoint c = FrameToClient({60, 100});
    wnd.LButtonDown(c);
    wnd.LButtonUp(c);
    EXPECT_EQ(Store().GetCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(LabelFolder(second) / "0.txt"));
    EXPECT_EQ(ReadLabelFile(first, 0), LabelLine({100, 100, 160, 150}, 1, 0));
}

TEST_F(Tracking, StepWithoutAVideoDoesNothing) {
    EXPECT_TRUE(wnd.KeyDown(VK_T));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_IDLE);
    EXPECT_FALSE(dlg.InitTracker({0, 0, 50, 50}));
}

}  // namespace
