// Start-up state, opening a video through OPEN and command 20001, failures and shutdown.

#include <gtest/gtest.h>

#include "dialogs/DlgHelp.h"
#include "dialogs/DlgMoreLabel.h"
#include "dialogs/DlgReport.h"
#include "labels/LabelManager.h"
#include "support/DialogHarness.h"
#include "video/VideoManager.h"

namespace {

class OpenFlowTest : public DialogTest {};

int EnabledMainGoCount(const FakeWindow& w) {
    int n = 0;
    for (int id : kMainGoButtonIds) {
        n += w.IsControlEnabled(id) ? 1 : 0;
    }
    return n;
}

TEST_F(OpenFlowTest, StartUpStateBeforeAnyVideo) {
    EXPECT_TRUE(initResult);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_IDLE);
    EXPECT_EQ(dlg.GetPlayInterval(), 30);
    EXPECT_EQ(dlg.GetClass(), 0);
    EXPECT_EQ(wnd.IconId(), IDR_MAINFRAME);
    EXPECT_EQ(wnd.Background(), (Rgb{255, 255, 255}));
    for (int id : {IDC_BTN_OPEN, IDC_BTN_CROP, IDC_BTN_PLAY}) {
        ASSERT_TRUE(wnd.Ctl(id).font.has_value()) << id;
        EXPECT_EQ(wnd.Ctl(id).font->face, "Tahoma");
        EXPECT_EQ(wnd.Ctl(id).font->heightPx, 35);
        EXPECT_EQ(wnd.Ctl(id).font->weight, 700);
    }
    EXPECT_EQ(wnd.GetRadioIndex(IDC_RADIO_CLASS0), 0);
    EXPECT_FALSE(wnd.IsControlEnabled(IDC_BTN_PLAY));
    EXPECT_EQ(wnd.GetControlText(IDC_STATIC_FRAME), "--");
    EXPECT_EQ(EnabledMainGoCount(wnd), 0);
    EXPECT_EQ(dlg.GetVideoManager(), nullptr);
    ASSERT_NE(dlg.GetLabelManager(), nullptr);
    EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), 1);

    // The three side windows exist from the start, hidden, each on its own template.
    ASSERT_NE(HelpWindow(), nullptr);
    ASSERT_NE(MoreWindow(), nullptr);
    ASSERT_NE(ReportWindow(), nullptr);
    EXPECT_FALSE(HelpWindow()->IsWindowVisible());
    EXPECT_FALSE(MoreWindow()->IsWindowVisible());
    EXPECT_FALSE(ReportWindow()->IsWindowVisible());
    EXPECT_EQ(&dlg.GetHelpDialog()->Window(), HelpWindow());
    EXPECT_EQ(&dlg.GetMoreLabelDialog()->Window(), MoreWindow());
    EXPECT_EQ(&dlg.GetReportDialog()->Window(), ReportWindow());

    // Without a video nothing is painted, fitted or refreshed.
    EXPECT_FALSE(dlg.RefreshView(1));
    EXPECT_FALSE(dlg.FitPictureToFrame());
    wnd.Resize(1300, 900);
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).paintCount, 0);
    EXPECT_TRUE(app.Boxes().empty());
}

