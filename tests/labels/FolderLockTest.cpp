// One writer per label folder: a second store or process opens it read-only and hears who holds
// it; a holder that died on this machine is taken over; one on another computer only when the
// operator says so; a writer whose lock was taken from it stops writing.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>

#include "LabelTestSupport.h"
#include "labels/FolderLock.h"

namespace fs = std::filesystem;

namespace {

class FolderLockTest : public LabelStoreTest {
  protected:
    fs::path LockFile() const { return LabelFolder() / ".tagwright-tmp" / "lock"; }
    static std::string ProcessText(long pid) { return ", process " + std::to_string(pid) + ","; }
    void WriteForeignLock(long long since) {
        WriteFileBytes(LockFile(),
                       "tagwright folder lock\nuser=someone\nhost=far-away\nmachine="
                       "0123\nboot=x\npid=1\nsince=" +
                           std::to_string(since) + "\ntoken=feed\n");
    }
};

TEST_F(FolderLockTest, SecondStoreIsReadOnlyNamesTheHolderAndRefusesEveryEdit) {
    OpenFresh();
    store.SetCurLabel(2);
    store.AddROI(0, CRect{1, 1, 5, 5}, 0, 0);

    CLabelManager second;
    std::vector<std::string> seen;
    second.SetMessageSink([&](const std::string& m) { seen.push_back(m); });
    EXPECT_TRUE(second.OpenVideo(VideoPath()));
    EXPECT_TRUE(second.IsReadOnly());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].find("open read-only"), std::string::npos) << seen[0];
    EXPECT_NE(seen[0].find(ProcessText(::getpid())), std::string::npos) << seen[0];
    EXPECT_EQ(second.GetCount(), 1);  // it still shows what is there

    // Every kind of change is refused, with the holder named, and nothing moves.
    second.SetCurLabel(3);
    second.AddROI(0, CRect{2, 2, 6, 6}, 1, 0);
    second.SetLabelClass(2, 2);
    second.DeleteFrameROIs(0);
    EXPECT_EQ(second.WriteCropFile(CRect{1, 2, 3, 4}), -1);
    ASSERT_EQ(seen.size(), 5u);
    for (size_t i = 1; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].rfind("Read-only", 0), 0u) << seen[i];
        EXPECT_NE(seen[i].find(ProcessText(::getpid())), std::string::npos) << seen[i];
    }
    EXPECT_EQ(second.GetCount(), 1);
    EXPECT_FALSE(second.CanUndo() && second.EditHistory().CanUndo());
    EXPECT_EQ(ReadFileBytes(FrameFile(0)), "1,1,5,5,2,0\r\n");
    EXPECT_FALSE(fs::exists(LabelFolder() / "crop.txt"));

    // Closing the first lets the second in.
    store.CloseVideo();
    EXPECT_FALSE(fs::exists(LockFile()));
    second.OpenVideo(VideoPath());
    EXPECT_FALSE(second.IsReadOnly());
    second.SetCurLabel(3);
    second.AddROI(0, CRect{2, 2, 6, 6}, 1, 0);
    EXPECT_EQ(ReadFileBytes(FrameFile(0)), "1,1,5,5,2,0\r\n2,2,6,6,3,1\r\n");
}

TEST_F(FolderLockTest, HolderProcessThatDiedIsTakenOverWithoutAsking) {
    OpenFresh();
    store.CloseVideo();
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CLabelManager holder;
        holder.OpenVideo(VideoPath());
        const char c = holder.IsReadOnly() ? 'r' : 'w';
        (void)!write(ready[1], &c, 1);
        pause();
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'w');

    int questions = 0;
    store.SetQuestionSink([&](const std::string&) { return ++questions, true; });
    store.OpenVideo(VideoPath());
    EXPECT_TRUE(store.IsReadOnly());  // alive on this machine: no question, no take-over
    EXPECT_NE(store.ReadOnlyHolder().find(ProcessText(child)), std::string::npos)
        << store.ReadOnlyHolder();

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    messages.clear();
    store.OpenVideo(VideoPath());
    EXPECT_FALSE(store.IsReadOnly());
    EXPECT_EQ(questions, 0);
    EXPECT_TRUE(messages.empty());
    EXPECT_NE(ReadFileBytes(LockFile()).find("pid=" + std::to_string(::getpid())),
              std::string::npos);
    store.AddROI(1, CRect{1, 1, 2, 2}, 0, 0);
    EXPECT_EQ(ReadFileBytes(FrameFile(1)), "1,1,2,2,1,0\r\n");
    close(ready[0]);
    close(ready[1]);
}

TEST_F(FolderLockTest, LockFromAnotherComputerIsTakenOverOnlyWhenTheOperatorSaysYes) {
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "yes" : "no");
        OpenFresh();
        store.CloseVideo();
        WriteForeignLock(static_cast<long long>(std::time(nullptr)) - 3600);
        std::vector<std::string> asked;
        store.SetQuestionSink([&](const std::string& q) { return asked.push_back(q), yes; });
        messages.clear();
        store.OpenVideo(VideoPath());
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_NE(asked[0].find("someone@far-away"), std::string::npos) << asked[0];
        EXPECT_EQ(store.IsReadOnly(), !yes);
        store.AddROI(2, CRect{1, 1, 2, 2}, 0, 0);
        EXPECT_EQ(fs::exists(FrameFile(2)), yes);
        EXPECT_EQ(ReadFileBytes(LockFile()).find("far-away") == std::string::npos, yes);
        store.CloseVideo();
        EXPECT_EQ(fs::exists(LockFile()), !yes);  // another's lock is never removed
        fs::remove_all(LabelFolder());
    }
}

TEST_F(FolderLockTest, WriterWhoseLockWasTakenOverStopsWriting) {
    OpenFresh();
    store.AddROI(0, CRect{1, 1, 5, 5}, 0, 0);
    WriteForeignLock(static_cast<long long>(std::time(nullptr)));  // someone took it over
    store.AddROI(0, CRect{3, 3, 4, 4}, 0, 0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("taken these labels over (someone@far-away"), std::string::npos)
        << messages[0];
    EXPECT_TRUE(store.IsReadOnly());
    ROI roi;
    ASSERT_TRUE(store.FindROI(1, 0, roi));
    EXPECT_EQ(roi.rect, (CRect{1, 1, 5, 5}));  // the screen shows what is stored
    EXPECT_EQ(ReadFileBytes(FrameFile(0)), "1,1,5,5,1,0\r\n");
}

TEST_F(FolderLockTest, LockAloneWorksWithoutAStoreAndGoesWithItsOwner) {
    fs::create_directories(LabelFolder());
    {
        CFolderLock first;
        ASSERT_EQ(first.Acquire(LabelFolder()), CFolderLock::Result::Acquired);
        CFolderLock second;
        ASSERT_EQ(second.Acquire(LabelFolder()), CFolderLock::Result::Held);
        EXPECT_EQ(second.Holder().pid, static_cast<long>(::getpid()));
        EXPECT_FALSE(second.IsHeld());
        EXPECT_TRUE(first.StillOurs());
    }
    CFolderLock third;
    EXPECT_EQ(third.Acquire(LabelFolder()), CFolderLock::Result::Acquired);
}

}  // namespace
