// A child process edits a label folder through CLabelManager while the parent kills it with
// SIGKILL at random moments. After every kill the folder must load, every frame file must be
// wholly the content before or after the edit in flight, and every edit that had returned must
// be on disk. The next child picks up where the killed one stopped, redoing the edit in flight
// (every edit here is idempotent, so a half-finished one is simply finished).

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <set>

#include "labels/LabelFileFormat.h"
#include "labels/LabelManager.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFrames = 40;
constexpr int kLabels = 6;
constexpr int kEditsPerChild = 1000000;  // more than a child ever gets through
constexpr int kKills = 300;
const char* const kMissing = "<no file>";

// Edit number i, the same in the child and in the parent's model.
void DoEdit(CLabelManager& store, int i) {
    std::mt19937 rng(static_cast<unsigned>(i) * 2654435761u + 17u);
    const int kind = static_cast<int>(rng() % 12);
    const int frame = static_cast<int>(rng() % kFrames);
    const int label = 1 + static_cast<int>(rng() % kLabels);
    const int nClass = static_cast<int>(rng() % 3);
    const int x = static_cast<int>(rng() % 600);
    const int y = static_cast<int>(rng() % 400);
    const CRect rect{x, y, x + 10 + static_cast<int>(rng() % 90),
                     y + 10 + static_cast<int>(rng() % 90)};
    switch (kind) {
        case 0:
        case 1:
        case 2:
        case 3:
            store.SetCurLabel(label);
            store.AddROI(frame, rect, nClass, 0x11);
            break;
        case 4:
        case 5:
            store.DeleteROI(frame, label);
            store.SaveFrame(frame);
            break;
        case 6:
            store.SelectROI(label, frame);
            store.SetSelectedRect(rect);
            break;
        case 7:
            store.CopyFrameToNext(frame % (kFrames - 1));
            break;
        case 8:
            store.SetLabelClass(label, nClass);
            break;
        case 9:
            store.DeleteLabelAfter(frame, label);
            break;
        case 10:
            store.DeleteFrameROIs(frame);
            break;
        default:
            store.SelectROI(label, frame);
            if (store.DeleteSelectedROI(frame) == 1) {
                store.SaveFrame(frame);
            }
            break;
    }
}

std::string FrameContent(const CLabelManager& store, int frame) {
    std::vector<ROI> rois;
    store.GetFrameROIs(frame, rois);
    if (rois.empty()) {
        return kMissing;
    }
    std::string text;
    for (const ROI& roi : rois) {
        AppendLabelLine(text, roi);
    }
    return text;
}

std::string DiskContent(const fs::path& file) {
    std::error_code ec;
    if (!fs::exists(file, ec)) {
        return kMissing;
    }
    return ReadFileBytes(file);
}

struct Shared {
    std::atomic<int> completed;
};

TEST(CrashConsistency, KilledEditorLeavesEveryFrameFileWholeAndEveryReturnedEditOnDisk) {
    TempDir dir;
    const fs::path video = dir / "case.mp4";
    const fs::path folder = dir / "case";
    {
        CLabelManager create;
        ASSERT_FALSE(create.OpenVideo(video));
    }

    void* mem =
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mem, MAP_FAILED);
    Shared* shared = new (mem) Shared{};
    shared->completed.store(0);

    // The model: the same edits on a store whose folder cannot exist, so it never writes.
    CLabelManager model;
    model.OpenVideo(dir / "no-such-parent" / "model.mp4");
    int modelAt = 0;
    int lastDone = -1;
    std::vector<std::string> before(kFrames), after(kFrames);

    std::mt19937 rng(12345);
    int start = 0;
    int kills = 0;
    long filesChecked = 0;
    int violations = 0;
    int loadsChecked = 0;
    const auto began = std::chrono::steady_clock::now();

    for (int round = 0; round < kKills; ++round) {
        std::fflush(nullptr);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            CLabelManager store;
            store.OpenVideo(video);
            for (int i = start; i < start + kEditsPerChild; ++i) {
                DoEdit(store, i);
                shared->completed.store(i + 1);
            }
            _exit(0);
        }
        // Every child gets through at least the edit it redoes, however busy the machine, so
        // the run always moves on; the kill then lands anywhere in the next dozen edits.
        int status = 0;
        bool exited = false;
        while (shared->completed.load() <= start) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                exited = true;
                break;
            }
            usleep(100);
        }
        ASSERT_FALSE(exited) << "editing child ended on its own before its first edit";
        usleep(static_cast<useconds_t>(rng() % 25000));
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        // Only our kill may end a child: one that crashed did not do the edits counted.
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
        ++kills;
        const int done = shared->completed.load();

        // Model before and after the edit that was in flight.
        if (done != lastDone) {
            while (modelAt < done) {
                DoEdit(model, modelAt++);
            }
            for (int f = 0; f < kFrames; ++f) {
                before[f] = FrameContent(model, f);
            }
            DoEdit(model, done);  // the edit in flight, possibly not started or half done
            for (int f = 0; f < kFrames; ++f) {
                after[f] = FrameContent(model, f);
            }
            modelAt = done + 1;
            lastDone = done;
        }

        for (int f = 0; f < kFrames; ++f) {
            const std::string disk = DiskContent(folder / (std::to_string(f) + ".txt"));
            ++filesChecked;
            if (disk != before[f] && disk != after[f]) {
                ++violations;
                ADD_FAILURE() << "after kill " << kills << " (edits done " << done << ") frame "
                              << f << " holds '" << disk << "'";
            }
        }
        // Nothing else at the top of the folder: no stray temporary, no empty file.
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            int frame = -1;
            const bool frameFile = entry.is_regular_file() && FrameFromFileName(name, frame) &&
                                   name == std::to_string(frame) + ".txt" && frame < kFrames &&
                                   fs::file_size(entry.path()) > 0;
            if (!frameFile && name != ".tagwright-tmp") {
                ++violations;
                ADD_FAILURE() << "unexpected entry " << name;
            }
        }
        // The folder loads, and what it loads is what the files say.
        CLabelManager loader;
        std::vector<std::string> messages;
        loader.SetMessageSink([&](const std::string& m) { messages.push_back(m); });
        if (!loader.OpenVideo(video) || !messages.empty()) {
            ++violations;
            ADD_FAILURE() << "load failed after kill " << kills;
        }
        for (int f = 0; f < kFrames; ++f) {
            const std::string loaded = FrameContent(loader, f);
            if (loaded != before[f] && loaded != after[f]) {
                ++violations;
                ADD_FAILURE() << "frame " << f << " loads as '" << loaded << "'";
            }
        }
        ++loadsChecked;
        start = done;  // the next child redoes the edit in flight
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf(
        "crash consistency: %d kills, %d edits completed, %ld frame files checked, %d loads "
        "checked, %d violations, %.1f s\n",
        kills, lastDone, filesChecked, loadsChecked, violations, seconds);
    EXPECT_EQ(violations, 0);
    munmap(mem, sizeof(Shared));
}

}  // namespace