TEST_F(OpenFlowTest, OpeningShowsFrameZeroWithItsLabels) {
    const std::filesystem::path video = MakeVideo("case7.avi");
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 0, {MakeRoi(0, 1, 2, {40, 60, 90, 110})});
    WriteLabelFile(video, 4,
                   {MakeRoi(4, 3, 0, {20, 60, 80, 120}), MakeRoi(4, 11, 1, {100, 100, 150, 150})});
    WriteLabelFile(video, 7, {MakeRoi(7, 20, 0, {200, 60, 240, 100})});

    ASSERT_TRUE(OpenViaButton(video));

    EXPECT_EQ(app.LastFilter(), "video file(*.mp4;)|*.mp4;|All Files(*.*)|*.*||");
    EXPECT_TRUE(app.LastInitialDir().empty());
    EXPECT_EQ(dlg.GetVideoPath(), video);
    EXPECT_EQ(wnd.GetControlText(IDC_EDIT_PATH), video.string());
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_EQ(wnd.GetControlText(IDC_STATIC_FRAME), "0");
    EXPECT_EQ(wnd.Ctl(IDC_SLIDER).sliderPos, 0);
    EXPECT_EQ(wnd.Ctl(IDC_SLIDER).sliderMin, 0);
    EXPECT_EQ(wnd.Ctl(IDC_SLIDER).sliderMax, SmallVideo().frames);
    EXPECT_EQ(wnd.Ctl(IDC_SLIDER).sliderTickFreq, SmallVideo().frames + 1);
    EXPECT_TRUE(wnd.IsControlEnabled(IDC_BTN_PLAY));
    EXPECT_EQ(wnd.GetControlText(IDC_BTN_PLAY), "&PLAY");
    EXPECT_EQ(ShownFrameIndex(), 0);
    EXPECT_EQ(dlg.GetPlayInterval(), 30);

    // Label 1 is current and red; its class (2) is in the radios.
    EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), 1);
    EXPECT_EQ(CaptionColor(kMainLabelButtonIds[0]), kRed);
    for (int n = 2; n <= 12; ++n) {
        EXPECT_EQ(CaptionColor(kMainLabelButtonIds[n - 1]), kBlack) << n;
    }
    EXPECT_EQ(CaptionColor(IDC_BTN_SKIP), kBlack);
    EXPECT_EQ(dlg.GetClass(), 2);
    EXPECT_EQ(wnd.GetRadioIndex(IDC_RADIO_CLASS0), 2);

    // Exactly the GO buttons of the labels in the folder, here and in the More Label dialog.
    for (int n = 1; n <= 12; ++n) {
        EXPECT_EQ(wnd.IsControlEnabled(kMainGoButtonIds[n - 1]), n == 1 || n == 3 || n == 11) << n;
    }
    for (int n = 1; n <= 30; ++n) {
        EXPECT_EQ(MoreWindow()->IsControlEnabled(kMoreGoButtonIds[n - 1]),
                  n == 1 || n == 3 || n == 11 || n == 20)
            << n;
        EXPECT_EQ(MoreWindow()->Ctl(kMoreLabelButtonIds[n - 1]).captionColor,
                  n == 1 ? kRed : kBlack)
            << n;
    }
    EXPECT_EQ(dlg.GetLabelManager()->GetCount(), 4);
    EXPECT_TRUE(app.Boxes().empty());
}

TEST_F(OpenFlowTest, MissingLabelFolderIsCreatedAndLeavesEveryGoDisabled) {
    const std::filesystem::path video = MakeAndOpen("fresh.avi");
    ASSERT_FALSE(video.empty());
    EXPECT_TRUE(std::filesystem::is_directory(LabelFolder(video)));
    EXPECT_EQ(dlg.GetLabelManager()->GetCount(), 0);
    EXPECT_EQ(EnabledMainGoCount(wnd), 0);
    EXPECT_EQ(dlg.GetClass(), 0);
    EXPECT_EQ(wnd.GetRadioIndex(IDC_RADIO_CLASS0), 0);
}

TEST_F(OpenFlowTest, ReopeningTheSameVideoReloadsItsFolderAndReturnsToFrameZero) {
    const std::filesystem::path video = MakeVideo("again.avi");
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 2, {MakeRoi(2, 1, 0, {40, 60, 80, 100})});
    ASSERT_TRUE(OpenViaButton(video));
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[2]));  // label 3 current
    ASSERT_TRUE(dlg.GetVideoManager()->SeekFrame(6));
    ASSERT_TRUE(dlg.RefreshView(1));
    ASSERT_EQ(ShownFrameIndex(), 6);

    // Labels added on disk behind the program's back appear after the reopen.
    WriteLabelFile(video, 9, {MakeRoi(9, 5, 1, {120, 60, 180, 120})});
    ASSERT_TRUE(OpenViaButton(video));

    EXPECT_EQ(app.LastInitialDir(), video.parent_path());
    EXPECT_EQ(ShownFrameIndex(), 0);
    EXPECT_EQ(wnd.GetControlText(IDC_STATIC_FRAME), "0");
    EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), 1);
    EXPECT_EQ(CaptionColor(kMainLabelButtonIds[0]), kRed);
    EXPECT_EQ(CaptionColor(kMainLabelButtonIds[2]), kBlack);
    EXPECT_EQ(dlg.GetLabelManager()->GetCount(), 2);
    EXPECT_TRUE(wnd.IsControlEnabled(kMainGoButtonIds[0]));
    EXPECT_TRUE(wnd.IsControlEnabled(kMainGoButtonIds[4]));
    EXPECT_EQ(EnabledMainGoCount(wnd), 2);
}

