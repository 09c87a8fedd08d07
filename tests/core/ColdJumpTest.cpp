// Jumps into a part of a real phone clip never read (N, GO, the slider) show the frame they name:
// at once when the index is there, or marked "?" until the index timer replaces it.
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

}  // namespace
