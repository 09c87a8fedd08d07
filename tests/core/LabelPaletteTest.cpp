// The label palette: caption colours after each kind of selection, GO buttons and class radios.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "dialogs/DlgMoreLabel.h"
#include "labels/LabelManager.h"
#include "support/DialogHarness.h"
#include "video/VideoManager.h"

namespace {

constexpr const char* kNoSuchLabel = "해당 Label이 존재 하지 않습니다.";
constexpr const char* kSeekMismatch =
    "frame index와 roi정보 매칭이 필요합니다. 동영상을 다시 오픈하세요.";

class LabelPaletteTest : public DialogTest {
  protected:
    // Opens a clip whose label folder holds: label 2 (class 0) on frames 1, 3 and 5; label 3
    // (class 1) on frames 14, 6 and 17; label 5 (class 2) on frame 8; label 20 (class 1) on
    // frame 10; label 30 on frame 12.
    void OpenLabelled() {
        video = MakeVideo("palette.avi");
        ASSERT_FALSE(video.empty());
        WriteLabelFile(video, 1, {MakeRoi(1, 2, 0, {40, 60, 80, 100})});
        WriteLabelFile(video, 3, {MakeRoi(3, 2, 0, {42, 60, 82, 100})});
        WriteLabelFile(
            video, 5, {MakeRoi(5, 2, 0, {44, 60, 84, 100}), MakeRoi(5, 4, 0, {150, 60, 200, 120})});
        WriteLabelFile(video, 6, {MakeRoi(6, 3, 1, {100, 100, 160, 160})});
        WriteLabelFile(video, 14, {MakeRoi(14, 3, 1, {100, 100, 160, 160})});
        WriteLabelFile(video, 17, {MakeRoi(17, 3, 1, {100, 100, 160, 160})});
        WriteLabelFile(video, 8, {MakeRoi(8, 5, 2, {60, 80, 120, 140})});
        WriteLabelFile(video, 10, {MakeRoi(10, 20, 1, {60, 80, 120, 140})});
        WriteLabelFile(video, 12, {MakeRoi(12, 30, 0, {60, 80, 120, 140})});
        ASSERT_TRUE(OpenViaButton(video));
    }

    // Checks every main-palette caption: red for `red` (0 = none), black for those that have
    // ever been recoloured, and the platform default for the rest.
    void ExpectMainPalette(int red) {
        for (int n = 1; n <= 12; ++n) {
            const auto c = CaptionColor(kMainLabelButtonIds[n - 1]);
            if (n == red) {
                EXPECT_EQ(c, kRed) << "label " << n;
            } else {
                EXPECT_FALSE(c == kRed) << "label " << n;
            }
        }
        EXPECT_EQ(CaptionColor(IDC_BTN_SKIP), red == 30 ? kRed : kBlack);
    }

    void ExpectMorePalette(int red) {
        for (int n = 1; n <= 30; ++n) {
            EXPECT_EQ(MoreWindow()->Ctl(kMoreLabelButtonIds[n - 1]).captionColor,
                      n == red ? kRed : kBlack)
                << "label " << n;
        }
    }

    bool RadiosEnabled() const {
        return wnd.IsControlEnabled(IDC_RADIO_CLASS0) && wnd.IsControlEnabled(IDC_RADIO_CLASS1) &&
               wnd.IsControlEnabled(IDC_RADIO_CLASS2);
    }

    std::map<int, std::string> FilesOf(std::initializer_list<int> frames) const {
        std::map<int, std::string> out;
        for (int f : frames) {
            out[f] = ReadLabelFile(video, f);
        }
        return out;
    }

    std::filesystem::path video;
};

TEST_F(LabelPaletteTest, LabelButtonsRecolourThePaletteAndShowTheLabelClass) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    struct Step {
        int button;  // control clicked in the main window
        int label;   // label that becomes current
        int radio;   // class shown
    };
    const Step steps[] = {
        {kMainLabelButtonIds[2], 3, 1},    // label 3 (class 1)
        {kMainLabelButtonIds[4], 5, 2},    // label 5 (class 2) while 3 is current
        {kMainLabelButtonIds[5], 6, 0},    // label 6 has no region: "0 : Polyp"
        {kMainLabelButtonIds[11], 12, 0},  // label 12, the last main button
        {kMainLabelButtonIds[11], 12, 0},  // the current label again
        {kMainLabelButtonIds[1], 2, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "label " << s.label);
        ASSERT_TRUE(wnd.Click(s.button));
        EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), s.label);
        ExpectMainPalette(s.label);
        ExpectMorePalette(s.label);
        EXPECT_EQ(wnd.GetRadioIndex(IDC_RADIO_CLASS0), s.radio);
        EXPECT_EQ(dlg.GetClass(), s.radio);
        EXPECT_TRUE(RadiosEnabled());
    }
    // Buttons never selected keep the default colour until a video reset paints them black;
    // here every one was reset by the open.
    EXPECT_EQ(CaptionColor(kMainLabelButtonIds[9]), kBlack);
    EXPECT_TRUE(app.Boxes().empty());
}