TEST_F(OpenFlowTest, CancelInTheFileDialogChangesNothing) {
    const std::filesystem::path video = MakeAndOpen("keep.avi");
    ASSERT_FALSE(video.empty());
    // Without the index's progress on the path line, which ticks during the dialog would show.
    dlg.GetVideoManager()->WaitForIndex();
    wnd.FireTimer(INDEX_TIMER_ID);
    CVideoManager* before = dlg.GetVideoManager();
    const int paints = wnd.Ctl(IDC_PICTURE).paintCount;

    app.SetFileDialogResult(std::nullopt);
    ASSERT_TRUE(wnd.Click(IDC_BTN_OPEN));

    EXPECT_EQ(app.FileDialogCalls(), 2);
    EXPECT_EQ(dlg.GetVideoPath(), video);
    EXPECT_EQ(wnd.GetControlText(IDC_EDIT_PATH), video.string());
    EXPECT_EQ(dlg.GetVideoManager(), before);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).paintCount, paints);
    EXPECT_TRUE(app.Boxes().empty());
}

TEST_F(OpenFlowTest, CancelBeforeAnyVideoLeavesTheStartUpState) {
    app.SetFileDialogResult(std::nullopt);
    ASSERT_TRUE(wnd.Click(IDC_BTN_OPEN));
    EXPECT_TRUE(dlg.GetVideoPath().empty());
    EXPECT_EQ(wnd.GetControlText(IDC_EDIT_PATH), "");
    EXPECT_EQ(dlg.GetModeFlags(), MODE_IDLE);
    EXPECT_EQ(dlg.GetVideoManager(), nullptr);
}

TEST_F(OpenFlowTest, FailedOpenAfterAGoodOneReturnsToTheNoVideoState) {
    const std::filesystem::path good = MakeVideo("good.avi");
    ASSERT_FALSE(good.empty());
    WriteLabelFile(good, 0, {MakeRoi(0, 2, 0, {40, 60, 80, 100})});
    ASSERT_TRUE(OpenViaButton(good));
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    ASSERT_TRUE(wnd.TimerRunning(PLAY_TIMER_ID));

    const std::filesystem::path broken = tmp / "broken.mp4";
    WriteFileBytes(broken, "this is not a video");
    EXPECT_FALSE(OpenViaButton(broken));

    EXPECT_EQ(dlg.GetModeFlags(), MODE_IDLE);
    EXPECT_EQ(dlg.GetVideoManager(), nullptr);
    EXPECT_FALSE(wnd.TimerRunning(PLAY_TIMER_ID));
    EXPECT_TRUE(Rendered().empty());
    EXPECT_EQ(wnd.GetSliderPos(IDC_SLIDER), 0);
    EXPECT_EQ(wnd.GetControlText(IDC_STATIC_FRAME), "--");
    EXPECT_FALSE(wnd.IsControlEnabled(IDC_BTN_PLAY));
    EXPECT_EQ(wnd.GetControlText(IDC_BTN_PLAY), "&PLAY");
    EXPECT_EQ(EnabledMainGoCount(wnd), 0);
    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(app.Boxes()[0].text, "Can't open the video file: " + broken.string());
    EXPECT_EQ(app.Boxes()[0].type, MessageBoxType::Ok);
    // The failed path is kept for the next file dialog.
    EXPECT_EQ(wnd.GetControlText(IDC_EDIT_PATH), broken.string());

    // Nothing that used to be gated by an open video does anything now, and no file appears
    // for a frame that does not exist.
    wnd.Resize(1300, 900);
    EXPECT_TRUE(Rendered().empty());
    ASSERT_TRUE(wnd.Click(IDC_BTN_CROP));
    ASSERT_TRUE(wnd.Click(IDC_BTN_REPORT));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_IDLE);
    EXPECT_FALSE(ReportWindow()->IsWindowVisible());
    EXPECT_FALSE(std::filesystem::exists(LabelFolder(good) / "-1.txt"));
    EXPECT_FALSE(std::filesystem::exists(LabelFolder(broken)));

    // The good video opens again as usual.
    app.ClearBoxes();
    ASSERT_TRUE(OpenViaButton(good));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_EQ(ShownFrameIndex(), 0);
    EXPECT_TRUE(wnd.IsControlEnabled(kMainGoButtonIds[1]));
    EXPECT_TRUE(app.Boxes().empty());
}

TEST_F(OpenFlowTest, MissingFileAsFirstOpenIsReported) {
    const std::filesystem::path missing = tmp / "nowhere.mp4";
    EXPECT_FALSE(OpenViaButton(missing));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_IDLE);
    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(app.Boxes()[0].text, "Can't open the video file: " + missing.string());
    EXPECT_FALSE(std::filesystem::exists(LabelFolder(missing)));
}

