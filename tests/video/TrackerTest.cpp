#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "VideoTestClips.h"
#include "support/TempDir.h"
#include "video/SampleVideo.h"
#include "video/VideoManager.h"

namespace {

const cv::Vec3b kTrackerGrey(150, 150, 150);

cv::Mat Plain(int width, int height) {
    return cv::Mat(height, width, CV_8UC3, cv::Scalar(30, 60, 90));
}

// A tracker that does what the test tells it and records what it was handed.
class ScriptedTracker : public cv::Tracker {
  public:
    void init(cv::InputArray image, const cv::Rect& box) override {
        ++inits;
        initImageSize = image.size();
        initBox = box;
        if (initThrows) {
            CV_Error(cv::Error::StsBadArg, "scripted init failure");
        }
    }
    bool update(cv::InputArray image, cv::Rect& box) override {
        ++updates;
        updateImageSize = image.size();
        if (updateThrows) {
            CV_Error(cv::Error::StsAssert, "scripted update failure");
        }
        if (updateResult) {
            box = answer;
        }
        return updateResult;
    }

    bool initThrows = false;
    bool updateThrows = false;
    bool updateResult = true;
    cv::Rect answer;
    int inits = 0;
    int updates = 0;
    cv::Size initImageSize;
    cv::Size updateImageSize;
    cv::Rect initBox;
};

TEST(Tracker, UpdateBeforeAnyInitFailsCleanly) {
    CVideoManager vm;
    CRect rect{1, 2, 3, 4};
    EXPECT_FALSE(vm.TrackNext(rect)) << "no frame";
    vm.CurrentFrame() = Plain(320, 240);
    const cv::Mat before = vm.CurrentFrame().clone();
    EXPECT_FALSE(vm.TrackNext(rect));
    EXPECT_EQ(rect, (CRect{1, 2, 3, 4}));
    EXPECT_EQ(cv::norm(before, vm.CurrentFrame(), cv::NORM_INF), 0) << "no box drawn";
    EXPECT_TRUE(vm.TrackedRect().IsNull());
}

TEST(Tracker, BoxesUnderTenByTenAreRefusedAndTheTargetStays) {
    CVideoManager vm;
    auto fake = cv::makePtr<ScriptedTracker>();
    vm.SetTracker(fake);
    vm.CurrentFrame() = Plain(320, 240);
    EXPECT_TRUE(vm.InitTracker({50, 50, 60, 60})) << "10 x 10 is the smallest box taken";
    ASSERT_TRUE(vm.InitTracker({40, 40, 90, 80}));
    ASSERT_EQ(fake->inits, 2);
    for (const CRect r : {CRect{0, 0, 9, 50}, CRect{0, 0, 50, 9}, CRect{0, 0, 0, 0},
                          CRect{100, 100, 50, 50}, CRect{100, 100, 109, 109}}) {
        EXPECT_FALSE(vm.InitTracker(r)) << Describe(r);
    }
    EXPECT_EQ(fake->inits, 2) << "the tracker never saw a refused box";
    EXPECT_EQ(vm.TrackedRect(), (CRect{40, 40, 90, 80}));
}

TEST(Tracker, InitNeedsAFrame) {
    CVideoManager vm;
    EXPECT_FALSE(vm.InitTracker({10, 10, 60, 60}));
}

TEST(Tracker, LostTargetStoresNothingAndDrawsNothing) {
    CVideoManager vm;
    auto fake = cv::makePtr<ScriptedTracker>();
    fake->updateResult = false;
    vm.SetTracker(fake);
    vm.CurrentFrame() = Plain(320, 240);
    ASSERT_TRUE(vm.InitTracker({40, 40, 90, 80}));
    const cv::Mat before = vm.CurrentFrame().clone();
    CRect rect{7, 7, 7, 7};
    EXPECT_FALSE(vm.TrackNext(rect));
    EXPECT_EQ(rect, (CRect{7, 7, 7, 7}));
    EXPECT_EQ(cv::norm(before, vm.CurrentFrame(), cv::NORM_INF), 0);
    // The model stays: the next step asks the tracker again.
    EXPECT_FALSE(vm.TrackNext(rect));
    EXPECT_EQ(fake->updates, 2);
}

TEST(Tracker, ThrowingUpdateIsALostTargetUntilTheNextInit) {
    CVideoManager vm;
    auto fake = cv::makePtr<ScriptedTracker>();
    fake->updateThrows = true;
    vm.SetTracker(fake);
    vm.CurrentFrame() = Plain(320, 240);
    ASSERT_TRUE(vm.InitTracker({40, 40, 90, 80}));
    CRect rect;
    EXPECT_FALSE(vm.TrackNext(rect));
    EXPECT_FALSE(vm.TrackNext(rect));
    EXPECT_EQ(fake->updates, 1) << "a model that threw is not asked again";
    fake->updateThrows = false;
    fake->answer = cv::Rect(44, 41, 50, 40);
    ASSERT_TRUE(vm.InitTracker({40, 40, 90, 80}));
    EXPECT_TRUE(vm.TrackNext(rect));
    EXPECT_EQ(rect, (CRect{44, 41, 94, 81}));
}

TEST(Tracker, ThrowingInitIsARefusedBox) {
    CVideoManager vm;
    auto fake = cv::makePtr<ScriptedTracker>();
    fake->initThrows = true;
    vm.SetTracker(fake);
    vm.CurrentFrame() = Plain(320, 240);
    EXPECT_FALSE(vm.InitTracker({40, 40, 90, 80}));
    CRect rect;
    EXPECT_FALSE(vm.TrackNext(rect));
    EXPECT_EQ(fake->updates, 0);
}

TEST(Tracker, FoundBoxIsDrawnGreyAndReturnedAsLeftTopRightBottom) {
    CVideoManager vm;
    auto fake = cv::makePtr<ScriptedTracker>();
    fake->answer = cv::Rect(60, 50, 70, 40);
    vm.SetTracker(fake);
    vm.CurrentFrame() = Plain(320, 240);
    ASSERT_TRUE(vm.InitTracker({40, 40, 110, 80}));
    // A small box goes to the tracker as it is, on the frame itself.
    EXPECT_EQ(fake->initBox, cv::Rect(40, 40, 70, 40));
    EXPECT_EQ(fake->initImageSize, cv::Size(320, 240));
    CRect rect;
    ASSERT_TRUE(vm.TrackNext(rect));
    EXPECT_EQ(rect, (CRect{60, 50, 130, 90}));
    EXPECT_EQ(vm.TrackedRect(), rect);
    EXPECT_EQ(fake->updateImageSize, cv::Size(320, 240));
    const cv::Mat& f = vm.CurrentFrame();
    EXPECT_EQ(f.at<cv::Vec3b>(70, 59), kTrackerGrey);
    EXPECT_EQ(f.at<cv::Vec3b>(70, 60), kTrackerGrey);
    EXPECT_EQ(f.at<cv::Vec3b>(70, 61), kTrackerGrey);
    EXPECT_EQ(f.at<cv::Vec3b>(70, 62), cv::Vec3b(30, 60, 90));
    EXPECT_EQ(f.at<cv::Vec3b>(89, 100), kTrackerGrey);
}

// Large boxes: the tracker works on a scaled frame; what comes back is in frame pixels.
TEST(Tracker, LargeBoxIsTrackedOnAScaledFrameAndMappedBackWithoutDrift) {
    struct Case {
        CRect box;
        cv::Size frame;
    };
    for (const Case c :
         {Case{{101, 53, 434, 310}, {1280, 720}}, Case{{7, 9, 1900, 1070}, {1920, 1080}},
          Case{{300, 200, 501, 260}, {1280, 720}}}) {
        CVideoManager vm;
        auto fake = cv::makePtr<ScriptedTracker>();
        vm.SetTracker(fake);
        vm.CurrentFrame() = Plain(c.frame.width, c.frame.height);
        ASSERT_TRUE(vm.InitTracker(c.box)) << Describe(c.box);
        const double scale = 200.0 / std::max(c.box.Width(), c.box.Height());
        EXPECT_NEAR(vm.TrackerScale(), scale, 1e-9);
        EXPECT_NEAR(fake->initImageSize.width, c.frame.width * scale, 1.0);
        EXPECT_NEAR(fake->initImageSize.height, c.frame.height * scale, 1.0);
        EXPECT_NEAR(std::max(fake->initBox.width, fake->initBox.height), 200, 1);
        EXPECT_NEAR(fake->initBox.x, c.box.left * scale, 1.0);
        EXPECT_NEAR(fake->initBox.y, c.box.top * scale, 1.0);

        // A tracker that keeps answering its initial box: the frame box never moves or grows.
        fake->answer = fake->initBox;
        for (int i = 0; i < 5; ++i) {
            CRect rect;
            ASSERT_TRUE(vm.TrackNext(rect));
            EXPECT_EQ(rect, c.box) << "step " << i;
            EXPECT_EQ(fake->updateImageSize, fake->initImageSize);
        }
        // A shift of 10 tracker pixels is 10 / scale frame pixels; twice the size is twice.
        fake->answer = fake->initBox + cv::Point(10, 0);
        CRect moved;
        ASSERT_TRUE(vm.TrackNext(moved));
        EXPECT_NEAR(moved.left - c.box.left, 10 / scale, 1.0);
        EXPECT_EQ(moved.Width(), c.box.Width());
        EXPECT_EQ(moved.top, c.box.top);
        fake->answer = cv::Rect(fake->initBox.x, fake->initBox.y, fake->initBox.width * 2,
                                fake->initBox.height * 2);
        CRect grown;
        ASSERT_TRUE(vm.TrackNext(grown));
        EXPECT_EQ(grown.Width(), 2 * c.box.Width());
        EXPECT_EQ(grown.Height(), 2 * c.box.Height());
    }
}

TEST(Tracker, ThinLargeBoxKeepsTheMinimumSideWhenScaled) {
    CVideoManager vm;
    auto fake = cv::makePtr<ScriptedTracker>();
    vm.SetTracker(fake);
    vm.CurrentFrame() = Plain(1920, 1080);
    ASSERT_TRUE(vm.InitTracker({100, 100, 1100, 120}));
    EXPECT_GE(std::min(fake->initBox.width, fake->initBox.height), 10);
}

TEST(Tracker, SmallBoxesAreNotScaledAndTheSideCanBeSwitchedOff) {
    CVideoManager vm;
    auto fake = cv::makePtr<ScriptedTracker>();
    vm.SetTracker(fake);
    vm.CurrentFrame() = Plain(1920, 1080);
    ASSERT_TRUE(vm.InitTracker({100, 100, 300, 250}));  // longer side exactly 200
    EXPECT_EQ(vm.TrackerScale(), 1.0);
    EXPECT_EQ(fake->initImageSize, cv::Size(1920, 1080));
    vm.SetTrackerSide(0);
    ASSERT_TRUE(vm.InitTracker({100, 100, 800, 600}));
    EXPECT_EQ(vm.TrackerScale(), 1.0);
    EXPECT_EQ(fake->initBox, cv::Rect(100, 100, 700, 500));
}

// The real CSRT on generated clips.
class CsrtOnClip : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_dir = new TempDir;
        s_small = ClipOptions(640, 480, 40);
        s_small.blobStart = 80;
        s_small.blobEnd = 120;
        ASSERT_TRUE(WriteSampleVideo(*s_dir / "small.mp4", s_small));
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    static TempDir* s_dir;
    static SampleVideoOptions s_small;
};

