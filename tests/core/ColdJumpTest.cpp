// Jumps into a part of a real phone clip never read (N, GO, the slider) show the frame they name:
// at once when the index is there, or marked "?" until the index timer replaces it. The slider
// follows the exact frame count, and a file that cannot be read to its end is reported.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "support/DialogHarness.h"
#include "video/VideoManager.h"

namespace fs = std::filesystem;

namespace {

const fs::path kBoxClip = fs::path(TAGWRIGHT_TESTDATA_DIR) / "box.mp4";

class ColdJump : public DialogTest {
  protected:
    void SetUp() override {
        std::error_code ec;
        if (!fs::exists(kBoxClip, ec)) {
            GTEST_SKIP() << kBoxClip << " is not there";
        }
        cv::VideoCapture capture(kBoxClip.string(), cv::CAP_ANY);
        cv::Mat frame;
        while (capture.read(frame) && !frame.empty()) {
            truth.push_back(frame.clone());
        }
        ASSERT_GT(truth.size(), 420u);
        video = tmp / "box.mp4";
        fs::copy_file(kBoxClip, video);
        // Labels of label 2 on frames far apart, none of them read before the jumps.
        for (int f : kLabelled) {
            WriteLabelFile(video, f, {MakeRoi(f, 2, 0, {5, 5, 25, 25})});
        }
    }

    // The frame on screen, without the overlay, against the capture's frame of that index. A
    // jump normally waits for the index; when the index worker was starved (a loaded machine)
    // the frame is shown marked and the index timer must then put the exact one there.
    void ExpectShowsItsFrame(const std::string& step) {
        CVideoManager* vm = dlg.GetVideoManager();
        ASSERT_NE(vm, nullptr);
        const int n = vm->CurrentFrameIndex();
        if (wnd.GetControlText(IDC_STATIC_FRAME) == std::to_string(n) + "?") {
            vm->WaitForIndex();
            wnd.FireTimer(INDEX_TIMER_ID);
            ASSERT_EQ(vm->CurrentFrameIndex(), n) << step;
        }
        const std::string counter = wnd.GetControlText(IDC_STATIC_FRAME);
        ASSERT_TRUE(vm->ReloadCurrentFrame()) << step;
        ASSERT_GE(n, 0);
        const cv::Mat& shown = vm->CurrentFrame();
        EXPECT_EQ(cv::norm(shown, truth[static_cast<size_t>(n)], cv::NORM_INF), 0)
            << step << ": frame " << n << " shows another picture";
        EXPECT_EQ(counter, std::to_string(n)) << step;
    }

