// The key hook of the main window on the in-memory window: every row of the key table with its
// condition and whether the key is consumed or passed on, and the wheel.

#include <gtest/gtest.h>

#include "InputTestSupport.h"

namespace {

constexpr int VK_B = 0x42;
constexpr int VK_C = 0x43;
constexpr int VK_D = 0x44;
constexpr int VK_E = 0x45;
constexpr int VK_K = 0x4B;
constexpr int VK_L = 0x4C;
constexpr int VK_M = 0x4D;
constexpr int VK_N = 0x4E;
constexpr int VK_O = 0x4F;
constexpr int VK_P = 0x50;
constexpr int VK_T = 0x54;

const char kAskExit[] = "프로그램을 종료합니다.";
const char kAskDeleteFrame[] = "현재 프레임의 모든 Label 항목을 삭제 합니다.";

const CRect kRoiA{200, 150, 260, 200};
const CRect kRoiB{40, 160, 100, 220};

class Keyboard : public DialogTest {
  protected:
    CLabelManager& Store() { return *dlg.GetLabelManager(); }
    int Counter() const { return std::stoi(wnd.GetControlText(IDC_STATIC_FRAME)); }
    void ShowFrame(int n) {
        wnd.ScrollSlider(n);
        ASSERT_EQ(ShownFrameIndex(), n);
    }
};

// --- what every key-down does first ---

TEST_F(Keyboard, EveryKeyDownIsTracedAndMovesTheFocusToThePicture) {
    const struct {
        int vk;
        const char* line;
    } cases[] = {{VK_SPACE, "[Key] 20\n"}, {VK_K, "[Key] 4b\n"}, {VK_RETURN, "[Key] d\n"},
                 {VK_TAB, "[Key] 9\n"},    {0x31, "[Key] 31\n"}, {VK_DELETE, "[Key] 2e\n"}};
    for (const auto& c : cases) {
        wnd.SetFocus(IDC_SLIDER);
        wnd.KeyDown(c.vk);
        ASSERT_FALSE(app.Trace().empty());
        EXPECT_EQ(app.Trace().back(), c.line);
        EXPECT_EQ(wnd.FocusId(), IDC_PICTURE) << c.line;
    }
    EXPECT_EQ(app.Trace().size(), std::size(cases));
}

// --- consumed or passed on, with and without a video ---

struct KeyCase {
    const char* name;
    int vk;
    bool consumedWithoutVideo;
    bool consumedWithVideo;
};

class KeyRouting : public Keyboard, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeyRouting, ConsumedOrPassedOnAsTheTableSays) {
    app.QueueAnswer(MessageBoxResult::No);  // for E with a video open
    EXPECT_EQ(wnd.KeyDown(GetParam().vk), GetParam().consumedWithoutVideo) << "no video";
    ASSERT_FALSE(MakeAndOpen().empty());
    EXPECT_EQ(wnd.KeyDown(GetParam().vk), GetParam().consumedWithVideo) << "video open";
}

INSTANTIATE_TEST_SUITE_P(
    Keyboard, KeyRouting,
    ::testing::Values(KeyCase{"Space", VK_SPACE, true, true}, KeyCase{"Left", VK_LEFT, true, true},
                      KeyCase{"Right", VK_RIGHT, true, true},
                      KeyCase{"Delete", VK_DELETE, true, true}, KeyCase{"D", VK_D, true, true},
                      KeyCase{"Digit1", 0x31, true, true}, KeyCase{"Digit9", 0x39, true, true},
                      KeyCase{"B", VK_B, false, false}, KeyCase{"C", VK_C, true, true},
                      KeyCase{"E", VK_E, true, true}, KeyCase{"L", VK_L, true, true},
                      KeyCase{"N", VK_N, false, false}, KeyCase{"T", VK_T, true, true},
                      KeyCase{"Digit0", 0x30, false, false}, KeyCase{"Up", VK_UP, false, false},
                      KeyCase{"Down", VK_DOWN, false, false},
                      KeyCase{"Enter", VK_RETURN, false, false},
                      KeyCase{"Tab", VK_TAB, false, false}, KeyCase{"K", VK_K, false, false},
                      KeyCase{"M", VK_M, false, false}, KeyCase{"O", VK_O, false, false},
                      KeyCase{"P", VK_P, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Keyboard, KeysWithoutAVideoChangeNothing) {
    for (int vk : {VK_LEFT, VK_RIGHT, VK_DELETE, VK_D, VK_B, VK_N, VK_C, VK_E, VK_T, VK_SPACE}) {
        wnd.KeyDown(vk);
    }
    wnd.Wheel(120);
    wnd.Wheel(-120);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_IDLE);
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).paintCount, 0);
    EXPECT_TRUE(app.Boxes().empty());
    EXPECT_FALSE(wnd.TimerRunning(PLAY_TIMER_ID));
}

