// Playback, the speed buttons and the slider on the in-memory window.

#include <gtest/gtest.h>

#include "InputTestSupport.h"

namespace {

class Playback : public DialogTest {
  protected:
    int Counter() const { return std::stoi(wnd.GetControlText(IDC_STATIC_FRAME)); }
    int Paints() const { return wnd.Ctl(IDC_PICTURE).paintCount; }
};

TEST_F(Playback, PlayThenPauseShowsNoNewFrame) {
    ASSERT_FALSE(MakeAndOpen().empty());
    const int paints = Paints();
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    EXPECT_EQ(wnd.GetControlText(IDC_BTN_PLAY), "&PAUSE");
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE | MODE_PLAYING);
    EXPECT_TRUE(wnd.TimerRunning(PLAY_TIMER_ID));
    EXPECT_EQ(wnd.TimerInterval(PLAY_TIMER_ID), 30);
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    EXPECT_EQ(wnd.GetControlText(IDC_BTN_PLAY), "&PLAY");
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_FALSE(wnd.TimerRunning(PLAY_TIMER_ID));
    EXPECT_EQ(Paints(), paints);
    EXPECT_EQ(ShownFrameIndex(), 0);
    EXPECT_EQ(dlg.GetVideoManager()->CurrentFrameIndex(), 0);
}

TEST_F(Playback, EachTickShowsExactlyOneFurtherFrame) {
    ASSERT_FALSE(MakeAndOpen().empty());
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    for (int k = 1; k <= 4; ++k) {
        wnd.FireTimer(PLAY_TIMER_ID);
        EXPECT_EQ(ShownFrameIndex(), k);
        EXPECT_EQ(Counter(), k);
        EXPECT_EQ(wnd.GetSliderPos(IDC_SLIDER), k);
    }
    // Only the playback timer moves the video.
    const int paints = Paints();
    dlg.OnTimer(PLAY_TIMER_ID + 1);
    EXPECT_EQ(Paints(), paints);
    EXPECT_EQ(ShownFrameIndex(), 4);
}

TEST_F(Playback, AtTheEndPlaybackKeepsRunningAndShowsNothingNew) {
    const SampleVideoOptions opts = SmallVideo();
    ASSERT_FALSE(MakeAndOpen("clip.avi", opts).empty());
    wnd.ScrollSlider(opts.frames - 2);
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    wnd.FireTimer(PLAY_TIMER_ID);
    ASSERT_EQ(ShownFrameIndex(), opts.frames - 1);
    const int paints = Paints();
    for (int i = 0; i < 3; ++i) {
        wnd.FireTimer(PLAY_TIMER_ID);
    }
    EXPECT_EQ(Paints(), paints);
    EXPECT_TRUE(wnd.TimerRunning(PLAY_TIMER_ID));
    EXPECT_EQ(wnd.GetControlText(IDC_BTN_PLAY), "&PAUSE");
    EXPECT_EQ(dlg.GetModeFlags() & MODE_PLAYING, MODE_PLAYING);
    EXPECT_EQ(ShownFrameIndex(), opts.frames - 1);
    EXPECT_EQ(Counter(), opts.frames - 1);

    // PAUSE then PLAY again still shows nothing new.
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    wnd.FireTimer(PLAY_TIMER_ID);
    EXPECT_EQ(Paints(), paints);
}

struct SpeedCase {
    const char* name;
    int button;
    int start;
    std::vector<int> sequence;  // interval after each press
};

class Speed : public Playback, public ::testing::WithParamInterface<SpeedCase> {};

