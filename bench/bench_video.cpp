// Frame access and tracking costs of CVideoManager on a 1920 x 1080 H.264 clip with a group of
// 250 frames, the kind of file where a seek decodes hundreds of frames.
//
//   bench_video [clip.mp4 [other.mp4]]
//
// The clip is generated once as /tmp/tagwright-bench-1080p.mp4 and reused while it matches.
// `other.mp4` (default: box.mp4 of the test data beside the clone, when present) is measured for
// the capture's seek cost only. Prints the median milliseconds of each operation and RATIO lines:
//   RATIO reload_vs_next        reload of the shown frame / next-frame read   (target <= 0.5)
//   RATIO track_large_vs_small  init + update, 600 x 500 box / 150 x 125 box  (target <= 1.5)
//   RATIO prev_vs_next          mean of 100 steps back from frame 550 / median next-frame read
//                               (target <= 3.0)
//   RATIO seek_vs_next_<clip>   the capture's own seek + read / its plain read, per clip: how
//                               many frames reading forward costs as much as one seek
//   RATIO index_vs_decode       building the frame index / reading every frame with
//                               ReadNextFrame, medians of 3 each             (target <= 0.2)
//   RATIO coldseek_vs_capture   mean of 30 seeks to random frames, complete index, no cache /
//                               the capture's set(POS_FRAMES) + read to the same frames
//                               (target <= 1.2)
//   RATIO step_during_index     median step (next + display image) while another clip is
//                               indexed by decoding (a file whose headers do not give the
//                               order) / the same step without                (target <= 1.3)
// and the frames shown wrong by 60 random seeks on the generated clip and box.mp4, with the
// index built after open and with the index read back from the label folder. Also what the index
// worker's decoder options, its priority and a second worker change, and (from box.mp4 scaled to
// 1080p) "ESTIMATE index_30min_1080p_seconds": the time to index a 30-minute 1080p recording.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <opencv2/videoio.hpp>

#include "bench/BenchClip.h"
#include "video/FrameDecoder.h"
#include "video/FrameIndexBuilder.h"
#include "video/SampleVideo.h"
#include "video/VideoManager.h"