TEST_F(OpenFlowTest, OpenCommandWithoutAPathAsksForTheOpenButton) {
    dlg.OnCommand(ID_OPEN_VIDEO);
    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(app.Boxes()[0].text, "Open 버튼을 누르세요");
    EXPECT_EQ(app.Boxes()[0].type, MessageBoxType::Ok);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_IDLE);
    EXPECT_EQ(dlg.GetVideoManager(), nullptr);
    EXPECT_EQ(app.FileDialogCalls(), 0);
}

TEST_F(OpenFlowTest, StoredPathOpensThroughTheOpenCommand) {
    const std::filesystem::path video = MakeVideo("cmdline.avi");
    ASSERT_FALSE(video.empty());
    dlg.SetVideoPath(video);
    EXPECT_EQ(wnd.GetControlText(IDC_EDIT_PATH), video.string());
    dlg.OnCommand(ID_OPEN_VIDEO);
    EXPECT_EQ(app.FileDialogCalls(), 0);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_EQ(ShownFrameIndex(), 0);
}

TEST_F(OpenFlowTest, OpeningWhilePlayingStopsPlayback) {
    const std::filesystem::path video = MakeAndOpen("play.avi");
    ASSERT_FALSE(video.empty());
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    ASSERT_NE(dlg.GetModeFlags() & MODE_PLAYING, 0);
    wnd.FireTimer(PLAY_TIMER_ID);
    wnd.FireTimer(PLAY_TIMER_ID);

    ASSERT_TRUE(OpenViaButton(video));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_FALSE(wnd.TimerRunning(PLAY_TIMER_ID));
    EXPECT_TRUE(wnd.IsControlEnabled(IDC_BTN_PLAY));
    EXPECT_EQ(wnd.GetControlText(IDC_BTN_PLAY), "&PLAY");
    EXPECT_EQ(ShownFrameIndex(), 0);
}

TEST_F(OpenFlowTest, OpeningAbandonsCropMode) {
    const std::filesystem::path video = MakeAndOpen("crop.avi");
    ASSERT_FALSE(video.empty());
    ASSERT_TRUE(wnd.Click(IDC_BTN_CROP));
    ASSERT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_CROP);
    ASSERT_TRUE(OpenViaButton(video));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
}

TEST_F(OpenFlowTest, DestroyWhilePlayingStopsTheTimerAndIsSafeTwice) {
    ASSERT_FALSE(MakeAndOpen("bye.avi").empty());
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    ASSERT_TRUE(wnd.TimerRunning(PLAY_TIMER_ID));
    dlg.OnDestroy();
    EXPECT_FALSE(wnd.TimerRunning(PLAY_TIMER_ID));
    EXPECT_EQ(dlg.GetVideoManager(), nullptr);
    EXPECT_EQ(dlg.GetLabelManager(), nullptr);
    EXPECT_EQ(dlg.GetHelpDialog(), nullptr);
    EXPECT_EQ(dlg.GetMoreLabelDialog(), nullptr);
    EXPECT_EQ(dlg.GetReportDialog(), nullptr);
    dlg.OnDestroy();
    EXPECT_EQ(dlg.GetVideoManager(), nullptr);
}

TEST_F(OpenFlowTest, ExitAndCloseEndTheDialog) {
    struct Case {
        int command;
        int result;
    };
    for (const Case& c : {Case{IDOK, IDOK}, Case{IDCANCEL, IDCANCEL}}) {
        DialogHarness h;
        h.dlg.OnCommand(c.command);
        ASSERT_TRUE(h.wnd.EndResult().has_value()) << c.command;
        EXPECT_EQ(*h.wnd.EndResult(), c.result);
        EXPECT_TRUE(h.app.Boxes().empty());
    }
}

TEST_F(OpenFlowTest, UnusedWindowCommandsDoNothing) {
    ASSERT_FALSE(MakeAndOpen("quiet.avi").empty());
    const int paints = wnd.Ctl(IDC_PICTURE).paintCount;
    for (int id : {ID_COMMAND_20002, ID_COMMAND_20003, ID_COMMAND_20005}) {
        dlg.OnCommand(id);
    }
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).paintCount, paints);
    EXPECT_FALSE(wnd.EndResult().has_value());
    EXPECT_TRUE(app.Boxes().empty());
}

}  // namespace