// --- Escape ---

TEST_F(Keyboard, EscapeAsksAndPassesOnOnlyOnYes) {
    app.QueueAnswer(MessageBoxResult::No);
    EXPECT_TRUE(wnd.KeyDown(VK_ESCAPE));
    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(app.Boxes()[0].text, kAskExit);
    EXPECT_EQ(app.Boxes()[0].type, MessageBoxType::YesNo);
    EXPECT_FALSE(wnd.EndResult().has_value());

    app.QueueAnswer(MessageBoxResult::Yes);
    EXPECT_FALSE(wnd.KeyDown(VK_ESCAPE));
    EXPECT_EQ(app.Boxes().size(), 2u);
}

// --- frame stepping ---

TEST_F(Keyboard, ArrowsAndWheelStepFrames) {
    ASSERT_FALSE(MakeAndOpen().empty());
    EXPECT_TRUE(wnd.KeyDown(VK_RIGHT));
    EXPECT_TRUE(wnd.KeyDown(VK_RIGHT));
    EXPECT_EQ(ShownFrameIndex(), 2);
    EXPECT_EQ(Counter(), 2);
    EXPECT_TRUE(wnd.KeyDown(VK_LEFT));
    EXPECT_EQ(ShownFrameIndex(), 1);
    // Towards the user (negative) and zero step forward, away steps back; always passed on.
    EXPECT_FALSE(wnd.Wheel(-120));
    EXPECT_EQ(ShownFrameIndex(), 2);
    EXPECT_FALSE(wnd.Wheel(0));
    EXPECT_EQ(ShownFrameIndex(), 3);
    EXPECT_FALSE(wnd.Wheel(120));
    EXPECT_EQ(ShownFrameIndex(), 2);
    EXPECT_EQ(wnd.GetSliderPos(IDC_SLIDER), 2);
}

TEST_F(Keyboard, RightAtTheLastFrameLeavesTheViewAlone) {
    const SampleVideoOptions opts = SmallVideo();
    ASSERT_FALSE(MakeAndOpen("clip.avi", opts).empty());
    ShowFrame(opts.frames - 1);
    const int paints = wnd.Ctl(IDC_PICTURE).paintCount;
    EXPECT_TRUE(wnd.KeyDown(VK_RIGHT));
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).paintCount, paints);
    EXPECT_EQ(ShownFrameIndex(), opts.frames - 1);
}

// --- labelled-frame jumps: counts 0, 0, 2, 0, 1 on frames 0 to 4 ---

struct JumpCase {
    const char* name;
    int vk;
    int from;
    int shown;  // the frame shown afterwards
    bool repainted;
};

class LabelledJump : public Keyboard, public ::testing::WithParamInterface<JumpCase> {};

TEST_P(LabelledJump, FollowsTheCounts) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 2, {MakeRoi(2, 1, 0, kRoiA), MakeRoi(2, 2, 0, kRoiB)});
    WriteLabelFile(video, 4, {MakeRoi(4, 1, 0, kRoiA)});
    ASSERT_TRUE(OpenViaButton(video));
    ShowFrame(GetParam().from);
    const int paints = wnd.Ctl(IDC_PICTURE).paintCount;
    EXPECT_FALSE(wnd.KeyDown(GetParam().vk));
    EXPECT_EQ(ShownFrameIndex(), GetParam().shown);
    EXPECT_EQ(Counter(), GetParam().shown);
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).paintCount > paints, GetParam().repainted);
}