namespace {

using benchclip::kFrames;
using benchclip::kHeight;
using benchclip::kWidth;

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

double Mean(const std::vector<double>& v) {
    double sum = 0.0;
    for (double x : v) {
        sum += x;
    }
    return v.empty() ? 0.0 : sum / static_cast<double>(v.size());
}

double Mb(size_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// Steps back 100 times from frame 550 after reading forward to it, as an operator who plays a
// stretch and then walks back through it. Returns the mean step time divided by the median
// forward read, and checks every shown frame by the index stamped into it.
double StepBackFromFrame550(const std::filesystem::path& clip) {
    constexpr int kFrom = 550;
    constexpr int kSteps = 100;
    CVideoManager vm;
    if (!vm.Open(clip)) {
        std::printf("step back: cannot open %s\n", clip.c_str());
        return 0.0;
    }
    std::vector<double> next;
    int wrong = 0;
    for (int i = 0; i <= kFrom; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = vm.ReadNextFrame();
        next.push_back(Ms(std::chrono::steady_clock::now() - t0));
        if (!ok || ReadStampedIndex(vm.CurrentFrame()) != i) {
            ++wrong;
        }
    }
    const int seeksBefore = vm.SeekCount();
    std::vector<double> back;
    for (int k = 1; k <= kSteps; ++k) {
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = vm.ReadPreviousFrame();
        back.push_back(Ms(std::chrono::steady_clock::now() - t0));
        if (!ok || vm.CurrentFrameIndex() != kFrom - k ||
            ReadStampedIndex(vm.CurrentFrame()) != kFrom - k) {
            ++wrong;
        }
    }
    Report("ReadNextFrame (frames 0 to 550)", next, 0);
    Report("ReadPreviousFrame (550 down to 450)", back, 0);
    std::printf(
        "  mean step back %.2f ms, slowest %.2f ms; capture seeks %d; frames shown with a "
        "wrong index %d\n",
        Mean(back), *std::max_element(back.begin(), back.end()), vm.SeekCount() - seeksBefore,
        wrong);
    std::printf("  frame cache: peak %.1f MB of a %.1f MB budget (%.1f MB held at the end)\n",
                Mb(vm.CachePeakBytes()), Mb(vm.CacheBudget()), Mb(vm.CacheBytes()));
    return Mean(back) / Median(next);
}

// The capture as shipped: the median plain read and the median seek + read to random frames,
// which is what a seek costs when nothing better is known.
double CaptureSeekInReads(const std::filesystem::path& clip, const char* name) {
    cv::VideoCapture c(clip.string(), cv::CAP_ANY);
    if (!c.isOpened()) {
        return 0.0;
    }
    const int count = static_cast<int>(c.get(cv::CAP_PROP_FRAME_COUNT));
    cv::Mat frame;
    std::vector<double> read;
    for (int i = 0; i < 200 && i < count; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        if (!c.read(frame)) {
            break;
        }
        read.push_back(Ms(std::chrono::steady_clock::now() - t0));
    }
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pick(0, std::max(0, count - 2));
    std::vector<double> seek;
    for (int i = 0; i < 16; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        c.set(cv::CAP_PROP_POS_FRAMES, pick(rng));
        c.read(frame);
        seek.push_back(Ms(std::chrono::steady_clock::now() - t0));
    }
    if (read.empty()) {
        return 0.0;
    }
    std::printf("capture of %s (%d x %d, %d frames):\n", clip.filename().c_str(), frame.cols,
                frame.rows, count);
    Report("  read", read, 0);
    Report("  seek + read (random frames)", seek, 0);
    const double ratio = Median(seek) / Median(read);
    std::printf("  one seek costs as much as %.0f forward reads (%s)\n", ratio, name);
    return ratio;
}

uint64_t Digest(const cv::Mat& m) {
    uint64_t h = 1469598103934665603ull;
    for (int y = 0; y < m.rows; ++y) {
        const uchar* row = m.ptr(y);
        for (size_t i = 0; i < m.cols * m.elemSize(); ++i) {
            h = (h ^ row[i]) * 1099511628211ull;
        }
    }
    return h;
}

double Seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Building the index alone against reading every frame in order with ReadNextFrame.
double IndexVsDecode(const std::filesystem::path& clip) {
    // Three of each, alternating, and the medians: one run of either on a shared machine says
    // more about the other programs than about these.
    std::vector<double> decode, index;
    int frames = 0;
    int indexed = 0;
    for (int run = 0; run < 3; ++run) {
        CVideoManager reader;
        reader.SetIndexOnOpen(false);
        reader.Open(clip);
        auto t0 = std::chrono::steady_clock::now();
        frames = 0;
        while (reader.ReadNextFrame()) {
            ++frames;
        }
        decode.push_back(Seconds(t0));
        CVideoManager indexer;
        indexer.SetIndexOnOpen(false);
        indexer.Open(clip);
        t0 = std::chrono::steady_clock::now();
        indexer.StartIndexing();
        indexer.WaitForIndex();
        index.push_back(Seconds(t0));
        indexed = indexer.IndexedFrames();
    }
    std::printf(
        "index of %d frames: median %.2f s; ReadNextFrame over %d frames: median %.2f s (%.1f "
        "ms/frame)\n",
        indexed, Median(index), frames, Median(decode), 1000.0 * Median(decode) / frames);
    return Median(index) / Median(decode);
}

double DecodeAll(const std::filesystem::path& clip, CFrameDecoder::Mode mode, int* frames) {
    CFrameDecoder d;
    d.Open(clip, 0, mode);
    const auto t0 = std::chrono::steady_clock::now();
    int n = 0;
    while (d.Next()) {
        ++n;
    }
    if (frames != nullptr) {
        *frames = n;
    }
    return Seconds(t0);
}

// What the worker's decoder options, its priority and a second worker on the other half of the
// file change, on this machine as busy as it is now.
void IndexWorkFigures(const std::filesystem::path& clip) {
    double load[1] = {0.0};
    getloadavg(load, 1);
    const auto timeIndex = [&clip] {
        CVideoManager indexer;
        indexer.SetIndexOnOpen(false);
        indexer.Open(clip);
        const auto t0 = std::chrono::steady_clock::now();
        indexer.StartIndexing();
        indexer.WaitForIndex();
        return Seconds(t0);
    };
    const double fromHeaders = timeIndex();
    // The rest is about files indexed by decoding.
    CFrameIndexBuilder::SetHeaderOrderForTests(false);
    std::printf("index from the headers: %.3f s; by decoding: %.2f s\n", fromHeaders, timeIndex());
    int frames = 0;
    const double plain = DecodeAll(clip, CFrameDecoder::Mode::kPictures, &frames);
    const double skipping = DecodeAll(clip, CFrameDecoder::Mode::kIndexOnly, nullptr);
    std::printf(
        "index decoder over %d frames: %.2f s decoding fully, %.2f s skipping in-loop filters "
        "(load average %.1f on %d cores)\n",
        frames, plain, skipping, load[0], static_cast<int>(std::thread::hardware_concurrency()));
    for (int nice : {19, CFrameIndexBuilder::kNice}) {
        CFrameIndexBuilder::SetNiceForBenchmarks(nice);
        std::printf("index worker at nice %d: %.2f s\n", nice, timeIndex());
    }
    CFrameIndexBuilder::SetNiceForBenchmarks(CFrameIndexBuilder::kNice);
    // A second worker: two index decoders at once, the second from a seek to the middle.
    const auto t0 = std::chrono::steady_clock::now();
    std::thread second([&] {
        CFrameDecoder d;
        d.Open(clip, 0, CFrameDecoder::Mode::kIndexOnly);
        d.SeekKey(d.StartTime() + static_cast<int64_t>(frames / 2) * d.NominalFrameTicks());
        while (d.Next()) {
        }
    });
    {
        CFrameDecoder d;
        d.Open(clip, 0, CFrameDecoder::Mode::kIndexOnly);
        for (int n = 0; n < frames / 2 && d.Next(); ++n) {
        }
    }
    second.join();
    std::printf("second worker: one index decoder %.2f s, two on halves at once %.2f s\n", skipping,
                Seconds(t0));
    CFrameIndexBuilder::SetHeaderOrderForTests(true);
}

// The time to index a 30-minute 1080p recording at 30 frames a second, from the worker's time
// on real camera content scaled to 1080p and coded as a recorder would (8 Mbit/s, a key frame
// every 2 s, B-frames). Made once from box.mp4; 0 when that cannot be done.
double Estimate30Minutes(const std::filesystem::path& real) {
    const std::filesystem::path clip = "/tmp/tagwright-bench-real1080p.mp4";
    std::error_code ec;
    if (!std::filesystem::exists(clip, ec)) {
        const std::filesystem::path tmp = clip.string() + "." + std::to_string(getpid()) + ".mp4";
        const std::string cmd = "ffmpeg -v error -y -i '" + real.string() +
                                "' -an -vf scale=1920:1080 -c:v libx264 -preset veryfast -b:v 8M "
                                "-g 60 -bf 2 '" +
                                tmp.string() + "' >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0) {
            return 0.0;
        }
        std::filesystem::rename(tmp, clip, ec);
    }
    // Seconds per frame, from the headers (as the editor does) or by decoding.
    int frames = 1;
    const auto perFrame = [&](bool headers) {
        CFrameIndexBuilder::SetHeaderOrderForTests(headers);
        CVideoManager indexer;
        indexer.SetIndexOnOpen(false);
        if (!indexer.Open(clip)) {
            return 0.0;
        }
        const auto t0 = std::chrono::steady_clock::now();
        indexer.StartIndexing();
        indexer.WaitForIndex();
        const double seconds = Seconds(t0);
        frames = std::max(1, indexer.IndexedFrames());
        CFrameIndexBuilder::SetHeaderOrderForTests(true);
        return seconds / frames;
    };
    const double decoding = perFrame(false);
    const double headers = perFrame(true);
    constexpr double k30MinuteFrames = 30.0 * 60.0 * 30.0;
    std::printf(
        "real-content 1080p clip, %d frames: %.3f ms/frame from the headers, %.2f ms/frame by "
        "decoding: a 30-minute recording at 30 frames/s takes about %.0f s (%.0f s decoding)\n",
        frames, 1000.0 * headers, 1000.0 * decoding, headers * k30MinuteFrames,
        decoding * k30MinuteFrames);
    return headers * k30MinuteFrames;
}

// Seeks through a complete index with nothing cached, against the capture's own seek.
double ColdSeekVsCapture(const std::filesystem::path& clip) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> pick(0, kFrames - 1);
    std::vector<int> targets(30);
    for (int& t : targets) {
        t = pick(rng);
    }
    CVideoManager vm;
    vm.Open(clip);
    vm.WaitForIndex();
    vm.SetCacheBudget(1);
    vm.ReadNextFrame();
    int wrong = 0;
    std::vector<double> ours;
    for (int t : targets) {
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = vm.SeekFrame(t);
        ours.push_back(Ms(std::chrono::steady_clock::now() - t0));
        wrong += ok && ReadStampedIndex(vm.CurrentFrame()) == t ? 0 : 1;
    }
    cv::VideoCapture c(clip.string(), cv::CAP_ANY);
    cv::Mat frame;
    c.read(frame);
    std::vector<double> capture;
    int captureWrong = 0;
    for (int t : targets) {
        const auto t0 = std::chrono::steady_clock::now();
        c.set(cv::CAP_PROP_POS_FRAMES, t);
        c.read(frame);
        capture.push_back(Ms(std::chrono::steady_clock::now() - t0));
        captureWrong += ReadStampedIndex(frame) == t ? 0 : 1;
    }
    std::printf(
        "cold seeks (30 random frames): ours mean %.2f ms (%d wrong), capture mean %.2f "
        "ms (%d wrong)\n",
        Mean(ours), wrong, Mean(capture), captureWrong);
    return Mean(ours) / Mean(capture);
}

