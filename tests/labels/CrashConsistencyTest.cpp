// A child process edits a label folder through CLabelManager while the parent kills it with
// SIGKILL at random moments, also in the middle of steps of many files and of their undo. After
// every kill the folder is opened again (which finishes or drops the step that was cut off) and
// must then hold, in every frame file and in what it loads, wholly the state before the edit in
// flight or after one of its stages, never a mix; every edit that had returned must be on disk,
// and nothing but the lock may be left in the hidden folder. The next child picks up from the
// state found.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
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
constexpr int kKills = 200;
const char* const kMissing = "<no file>";

using State = std::vector<std::string>;  // every frame's content

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

State StoreState(const CLabelManager& store) {
    State state(kFrames);
    for (int f = 0; f < kFrames; ++f) {
        state[f] = FrameContent(store, f);
    }
    return state;
}

State DiskState(const fs::path& folder) {
    State state(kFrames);
    for (int f = 0; f < kFrames; ++f) {
        const fs::path file = folder / (std::to_string(f) + ".txt");
        std::error_code ec;
        state[f] = fs::exists(file, ec) ? ReadFileBytes(file) : kMissing;
    }
    return state;
}

// Edit number i, the same in the child and in the parent's model. `stage` is called after each
// part of an edit made of several (an operation and its undo).
void DoEdit(CLabelManager& store, int i, const std::function<void()>& stage = {}) {
    std::mt19937 rng(static_cast<unsigned>(i) * 2654435761u + 17u);
    const int kind = static_cast<int>(rng() % 14);
    const int frame = static_cast<int>(rng() % kFrames);
    const int label = 1 + static_cast<int>(rng() % kLabels);
    const int nClass = static_cast<int>(rng() % 3);
    const int x = static_cast<int>(rng() % 600);
    const int y = static_cast<int>(rng() % 400);
    const CRect rect{x, y, x + 10 + static_cast<int>(rng() % 90),
                     y + 10 + static_cast<int>(rng() % 90)};
    // An undo that follows an operation which recorded no step would undo an older edit, which
    // the model (a store opened later) does not have.
    const auto undoIfStepped = [&](const std::function<void()>& op) {
        const size_t steps = store.EditHistory().StepCount();
        const CEditHistory::Step* top = store.EditHistory().NextUndo();
        op();
        if (stage) {
            stage();
        }
        if (store.EditHistory().StepCount() != steps || store.EditHistory().NextUndo() != top) {
            CLabelManager::EditOutcome out;
            store.Undo(out);
        }
    };
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
            store.DeleteLabelAfter(frame % 4, label);
            break;
        case 10:
            store.DeleteFrameROIs(frame);
            break;
        case 11:
            store.SelectROI(label, frame);
            if (store.DeleteSelectedROI(frame) == 1) {
                store.SaveFrame(frame);
            }
            break;
        case 12:
            undoIfStepped([&] { store.DeleteLabelAfter(frame % 4, label); });
            break;
        default:
            undoIfStepped([&] { store.SetLabelClass(label, nClass); });
            break;
    }
    if (stage) {
        stage();
    }
}

// The label folder's frame files copied into another folder (whose own files go first).
void CopyFrameFiles(const fs::path& from, const fs::path& to) {
    for (const auto& entry : fs::directory_iterator(to)) {
        if (entry.is_regular_file()) {
            fs::remove(entry.path());
        }
    }
    for (const auto& entry : fs::directory_iterator(from)) {
        if (entry.is_regular_file()) {
            fs::copy_file(entry.path(), to / entry.path().filename());
        }
    }
}

struct Shared {
    std::atomic<int> completed;
};

TEST(CrashConsistency, KilledEditorLeavesEveryStepWholeAndEveryReturnedEditOnDisk) {
    TempDir dir;
    const fs::path video = dir / "case.mp4";
    const fs::path folder = dir / "case";
    const fs::path modelVideo = dir / "model.mp4";
    const fs::path modelFolder = dir / "model";
    {
        CLabelManager create;
        ASSERT_FALSE(create.OpenVideo(video));
        CLabelManager createModel;
        ASSERT_FALSE(createModel.OpenVideo(modelVideo));
    }

    void* mem =
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mem, MAP_FAILED);
    Shared* shared = new (mem) Shared{};
    shared->completed.store(0);

    std::mt19937 rng(12345);
    int start = 0;
    int kills = 0;
    int completedAtOpen = 0;
    int rolledBackAtOpen = 0;
    int midEdit = 0;
    long filesChecked = 0;
    int violations = 0;
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

        // The model: the same edits from the same files, in a folder of its own. Its states
        // before the edit in flight and after each of its stages are the only ones allowed.
        std::vector<State> allowed;
        {
            CLabelManager model;
            model.OpenVideo(modelVideo);
            for (int i = start; i < done; ++i) {
                DoEdit(model, i);
            }
            allowed.push_back(StoreState(model));
            DoEdit(model, done, [&] { allowed.push_back(StoreState(model)); });
        }

        // Opening finishes or drops the step that was cut off, and says which.
        CLabelManager loader;
        std::vector<std::string> messages;
        loader.SetMessageSink([&](const std::string& m) { messages.push_back(m); });
        if (!loader.OpenVideo(video) || loader.IsReadOnly()) {
            ++violations;
            ADD_FAILURE() << "open failed after kill " << kills;
        }
        for (const std::string& m : messages) {
            if (m.find("has now been completed") != std::string::npos) {
                ++completedAtOpen;
            } else if (m.find("rolled back") != std::string::npos) {
                ++rolledBackAtOpen;
            } else {
                ++violations;
                ADD_FAILURE() << "unexpected message at open: " << m;
            }
        }
        const State loaded = StoreState(loader);
        const State disk = DiskState(folder);
        filesChecked += kFrames;
        const auto match = std::find(allowed.begin(), allowed.end(), loaded);
        if (match == allowed.end() || disk != loaded) {
            ++violations;
            ADD_FAILURE() << "after kill " << kills << " (edits done " << done
                          << ") the folder holds a state no edit stage made";
        }
        const size_t stage = static_cast<size_t>(match - allowed.begin());
        midEdit += stage > 0 && stage + 1 < allowed.size() ? 1 : 0;
        // Nothing else at the top of the folder, and nothing but the lock in the hidden one.
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
        for (const auto& entry : fs::directory_iterator(folder / ".tagwright-tmp")) {
            if (entry.path().filename() != "lock") {
                ++violations;
                ADD_FAILURE() << "left in the hidden folder: " << entry.path().filename();
            }
        }
        // The next child starts from what is there: the edit in flight again when none of it
        // stands, the one after it otherwise.
        CopyFrameFiles(folder, modelFolder);
        start = stage == 0 ? done : done + 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf(
        "crash consistency: %d kills, %d edits, %d steps completed and %d rolled back at open, "
        "%d kills left between an operation and its undo, %ld frame files checked, %d "
        "violations, %.1f s\n",
        kills, start, completedAtOpen, rolledBackAtOpen, midEdit, filesChecked, violations,
        seconds);
    EXPECT_EQ(violations, 0);
    munmap(mem, sizeof(Shared));
}

}  // namespace