    static constexpr int kLabelled[] = {120, 260, 410};
    fs::path video;
    std::vector<cv::Mat> truth;
};

TEST_F(ColdJump, NGoAndTheSliderShowTheFrameTheyName) {
    ASSERT_TRUE(OpenViaButton(video));
    wnd.KeyDown('N');
    EXPECT_EQ(dlg.GetVideoManager()->CurrentFrameIndex(), 120);
    ExpectShowsItsFrame("N from frame 0");
    wnd.KeyDown('N');
    ExpectShowsItsFrame("N from 120");
    ASSERT_TRUE(wnd.Click(kMainGoButtonIds[1]));
    EXPECT_EQ(dlg.GetVideoManager()->CurrentFrameIndex(), 120);
    ExpectShowsItsFrame("GO of label 2");
    wnd.ScrollSlider(333);
    ExpectShowsItsFrame("slider to 333");
    wnd.KeyDown('N');
    EXPECT_EQ(dlg.GetVideoManager()->CurrentFrameIndex(), 410);
    ExpectShowsItsFrame("N from 333");
}

// Reopened: the index comes from the label folder, and every jump is exact without waiting.
TEST_F(ColdJump, AReopenedVideoTakesItsIndexFromTheLabelFolder) {
    ASSERT_TRUE(OpenViaButton(video));
    dlg.GetVideoManager()->WaitForIndex();
    ASSERT_TRUE(fs::exists(CVideoManager::IndexFilePath(LabelFolder(video))));
    ASSERT_TRUE(OpenViaButton(video));
    EXPECT_TRUE(dlg.GetVideoManager()->IndexLoadedFromFile());
    EXPECT_FALSE(wnd.TimerRunning(INDEX_TIMER_ID));
    wnd.ScrollSlider(440);
    ExpectShowsItsFrame("slider to 440");
    wnd.ScrollSlider(300);
    ExpectShowsItsFrame("slider to 300");
    wnd.KeyDown('B');
    EXPECT_EQ(dlg.GetVideoManager()->CurrentFrameIndex(), 260);
    ExpectShowsItsFrame("B from 300");
}

// Far beyond the index: shown marked, replaced by the exact frame at the index timer's tick.
TEST_F(ColdJump, AJumpBeyondTheIndexIsMarkedUntilTheIndexGetsThere) {
    ASSERT_TRUE(OpenViaButton(video));
    CVideoManager* vm = dlg.GetVideoManager();
    // As on a long recording where the worker is still far behind the jump.
    vm->SetIndexWaitFrames(0);
    wnd.ScrollSlider(430);
    if (vm->IsCurrentFrameVerified()) {
        GTEST_SKIP() << "the index reached frame 430 before the jump";
    }
    EXPECT_EQ(wnd.GetControlText(IDC_STATIC_FRAME), "430?");
    EXPECT_TRUE(wnd.TimerRunning(INDEX_TIMER_ID));
    vm->WaitForIndex();
    wnd.FireTimer(INDEX_TIMER_ID);
    EXPECT_TRUE(vm->IsCurrentFrameVerified());
    EXPECT_FALSE(wnd.TimerRunning(INDEX_TIMER_ID));
    EXPECT_EQ(wnd.GetControlText(IDC_EDIT_PATH), video.string()) << "no progress once complete";
    ExpectShowsItsFrame("slider to 430, after the index tick");
}

// What the index learns reaches the window: a raw stream (no frame count of its own) gets a
// slider over every frame; a read error is told, with the last frame that could be read.
TEST_F(DialogTest, TheSliderFollowsTheExactCountAndAReadErrorIsTold) {
    struct Case {
        const char* file;
        const char* codec;
        bool failRead;
    };
    for (const Case& c : {Case{"raw.h264", "-c:v libx264 -bf 2 -g 24 -f h264", false},
                          Case{"part.ts", "-c:v mpeg2video -g 12", true}}) {
        const fs::path video = tmp / c.file;
        // A clip that cannot be made fails the test.
        ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc2=s=160x120:r=25:d=2.4 " +
                               std::string(c.codec) + " " + video.string() + " >/dev/null 2>&1")
                                  .c_str()),
                  0)
            << c.file;
        CFrameDecoder::FailReadsPastForTests(
            c.failRead ? static_cast<int64_t>(fs::file_size(video) / 2) : -1);
        ASSERT_TRUE(OpenViaButton(video)) << c.file;
        CVideoManager* vm = dlg.GetVideoManager();
        vm->WaitForIndex();
        CFrameDecoder::FailReadsPastForTests(-1);
        app.ClearBoxes();
        wnd.FireTimer(INDEX_TIMER_ID);
        EXPECT_FALSE(wnd.TimerRunning(INDEX_TIMER_ID)) << c.file;
        if (!c.failRead) {
            EXPECT_EQ(wnd.Ctl(IDC_SLIDER).sliderMax, 60) << c.file;
            wnd.ScrollSlider(59);
            EXPECT_EQ(wnd.GetControlText(IDC_STATIC_FRAME), "59") << c.file;
            EXPECT_TRUE(app.Boxes().empty()) << c.file;
            continue;
        }
        const std::string past =
            "could not be read past frame " + std::to_string(vm->LastReadableFrame());
        ASSERT_GE(vm->LastReadableFrame(), 0) << c.file;
        EXPECT_NE(wnd.GetControlText(IDC_EDIT_PATH).find(past), std::string::npos) << c.file;
        ASSERT_EQ(app.Boxes().size(), 1u) << c.file;
        EXPECT_NE(app.Boxes()[0].text.find(past), std::string::npos) << c.file;
    }
}

}  // namespace
