// Every file operation of every multi-file operation, failed in turn with a full disk, a read or
// write error and missing permissions: afterwards the store must equal its folder loaded back,
// the operation must have happened wholly or not at all (and then the operator was told why,
// naming the folder), and undo must still give back exactly the state before.

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "LabelTestSupport.h"
#include "labels/FileSystem.h"
#include "labels/LabelFileFormat.h"

namespace fs = std::filesystem;

namespace {

// The real file system with one call, counted from when it is armed, failing.
class FaultyFileSystem : public IFileSystem {
  public:
    // Fails `count` calls in a row from call number `failAt` on.
    void Arm(int failAt, int error, int count = 1) {
        m_calls = 0;
        m_failAt = failAt;
        m_failCount = count;
        m_error = error;
        m_failedCall.clear();
    }
    int Calls() const { return m_calls; }
    const std::string& FailedCall() const { return m_failedCall; }

    int Status(const fs::path& p, Kind& k, long long* t) override {
        return Hit("Status") ? m_error : m_real.Status(p, k, t);
    }
    int ReadFile(const fs::path& p, std::string& out) override {
        return Hit("ReadFile") ? m_error : m_real.ReadFile(p, out);
    }
    int WriteFile(const fs::path& p, const std::string& b, bool x, bool s) override {
        return Hit("WriteFile") ? m_error : m_real.WriteFile(p, b, x, s);
    }
    int Rename(const fs::path& a, const fs::path& b) override {
        return Hit("Rename") ? m_error : m_real.Rename(a, b);
    }
    int Link(const fs::path& a, const fs::path& b) override {
        return Hit("Link") ? m_error : m_real.Link(a, b);
    }
    int Remove(const fs::path& p) override { return Hit("Remove") ? m_error : m_real.Remove(p); }
    int MakeFolder(const fs::path& p) override {
        return Hit("MakeFolder") ? m_error : m_real.MakeFolder(p);
    }
    int List(const fs::path& p, std::vector<Entry>& e) override {
        return Hit("List") ? m_error : m_real.List(p, e);
    }
    int SyncFolder(const fs::path& p) override {
        return Hit("SyncFolder") ? m_error : m_real.SyncFolder(p);
    }
    int SyncAll(const fs::path& p) override { return Hit("SyncAll") ? m_error : m_real.SyncAll(p); }
    int Touch(const fs::path& p) override { return Hit("Touch") ? m_error : m_real.Touch(p); }
    int LockFile(const fs::path& p, int& h) override {
        return Hit("LockFile") ? m_error : m_real.LockFile(p, h);
    }
    void Unlock(int h) override { m_real.Unlock(h); }
    bool IsNetworkFolder(const fs::path& p) override { return m_real.IsNetworkFolder(p); }

  private:
    bool Hit(const char* name) {
        const int n = m_calls++;
        if (m_failAt < 0 || n < m_failAt || n >= m_failAt + m_failCount) {
            return false;
        }
        m_failedCall += m_failedCall.empty() ? name : std::string(" ") + name;
        return true;
    }
    IFileSystem& m_real = RealFileSystem();
    int m_calls = 0;
    int m_failAt = -1;
    int m_failCount = 1;
    int m_error = 0;
    std::string m_failedCall;
};

constexpr int kFrames = 6;
using State = std::vector<std::string>;

State StoreState(const CLabelManager& store) {
    State s;
    for (int f = 0; f < kFrames; ++f) {
        std::vector<ROI> rois;
        store.GetFrameROIs(f, rois);
        std::string text;
        for (const ROI& r : rois) {
            AppendLabelLine(text, r);
        }
        s.push_back(text);
    }
    return s;
}

struct Operation {
    const char* name;
    std::function<void(CLabelManager&)> prepare;  // runs without faults
    std::function<void(CLabelManager&)> run;
    bool isEdit;  // undone afterwards (an undo or redo is itself checked by the next one)
};

void Undo(CLabelManager& s) {
    CLabelManager::EditOutcome out;
    s.Undo(out);
}
void Redo(CLabelManager& s) {
    CLabelManager::EditOutcome out;
    s.Redo(out);
}

const std::vector<Operation>& Operations() {
    static const std::vector<Operation> ops = {
        {"delete label 1 after frame 0",
         {},
         [](CLabelManager& s) { s.DeleteLabelAfter(0, 1); },
         true},
        {"class change of label 2", {}, [](CLabelManager& s) { s.SetLabelClass(2, 1); }, true},
        {"delete frame 3 (E)", {}, [](CLabelManager& s) { s.DeleteFrameROIs(3); }, true},
        {"copy frame 1 to 2 (C)", {}, [](CLabelManager& s) { s.CopyFrameToNext(1); }, true},
        {"draw on frame 4",
         {},
         [](CLabelManager& s) {
             s.SetCurLabel(3);
             s.AddROI(4, CRect{5, 5, 9, 9}, 2, 0);
         },
         true},
        {"undo of the deletion", [](CLabelManager& s) { s.DeleteLabelAfter(0, 1); }, Undo, false},
        {"redo of the deletion",
         [](CLabelManager& s) {
             s.DeleteLabelAfter(0, 1);
             Undo(s);
         },
         Redo, false},
        {"undo of the class change", [](CLabelManager& s) { s.SetLabelClass(2, 1); }, Undo, false},
    };
    return ops;
}

class FaultInjectionTest : public ::testing::Test {
  protected:
    fs::path Video() const { return dir / "case7.mp4"; }
    fs::path Folder() const { return dir / "case7"; }

