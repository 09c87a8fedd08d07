// The frame numbering is the capture's, frame for frame and pixel for pixel; seeks through the
// index show the frame they name, whether the index was built now or read back from the label
// folder; index files that do not fit the video are rebuilt; a stretch the index does not reach
// yet is marked until it does.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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

namespace fs = std::filesystem;

namespace {

const fs::path kBoxClip = fs::path(TAGWRIGHT_TESTDATA_DIR) / "box.mp4";

bool Ffmpeg(const std::string& args) {
    return std::system(("ffmpeg -v error -y " + args + " >/dev/null 2>&1").c_str()) == 0;
}

// The clips every case runs on, made once: H.264 with B-frames in MP4, a variable-frame-rate
// Matroska re-encode of it, MJPG in AVI and that file cut off in the middle, an odd-sized H.264
// clip and the same with a display rotation, and the real phone clip.
class Clips : public ::testing::Environment {
  public:
    void SetUp() override {
        dir = new TempDir;
        SampleVideoOptions b = ClipOptions(320, 240, 150);
        b.gop = 40;
        b.bFrames = true;
        bframes = MakeClip(*dir / "bframes.mp4", b);
        vfr = *dir / "vfr.mkv";
        if (!Ffmpeg("-i " + bframes.string() +
                    " -vf \"select='not(mod(n\\,3))+not(mod(n\\,5))'\" -vsync vfr -c:v libx264 "
                    "-bf 2 -g 30 " +
                    vfr.string())) {
            vfr.clear();
        }
        mjpg = MakeClip(*dir / "clip.avi", ClipOptions(160, 120, 30));
        odd = MakeClip(*dir / "odd.mp4", ClipOptions(158, 118, 30));
        // Recorded upright on a phone: the capture turns the frames.
        rotated = *dir / "rotated.mp4";
        if (!Ffmpeg("-i " + odd.string() + " -c copy -metadata:s:v:0 rotate=90 " +
                    rotated.string())) {
            rotated.clear();
        }
        cut = *dir / "cut.avi";
        std::ifstream in(mjpg, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream(cut, std::ios::binary).write(bytes.data(), bytes.size() * 2 / 3);
    }
    void TearDown() override { delete dir; }

    TempDir* dir = nullptr;
    fs::path bframes, vfr, mjpg, odd, rotated, cut;
};
Clips* g_clips = static_cast<Clips*>(::testing::AddGlobalTestEnvironment(new Clips));

fs::path ClipNamed(const std::string& name) {
    if (name == "bframes")
        return g_clips->bframes;
    if (name == "vfr")
        return g_clips->vfr;
    if (name == "mjpg")
        return g_clips->mjpg;
    if (name == "odd")
        return g_clips->odd;
    if (name == "rotated")
        return g_clips->rotated;
    if (name == "cut")
        return g_clips->cut;
    std::error_code ec;
    return fs::exists(kBoxClip, ec) ? kBoxClip : fs::path();
}

// Every frame the capture reads in order.
std::vector<cv::Mat> CaptureFrames(const fs::path& path) {
    std::vector<cv::Mat> frames;
    cv::VideoCapture capture(path.string(), cv::CAP_ANY);
    cv::Mat frame;
    while (capture.isOpened() && capture.read(frame) && !frame.empty()) {
        frames.push_back(frame.clone());
    }
    return frames;
}

bool Same(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

class ClipCase : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        path = ClipNamed(GetParam());
        if (path.empty()) {
            GTEST_SKIP() << GetParam() << " is not available";
        }
        truth = CaptureFrames(path);
        ASSERT_FALSE(truth.empty());
    }
    fs::path path;
    std::vector<cv::Mat> truth;
};

TEST_P(ClipCase, ReadingInOrderGivesTheCapturesFramesAndTheIndexCountsThem) {
    CVideoManager vm;
    ASSERT_TRUE(vm.Open(path));
    EXPECT_EQ(cv::Size(vm.GetWidth(), vm.GetHeight()), truth[0].size());
    int n = 0;
    for (; vm.ReadNextFrame(); ++n) {
        ASSERT_LT(n, static_cast<int>(truth.size())) << "more frames than the capture reads";
        ASSERT_TRUE(Same(vm.CurrentFrame(), truth[n])) << "frame " << n;
        EXPECT_EQ(vm.CurrentFrameIndex(), n);
    }
    EXPECT_EQ(n, static_cast<int>(truth.size()));
    EXPECT_TRUE(vm.CurrentFrame().empty());
    vm.WaitForIndex();
    EXPECT_TRUE(vm.IsIndexComplete());
    EXPECT_EQ(vm.IndexedFrames(), static_cast<int>(truth.size()));
}

// 60 random seeks on a freshly opened video, then again on a reopened one whose index comes from
// the file the first one wrote into the label folder.
TEST_P(ClipCase, RandomSeeksShowTheNamedFrameWithABuiltAndAStoredIndex) {
    TempDir labels;
    for (bool stored : {false, true}) {
        CVideoManager vm;
        ASSERT_TRUE(vm.Open(path));
        vm.SetIndexFolder(labels.Path());
        vm.WaitForIndex();
        EXPECT_EQ(vm.IndexLoadedFromFile(), stored);
        std::mt19937 rng(stored ? 5 : 4);
        std::uniform_int_distribution<int> pick(0, static_cast<int>(truth.size()) - 1);
        int mismatches = 0;
        for (int k = 0; k < 60; ++k) {
            const int target = pick(rng);
            ASSERT_TRUE(vm.SeekFrame(target)) << target;
            EXPECT_TRUE(vm.IsCurrentFrameVerified());
            mismatches += Same(vm.CurrentFrame(), truth[target]) ? 0 : 1;
        }
        EXPECT_EQ(mismatches, 0) << (stored ? "index from the file" : "index built now");
        EXPECT_FALSE(vm.SeekFrame(static_cast<int>(truth.size())));
    }
}

INSTANTIATE_TEST_SUITE_P(FrameIndex, ClipCase,
                         ::testing::Values("bframes", "vfr", "mjpg", "odd", "rotated", "cut",
                                           "box"),
                         [](const auto& info) { return std::string(info.param); });

// An index file is trusted only when it was written for this very file, whole.
TEST(FrameIndexFile, FilesThatDoNotFitTheVideoAreRebuiltNeverTrusted) {
    TempDir labels;
    const fs::path clip = g_clips->bframes;
    const fs::path file = CVideoManager::IndexFilePath(labels.Path());
    {
        CVideoManager vm;
        ASSERT_TRUE(vm.Open(clip));
        vm.SetIndexFolder(labels.Path());
        vm.WaitForIndex();
        ASSERT_TRUE(fs::exists(file));
    }
    std::ifstream in(file, std::ios::binary);
    const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    struct Case {
        const char* name;
        std::function<void()> spoil;
    };
    const Case cases[] = {
        {"missing", [&] { fs::remove(file); }},
        {"truncated",
         [&] { std::ofstream(file, std::ios::binary).write(good.data(), good.size() - 5); }},
        {"garbage",
         [&] {
             std::string bad = good;
             bad[bad.size() / 2] ^= 0x40;
             std::ofstream(file, std::ios::binary).write(bad.data(), bad.size());
         }},
        {"another encoding under the same name and time",
         [&] {
             std::ofstream(file, std::ios::binary).write(good.data(), good.size());
             const auto time = fs::last_write_time(clip);
             SampleVideoOptions o = ClipOptions(320, 240, 150);
             o.gop = 25;
             o.bFrames = true;
             MakeClip(clip, o);
             fs::last_write_time(clip, time);
         }},
    };
    for (const Case& c : cases) {
        c.spoil();
        CVideoManager vm;
        ASSERT_TRUE(vm.Open(clip));
        vm.SetIndexFolder(labels.Path());
        EXPECT_FALSE(vm.IndexLoadedFromFile()) << c.name;
        vm.WaitForIndex();
        ASSERT_TRUE(vm.IsIndexComplete()) << c.name;
        ASSERT_TRUE(vm.SeekFrame(97)) << c.name;
        EXPECT_EQ(ReadStampedIndex(vm.CurrentFrame()), 97) << c.name;
        // Rebuilt and written again: the next open takes it.
        CVideoManager again;
        ASSERT_TRUE(again.Open(clip));
        again.SetIndexFolder(labels.Path());
        EXPECT_TRUE(again.IndexLoadedFromFile()) << c.name;
    }
    // A label folder that is not there keeps the index in memory only.
    CVideoManager vm;
    ASSERT_TRUE(vm.Open(clip));
    vm.SetIndexFolder(labels / "absent");
    vm.WaitForIndex();
    EXPECT_TRUE(vm.IsIndexComplete());
    EXPECT_FALSE(fs::exists(labels / "absent"));
}

// Before the index reaches a frame, a seek there is marked; once it does, a reload is exact.
TEST(FrameIndexUnverified, ASeekBeyondTheIndexIsMarkedUntilTheIndexReachesIt) {
    TempDir dir;
    const auto path = MakeClip(dir / "short-groups.mp4", ClipOptions(160, 120, 200));
    CVideoManager vm;
    vm.SetIndexOnOpen(false);
    ASSERT_TRUE(vm.Open(path));
    ASSERT_TRUE(vm.ReadNextFrame());
    EXPECT_TRUE(vm.IsCurrentFrameVerified()) << "frame 0 read in order";
    ASSERT_TRUE(vm.SeekFrame(150));
    EXPECT_EQ(vm.CurrentFrameIndex(), 150);
    EXPECT_FALSE(vm.IsCurrentFrameVerified());
    EXPECT_FALSE(vm.CanVerifyCurrentFrame());
    // On this constant-rate clip the frame rate lands right, and steps follow from it.
    EXPECT_EQ(ReadStampedIndex(vm.CurrentFrame()), 150);
    const cv::Mat clean = vm.CurrentFrame().clone();
    vm.DrawRectangle({10, 10, 100, 100}, cv::Scalar(0, 255, 0), 3);
    ASSERT_TRUE(vm.ReloadCurrentFrame());
    EXPECT_TRUE(Same(vm.CurrentFrame(), clean)) << "a reload wipes the drawing";
    ASSERT_TRUE(vm.ReadNextFrame());
    EXPECT_EQ(ReadStampedIndex(vm.CurrentFrame()), 151);
    EXPECT_FALSE(vm.IsCurrentFrameVerified());
    ASSERT_TRUE(vm.ReadPreviousFrame());
    EXPECT_EQ(ReadStampedIndex(vm.CurrentFrame()), 150);

    vm.StartIndexing();
    vm.WaitForIndex();
    EXPECT_EQ(vm.IndexPercent(), 100);
    EXPECT_TRUE(vm.CanVerifyCurrentFrame());
    ASSERT_TRUE(vm.ReloadCurrentFrame());
    EXPECT_TRUE(vm.IsCurrentFrameVerified());
    EXPECT_EQ(vm.CurrentFrameIndex(), 150);
    EXPECT_EQ(ReadStampedIndex(vm.CurrentFrame()), 150);
    EXPECT_FALSE(vm.CanVerifyCurrentFrame());
}

// Reading in order from the start vouches for frames as the worker does: playing a video through
// indexes it, so a step back after playback never has to guess.
TEST(FrameIndexUnverified, ReadingInOrderToTheEndCompletesTheIndexWithoutTheWorker) {
    CVideoManager vm;
    vm.SetIndexOnOpen(false);
    ASSERT_TRUE(vm.Open(g_clips->bframes));
    int read = 0;
    while (vm.ReadNextFrame()) {
        ++read;
        EXPECT_EQ(vm.IndexedFrames(), read);
    }
    EXPECT_TRUE(vm.IsIndexComplete());
    for (int n : {3, 140, 41, 0, 149}) {
        ASSERT_TRUE(vm.SeekFrame(n));
        EXPECT_TRUE(vm.IsCurrentFrameVerified());
        EXPECT_EQ(ReadStampedIndex(vm.CurrentFrame()), n);
    }
    EXPECT_FALSE(vm.SeekFrame(read));
}

}  // namespace