INSTANTIATE_TEST_SUITE_P(
    Keyboard, LabelledJump,
    ::testing::Values(JumpCase{"NFrom0", VK_N, 0, 2, true}, JumpCase{"NFrom2", VK_N, 2, 4, true},
                      JumpCase{"NFrom4", VK_N, 4, 4, false}, JumpCase{"NFrom7", VK_N, 7, 7, false},
                      JumpCase{"BFrom4", VK_B, 4, 2, true}, JumpCase{"BFrom2", VK_B, 2, 2, false},
                      JumpCase{"BFrom7", VK_B, 7, 4, true}, JumpCase{"BFrom0", VK_B, 0, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Keyboard, NNeverJumpsToFrameZero) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(
        video, 0,
        {MakeRoi(0, 1, 0, kRoiA), MakeRoi(0, 2, 0, kRoiB), MakeRoi(0, 3, 0, {120, 60, 160, 100})});
    ASSERT_TRUE(OpenViaButton(video));
    const int paints = wnd.Ctl(IDC_PICTURE).paintCount;
    EXPECT_FALSE(wnd.KeyDown(VK_N));
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).paintCount, paints);
    EXPECT_EQ(ShownFrameIndex(), 0);
}

// --- Delete and D ---

class DeleteKey : public Keyboard, public ::testing::WithParamInterface<int> {
  protected:
    std::filesystem::path OpenTwoRois() {
        const auto video = MakeVideo();
        if (video.empty()) {
            return {};
        }
        WriteLabelFile(video, 0, {MakeRoi(0, 1, 0, kRoiA), MakeRoi(0, 2, 0, kRoiB)});
        WriteLabelFile(video, 1, {MakeRoi(1, 2, 0, kRoiB)});
        return OpenViaButton(video) ? video : std::filesystem::path();
    }
};

TEST_P(DeleteKey, DeletesTheRoiUnderTheCursorEvenWhenAnotherIsSelected) {
    const auto video = OpenTwoRois();
    ASSERT_FALSE(video.empty());
    Store().SelectROI(2, 0);
    wnd.SetCursorPos(FrameToClient({230, 170}));
    EXPECT_TRUE(wnd.KeyDown(GetParam()));
    EXPECT_FALSE(HasRoi(*this, 1, 0));
    EXPECT_TRUE(HasRoi(*this, 2, 0));
    EXPECT_EQ(ReadLabelFile(video, 0), LabelLine(kRoiB, 2, 0));
    EXPECT_NE(PaintedPixel(*this, kRoiA.left, 175), kLabel1Color);
}

TEST_P(DeleteKey, OverEmptyAreaDeletesTheSelectedRoiOfThisFrameOnly) {
    const auto video = OpenTwoRois();
    ASSERT_FALSE(video.empty());
    wnd.SetCursorPos(FrameToClient({150, 60}));

    Store().SelectROI(2, 1);  // on another frame: nothing to delete here
    EXPECT_TRUE(wnd.KeyDown(GetParam()));
    EXPECT_EQ(Store().GetCount(), 3);

    Store().SelectROI(2, 0);
    EXPECT_TRUE(wnd.KeyDown(GetParam()));
    EXPECT_FALSE(HasRoi(*this, 2, 0));
    EXPECT_TRUE(HasRoi(*this, 2, 1));
    EXPECT_EQ(ReadLabelFile(video, 0), LabelLine(kRoiA, 1, 0));
}

TEST_P(DeleteKey, RewritesTheFrameFileEvenWhenNothingWasDeleted) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    std::filesystem::create_directories(LabelFolder(video));
    WriteFileBytes(LabelFolder(video) / "0.txt", "200,150,260,200,1\r\n");
    ASSERT_TRUE(OpenViaButton(video));
    wnd.SetCursorPos(FrameToClient({150, 60}));
    EXPECT_TRUE(wnd.KeyDown(GetParam()));
    EXPECT_EQ(ReadLabelFile(video, 0), LabelLine(kRoiA, 1, 0));
}

TEST_P(DeleteKey, OnlyTheRoiUnderTheCursorWhileNotIdle) {
    const auto video = OpenTwoRois();
    ASSERT_FALSE(video.empty());
    // A press on empty area with label 3 active starts a draw (not idle).
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[2]));
    Store().SelectROI(2, 0);
    wnd.LButtonDown(FrameToClient({150, 60}));
    ASSERT_EQ(dlg.GetModeFlags() & MODE_IDLE, 0);
    EXPECT_TRUE(wnd.KeyDown(GetParam()));
    EXPECT_TRUE(HasRoi(*this, 2, 0)) << "the selected ROI goes only while idle";
    wnd.SetCursorPos(FrameToClient({230, 170}));
    EXPECT_TRUE(wnd.KeyDown(GetParam()));
    EXPECT_FALSE(HasRoi(*this, 1, 0));
}