TempDir* CsrtOnClip::s_dir = nullptr;
SampleVideoOptions CsrtOnClip::s_small;

TEST_F(CsrtOnClip, FollowsTheMovingBlobForThirtyFrames) {
    CVideoManager vm;
    ASSERT_TRUE(vm.Open(*s_dir / "small.mp4"));
    ASSERT_TRUE(vm.ReadNextFrame());
    ASSERT_TRUE(vm.InitTracker(SampleBlobBox(s_small, 0)));
    for (int i = 1; i <= 30; ++i) {
        ASSERT_TRUE(vm.ReadNextFrame());
        ASSERT_EQ(ReadStampedIndex(vm.CurrentFrame()), i);
        CRect rect;
        ASSERT_TRUE(vm.TrackNext(rect)) << "frame " << i;
        const CRect truth = SampleBlobBox(s_small, i);
        EXPECT_GE(IoU(rect, truth), 0.5)
            << "frame " << i << " " << Describe(rect) << " vs " << Describe(truth);
        EXPECT_EQ(vm.CurrentFrame().at<cv::Vec3b>((rect.top + rect.bottom) / 2, rect.left),
                  kTrackerGrey);
    }
}

TEST_F(CsrtOnClip, BoxesCsrtThrowsOnKeepTheRunningModel) {
    CVideoManager vm;
    ASSERT_TRUE(vm.Open(*s_dir / "small.mp4"));
    ASSERT_TRUE(vm.ReadNextFrame());
    const CRect start = SampleBlobBox(s_small, 0);
    ASSERT_TRUE(vm.InitTracker(start));
    // OpenCV 4.6's CSRT throws on these: a very thin box, one wholly outside the frame.
    for (const CRect r : {CRect{10, 100, 510, 110}, CRect{-500, -500, -400, -400}}) {
        EXPECT_FALSE(vm.InitTracker(r)) << Describe(r);
        EXPECT_EQ(vm.TrackedRect(), start) << Describe(r);
    }
    for (int i = 1; i <= 10; ++i) {
        ASSERT_TRUE(vm.ReadNextFrame());
        CRect rect;
        ASSERT_TRUE(vm.TrackNext(rect)) << "frame " << i;
        EXPECT_GE(IoU(rect, SampleBlobBox(s_small, i)), 0.5) << "frame " << i;
    }
}

