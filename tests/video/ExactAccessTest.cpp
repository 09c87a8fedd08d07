// Every way of reaching a frame shows the frame that reading the file in order from its start
// shows at that index, pixel for pixel: on generated clips with long groups of pictures and
// B-frames, and on a real phone clip whose timestamps are out of presentation order.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <numeric>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "VideoTestClips.h"
#include "support/TempDir.h"
#include "video/SampleVideo.h"
#include "video/VideoManager.h"

namespace {

const std::filesystem::path kBoxClip = std::filesystem::path(TAGWRIGHT_TESTDATA_DIR) / "box.mp4";

// The frames as a plain capture reads them in order from the start: the truth every access
// path is held to. Pixels are kept for a range of frames, a digest for all.
class SequentialFrames {
  public:
    bool Load(const std::filesystem::path& path, int keepFrom, int keepTo) {
        cv::VideoCapture capture(path.string(), cv::CAP_ANY);
        if (!capture.isOpened()) {
            return false;
        }
        cv::Mat frame;
        for (int i = 0; capture.read(frame) && !frame.empty(); ++i) {
            m_digests.push_back(Digest(frame));
            if (i >= keepFrom && i <= keepTo) {
                m_frames[i] = frame.clone();
            }
        }
        return !m_digests.empty();
    }
    int Count() const { return static_cast<int>(m_digests.size()); }

    // Empty when the frame is the sequential frame `index`, else what differs.
    std::string Compare(int index, const cv::Mat& frame) const {
        if (index < 0 || index >= Count()) {
            return "no frame " + std::to_string(index) + " when read in order";
        }
        if (frame.empty()) {
            return "no picture";
        }
        const auto kept = m_frames.find(index);
        if (kept != m_frames.end()) {
            if (kept->second.size() != frame.size() || kept->second.type() != frame.type()) {
                return "another size or type";
            }
            const double diff = cv::norm(kept->second, frame, cv::NORM_INF);
            return diff == 0 ? "" : "pixels differ by up to " + std::to_string(diff);
        }
        if (Digest(frame) == m_digests[static_cast<size_t>(index)]) {
            return "";
        }
        const auto other =
            std::find(m_digests.begin(), m_digests.end(), Digest(frame)) - m_digests.begin();
        return other < Count() ? "shows frame " + std::to_string(other)
                               : "shows no frame of the file";
    }

    // Which frame of the file this picture is when read in order; -1 when none.
    int Find(const cv::Mat& frame) const {
        const auto at = std::find(m_digests.begin(), m_digests.end(), Digest(frame));
        return at == m_digests.end() ? -1 : static_cast<int>(at - m_digests.begin());
    }

  private:
    std::vector<uint64_t> m_digests;
    std::map<int, cv::Mat> m_frames;
};

// 320 x 240, 400 frames, a key frame every 250, B-frames: steps back from 330 to 250 cross
// nothing but the long group, where every capture seek decodes from frame 250 or 0.
SampleVideoOptions LongGroupOptions() {
    SampleVideoOptions o = ClipOptions(320, 240, 400);
    o.gop = 250;
    o.bFrames = true;
    return o;
}

struct Shared {
    TempDir dir;
    std::filesystem::path generated;
    SequentialFrames generatedFrames;
    bool boxPresent = false;
    SequentialFrames boxFrames;
};
Shared* g_shared = nullptr;

struct ClipCase {
    const char* name;
    bool box;
    // Budget in frames of the clip; 0 keeps the program's own budget.
    size_t budgetFrames;
};

void PrintTo(const ClipCase& c, std::ostream* os) {
    *os << c.name;
}

class ExactAccess : public ::testing::TestWithParam<ClipCase> {
  protected:
    static void SetUpTestSuite() {
        g_shared = new Shared;
        g_shared->generated = g_shared->dir / "long-group.mp4";
        ASSERT_TRUE(WriteSampleVideo(g_shared->generated, LongGroupOptions()));
        ASSERT_TRUE(g_shared->generatedFrames.Load(g_shared->generated, 240, 345));
        ASSERT_EQ(g_shared->generatedFrames.Count(), 400);
        std::error_code ec;
        g_shared->boxPresent = std::filesystem::exists(kBoxClip, ec);
        if (g_shared->boxPresent) {
            ASSERT_TRUE(g_shared->boxFrames.Load(kBoxClip, 240, 345));
            ASSERT_GT(g_shared->boxFrames.Count(), 345);
        }
    }
    static void TearDownTestSuite() {
        delete g_shared;
        g_shared = nullptr;
    }