INSTANTIATE_TEST_SUITE_P(Keyboard, DeleteKey, ::testing::Values(VK_DELETE, VK_D),
                         [](const auto& info) { return info.param == VK_D ? "D" : "Delete"; });

// --- digits and L ---

TEST_F(Keyboard, DigitsSelectTheirLabel) {
    ASSERT_FALSE(MakeAndOpen().empty());
    for (int digit = 1; digit <= 9; ++digit) {
        EXPECT_TRUE(wnd.KeyDown(0x30 + digit));
        EXPECT_EQ(Store().GetCurLabel(), digit);
    }
}

TEST_F(Keyboard, LRaisesTheActiveLabelUpTo30) {
    ASSERT_FALSE(MakeAndOpen().empty());
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[11]));  // label 12
    EXPECT_TRUE(wnd.KeyDown(VK_L));
    EXPECT_EQ(Store().GetCurLabel(), 13);

    ASSERT_TRUE(wnd.Click(IDC_BTN_SKIP));  // label 30
    ASSERT_EQ(Store().GetCurLabel(), 30);
    EXPECT_TRUE(wnd.KeyDown(VK_L));
    EXPECT_EQ(Store().GetCurLabel(), 30);
}

// --- C: copy forward ---

TEST_F(Keyboard, CCopiesTheFrameToTheNextAndStepsThere) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 0, {MakeRoi(0, 1, 0, kRoiA), MakeRoi(0, 2, 1, kRoiB)});
    WriteLabelFile(video, 1, {MakeRoi(1, 3, 0, {120, 60, 160, 100})});
    ASSERT_TRUE(OpenViaButton(video));
    EXPECT_TRUE(wnd.KeyDown(VK_C));
    EXPECT_EQ(ShownFrameIndex(), 1);
    EXPECT_TRUE(HasRoi(*this, 1, 1));
    EXPECT_TRUE(HasRoi(*this, 2, 1));
    EXPECT_FALSE(HasRoi(*this, 3, 1));
    EXPECT_EQ(Store().GetFrameCount(1), 2);
    EXPECT_EQ(PaintedPixel(*this, kRoiA.left, 175), kLabel1Color);
}

TEST_F(Keyboard, CtrlCIsNotTheCopyCommand) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 0, {MakeRoi(0, 1, 0, kRoiA)});
    ASSERT_TRUE(OpenViaButton(video));
    wnd.SetCtrlDown(true);
    EXPECT_FALSE(wnd.KeyDown(VK_C));
    EXPECT_FALSE(HasRoi(*this, 1, 1));
    EXPECT_EQ(ShownFrameIndex(), 0);
    EXPECT_EQ(ReadLabelFile(video, 1), "");
}

TEST_F(Keyboard, CWhileNotIdleIsConsumedAndCopiesNothing) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 0, {MakeRoi(0, 1, 0, kRoiA)});
    ASSERT_TRUE(OpenViaButton(video));
    ASSERT_TRUE(wnd.Click(IDC_BTN_CROP));
    EXPECT_TRUE(wnd.KeyDown(VK_C));
    EXPECT_FALSE(HasRoi(*this, 1, 1));
    EXPECT_EQ(ShownFrameIndex(), 0);
}

// No frame follows the last one, so there is nothing to copy to: a file past the end would hold
// a label no one can see or reach.
TEST_F(Keyboard, COnTheLastFrameCopiesNothingAndStays) {
    const SampleVideoOptions opts = SmallVideo();
    const auto video = MakeVideo("clip.avi", opts);
    ASSERT_FALSE(video.empty());
    const int last = opts.frames - 1;
    WriteLabelFile(video, last, {MakeRoi(last, 1, 0, kRoiA)});
    ASSERT_TRUE(OpenViaButton(video));
    ShowFrame(last);
    EXPECT_TRUE(wnd.KeyDown(VK_C));
    EXPECT_FALSE(std::filesystem::exists(LabelFolder(video) / (std::to_string(last + 1) + ".txt")));
    EXPECT_FALSE(HasRoi(*this, 1, last + 1));
    EXPECT_EQ(ShownFrameIndex(), last);
    EXPECT_EQ(Counter(), last);
}