    // Labels 1 and 2 on every frame except 5, label 1 alone on frame 5.
    void MakeFolder() {
        fs::remove_all(Folder());
        fs::create_directories(Folder());
        for (int f = 0; f < kFrames; ++f) {
            std::string text = std::to_string(f) + ",1,20,30,1,0\r\n";
            if (f != 5) {
                text += "7,7," + std::to_string(40 + f) + ",50,2,0\r\n";
            }
            WriteFileBytes(Folder() / (std::to_string(f) + ".txt"), text);
        }
    }

    // The files as a reader sees them now, without taking the folder.
    State OnDisk() {
        CLabelManager reader;
        reader.ReadFolder(Folder());
        return StoreState(reader);
    }

    // The folder as a fresh store loads it (finishing any journal left behind).
    State LoadedBack() {
        CLabelManager back;
        back.OpenVideo(Video());
        return StoreState(back);
    }

    TempDir dir;
};

TEST_F(FaultInjectionTest, EachFailedFileOperationLeavesTheStepWholeOrUndoneAndTold) {
    const std::vector<std::pair<int, const char*>> errors = {
        {ENOSPC, "The disk is full"},
        {EIO, "The disk reported a read or write error"},
        {EACCES, "Can't access working directory. Check the permissions!"},
    };
    int runs = 0;
    for (const Operation& op : Operations()) {
        SCOPED_TRACE(op.name);
        // A clean run: how many file operations it makes, and the state it ends in.
        FaultyFileSystem counter;
        MakeFolder();
        State before;
        State after;
        int calls = 0;
        {
            CLabelManager store(counter);
            store.OpenVideo(Video());
            if (op.prepare) {
                op.prepare(store);
            }
            before = StoreState(store);
            counter.Arm(-1, 0);
            op.run(store);
            calls = counter.Calls();
            after = StoreState(store);
        }
        ASSERT_NE(before, after);
        ASSERT_GT(calls, 0);

        for (const auto& [error, text] : errors) {
            for (int k = 0; k < calls; ++k) {
                SCOPED_TRACE("call " + std::to_string(k) + ", error " + std::to_string(error));
                ++runs;
                MakeFolder();
                FaultyFileSystem faulty;
                std::vector<std::string> messages;
                State now;
                {
                    CLabelManager store(faulty);
                    store.SetMessageSink([&](const std::string& m) { messages.push_back(m); });
                    store.OpenVideo(Video());
                    if (op.prepare) {
                        op.prepare(store);
                    }
                    faulty.Arm(k, error);
                    op.run(store);
                    faulty.Arm(-1, 0);
                    now = StoreState(store);
                    ASSERT_TRUE(now == before || now == after) << faulty.FailedCall();
                    EXPECT_EQ(OnDisk(), now) << faulty.FailedCall();
                    if (now == before) {
                        // Not done: the operator hears why, with the folder named.
                        ASSERT_EQ(messages.size(), 1u) << faulty.FailedCall();
                        EXPECT_NE(messages[0].find(text), std::string::npos) << messages[0];
                        EXPECT_NE(messages[0].find(Folder().string()), std::string::npos);
                    }
                    // Undo stays exact: back to the state before, in memory and on disk.
                    if (op.isEdit && now == after) {
                        Undo(store);
                        EXPECT_EQ(StoreState(store), before);
                        EXPECT_EQ(OnDisk(), before);
                    }
                    now = StoreState(store);
                }
                EXPECT_EQ(LoadedBack(), now) << faulty.FailedCall();
            }
        }
    }
    EXPECT_GT(runs, 300);
}

TEST_F(FaultInjectionTest, DeletionThatCannotParkItsFileLeavesItAndSaysSo) {
    MakeFolder();
    FaultyFileSystem faulty;
    std::vector<std::string> messages;
    CLabelManager store(faulty);
    store.SetMessageSink([&](const std::string& m) { messages.push_back(m); });
    store.OpenVideo(Video());
    const State before = StoreState(store);
    // The E key's single file: every call of it fails in turn; the one that parks is a rename.
    bool sawPark = false;
    for (int k = 0; k < 20; ++k) {
        messages.clear();
        faulty.Arm(k, EIO);
        store.DeleteFrameROIs(3);
        const std::string call = faulty.FailedCall();
        faulty.Arm(-1, 0);
        if (call.empty()) {
            break;
        }
        if (call == "Rename" && StoreState(store) == before) {
            sawPark = true;
            EXPECT_TRUE(fs::exists(Folder() / "3.txt"));
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].rfind("Can't move the label file aside", 0), 0u) << messages[0];
        }
        if (StoreState(store) != before) {
            Undo(store);
        }
    }
    EXPECT_TRUE(sawPark);
}