TEST_F(LabelPaletteTest, PressingTheCurrentLabelAgainKeepsTheOtherCaptions) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[4]));
    std::map<int, int> changes;
    for (int id : kMainLabelButtonIds) {
        changes[id] = wnd.Ctl(id).captionColorChanges;
    }
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[4]));
    EXPECT_EQ(CaptionColor(kMainLabelButtonIds[4]), kRed);
    for (int id : kMainLabelButtonIds) {
        if (id != kMainLabelButtonIds[4]) {
            EXPECT_EQ(wnd.Ctl(id).captionColorChanges, changes[id]) << id;
        }
    }
    EXPECT_EQ(wnd.GetRadioIndex(IDC_RADIO_CLASS0), 2);
}

TEST_F(LabelPaletteTest, SelectionsBeforeAnyVideoWorkOnThePalette) {
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[3]));
    EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), 4);
    EXPECT_EQ(CaptionColor(kMainLabelButtonIds[3]), kRed);
    // Label 1 was current from the start, so it turns black; the others keep the default.
    EXPECT_EQ(CaptionColor(kMainLabelButtonIds[0]), kBlack);
    EXPECT_FALSE(CaptionColor(kMainLabelButtonIds[5]).has_value());
    EXPECT_EQ(CaptionColor(IDC_BTN_SKIP), kBlack);
    EXPECT_EQ(MoreWindow()->Ctl(kMoreLabelButtonIds[3]).captionColor, kRed);
}

TEST_F(LabelPaletteTest, LabelsBeyondTwelveFromTheMoreLabelDialog) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[2]));             // label 3 red
    ASSERT_TRUE(MoreWindow()->Click(kMoreLabelButtonIds[19]));  // label 20

    EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), 20);
    ExpectMainPalette(0);  // no main caption is red
    EXPECT_EQ(CaptionColor(kMainLabelButtonIds[2]), kBlack);
    ExpectMorePalette(20);
    EXPECT_EQ(wnd.GetRadioIndex(IDC_RADIO_CLASS0), 1);
    EXPECT_TRUE(RadiosEnabled());

    // Every label button of the More Label dialog selects its own label.
    for (int n = 1; n <= 30; ++n) {
        ASSERT_TRUE(MoreWindow()->Click(kMoreLabelButtonIds[n - 1]));
        EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), n);
        ExpectMorePalette(n);
        ExpectMainPalette(n <= 12 || n == 30 ? n : 0);
    }
}

TEST_F(LabelPaletteTest, SkipDisablesTheClassRadiosUntilAnotherLabel) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[2]));
    ASSERT_TRUE(wnd.Click(IDC_BTN_SKIP));
    EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), 30);
    ExpectMainPalette(30);
    EXPECT_EQ(CaptionColor(kMainLabelButtonIds[2]), kBlack);
    ExpectMorePalette(30);
    EXPECT_FALSE(wnd.IsControlEnabled(IDC_RADIO_CLASS0));
    EXPECT_FALSE(wnd.IsControlEnabled(IDC_RADIO_CLASS1));
    EXPECT_FALSE(wnd.IsControlEnabled(IDC_RADIO_CLASS2));
    // A disabled radio cannot be clicked.
    EXPECT_FALSE(wnd.Click(IDC_RADIO_CLASS1));

    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[0]));
    ExpectMainPalette(1);
    EXPECT_TRUE(RadiosEnabled());
}

TEST_F(LabelPaletteTest, MainSelectionUpdatesTheHiddenMoreLabelDialog) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    ASSERT_FALSE(MoreWindow()->IsWindowVisible());
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[4]));
    ASSERT_TRUE(wnd.Click(IDC_BTN_MORE));
    EXPECT_TRUE(MoreWindow()->IsWindowVisible());
    ExpectMorePalette(5);
}