    void SetUp() override {
        const ClipCase c = GetParam();
        if (c.box && !g_shared->boxPresent) {
            GTEST_SKIP() << kBoxClip << " is not there";
        }
        m_truth = c.box ? &g_shared->boxFrames : &g_shared->generatedFrames;
        m_stamped = !c.box;
        ASSERT_TRUE(vm.Open(c.box ? kBoxClip : g_shared->generated));
        // These cases are about reaching frames through the index; stretches the index does not
        // reach yet have tests of their own.
        vm.WaitForIndex();
        ASSERT_TRUE(vm.IsIndexComplete());
        if (c.budgetFrames > 0) {
            vm.SetCacheBudget(c.budgetFrames * FrameBytes());
        }
    }

    size_t FrameBytes() const {
        return static_cast<size_t>(vm.GetWidth()) * static_cast<size_t>(vm.GetHeight()) * 3;
    }

    void ExpectShown(int index, const std::string& step) {
        EXPECT_EQ(vm.CurrentFrameIndex(), index) << step;
        EXPECT_EQ(m_truth->Compare(index, vm.CurrentFrame()), "") << step;
        if (m_stamped) {
            EXPECT_EQ(ReadStampedIndex(vm.CurrentFrame()), index) << step;
        }
        EXPECT_LE(vm.CacheBytes(), vm.CacheBudget()) << step;
    }

    void ReadForwardTo(int last) {
        for (int i = vm.CurrentFrameIndex() + 1; i <= last; ++i) {
            ASSERT_TRUE(vm.ReadNextFrame()) << i;
            ExpectShown(i, "read in order");
        }
    }

    // The overlay and the rubber band drawn into the frame, then wiped by the reload.
    void ExpectCleanReload(int index, const std::string& step) {
        const cv::Mat before = vm.CurrentFrame().clone();
        vm.DrawRois({ROI{0, 3, 1, {40, 40, 200, 160}, 1}});
        vm.DrawRectangle({20, 30, 120, 130}, cv::Scalar(10, 240, 10), 2);
        ASSERT_GT(cv::norm(before, vm.CurrentFrame(), cv::NORM_INF), 0) << step;
        ASSERT_TRUE(vm.ReloadCurrentFrame()) << step;
        ExpectShown(index, "reload after drawing, " + step);
    }