// A frame file the disk cannot give back at open is said, not passed over as if absent: an edit of
// that frame would otherwise replace it.
TEST_F(FaultInjectionTest, FrameFileThatCannotBeReadAtOpenIsTold) {
    MakeFolder();
    int told = 0;
    for (int k = 0; k < 40; ++k) {
        FaultyFileSystem faulty;
        std::vector<std::string> messages;
        CLabelManager store(faulty);
        store.SetMessageSink([&](const std::string& m) { messages.push_back(m); });
        faulty.Arm(k, EIO);
        store.OpenVideo(Video());
        const bool frameRead = faulty.FailedCall() == "ReadFile" && store.GetCount() < 11;
        if (frameRead) {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].rfind("The disk reported a read or write error", 0), 0u);
            EXPECT_NE(messages[0].find(Folder().string()), std::string::npos);
            ++told;
        }
    }
    EXPECT_EQ(told, kFrames);  // each frame file's read, failed in turn
}

// Past the journal a batch is committed: a rename that fails again when retried leaves the folder
// to be finished at the next open, and until then nothing more is written here.
TEST_F(FaultInjectionTest, CommittedBatchWhoseRenamesFailTwiceIsFinishedAtTheNextOpen) {
    int found = 0;
    for (int k = 0; k < 40; ++k) {
        MakeFolder();
        FaultyFileSystem faulty;
        std::vector<std::string> messages;
        State after;
        {
            CLabelManager store(faulty);
            store.SetMessageSink([&](const std::string& m) { messages.push_back(m); });
            store.OpenVideo(Video());
            faulty.Arm(k, EIO, 2);
            store.SetLabelClass(2, 1);
            if (faulty.FailedCall() != "Rename Rename" || !store.IsReadOnly()) {
                continue;
            }
            ++found;
            after = StoreState(store);
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].rfind("The change could not be finished", 0), 0u) << messages[0];
            store.SetCurLabel(4);
            store.AddROI(0, CRect{1, 1, 2, 2}, 0, 0);  // refused: the replay could undo it
            EXPECT_EQ(StoreState(store), after);
        }
        CLabelManager back;
        messages.clear();
        back.SetMessageSink([&](const std::string& m) { messages.push_back(m); });
        back.OpenVideo(Video());
        EXPECT_EQ(StoreState(back), after);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_NE(messages[0].find("has now been completed"), std::string::npos) << messages[0];
    }
    EXPECT_GT(found, 0);
}

}  // namespace