// A step (next frame + display image) with and without another clip being indexed meanwhile.
// Steps come at the default playback interval of 30 ms, as playback and a held arrow key bring
// them, so the worker runs between steps; only steps taken while that index is still being
// built count, and a finished index is started again on a fresh source.
double StepDuringIndex(const std::filesystem::path& clip) {
    const std::filesystem::path other =
        std::filesystem::temp_directory_path() /
        ("tagwright-bench-other-" + std::to_string(getpid()) + ".mp4");
    std::error_code ec;
    std::filesystem::copy_file(clip, other, std::filesystem::copy_options::overwrite_existing, ec);
    CVideoManager vm;
    vm.SetIndexOnOpen(false);
    vm.Open(clip);
    for (int i = 0; i < 10; ++i) {
        vm.ReadNextFrame();
    }
    auto step = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        const auto t0 = std::chrono::steady_clock::now();
        vm.ReadNextFrame();
        vm.MakeDisplayImage();
        return Ms(std::chrono::steady_clock::now() - t0);
    };
    constexpr int kSteps = 40;
    // From the headers the other clip is indexed within a step; decoding is what competes.
    CFrameIndexBuilder::SetHeaderOrderForTests(false);
    std::vector<double> idle, during;
    std::unique_ptr<CVideoManager> indexed;
    int builds = 0;
    int indexedFrames = 0;
    // Alternating blocks of ten, so that a change in the machine's load meets both alike.
    while (static_cast<int>(during.size()) < kSteps) {
        for (int i = 0; i < 10; ++i) {
            idle.push_back(step());
        }
        for (int taken = 0; taken < 10;) {
            if (!indexed || indexed->IsIndexComplete()) {
                if (indexed) {
                    indexedFrames += indexed->IndexedFrames();
                }
                indexed = std::make_unique<CVideoManager>();
                indexed->Open(other);
                ++builds;
            }
            const double ms = step();
            indexed->PollIndex();
            if (!indexed->IsIndexComplete()) {
                during.push_back(ms);
                ++taken;
            }
        }
        indexed.reset();
    }
    CFrameIndexBuilder::SetHeaderOrderForTests(true);
    std::filesystem::remove(other, ec);
    std::printf(
        "step every 30 ms: median %.2f ms idle, %.2f ms while another clip is indexed "
        "(%d index builds started, %d frames indexed by finished ones)\n",
        Median(idle), Median(during), builds, indexedFrames);
    return Median(during) / Median(idle);
}

