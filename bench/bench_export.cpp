// tagwright-export against the floor of any exporter: a plain loop that reads the clip in order
// with cv::VideoCapture and writes the same frames with cv::imwrite.
//
//   bench_export [rounds]
//
// The clip is the 1920 x 1080 H.264 clip the video benchmarks use (600 frames, group of 250,
// B-frames), generated once as /tmp/tagwright-bench-1080p.mp4 and reused while it matches. It is
// linked into a private folder whose label folder has every 10th frame labelled (0, 10, ...,
// 590), so that no other benchmark's labels are read or written. Both sides read up to frame
// 590 and write its 60 labelled frames as JPEG (quality 95); the export also loads the labels
// and writes annotations.json.
//
// The machine is shared: the ratio is taken on process CPU time (every thread, decoder threads
// included), which other processes do not stretch; wall times are printed beside it.
//   RATIO export_vs_floor   median export / median floor   (target <= 1.2)

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "bench/BenchClip.h"
#include "export/ExportRun.h"
#include "video/SampleVideo.h"

namespace fs = std::filesystem;

namespace {

using benchclip::kFrames;
using benchclip::kHeight;
using benchclip::kWidth;
constexpr int kEvery = 10;
constexpr int kLastLabelled = 590;

double CpuNow() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Span {
    double wall = 0.0;
    double cpu = 0.0;
};

template <typename F>
Span Measure(F&& run) {
    const auto w0 = std::chrono::steady_clock::now();
    const double c0 = CpuNow();
    run();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count(),
            CpuNow() - c0};
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// The floor: read in order, write the labelled frames.
bool Floor(const fs::path& clip, const fs::path& out) {
    cv::VideoCapture capture(clip.string());
    cv::Mat frame;
    for (int f = 0; f <= kLastLabelled; ++f) {
        if (!capture.read(frame)) {
            return false;
        }
        if (f % kEvery == 0) {
            char name[64];
            std::snprintf(name, sizeof name, "clip_%06d.jpg", f);
            if (!cv::imwrite((out / name).string(), frame)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const fs::path clip = benchclip::kPath;
    if (!benchclip::Ensure(clip)) {
        std::fprintf(stderr, "bench_export: cannot make %s\n", clip.c_str());
        return 1;
    }
    char pattern[] = "/tmp/tagwright-bench-export-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const fs::path dir = pattern;
    const fs::path video = dir / "bench.mp4";
    std::error_code ec;
    fs::create_symlink(clip, video, ec);
    fs::create_directories(dir / "bench", ec);
    const SampleVideoOptions options = benchclip::Options();
    for (int f = 0; f <= kLastLabelled; f += kEvery) {
        const CRect r = SampleBlobBox(options, f);
        const std::string line = std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                                 std::to_string(r.right) + "," + std::to_string(r.bottom) +
                                 ",1,0\r\n";
        std::FILE* file = std::fopen((dir / "bench" / (std::to_string(f) + ".txt")).c_str(), "wb");
        if (file != nullptr) {
            std::fwrite(line.data(), 1, line.size(), file);
            std::fclose(file);
        }
    }

    std::vector<double> floorCpu, floorWall, exportCpu, exportWall;
    bool ok = true;
    for (int round = 0; round < rounds && ok; ++round) {
        const fs::path floorOut = dir / "floor";
        fs::create_directories(floorOut, ec);
        const Span f = Measure([&] { ok = Floor(clip, floorOut) && ok; });
        fs::remove_all(floorOut, ec);

        const fs::path exportOut = dir / "export";
        std::ostringstream out, err;
        int status = 0;
        const Span e = Measure([&] {
            status = RunExport({"--format", "coco", "-o", exportOut.string(), video.string()}, out,
                               err, false);
        });
        if (status != 0) {
            std::fprintf(stderr, "bench_export: export failed:\n%s", err.str().c_str());
            ok = false;
        }
        fs::remove_all(exportOut, ec);
        std::printf("round %d: floor %.2f s cpu %.2f s wall; export %.2f s cpu %.2f s wall\n",
                    round + 1, f.cpu, f.wall, e.cpu, e.wall);
        std::fflush(stdout);
        floorCpu.push_back(f.cpu);
        floorWall.push_back(f.wall);
        exportCpu.push_back(e.cpu);
        exportWall.push_back(e.wall);
    }
    fs::remove_all(dir, ec);
    if (!ok) {
        return 1;
    }
    std::printf("floor  (VideoCapture read + imwrite): median %.2f s cpu, %.2f s wall\n",
                Median(floorCpu), Median(floorWall));
    std::printf("export (tagwright-export --format coco): median %.2f s cpu, %.2f s wall\n",
                Median(exportCpu), Median(exportWall));
    std::printf("wall ratio (informative, shared machine): %.3f\n",
                Median(exportWall) / Median(floorWall));
    std::printf("RATIO export_vs_floor %.3f\n", Median(exportCpu) / Median(floorCpu));
    return 0;
}
