// Frame access and tracking costs of CVideoManager on a 1920 x 1080 H.264 clip with a group of
// 250 frames, the kind of file where a seek decodes hundreds of frames.
//
//   bench_video [clip.mp4]
//
// The clip is generated once as /tmp/tagwright-bench-1080p.mp4 and reused while it matches.
// Prints the median milliseconds of each operation and RATIO lines:
//   RATIO reload_vs_next        reload of the shown frame / next-frame read   (target <= 0.5)
//   RATIO track_large_vs_small  init + update, 600 x 500 box / 150 x 125 box  (target <= 1.5)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include <opencv2/videoio.hpp>

#include "video/SampleVideo.h"
#include "video/VideoManager.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 600;
constexpr int kGop = 250;

SampleVideoOptions BenchClipOptions() {
    SampleVideoOptions o;
    o.width = kWidth;
    o.height = kHeight;
    o.frames = kFrames;
    o.fps = 30.0;
    o.gop = kGop;
    o.bFrames = true;
    // About 200 x 170 pixels: the box the tracking figure asks for.
    o.blobStart = 200;
    o.blobEnd = 210;
    return o;
}

bool ClipMatches(const std::filesystem::path& path) {
    cv::VideoCapture c(path.string());
    return c.isOpened() && static_cast<int>(c.get(cv::CAP_PROP_FRAME_COUNT)) == kFrames &&
           static_cast<int>(c.get(cv::CAP_PROP_FRAME_WIDTH)) == kWidth &&
           static_cast<int>(c.get(cv::CAP_PROP_FRAME_HEIGHT)) == kHeight;
}

