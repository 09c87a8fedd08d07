#include <string>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "VideoTestClips.h"
#include "support/TempDir.h"
#include "video/SampleVideo.h"
#include "video/VideoManager.h"

namespace {

bool SameImage(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// One clip per container, shared by the tests of this file: H.264 for the real seek path, MJPG
// for a second backend path.
class FrameAccess : public ::testing::TestWithParam<const char*> {
  protected:
    static constexpr int kFrames = 40;

    static void SetUpTestSuite() {
        s_dir = new TempDir;
        for (const char* name : {"clip.mp4", "clip.avi"}) {
            ASSERT_TRUE(WriteSampleVideo(*s_dir / name, ClipOptions(320, 240, kFrames)));
        }
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(vm.Open(*s_dir / GetParam()));
        ASSERT_TRUE(vm.ReadNextFrame());
    }

    // The index the test can see in the picture, next to the one the position claims.
    void ExpectShown(int index, const std::string& step) {
        EXPECT_EQ(vm.CurrentFrameIndex(), index) << step;
        EXPECT_EQ(ReadStampedIndex(vm.CurrentFrame()), index) << step;
    }

    static TempDir* s_dir;
    CVideoManager vm;
};

TempDir* FrameAccess::s_dir = nullptr;

TEST_P(FrameAccess, OpenReportsSizesAndFirstReadShowsFrameZero) {
    EXPECT_TRUE(vm.IsOpened());
    EXPECT_EQ(vm.GetWidth(), 320);
    EXPECT_EQ(vm.GetHeight(), 240);
    EXPECT_EQ(vm.GetFrameCount(), kFrames);
    ExpectShown(0, "first read");
    EXPECT_EQ(vm.CurrentFrame().type(), CV_8UC3);
}

TEST_P(FrameAccess, SeekThenPreviousThenNext) {
    // Frames on, just after and just before key frames (every 12th), and the last one.
    for (int n : {1, 11, 12, 13, 25, 38, 39}) {
        const std::string at = " from " + std::to_string(n);
        ASSERT_TRUE(vm.SeekFrame(n)) << n;
        ExpectShown(n, "seek" + at);
        ASSERT_TRUE(vm.ReadPreviousFrame()) << n;
        ExpectShown(n - 1, "previous" + at);
        ASSERT_TRUE(vm.ReadNextFrame()) << n;
        ExpectShown(n, "next" + at);
    }
}

TEST_P(FrameAccess, SeekBackwardsAndForwardsInAnyOrder) {
    for (int n : {30, 2, 17, 17, 0, 39, 5}) {
        ASSERT_TRUE(vm.SeekFrame(n)) << n;
        ExpectShown(n, "seek " + std::to_string(n));
    }
}

TEST_P(FrameAccess, PreviousOnTheFirstFrameShowsItAgain) {
    const cv::Mat first = vm.CurrentFrame().clone();
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(vm.ReadPreviousFrame());
        ExpectShown(0, "previous on frame 0, time " + std::to_string(i + 1));
        EXPECT_TRUE(SameImage(vm.CurrentFrame(), first));
    }
    ASSERT_TRUE(vm.ReadNextFrame());
    ExpectShown(1, "next after that");
}

TEST_P(FrameAccess, ReloadAfterDrawingGivesTheCleanFrameAtTheSameIndex) {
    auto drawSomething = [&] {
        vm.DrawRois({ROI{0, 3, 0, {100, 80, 200, 160}, 1}});
        vm.DrawRectangle({50, 50, 150, 150}, cv::Scalar(200, 10, 10), 2);
    };
    // Reached by each kind of read, so that every path keeps the clean copy in step.
    struct Step {
        const char* name;
        bool (*go)(CVideoManager&);
        int expected;
    };
    const Step steps[] = {
        {"next", [](CVideoManager& v) { return v.ReadNextFrame(); }, 1},
        {"seek", [](CVideoManager& v) { return v.SeekFrame(20); }, 20},
        {"previous", [](CVideoManager& v) { return v.ReadPreviousFrame(); }, 19},
        {"reload", [](CVideoManager& v) { return v.ReloadCurrentFrame(); }, 19},
        {"next again", [](CVideoManager& v) { return v.ReadNextFrame(); }, 20},
    };
    for (const Step& s : steps) {
        ASSERT_TRUE(s.go(vm)) << s.name;
        const cv::Mat clean = vm.CurrentFrame().clone();
        drawSomething();
        ASSERT_FALSE(SameImage(vm.CurrentFrame(), clean)) << s.name << ": drawing changed nothing";
        ASSERT_TRUE(vm.ReloadCurrentFrame()) << s.name;
        ExpectShown(s.expected, std::string("reload after ") + s.name);
        EXPECT_TRUE(SameImage(vm.CurrentFrame(), clean)) << s.name;
        // Twice in a row, as the rubber band does on every mouse move.
        drawSomething();
        ASSERT_TRUE(vm.ReloadCurrentFrame()) << s.name;
        EXPECT_TRUE(SameImage(vm.CurrentFrame(), clean)) << s.name;
    }
}

TEST_P(FrameAccess, ReloadedFrameEqualsAFreshDecodeOfThatFrame) {
    ASSERT_TRUE(vm.SeekFrame(27));
    vm.DrawRectangle({10, 10, 300, 200}, cv::Scalar(0, 255, 0), 5);
    ASSERT_TRUE(vm.ReloadCurrentFrame());

    CVideoManager other;
    ASSERT_TRUE(other.Open(*s_dir / GetParam()));
    for (int i = 0; i <= 27; ++i) {
        ASSERT_TRUE(other.ReadNextFrame());
    }
    EXPECT_TRUE(SameImage(vm.CurrentFrame(), other.CurrentFrame()));
}

TEST_P(FrameAccess, ReadingPastTheLastFrameLeavesAnEmptyFrame) {
    ASSERT_TRUE(vm.SeekFrame(kFrames - 1));
    ExpectShown(kFrames - 1, "last frame");
    EXPECT_FALSE(vm.ReadNextFrame());
    EXPECT_TRUE(vm.CurrentFrame().empty());
    EXPECT_TRUE(vm.MakeDisplayImage().empty());
    // The failed read dropped the clean copy: a reload decodes the last frame again rather
    // than showing a stale picture.
    ASSERT_TRUE(vm.ReloadCurrentFrame());
    ExpectShown(kFrames - 1, "reload after the end");
}

TEST_P(FrameAccess, SeekOutsideTheVideoFailsWithAnEmptyFrame) {
    for (int n : {kFrames, kFrames + 100, -1, -1000}) {
        ASSERT_TRUE(vm.SeekFrame(5));
        EXPECT_FALSE(vm.SeekFrame(n)) << n;
        EXPECT_TRUE(vm.CurrentFrame().empty()) << n;
    }
    ASSERT_TRUE(vm.SeekFrame(8));
    ExpectShown(8, "seek after failed seeks");
}

TEST_P(FrameAccess, DisplayImageOfAMultipleOfFourWidthIsTheFrame) {
    ASSERT_TRUE(vm.SeekFrame(3));
    vm.DrawRectangle({10, 10, 60, 60}, cv::Scalar(0, 255, 0), 2);
    const cv::Mat& display = vm.MakeDisplayImage();
    // Drawing made before the call shows; nothing is cached from an earlier call.
    EXPECT_TRUE(SameImage(display, vm.CurrentFrame()));
    EXPECT_EQ(display.at<cv::Vec3b>(30, 10), cv::Vec3b(0, 255, 0));
}

INSTANTIATE_TEST_SUITE_P(VideoManager, FrameAccess, ::testing::Values("clip.mp4", "clip.avi"),
                         [](const auto& info) { return info.index == 0 ? "H264" : "MJPG"; });

TEST(VideoManager, DisplayWidthIsRaisedToAMultipleOfFour) {
    struct Case {
        int width;
        int expected;
    };
    TempDir dir;
    for (const Case c : {Case{1278, 1280}, Case{1280, 1280}, Case{321, 324}, Case{322, 324}}) {
        const auto path =
            MakeClip(dir / ("w" + std::to_string(c.width) + ".avi"), ClipOptions(c.width, 96, 2));
        CVideoManager vm;
        ASSERT_TRUE(vm.Open(path));
        ASSERT_TRUE(vm.ReadNextFrame());
        ASSERT_EQ(vm.CurrentFrame().cols, c.width);
        const cv::Mat& display = vm.MakeDisplayImage();
        EXPECT_EQ(display.cols, c.expected) << c.width;
        EXPECT_EQ(display.rows, 96) << c.width;
        EXPECT_EQ(display.type(), CV_8UC3);
        EXPECT_EQ(vm.CurrentFrame().cols, c.width) << "the frame itself is not resized";
    }
}

TEST(VideoManager, FailedOpenLeavesSizesAtOne) {
    TempDir dir;
    WriteFileBytes(dir / "not-a-video.mp4", "this is plain text, not a video\n");
    for (const auto& path : {dir / "missing.mp4", dir / "not-a-video.mp4", dir.Path()}) {
        CVideoManager vm;
        EXPECT_FALSE(vm.Open(path)) << path;
        EXPECT_FALSE(vm.IsOpened());
        EXPECT_EQ(vm.GetWidth(), 1);
        EXPECT_EQ(vm.GetHeight(), 1);
        EXPECT_EQ(vm.GetFrameCount(), 1);
        // Nothing to read, and no read throws.
        EXPECT_FALSE(vm.ReadNextFrame());
        EXPECT_FALSE(vm.ReadPreviousFrame());
        EXPECT_FALSE(vm.ReloadCurrentFrame());
        EXPECT_FALSE(vm.SeekFrame(0));
        EXPECT_TRUE(vm.CurrentFrame().empty());
        EXPECT_TRUE(vm.MakeDisplayImage().empty());
        EXPECT_EQ(vm.CurrentFrameIndex(), -1);
    }
}

TEST(VideoManager, OpensAPathWithNonAsciiCharacters) {
    TempDir dir;
    const auto path = MakeClip(dir / "대장 내시경 검사.mp4", ClipOptions(160, 120, 3));
    CVideoManager vm;
    ASSERT_TRUE(vm.Open(path));
    ASSERT_TRUE(vm.SeekFrame(2));
    EXPECT_EQ(ReadStampedIndex(vm.CurrentFrame()), 2);
    EXPECT_EQ(vm.GetWidth(), 160);
    EXPECT_EQ(vm.GetFrameCount(), 3);
}

}  // namespace