TEST_F(LabelPaletteTest, GoShowsTheFirstFrameOfTheLabelAndSelectsIt) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    ASSERT_TRUE(wnd.IsControlEnabled(kMainGoButtonIds[2]));
    ASSERT_TRUE(wnd.Click(kMainGoButtonIds[2]));
    EXPECT_EQ(ShownFrameIndex(), 6);
    EXPECT_EQ(wnd.GetControlText(IDC_STATIC_FRAME), "6");
    EXPECT_EQ(wnd.GetSliderPos(IDC_SLIDER), 6);
    EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), 3);
    ExpectMainPalette(3);
    ExpectMorePalette(3);
    EXPECT_EQ(wnd.GetRadioIndex(IDC_RADIO_CLASS0), 1);
    // The label's region is drawn on the frame shown (label 3 is red in BGR order).
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).image.at<cv::Vec3b>(130, 100), cv::Vec3b(0, 0, 255));
    EXPECT_TRUE(app.Boxes().empty());
}

TEST_F(LabelPaletteTest, GoWhilePlayingKeepsPlayingFromTheLabelsFirstFrame) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    wnd.FireTimer(PLAY_TIMER_ID);
    ASSERT_EQ(ShownFrameIndex(), 1);

    ASSERT_TRUE(wnd.Click(kMainGoButtonIds[2]));  // label 3: frames 6, 14 and 17
    EXPECT_EQ(ShownFrameIndex(), 6);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE | MODE_PLAYING);
    EXPECT_TRUE(wnd.TimerRunning(PLAY_TIMER_ID));
    wnd.FireTimer(PLAY_TIMER_ID);
    EXPECT_EQ(ShownFrameIndex(), 7);
    EXPECT_EQ(wnd.GetControlText(IDC_STATIC_FRAME), "7");
}

TEST_F(LabelPaletteTest, GoButtonsOfTheMoreLabelDialogReachEveryLabel) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    struct Case {
        int label;
        int frame;
    };
    for (const Case& c : {Case{20, 10}, Case{2, 1}, Case{30, 12}, Case{5, 8}}) {
        ASSERT_TRUE(MoreWindow()->Click(kMoreGoButtonIds[c.label - 1])) << c.label;
        EXPECT_EQ(ShownFrameIndex(), c.frame) << c.label;
        EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), c.label);
        ExpectMorePalette(c.label);
        EXPECT_EQ(RadiosEnabled(), c.label != 30);
        ExpectMainPalette(c.label <= 12 || c.label == 30 ? c.label : 0);
    }
    // Labels absent from the folder have their GO disabled.
    EXPECT_FALSE(MoreWindow()->Click(kMoreGoButtonIds[6]));
}

TEST_F(LabelPaletteTest, GoForALabelWhoseRegionsWereDeletedOnlyTellsSo) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    ASSERT_TRUE(dlg.GetVideoManager()->SeekFrame(2));
    ASSERT_TRUE(dlg.RefreshView(1));
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[1]));
    ASSERT_EQ(dlg.GetLabelManager()->DeleteROI(5, 4), 1);

    // Deleting never disables a GO button; the click reaches the store, which reports it.
    ASSERT_TRUE(wnd.IsControlEnabled(kMainGoButtonIds[3]));
    ASSERT_TRUE(wnd.Click(kMainGoButtonIds[3]));
    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(app.Boxes()[0].text, kNoSuchLabel);
    EXPECT_EQ(ShownFrameIndex(), 2);
    EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), 2);
    ExpectMainPalette(2);
}

TEST_F(LabelPaletteTest, GoWhoseSeekFailsAsksToReopen) {
    video = MakeVideo("short.avi");
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 500, {MakeRoi(500, 7, 0, {60, 80, 120, 140})});
    ASSERT_TRUE(OpenViaButton(video));
    ASSERT_TRUE(wnd.Click(kMainGoButtonIds[6]));
    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(app.Boxes()[0].text, kSeekMismatch);
    EXPECT_EQ(app.Boxes()[0].type, MessageBoxType::Ok);
    EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), 1);
    ExpectMainPalette(1);
    EXPECT_EQ(wnd.GetControlText(IDC_STATIC_FRAME), "0");
}