// Writes under a private name and renames, so that a second benchmark starting meanwhile never
// opens a half-written clip.
bool EnsureClip(const std::filesystem::path& path) {
    if (ClipMatches(path)) {
        std::printf("clip: reusing %s\n", path.c_str());
        return true;
    }
    std::printf("clip: writing %s (%d x %d, %d frames, group of %d)...\n", path.c_str(), kWidth,
                kHeight, kFrames, kGop);
    std::fflush(stdout);
    const std::filesystem::path tmp =
        path.parent_path() / (path.stem().string() + "." + std::to_string(getpid()) + ".mp4");
    if (!WriteSampleVideo(tmp, BenchClipOptions())) {
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    if (ec) {
        std::filesystem::remove(tmp, ec);
        return false;
    }
    return ClipMatches(path);
}

double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    if (v.empty()) {
        return 0.0;
    }
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// Times `op` once per call; `prepare` runs untimed before each.
std::vector<double> Sample(int count, const std::function<void()>& prepare,
                           const std::function<bool()>& op, int* failures) {
    std::vector<double> out;
    for (int i = 0; i < count; ++i) {
        if (prepare) {
            prepare();
        }
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = op();
        out.push_back(Ms(std::chrono::steady_clock::now() - t0));
        if (!ok && failures != nullptr) {
            ++*failures;
        }
    }
    return out;
}

void Report(const char* name, const std::vector<double>& samples, int failures) {
    std::printf("%-34s median %9.2f ms  (%zu samples, min %.2f, max %.2f)%s\n", name,
                Median(samples), samples.size(), *std::min_element(samples.begin(), samples.end()),
                *std::max_element(samples.begin(), samples.end()),
                failures > 0 ? "  SOME CALLS FAILED" : "");
}

CRect CentredBox(const CRect& around, int width, int height) {
    const int cx = (around.left + around.right) / 2;
    const int cy = (around.top + around.bottom) / 2;
    const int left = std::clamp(cx - width / 2, 0, kWidth - width);
    const int top = std::clamp(cy - height / 2, 0, kHeight - height);
    return {left, top, left + width, top + height};
}

// Median of init on frame k plus update on frame k + 1, over the given frame pairs.
std::vector<double> InitPlusUpdate(const std::vector<cv::Mat>& frames, int side, int pairs,
                                   const std::function<CRect(int)>& box, int* failures) {
    std::vector<double> out;
    CVideoManager vm;
    vm.SetTrackerSide(side);
    for (int k = 0; k < pairs && k + 1 < static_cast<int>(frames.size()); ++k) {
        vm.CurrentFrame() = frames[k].clone();
        const auto t0 = std::chrono::steady_clock::now();
        bool ok = vm.InitTracker(box(k));
        vm.CurrentFrame() = frames[k + 1].clone();
        const auto t1 = std::chrono::steady_clock::now();
        CRect r;
        ok = vm.TrackNext(r) && ok;
        const auto t2 = std::chrono::steady_clock::now();
        out.push_back(Ms(t1 - t0) + Ms(t2 - t1));
        if (!ok) {
            ++*failures;
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path clip =
        argc > 1 ? std::filesystem::path(argv[1]) : "/tmp/tagwright-bench-1080p.mp4";
    if (!EnsureClip(clip)) {
        std::fprintf(stderr, "bench_video: cannot make or open %s\n", clip.c_str());
        return 1;
    }
    const SampleVideoOptions o = BenchClipOptions();

    CVideoManager vm;
    if (!vm.Open(clip) || !vm.ReadNextFrame()) {
        std::fprintf(stderr, "bench_video: cannot read %s\n", clip.c_str());
        return 1;
    }
    std::printf("video: %d x %d, %d frames\n\n", vm.GetWidth(), vm.GetHeight(), vm.GetFrameCount());

    int failures = 0;
    const auto next = Sample(
        120, nullptr, [&] { return vm.ReadNextFrame(); }, &failures);
    Report("ReadNextFrame", next, failures);

    // After an edit the overlay is drawn into the frame, then wiped by the reload.
    failures = 0;
    const std::vector<ROI> overlay = {ROI{0, 1, 0, {800, 400, 1000, 550}, 1}};
    const auto reload = Sample(
        60, [&] { vm.DrawRois(overlay); }, [&] { return vm.ReloadCurrentFrame(); }, &failures);
    Report("ReloadCurrentFrame (after drawing)", reload, failures);

    failures = 0;
    vm.SeekFrame(450);
    const auto previous = Sample(
        8, nullptr, [&] { return vm.ReadPreviousFrame(); }, &failures);
    Report("ReadPreviousFrame", previous, failures);

    failures = 0;
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> pick(0, kFrames - 1);
    const auto seek = Sample(
        8, nullptr, [&] { return vm.SeekFrame(pick(rng)); }, &failures);
    Report("SeekFrame (random frames)", seek, failures);

    failures = 0;
    const auto display = Sample(
        60, nullptr, [&] { return !vm.MakeDisplayImage().empty(); }, &failures);
    Report("MakeDisplayImage", display, failures);

    // Tracking a 200 x 150 box on the blob from frame 300, one update per step.
    failures = 0;
    vm.SeekFrame(300);
    const CRect start = CentredBox(SampleBlobBox(o, 300), 200, 150);
    vm.InitTracker(start);
    CRect tracked;
    const auto track = Sample(
        30, [&] { vm.ReadNextFrame(); }, [&] { return vm.TrackNext(tracked); }, &failures);
    char trackName[64];
    std::snprintf(trackName, sizeof trackName, "TrackNext (%d x %d box)", start.Width(),
                  start.Height());
    Report(trackName, track, failures);

    // Box size: the same frames, a large and a small box around the blob.
    std::vector<cv::Mat> frames;
    vm.SeekFrame(100);
    for (int i = 0; i < 12 && !vm.CurrentFrame().empty(); ++i) {
        frames.push_back(vm.CurrentFrame().clone());
        vm.ReadNextFrame();
    }
    auto boxAt = [&](int w, int h) {
        return [&o, w, h](int k) { return CentredBox(SampleBlobBox(o, 100 + k), w, h); };
    };
    int largeFailures = 0;
    int smallFailures = 0;
    int fullFailures = 0;
    const auto large =
        InitPlusUpdate(frames, CVideoManager::kTrackerSide, 11, boxAt(600, 500), &largeFailures);
    const auto small =
        InitPlusUpdate(frames, CVideoManager::kTrackerSide, 11, boxAt(150, 125), &smallFailures);
    const auto fullLarge = InitPlusUpdate(frames, 0, 3, boxAt(600, 500), &fullFailures);
    Report("init+update 600 x 500 (scaled)", large, largeFailures);
    Report("init+update 150 x 125", small, smallFailures);
    Report("init+update 600 x 500 full resolution", fullLarge, fullFailures);

    std::printf("\n");
    std::printf("RATIO reload_vs_next %.3f\n", Median(reload) / Median(next));
    std::printf("RATIO track_large_vs_small %.3f\n", Median(large) / Median(small));
    return 0;
}