TEST_P(Speed, ButtonsStepTheIntervalWithinOneTo200) {
    ASSERT_FALSE(MakeAndOpen().empty());
    // Opening may start the frame index's own timer.
    const int opened = wnd.TimerStarts();
    // Reach the start value through the buttons themselves.
    while (dlg.GetPlayInterval() > GetParam().start) {
        ASSERT_TRUE(wnd.Click(IDC_BTN_FASTER));
    }
    ASSERT_EQ(dlg.GetPlayInterval(), GetParam().start);
    for (int expected : GetParam().sequence) {
        ASSERT_TRUE(wnd.Click(GetParam().button));
        EXPECT_EQ(dlg.GetPlayInterval(), expected);
    }
    // Paused: only the value changed, no timer was started.
    EXPECT_FALSE(wnd.TimerRunning(PLAY_TIMER_ID));
    EXPECT_EQ(wnd.TimerStarts(), opened);
}

INSTANTIATE_TEST_SUITE_P(
    Playback, Speed,
    ::testing::Values(SpeedCase{"FasterFrom30", IDC_BTN_FASTER, 30, {20, 10, 1, 1}},
                      SpeedCase{
                          "SlowerFrom1", IDC_BTN_SLOWER, 1, {11,  21,  31,  41,  51,  61,  71,
                                                             81,  91,  101, 111, 121, 131, 141,
                                                             151, 161, 171, 181, 191, 200, 200}},
                      SpeedCase{"ResetFrom1", IDC_BTN_SPEED, 1, {30, 30}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Playback, SpeedWhilePlayingRestartsTheTimerAtOnce) {
    ASSERT_FALSE(MakeAndOpen().empty());
    // Opening may start the frame index's own timer.
    const int opened = wnd.TimerStarts();
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    ASSERT_TRUE(wnd.Click(IDC_BTN_SLOWER));
    EXPECT_EQ(wnd.TimerInterval(PLAY_TIMER_ID), 40);
    ASSERT_TRUE(wnd.Click(IDC_BTN_FASTER));
    ASSERT_TRUE(wnd.Click(IDC_BTN_FASTER));
    EXPECT_EQ(wnd.TimerInterval(PLAY_TIMER_ID), 20);
    ASSERT_TRUE(wnd.Click(IDC_BTN_SPEED));
    EXPECT_EQ(wnd.TimerInterval(PLAY_TIMER_ID), 30);
    EXPECT_EQ(wnd.TimerStarts() - opened, 5);
    // The new period holds for the next start too.
    ASSERT_TRUE(wnd.Click(IDC_BTN_FASTER));
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    EXPECT_EQ(wnd.TimerInterval(PLAY_TIMER_ID), 20);
}

TEST_F(Playback, SliderShowsTheFrameAtItsPosition) {
    ASSERT_FALSE(MakeAndOpen().empty());
    for (int p : {7, 3, 12, 0}) {
        wnd.ScrollSlider(p);
        EXPECT_EQ(ShownFrameIndex(), p);
        EXPECT_EQ(Counter(), p);
        EXPECT_EQ(wnd.GetSliderPos(IDC_SLIDER), p);
        EXPECT_EQ(dlg.GetVideoManager()->CurrentFrameIndex(), p);
    }
}

TEST_F(Playback, SliderTopPositionLeavesThePictureUnchanged) {
    const SampleVideoOptions opts = SmallVideo();
    ASSERT_FALSE(MakeAndOpen("clip.avi", opts).empty());
    wnd.ScrollSlider(5);
    const int paints = Paints();
    const cv::Mat before = wnd.Ctl(IDC_PICTURE).image.clone();
    wnd.ScrollSlider(opts.frames);
    EXPECT_EQ(wnd.GetSliderPos(IDC_SLIDER), opts.frames);
    EXPECT_EQ(Paints(), paints);
    EXPECT_EQ(cv::norm(before, wnd.Ctl(IDC_PICTURE).image, cv::NORM_INF), 0.0);
    EXPECT_EQ(Counter(), 5);
    // Edits still go to the frame on screen.
    EXPECT_EQ(dlg.GetVideoManager()->CurrentFrameIndex(), 5);
}

TEST_F(Playback, NothingWithoutAVideo) {
    EXPECT_TRUE(wnd.KeyDown(VK_SPACE));
    EXPECT_FALSE(wnd.TimerRunning(PLAY_TIMER_ID));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_IDLE);
    EXPECT_FALSE(wnd.Click(IDC_BTN_PLAY)) << "PLAY is disabled until a video is open";
    dlg.TogglePlayback();
    EXPECT_FALSE(wnd.TimerRunning(PLAY_TIMER_ID));
    wnd.ScrollSlider(3);
    dlg.OnTimer(PLAY_TIMER_ID);
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).paintCount, 0);
    EXPECT_EQ(wnd.GetControlText(IDC_STATIC_FRAME), "--");
}