TEST_F(LabelPaletteTest, ClassChangeAnsweredYesRewritesEveryFileOfTheLabel) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[1]));  // label 2, class 0
    const auto before = FilesOf({1, 3, 5, 6, 8});
    app.QueueAnswer(MessageBoxResult::Yes);

    ASSERT_TRUE(wnd.Click(IDC_RADIO_CLASS2));

    ASSERT_EQ(app.Boxes().size(), 2u);
    EXPECT_EQ(app.Boxes()[0].text, "Label 2의 Class를 일괄 변경합니다. 오래 걸려요... ");
    EXPECT_EQ(app.Boxes()[0].type, MessageBoxType::YesNo);
    EXPECT_EQ(app.Boxes()[1].text, "변경 완료");
    EXPECT_EQ(app.Boxes()[1].type, MessageBoxType::Ok);
    EXPECT_EQ(app.WaitCursorUses(), 1);
    EXPECT_EQ(app.WaitDepth(), 0);
    EXPECT_EQ(dlg.GetClass(), 2);
    EXPECT_EQ(dlg.GetLabelManager()->GetLabelClass(2), 2);

    EXPECT_EQ(ReadLabelFile(video, 1), "40,60,80,100,2,2\r\n");
    EXPECT_EQ(ReadLabelFile(video, 3), "42,60,82,100,2,2\r\n");
    // Frame 5 also holds label 4, which keeps its class.
    EXPECT_EQ(ReadLabelFile(video, 5), "44,60,84,100,2,2\r\n150,60,200,120,4,0\r\n");
    EXPECT_EQ(ReadLabelFile(video, 6), before.at(6));
    EXPECT_EQ(ReadLabelFile(video, 8), before.at(8));
}

TEST_F(LabelPaletteTest, ClassChangeAnsweredNoRestoresTheRadiosAndWritesNothing) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[1]));
    const auto before = FilesOf({1, 3, 5});
    app.QueueAnswer(MessageBoxResult::No);

    ASSERT_TRUE(wnd.Click(IDC_RADIO_CLASS1));

    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(wnd.GetRadioIndex(IDC_RADIO_CLASS0), 0);
    EXPECT_EQ(dlg.GetClass(), 0);
    EXPECT_EQ(dlg.GetLabelManager()->GetLabelClass(2), 0);
    EXPECT_EQ(FilesOf({1, 3, 5}), before);
    EXPECT_EQ(app.WaitCursorUses(), 0);
}

TEST_F(LabelPaletteTest, ClassClickAsksEvenForTheCheckedRadio) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[2]));  // label 3, class 1 checked
    app.QueueAnswer(MessageBoxResult::No);
    ASSERT_TRUE(wnd.Click(IDC_RADIO_CLASS1));
    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(app.Boxes()[0].text, "Label 3의 Class를 일괄 변경합니다. 오래 걸려요... ");
    EXPECT_EQ(wnd.GetRadioIndex(IDC_RADIO_CLASS0), 1);
}

TEST_F(LabelPaletteTest, ClassClickIsSilentWithoutVideoOrWithoutRegions) {
    // No video: the click only moves the check.
    ASSERT_TRUE(wnd.Click(IDC_RADIO_CLASS2));
    EXPECT_TRUE(app.Boxes().empty());
    EXPECT_EQ(wnd.GetRadioIndex(IDC_RADIO_CLASS0), 2);

    // A label without regions: the checked radio waits for the next region drawn.
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[8]));  // label 9, none in the folder
    ASSERT_TRUE(wnd.Click(IDC_RADIO_CLASS1));
    EXPECT_TRUE(app.Boxes().empty());
    EXPECT_EQ(wnd.GetRadioIndex(IDC_RADIO_CLASS0), 1);
}

TEST_F(LabelPaletteTest, GoEnablingReachesBothPalettes) {
    struct Case {
        int label;
        bool main;
    };
    for (const Case& c : {Case{1, true}, Case{12, true}, Case{13, false}, Case{30, false}}) {
        dlg.SetGoButtonEnabled(c.label, true);
        EXPECT_TRUE(MoreWindow()->IsControlEnabled(kMoreGoButtonIds[c.label - 1])) << c.label;
        if (c.main) {
            EXPECT_TRUE(wnd.IsControlEnabled(kMainGoButtonIds[c.label - 1])) << c.label;
        }
        dlg.SetGoButtonEnabled(c.label, false);
        EXPECT_FALSE(MoreWindow()->IsControlEnabled(kMoreGoButtonIds[c.label - 1])) << c.label;
    }
    // Out-of-range labels are ignored rather than indexing past the tables.
    dlg.SetGoButtonEnabled(0, true);
    dlg.SetGoButtonEnabled(31, true);
    dlg.SelectLabel(31, true);
    EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), 1);
}

}  // namespace