TEST_F(CsrtOnClip, ThinAndStrayBoxesNeverThrow) {
    CVideoManager vm;
    ASSERT_TRUE(vm.Open(*s_dir / "small.mp4"));
    ASSERT_TRUE(vm.ReadNextFrame());
    for (const CRect r :
         {CRect{10, 100, 510, 110}, CRect{100, 10, 110, 470}, CRect{-500, -500, -400, -400},
          CRect{600, 400, 700, 500}, CRect{0, 0, 640, 480}, CRect{630, 470, 650, 490}}) {
        EXPECT_NO_THROW({
            vm.InitTracker(r);
            CRect rect;
            vm.ReadNextFrame();
            vm.TrackNext(rect);
        }) << Describe(r);
    }
    // An empty frame after the end of the video.
    ASSERT_TRUE(vm.SeekFrame(s_small.frames - 1));
    ASSERT_TRUE(vm.InitTracker({100, 100, 200, 200}));
    EXPECT_FALSE(vm.ReadNextFrame());
    CRect rect;
    EXPECT_FALSE(vm.TrackNext(rect));
    EXPECT_FALSE(vm.InitTracker({100, 100, 200, 200}));
}

struct RunResult {
    double meanIoU = 0;
    double minIoU = 1;
    int frames = 0;
    double lastScale = 0;
};

