// Right-click selection and the context menu on the in-memory window.

#include <gtest/gtest.h>

#include "InputTestSupport.h"

namespace {

const CRect kRoiA{200, 150, 260, 200};
const CRect kRoiB{40, 160, 100, 220};

class ContextMenu : public DialogTest {
  protected:
    CLabelManager& Store() { return *dlg.GetLabelManager(); }
    // Right button down and release, as the platform sends them.
    void RightClick(const CPoint& client) {
        wnd.RButtonDown(client);
        dlg.OnContextMenu({client.x + 1000, client.y + 500});
    }
};

TEST_F(ContextMenu, RightClickOnEmptyAreaClearsTheSelectionAndDisablesTheItem) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 3, {MakeRoi(3, 1, 0, kRoiA)});
    ASSERT_TRUE(OpenViaButton(video));
    wnd.ScrollSlider(3);
    wnd.SetMenuAnswer(ID_DELETE_LABEL_AFTER);
    const int paints = wnd.Ctl(IDC_PICTURE).paintCount;

    RightClick(FrameToClient({60, 60}));
    EXPECT_EQ(Store().GetSelLabel(), -1);
    EXPECT_EQ(Store().GetSelFrame(), 3);
    EXPECT_GT(wnd.Ctl(IDC_PICTURE).paintCount, paints) << "the frame is shown again";
    ASSERT_EQ(wnd.MenuCalls().size(), 1u);
    const auto& menu = wnd.MenuCalls()[0];
    EXPECT_EQ(menu.text, "Delete selected Label -1 (from this frame index: 3)");
    EXPECT_EQ(menu.commandId, ID_DELETE_LABEL_AFTER);
    EXPECT_FALSE(menu.enabled);
    EXPECT_EQ(app.WaitCursorUses(), 0);
    EXPECT_TRUE(HasRoi(*this, 1, 3));
}

TEST_F(ContextMenu, RightClickOnARoiSelectsItShowsItSelectedAndStartsTheTracker) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 0, {MakeRoi(0, 1, 0, kRoiA), MakeRoi(0, 2, 0, kRoiB)});
    ASSERT_TRUE(OpenViaButton(video));
    auto tracker = InstallScriptedTracker(*this);
    const int plain = ReferenceEdgeThickness(2);
    const int selected = ReferenceEdgeThickness(3);
    ASSERT_LT(plain, selected);
    ASSERT_EQ(EdgeThickness(*this, kRoiB.left, 190, kLabel2Color), plain);

    RightClick(FrameToClient({70, 190}));
    EXPECT_EQ(Store().GetSelLabel(), 2);
    EXPECT_EQ(Store().GetSelFrame(), 0);
    EXPECT_EQ(Store().GetCurLabel(), 1) << "a right-click does not change the active label";
    ASSERT_EQ(tracker->inits.size(), 1u);
    EXPECT_EQ(tracker->inits[0], cv::Rect(40, 160, 60, 60));
    // Drawn as the selected ROI: three pixels thick instead of two, the other one unchanged.
    EXPECT_EQ(EdgeThickness(*this, kRoiB.left, 190, kLabel2Color), selected);
    EXPECT_EQ(EdgeThickness(*this, kRoiA.left, 175, kLabel1Color), plain);
    ASSERT_EQ(wnd.MenuCalls().size(), 1u);
    EXPECT_EQ(wnd.MenuCalls()[0].text, "Delete selected Label 2 (from this frame index: 0)");
    EXPECT_TRUE(wnd.MenuCalls()[0].enabled);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);

    // A miss afterwards leaves the tracker on its box.
    RightClick(FrameToClient({150, 60}));
    EXPECT_EQ(tracker->inits.size(), 1u);
}

TEST_F(ContextMenu, RightClickOutsideThePictureKeepsTheSelectionButDisablesTheItem) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 0, {MakeRoi(0, 1, 0, kRoiA)});
    ASSERT_TRUE(OpenViaButton(video));
    RightClick(FrameToClient({220, 170}));
    ASSERT_TRUE(wnd.MenuCalls().back().enabled);

    const CRect pic = PictureRect();
    // The right and bottom edges lie outside the picture.
    for (CPoint p : {CPoint{pic.right, pic.top + 10}, CPoint{pic.left + 10, pic.bottom},
                     CPoint{pic.left - 1, pic.top + 10}}) {
        RightClick(p);
        EXPECT_EQ(Store().GetSelLabel(), 1);
        EXPECT_FALSE(wnd.MenuCalls().back().enabled);
        EXPECT_EQ(wnd.MenuCalls().back().text,
                  "Delete selected Label 1 (from this frame index: 0)");
    }
}