    CVideoManager vm;
    const SequentialFrames* m_truth = nullptr;
    bool m_stamped = false;
};

TEST_P(ExactAccess, StepsBackFromWhereReadingStoppedShowEachFrame) {
    ReadForwardTo(330);
    const int seeks = vm.SeekCount();
    for (int n = 329; n >= 250; --n) {
        ASSERT_TRUE(vm.ReadPreviousFrame()) << n;
        ExpectShown(n, "step back to " + std::to_string(n));
        if (n % 20 == 0) {
            ExpectCleanReload(n, "on a step back");
        }
    }
    const int stepSeeks = vm.SeekCount() - seeks;
    if (GetParam().budgetFrames == 0) {
        EXPECT_EQ(stepSeeks, 0) << "every frame read is still in the cache";
    } else {
        // A block of frames is kept behind each frame a seek reaches: one seek for every
        // handful of steps rather than one per step.
        EXPECT_LE(stepSeeks, 16) << "80 steps back";
        EXPECT_GE(stepSeeks, 1) << "the small budget cannot hold 80 frames";
    }
    EXPECT_LE(vm.CachePeakBytes(), vm.CacheBudget());
}

TEST_P(ExactAccess, ForwardReadsAfterStepsBackContinueFromTheShownFrame) {
    ReadForwardTo(330);
    for (int n = 329; n >= 250; --n) {
        ASSERT_TRUE(vm.ReadPreviousFrame()) << n;
    }
    ExpectShown(250, "after the steps back");
    // The decoder stands past 330 or inside a block it read; either way the next frames on
    // screen are 251, 252, ...
    ReadForwardTo(340);
    ExpectCleanReload(340, "after reading on");
}

TEST_P(ExactAccess, SeeksToAnyFrameBetween250And330ThenReadOn) {
    ReadForwardTo(330);
    const int seeks = vm.SeekCount();
    std::vector<int> targets(81);
    std::iota(targets.begin(), targets.end(), 250);
    std::shuffle(targets.begin(), targets.end(), std::mt19937(3));
    for (size_t k = 0; k < targets.size(); ++k) {
        const int n = targets[k];
        ASSERT_TRUE(vm.SeekFrame(n)) << n;
        ExpectShown(n, "seek to " + std::to_string(n));
        if (k % 9 == 0) {
            for (int i = n + 1; i <= n + 3; ++i) {
                ASSERT_TRUE(vm.ReadNextFrame()) << i;
                ExpectShown(i, "read on after the seek to " + std::to_string(n));
            }
            ASSERT_TRUE(vm.ReadPreviousFrame());
            ExpectShown(n + 2, "step back after reading on from " + std::to_string(n));
            ExpectCleanReload(n + 2, "after a seek");
        }
    }
    if (GetParam().budgetFrames == 0) {
        EXPECT_EQ(vm.SeekCount(), seeks) << "every frame read is still in the cache";
    }
    EXPECT_LE(vm.CachePeakBytes(), vm.CacheBudget());
}

INSTANTIATE_TEST_SUITE_P(VideoManager, ExactAccess,
                         ::testing::Values(ClipCase{"Generated", false, 0},
                                           ClipCase{"GeneratedSmallCache", false, 12},
                                           ClipCase{"Box", true, 0},
                                           ClipCase{"BoxSmallCache", true, 12}),
                         [](const auto& info) { return std::string(info.param.name); });

// Without room for a single frame nothing is cached, and every read still shows its frame.
TEST(ExactAccessNoCache, EveryReadIsExactWithoutACache) {
    TempDir dir;
    SampleVideoOptions o = LongGroupOptions();
    o.frames = 120;
    const auto path = MakeClip(dir / "no-cache.mp4", o);
    CVideoManager vm;
    ASSERT_TRUE(vm.Open(path));
    vm.SetCacheBudget(1);
    auto expectShown = [&](int n, const std::string& step) {
        EXPECT_EQ(vm.CurrentFrameIndex(), n) << step;
        EXPECT_EQ(ReadStampedIndex(vm.CurrentFrame()), n) << step;
        EXPECT_EQ(vm.CacheBytes(), 0u) << step;
    };
    for (int i = 0; i <= 100; ++i) {
        ASSERT_TRUE(vm.ReadNextFrame());
        expectShown(i, "next");
    }
    for (int n = 99; n >= 95; --n) {
        ASSERT_TRUE(vm.ReadPreviousFrame());
        expectShown(n, "previous to " + std::to_string(n));
    }
    for (int n : {40, 97, 2, 100, 60}) {
        ASSERT_TRUE(vm.SeekFrame(n));
        expectShown(n, "seek to " + std::to_string(n));
        const cv::Mat clean = vm.CurrentFrame().clone();
        vm.DrawRectangle({10, 10, 100, 100}, cv::Scalar(0, 255, 0), 3);
        ASSERT_TRUE(vm.ReloadCurrentFrame());
        expectShown(n, "reload at " + std::to_string(n));
        EXPECT_EQ(cv::norm(clean, vm.CurrentFrame(), cv::NORM_INF), 0);
        ASSERT_TRUE(vm.ReadNextFrame());
        expectShown(n + 1, "next after " + std::to_string(n));
    }
    EXPECT_EQ(vm.CachePeakBytes(), 0u);
}

}  // namespace