TEST_F(Keyboard, CDuringAGrabFixesTheDragAndCarriesItToTheNextFrame) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 0, {MakeRoi(0, 1, 0, kRoiA), MakeRoi(0, 2, 0, kRoiB)});
    ASSERT_TRUE(OpenViaButton(video));

    const CPoint a = FrameToClient({220, 170});
    wnd.LButtonDown(a);
    const CPoint b = FrameToClient({240, 180});
    wnd.MouseMove(b);
    EXPECT_TRUE(wnd.KeyDown(VK_C));

    const CRect fixed = kRoiA.Offset(20, 10);  // the pointer's travel over the frame
    CRect r;
    ASSERT_TRUE(HasRoi(*this, 1, 0, &r));
    EXPECT_EQ(r, fixed);
    EXPECT_NE(ReadLabelFile(video, 0).find(LabelLine(fixed, 1, 0)), std::string::npos);
    ASSERT_TRUE(HasRoi(*this, 1, 1, &r));
    EXPECT_EQ(r, fixed);
    EXPECT_TRUE(HasRoi(*this, 2, 1));
    EXPECT_EQ(Store().GetSelLabel(), 1);
    EXPECT_EQ(Store().GetSelFrame(), 1);
    EXPECT_EQ(ShownFrameIndex(), 1);
    EXPECT_EQ(dlg.GetModeFlags() & MODE_GRAB, MODE_GRAB);

    // The continuing drag moves the copy, measured from where C was pressed.
    const CPoint c = FrameToClient({250, 150});
    wnd.MouseMove(c);
    wnd.LButtonUp(c);
    ASSERT_TRUE(HasRoi(*this, 1, 1, &r));
    EXPECT_EQ(r, fixed.Offset(10, -30));
    ASSERT_TRUE(HasRoi(*this, 1, 0, &r));
    EXPECT_EQ(r, fixed);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
}

// --- E: delete the frame's ROIs ---

TEST_F(Keyboard, EAnsweredNoChangesNothingAndYesDeletesTheFrame) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 0, {MakeRoi(0, 1, 0, kRoiA), MakeRoi(0, 2, 0, kRoiB)});
    ASSERT_TRUE(OpenViaButton(video));
    const std::string before = ReadLabelFile(video, 0);

    app.QueueAnswer(MessageBoxResult::No);
    EXPECT_TRUE(wnd.KeyDown(VK_E));
    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(app.Boxes()[0].text, kAskDeleteFrame);
    EXPECT_EQ(app.Boxes()[0].type, MessageBoxType::YesNo);
    EXPECT_EQ(Store().GetCount(), 2);
    EXPECT_EQ(ReadLabelFile(video, 0), before);

    app.QueueAnswer(MessageBoxResult::Yes);
    EXPECT_TRUE(wnd.KeyDown(VK_E));
    EXPECT_EQ(Store().GetCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(LabelFolder(video) / "0.txt"));
    EXPECT_NE(PaintedPixel(*this, kRoiA.left, 175), kLabel1Color);
}

TEST_F(Keyboard, EWhileNotIdleAsksNothing) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 0, {MakeRoi(0, 1, 0, kRoiA)});
    ASSERT_TRUE(OpenViaButton(video));
    ASSERT_TRUE(wnd.Click(IDC_BTN_CROP));
    app.ClearBoxes();
    EXPECT_TRUE(wnd.KeyDown(VK_E));
    EXPECT_TRUE(app.Boxes().empty());
    EXPECT_EQ(Store().GetCount(), 1);
}

// --- Space ---

TEST_F(Keyboard, SpaceTogglesPlayback) {
    ASSERT_FALSE(MakeAndOpen().empty());
    EXPECT_TRUE(wnd.KeyDown(VK_SPACE));
    EXPECT_TRUE(wnd.TimerRunning(PLAY_TIMER_ID));
    EXPECT_EQ(wnd.GetControlText(IDC_BTN_PLAY), "&PAUSE");
    EXPECT_TRUE(wnd.KeyDown(VK_SPACE));
    EXPECT_FALSE(wnd.TimerRunning(PLAY_TIMER_ID));
    EXPECT_EQ(wnd.GetControlText(IDC_BTN_PLAY), "&PLAY");
}

}  // namespace