TEST_F(ContextMenu, DeletingLabelThreeAfterFrame120KeepsFrame120AndBefore) {
    SampleVideoOptions opts = SmallVideo();
    opts.frames = 125;
    const auto video = MakeVideo("long.avi", opts);
    ASSERT_FALSE(video.empty());
    for (int f : {100, 119, 120}) {
        WriteLabelFile(video, f, {MakeRoi(f, 3, 0, kRoiA)});
    }
    WriteLabelFile(video, 121, {MakeRoi(121, 3, 0, kRoiA), MakeRoi(121, 2, 0, kRoiB)});
    // Frames past the end of the video are labels all the same.
    WriteLabelFile(video, 150, {MakeRoi(150, 3, 0, kRoiA)});
    WriteLabelFile(video, 400, {MakeRoi(400, 3, 1, kRoiA)});
    ASSERT_TRUE(OpenViaButton(video));
    wnd.ScrollSlider(120);
    ASSERT_EQ(ShownFrameIndex(), 120);

    wnd.SetMenuAnswer(ID_DELETE_LABEL_AFTER);
    const CPoint at = FrameToClient({220, 170});
    wnd.RButtonDown(at);
    const int paints = wnd.Ctl(IDC_PICTURE).paintCount;
    dlg.OnContextMenu(at);

    ASSERT_EQ(wnd.MenuCalls().size(), 1u);
    EXPECT_EQ(wnd.MenuCalls()[0].text, "Delete selected Label 3 (from this frame index: 120)");
    EXPECT_TRUE(wnd.MenuCalls()[0].enabled);
    for (int f : {100, 119, 120}) {
        EXPECT_TRUE(HasRoi(*this, 3, f)) << f;
        EXPECT_EQ(ReadLabelFile(video, f), LabelLine(kRoiA, 3, 0)) << f;
    }
    for (int f : {121, 150, 400}) {
        EXPECT_FALSE(HasRoi(*this, 3, f)) << f;
    }
    EXPECT_EQ(ReadLabelFile(video, 121), LabelLine(kRoiB, 2, 0));
    EXPECT_FALSE(std::filesystem::exists(LabelFolder(video) / "150.txt"));
    EXPECT_FALSE(std::filesystem::exists(LabelFolder(video) / "400.txt"));
    // Under the wait cursor, and the view is left alone.
    EXPECT_EQ(app.WaitCursorUses(), 1);
    EXPECT_EQ(app.WaitDepth(), 0);
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).paintCount, paints);
}

TEST_F(ContextMenu, DeletionStartsAfterTheFrameOfTheRightClickWhilePlaybackMovesOn) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    for (int f : {2, 3, 4, 5}) {
        WriteLabelFile(video, f, {MakeRoi(f, 3, 0, kRoiA)});
    }
    ASSERT_TRUE(OpenViaButton(video));
    wnd.ScrollSlider(2);
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    wnd.RButtonDown(FrameToClient({220, 170}));
    // Two ticks while the button is held: frame 4 is on screen when the menu comes.
    wnd.FireTimer(PLAY_TIMER_ID);
    wnd.FireTimer(PLAY_TIMER_ID);
    ASSERT_EQ(ShownFrameIndex(), 4);
    wnd.SetMenuAnswer(ID_DELETE_LABEL_AFTER);
    dlg.OnContextMenu({500, 400});

    ASSERT_EQ(wnd.MenuCalls().size(), 1u);
    EXPECT_EQ(wnd.MenuCalls()[0].text, "Delete selected Label 3 (from this frame index: 2)");
    EXPECT_TRUE(HasRoi(*this, 3, 2));
    EXPECT_EQ(ReadLabelFile(video, 2), LabelLine(kRoiA, 3, 0));
    for (int f : {3, 4, 5}) {
        EXPECT_FALSE(HasRoi(*this, 3, f)) << f;
        EXPECT_FALSE(std::filesystem::exists(LabelFolder(video) / (std::to_string(f) + ".txt")))
            << f;
    }
}

TEST_F(ContextMenu, DismissedMenuDeletesNothing) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 0, {MakeRoi(0, 1, 0, kRoiA)});
    WriteLabelFile(video, 1, {MakeRoi(1, 1, 0, kRoiA)});
    ASSERT_TRUE(OpenViaButton(video));
    wnd.SetMenuAnswer(0);
    RightClick(FrameToClient({220, 170}));
    EXPECT_TRUE(HasRoi(*this, 1, 1));
    EXPECT_EQ(app.WaitCursorUses(), 0);
}

TEST_F(ContextMenu, ARightClickOnThePreviousVideoOffersNothingAfterAnOpen) {
    const auto first = MakeVideo("first.avi");
    const auto second = MakeVideo("second.avi");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    WriteLabelFile(first, 0, {MakeRoi(0, 3, 0, kRoiA)});
    for (int f : {0, 1, 2}) {
        WriteLabelFile(second, f, {MakeRoi(f, 3, 0, kRoiA)});
    }
    ASSERT_TRUE(OpenViaButton(first));
    wnd.RButtonDown(FrameToClient({220, 170}));
    ASSERT_TRUE(OpenViaButton(second));

    // The menu key asks for the menu without a right-click.
    wnd.SetMenuAnswer(ID_DELETE_LABEL_AFTER);
    dlg.OnContextMenu({500, 400});
    ASSERT_EQ(wnd.MenuCalls().size(), 1u);
    EXPECT_FALSE(wnd.MenuCalls()[0].enabled);
    for (int f : {1, 2}) {
        EXPECT_EQ(ReadLabelFile(second, f), LabelLine(kRoiA, 3, 0)) << f;
    }
}

TEST_F(ContextMenu, NothingWithoutAVideo) {
    const CRect pic = PictureRect();
    wnd.SetMenuAnswer(ID_DELETE_LABEL_AFTER);
    RightClick({pic.left + 40, pic.top + 40});
    EXPECT_TRUE(wnd.MenuCalls().empty());
    dlg.OnDeleteLabelAfter();
    EXPECT_EQ(app.WaitCursorUses(), 0);
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).paintCount, 0);
}

}  // namespace
