#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/videoio.hpp>

#include "VideoTestClips.h"
#include "support/TempDir.h"
#include "video/SampleVideo.h"

namespace {

struct StampCase {
    int width;
    int height;
    int index;
};

class StampRoundTrip : public ::testing::TestWithParam<StampCase> {};

TEST_P(StampRoundTrip, RenderedIndexReadsBack) {
    const StampCase c = GetParam();
    SampleVideoOptions o;
    o.width = c.width;
    o.height = c.height;
    o.frames = 70000;
    EXPECT_EQ(ReadStampedIndex(RenderSampleFrame(o, c.index)), c.index);
}

INSTANTIATE_TEST_SUITE_P(SampleVideo, StampRoundTrip,
                         ::testing::Values(StampCase{320, 240, 0}, StampCase{320, 240, 1},
                                           StampCase{320, 240, 255}, StampCase{320, 240, 256},
                                           StampCase{640, 480, 4095}, StampCase{640, 480, 65535},
                                           StampCase{1278, 720, 12345},
                                           StampCase{1920, 1080, 599}));

TEST(SampleVideo, StampRejectsFramesWithoutAValidPattern) {
    SampleVideoOptions o;
    o.width = 320;
    o.height = 240;
    const cv::Mat good = RenderSampleFrame(o, 77);
    ASSERT_EQ(ReadStampedIndex(good), 77);

    EXPECT_EQ(ReadStampedIndex(cv::Mat()), -1);
    EXPECT_EQ(ReadStampedIndex(cv::Mat(240, 320, CV_8UC3, cv::Scalar(40, 60, 200))), -1);
    EXPECT_EQ(ReadStampedIndex(cv::Mat(240, 320, CV_8UC3, cv::Scalar(255, 255, 255))), -1);
    EXPECT_EQ(ReadStampedIndex(cv::Mat(20, 40, CV_8UC3, cv::Scalar(0, 0, 0))), -1);

    // The cell size is 8 pixels at this size; cells start one cell in from the corner.
    const int cell = 8;
    auto flip = [&](int row, int col) {
        cv::Mat m = good.clone();
        cv::Mat c = m(cv::Rect(cell * (1 + col), cell * (1 + row), cell, cell));
        c = cv::Scalar::all(255) - c;
        return m;
    };
    EXPECT_EQ(ReadStampedIndex(flip(0, 0)), -1) << "first guard";
    EXPECT_EQ(ReadStampedIndex(flip(1, 11)), -1) << "last guard";
    EXPECT_EQ(ReadStampedIndex(flip(1, 5)), -1) << "a data bit without its parity";
    EXPECT_EQ(ReadStampedIndex(flip(0, 10)), -1) << "the parity cell";
}

TEST(SampleVideo, BlobGrowsFromStartToEndSizeInsideTheFrame) {
    SampleVideoOptions o;
    o.width = 1280;
    o.height = 800;
    o.frames = 60;
    o.blobStart = 150;
    o.blobEnd = 700;
    EXPECT_EQ(SampleBlobBox(o, 0).Width(), 150);
    EXPECT_EQ(SampleBlobBox(o, 59).Width(), 700);
    int previous = 0;
    for (int i = 0; i < o.frames; ++i) {
        const CRect b = SampleBlobBox(o, i);
        EXPECT_GT(b.Width(), previous) << i;
        previous = b.Width();
        EXPECT_GE(b.left, 0) << i;
        EXPECT_GE(b.top, 0) << i;
        EXPECT_LE(b.right, o.width) << i;
        EXPECT_LE(b.bottom, o.height) << i;
    }
}

TEST(SampleVideo, BlobIsDrawnInsideItsBoxAndMoves) {
    SampleVideoOptions o;
    const cv::Mat f = RenderSampleFrame(o, 10);
    const CRect b = SampleBlobBox(o, 10);
    const cv::Vec3b centre = f.at<cv::Vec3b>((b.top + b.bottom) / 2, (b.left + b.right) / 2);
    const cv::Vec3b outside = f.at<cv::Vec3b>(b.top - 5 >= 0 ? b.top - 5 : b.bottom + 5, b.left);
    // Pink against red mucosa: the blob carries far more blue.
    EXPECT_GT(centre[0], 120);
    EXPECT_LT(outside[0], 100);
    EXPECT_NE(SampleBlobBox(o, 10), SampleBlobBox(o, 11));
}

struct ClipCase {
    const char* name;
    int width;
    int height;
    int gop;
    bool bFrames;
};

class EncodedClip : public ::testing::TestWithParam<ClipCase> {};

TEST_P(EncodedClip, EveryDecodedFrameCarriesItsIndex) {
    const ClipCase c = GetParam();
    TempDir dir;
    SampleVideoOptions o = ClipOptions(c.width, c.height, 40);
    o.gop = c.gop;
    o.bFrames = c.bFrames;
    const auto path = MakeClip(dir / c.name, o);

    cv::VideoCapture capture(path.string());
    ASSERT_TRUE(capture.isOpened());
    EXPECT_EQ(static_cast<int>(capture.get(cv::CAP_PROP_FRAME_COUNT)), o.frames);
    EXPECT_EQ(static_cast<int>(capture.get(cv::CAP_PROP_FRAME_WIDTH)), c.width);
    cv::Mat frame;
    int n = 0;
    while (capture.read(frame)) {
        EXPECT_EQ(ReadStampedIndex(frame), n);
        ++n;
    }
    EXPECT_EQ(n, o.frames);
}

INSTANTIATE_TEST_SUITE_P(SampleVideo, EncodedClip,
                         ::testing::Values(ClipCase{"h264_small.mp4", 320, 240, 12, false},
                                           ClipCase{"h264_bframes.mp4", 320, 240, 250, true},
                                           ClipCase{"mjpg.avi", 320, 240, 12, false}),
                         [](const auto& info) { return std::to_string(info.index); });

TEST(SampleVideo, RefusesWhatItCannotWrite) {
    TempDir dir;
    SampleVideoOptions o = ClipOptions(320, 240, 3);
    EXPECT_FALSE(WriteSampleVideo(dir / "clip.mkv", o)) << "unknown container";
    SampleVideoOptions odd = ClipOptions(321, 240, 3);
    EXPECT_FALSE(WriteSampleVideo(dir / "odd.mp4", odd)) << "4:2:0 needs even sizes";
    EXPECT_FALSE(WriteSampleVideo(dir / "missing" / "clip.mp4", o)) << "folder does not exist";
    EXPECT_FALSE(WriteSampleVideo(dir / "missing" / "clip.avi", o)) << "folder does not exist";
    SampleVideoOptions none = ClipOptions(320, 240, 0);
    EXPECT_FALSE(WriteSampleVideo(dir / "empty.mp4", none));
}

}  // namespace
