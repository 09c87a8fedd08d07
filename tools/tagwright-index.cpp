// tagwright-index: builds the frame index of many videos ahead of labelling, so that the editor
// opens each of them with every jump exact at once. The index goes where the editor looks for
// it, in the video's label folder (made when missing); a video whose index there fits it is
// left alone. Meant for a whole archive overnight, several videos at once (--jobs), or one
// process per video under a batch scheduler.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "video/FrameDecoder.h"
#include "video/VideoIndex.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: tagwright-index [--jobs N] VIDEO...\n"
    "Builds the frame index of each VIDEO into its label folder (the video's path without its\n"
    "last four characters, made when missing), N videos at once (default 1). A video whose\n"
    "index is there already and fits it is skipped. Exit status: 0 when every video has its\n"
    "index, 1 when some could not be indexed, 2 on a usage error.\n";

// What every job shows on the progress line, and what it ended with.
struct Job {
    fs::path video;
    std::atomic<int> frames{0};
    std::atomic<int> expected{0};
    std::atomic<bool> running{false};
    std::atomic<bool> done{false};
    std::string result;
    bool ok = false;
};

std::mutex g_print;
bool g_bTerminal = false;

void PrintResult(const Job& job) {
    std::lock_guard<std::mutex> lock(g_print);
    if (g_bTerminal) {
        std::fprintf(stderr, "\r\033[K");
    }
    std::printf("%s %s: %s\n", job.ok ? "ok    " : "FAILED", job.video.c_str(), job.result.c_str());
    std::fflush(stdout);
}

void IndexOne(Job& job) {
    const std::string path = job.video.string();
    if (path.size() <= 4) {
        job.result = "the file name is too short to have a label folder";
        return;
    }
    const fs::path labelFolder = path.substr(0, path.size() - 4);
    CFrameDecoder probe;
    if (!probe.Open(job.video)) {
        job.result = "cannot be opened as a video";
        return;
    }
    job.expected = std::max(1, probe.ReportedFrameCount());
    CVideoIndex index;
    index.Reset(job.video, probe.ContainerPackets());
    probe.Close();
    std::error_code ec;
    fs::create_directories(labelFolder, ec);
    if (!fs::is_directory(labelFolder, ec)) {
        job.result = "cannot make the label folder " + labelFolder.string();
        return;
    }
    if (index.SetFolder(labelFolder)) {
        job.ok = true;
        job.result = "already indexed (" + std::to_string(index.Count()) + " frames)";
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    index.Start();
    while (index.Working()) {
        index.WaitFor(index.Count() + 256, std::chrono::milliseconds(250));
        job.frames = index.Count();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (index.ReadErrorAfter() >= 0) {
        job.result = "could not be read past frame " + std::to_string(index.ReadErrorAfter() - 1);
    } else if (!index.Complete()) {
        job.result = "no frame could be decoded";
    } else if (!index.Saved()) {
        job.result = "cannot write " + CVideoIndex::FilePath(labelFolder).string();
    } else {
        job.ok = true;
        char text[96];
        std::snprintf(text, sizeof text, "%d frames in %.1f s", index.Count(), seconds);
        job.result = text;
    }
}

void ShowProgress(const std::vector<Job>& jobs) {
    int done = 0;
    int failed = 0;
    std::string running;
    for (const Job& job : jobs) {
        if (job.done) {
            ++done;
            failed += job.ok ? 0 : 1;
        } else if (job.running) {
            const int percent = std::min(99, 100 * job.frames / std::max(1, job.expected.load()));
            running += " " + job.video.filename().string() + " " + std::to_string(percent) + "%";
        }
    }
    std::lock_guard<std::mutex> lock(g_print);
    std::fprintf(stderr, "\r\033[K%d of %zu done, %d failed;%s", done, jobs.size(), failed,
                 running.c_str());
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    int jobsAtOnce = 1;
    std::vector<Job> jobs;
    std::vector<std::string> videos;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--jobs" || arg == "-j" || arg.rfind("--jobs=", 0) == 0) {
            const std::string value =
                arg.rfind("--jobs=", 0) == 0 ? arg.substr(7) : (i + 1 < argc ? argv[++i] : "");
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 1 || n > 256) {
                std::fprintf(stderr, "tagwright-index: --jobs takes a number from 1 to 256\n%s",
                             kUsage);
                return 2;
            }
            jobsAtOnce = static_cast<int>(n);
            continue;
        }
        if (arg.rfind("-", 0) == 0 && arg != "-") {
            std::fprintf(stderr, "tagwright-index: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
        videos.push_back(arg);
    }
    if (videos.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    jobs = std::vector<Job>(videos.size());
    for (size_t i = 0; i < videos.size(); ++i) {
        jobs[i].video = videos[i];
    }
    g_bTerminal = isatty(STDERR_FILENO) != 0;

    std::atomic<size_t> next{0};
    std::vector<std::thread> threads;
    const int count = std::min<int>(jobsAtOnce, static_cast<int>(jobs.size()));
    for (int t = 0; t < count; ++t) {
        threads.emplace_back([&] {
            for (size_t i = next++; i < jobs.size(); i = next++) {
                jobs[i].running = true;
                IndexOne(jobs[i]);
                jobs[i].done = true;
                PrintResult(jobs[i]);
            }
        });
    }
    std::atomic<bool> finished{false};
    std::thread progress([&] {
        while (!finished) {
            if (g_bTerminal) {
                ShowProgress(jobs);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    });
    for (std::thread& t : threads) {
        t.join();
    }
    finished = true;
    progress.join();
    int failed = 0;
    for (const Job& job : jobs) {
        failed += job.ok ? 0 : 1;
    }
    if (g_bTerminal) {
        std::fprintf(stderr, "\r\033[K");
    }
    std::fprintf(stderr, "%zu of %zu videos indexed, %d failed\n", jobs.size() - failed,
                 jobs.size(), failed);
    return failed == 0 ? 0 : 1;
}