// Frames shown wrong by 60 random seeks: with the index built after open (waited for), then
// reopened with the index read back from the label folder.
void Mismatches(const std::filesystem::path& clip, const char* name) {
    std::vector<uint64_t> truth;
    {
        cv::VideoCapture c(clip.string(), cv::CAP_ANY);
        cv::Mat frame;
        while (c.read(frame) && !frame.empty()) {
            truth.push_back(Digest(frame));
        }
    }
    if (truth.empty()) {
        return;
    }
    const std::filesystem::path labels = std::filesystem::temp_directory_path() /
                                         ("tagwright-bench-labels-" + std::to_string(getpid()));
    std::error_code ec;
    std::filesystem::remove_all(labels, ec);
    std::filesystem::create_directories(labels, ec);
    for (bool stored : {false, true}) {
        CVideoManager vm;
        vm.Open(clip);
        vm.SetIndexFolder(labels);
        const bool fromFile = vm.IndexLoadedFromFile();
        vm.WaitForIndex();
        std::mt19937 rng(stored ? 21 : 20);
        std::uniform_int_distribution<int> pick(0, static_cast<int>(truth.size()) - 1);
        int wrong = 0;
        for (int k = 0; k < 60; ++k) {
            const int t = pick(rng);
            wrong += vm.SeekFrame(t) && Digest(vm.CurrentFrame()) == truth[t] ? 0 : 1;
        }
        std::printf("MISMATCH %s %s: %d of 60%s\n", name,
                    stored ? "index_from_file" : "index_built_after_open", wrong,
                    stored && !fromFile ? " (the file was not taken!)" : "");
    }
    std::filesystem::remove_all(labels, ec);
}
}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path clip = argc > 1 ? std::filesystem::path(argv[1]) : benchclip::kPath;
    if (!benchclip::Ensure(clip)) {
        std::fprintf(stderr, "bench_video: cannot make or open %s\n", clip.c_str());
        return 1;
    }
    const SampleVideoOptions o = benchclip::Options();

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
    Report("ReadPreviousFrame (part never read)", previous, failures);

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
    const double prevVsNext = StepBackFromFrame550(clip);

    std::printf("\n");
    const double seek1080 = CaptureSeekInReads(clip, "1080p");
    // Default: box.mp4 of the test data beside the clone (build/ -> clone -> its parent).
    std::error_code ec;
    const std::filesystem::path other = argc > 2 ? std::filesystem::path(argv[2])
                                                 : std::filesystem::canonical("/proc/self/exe", ec)
                                                           .parent_path()
                                                           .parent_path()
                                                           .parent_path() /
                                                       "shared" / "testdata" / "box.mp4";
    const double seekOther =
        std::filesystem::exists(other, ec) ? CaptureSeekInReads(other, "other clip") : 0.0;

    std::printf("\n");
    const double indexVsDecode = IndexVsDecode(clip);
    IndexWorkFigures(clip);
    const double estimate = std::filesystem::exists(other, ec) ? Estimate30Minutes(other) : 0.0;
    const double coldSeek = ColdSeekVsCapture(clip);
    const double stepDuringIndex = StepDuringIndex(clip);
    SampleVideoOptions bframes = benchclip::Options();
    bframes.width = 640;
    bframes.height = 360;
    bframes.frames = 300;
    bframes.gop = 120;
    const std::filesystem::path generated =
        std::filesystem::temp_directory_path() /
        ("tagwright-bench-bframes-" + std::to_string(getpid()) + ".mp4");
    if (WriteSampleVideo(generated, bframes)) {
        Mismatches(generated, "generated_bframes");
    }
    std::filesystem::remove(generated, ec);
    if (std::filesystem::exists(other, ec)) {
        Mismatches(other, other.filename().c_str());
    }

    std::printf("\n");
    std::printf("RATIO index_vs_decode %.3f\n", indexVsDecode);
    if (estimate > 0.0) {
        std::printf("ESTIMATE index_30min_1080p_seconds %.0f\n", estimate);
    }
    std::printf("RATIO coldseek_vs_capture %.3f\n", coldSeek);
    std::printf("RATIO step_during_index %.3f\n", stepDuringIndex);
    std::printf("RATIO reload_vs_next %.3f\n", Median(reload) / Median(next));
    std::printf("RATIO track_large_vs_small %.3f\n", Median(large) / Median(small));
    std::printf("RATIO prev_vs_next %.3f\n", prevVsNext);
    std::printf("RATIO seek_vs_next_1080p %.1f\n", seek1080);
    if (seekOther > 0.0) {
        std::printf("RATIO seek_vs_next_other %.1f\n", seekOther);
    }
    return 0;
}