// Tracks through the clip as an operator does who corrects the box every `every` frames: the
// tracker is started on the true box there and carried forward in between. Each start chooses
// its scale from the box size then.
RunResult TrackWithRestarts(const std::filesystem::path& clip, const SampleVideoOptions& o,
                            int every, int side) {
    RunResult result;
    CVideoManager vm;
    vm.SetTrackerSide(side);
    EXPECT_TRUE(vm.Open(clip));
    double sum = 0;
    for (int i = 0; i < o.frames; ++i) {
        EXPECT_TRUE(vm.ReadNextFrame());
        EXPECT_EQ(ReadStampedIndex(vm.CurrentFrame()), i);
        if (i % every == 0) {
            EXPECT_TRUE(vm.InitTracker(SampleBlobBox(o, i))) << i;
            result.lastScale = vm.TrackerScale();
            continue;
        }
        CRect rect;
        const double iou = vm.TrackNext(rect) ? IoU(rect, SampleBlobBox(o, i)) : 0.0;
        sum += iou;
        result.minIoU = std::min(result.minIoU, iou);
        ++result.frames;
    }
    result.meanIoU = result.frames > 0 ? sum / result.frames : 0;
    return result;
}

// A polyp coming closer, from 150 to 700 pixels over 60 frames.
TEST(CsrtScaled, FollowsAGrowingBlobAsWellAsAtFullResolution) {
    TempDir dir;
    SampleVideoOptions o = ClipOptions(1280, 800, 60);
    o.blobStart = 150;
    o.blobEnd = 700;
    const auto clip = MakeClip(dir / "growing.mp4", o);

    const RunResult scaled = TrackWithRestarts(clip, o, 10, CVideoManager::kTrackerSide);
    const RunResult full = TrackWithRestarts(clip, o, 10, 0);
    std::printf("scaled: mean IoU %.3f, lowest %.3f; full resolution: mean %.3f, lowest %.3f\n",
                scaled.meanIoU, scaled.minIoU, full.meanIoU, full.minIoU);
    EXPECT_EQ(scaled.frames, 54);
    // The last start is on a box of about 600 pixels: the scaled frame was in use.
    EXPECT_LT(scaled.lastScale, 0.4);
    EXPECT_EQ(full.lastScale, 1.0);
    EXPECT_GE(scaled.meanIoU, full.meanIoU - 0.02);
    EXPECT_GE(scaled.minIoU, 0.5);
}

}  // namespace