TEST_F(Playback, OpeningAnotherVideoWhilePlayingPauses) {
    ASSERT_FALSE(MakeAndOpen().empty());
    ASSERT_TRUE(wnd.Click(IDC_BTN_SLOWER));
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    ASSERT_FALSE(MakeAndOpen("other.avi").empty());
    EXPECT_FALSE(wnd.TimerRunning(PLAY_TIMER_ID));
    EXPECT_EQ(wnd.GetControlText(IDC_BTN_PLAY), "&PLAY");
    EXPECT_EQ(dlg.GetPlayInterval(), 30);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
}

// Playback goes on behind a modal box or menu (the window keeps delivering ticks), but no tick
// moves the frame the box is about: the answer acts on the frame the operator saw when asked.
struct ModalCase {
    const char* name;
    bool writesFail;  // frame files cannot be replaced
    void (*act)(DialogHarness& h);
    void (*check)(DialogHarness& h);
};

void PrintTo(const ModalCase& c, std::ostream* os) {
    *os << c.name;
}

const CRect kModalRoi{200, 150, 260, 200};

class ModalWhilePlaying : public Playback, public ::testing::WithParamInterface<ModalCase> {};

TEST_P(ModalWhilePlaying, NoTickMovesTheFrameTheBoxIsAbout) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    for (int f : {2, 3}) {
        WriteLabelFile(video, f, {MakeRoi(f, 1, 0, kModalRoi)});
    }
    if (GetParam().writesFail) {
        WriteFileBytes(LabelFolder(video) / ".tagwright-tmp", "in the way");
    }
    ASSERT_TRUE(OpenViaButton(video));
    wnd.ScrollSlider(2);
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));

    GetParam().act(*this);
    EXPECT_GT(wnd.ModalTicksDelivered(), 0);
    EXPECT_EQ(ShownFrameIndex(), 2);
    EXPECT_TRUE(wnd.TimerRunning(PLAY_TIMER_ID));
    GetParam().check(*this);
}

INSTANTIATE_TEST_SUITE_P(
    Playback, ModalWhilePlaying,
    ::testing::Values(ModalCase{"DeleteFrameQuestion", false,
                                [](DialogHarness& h) { h.wnd.KeyDown('E'); },
                                [](DialogHarness& h) {
                                    EXPECT_FALSE(HasRoi(h, 1, 2));
                                    EXPECT_TRUE(HasRoi(h, 1, 3));
                                }},
                      ModalCase{"AccessFailureInsideADraw", true,
                                [](DialogHarness& h) {
                                    DragFrame(h, {40, 60}, {120, 140});
                                },
                                [](DialogHarness& h) {
                                    // The draw could not be stored: it is taken back, and the
                                    // box that is stored shows again.
                                    CRect stored;
                                    ASSERT_TRUE(HasRoi(h, 1, 2, &stored));
                                    EXPECT_EQ(stored, kModalRoi);
                                }},
                      ModalCase{"ContextMenu", false,
                                [](DialogHarness& h) {
                                    h.wnd.RButtonDown(h.FrameToClient({220, 170}));
                                    h.dlg.OnContextMenu({500, 400});
                                },
                                [](DialogHarness& h) { EXPECT_EQ(h.wnd.MenuCalls().size(), 1u); }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
