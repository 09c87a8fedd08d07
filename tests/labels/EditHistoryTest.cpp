// The store's undo history: its bounds, what counts as a step, and redo dropped by a new edit.

#include <gtest/gtest.h>

#include <algorithm>

#include "LabelTestSupport.h"
#include "labels/EditHistory.h"
#include "support/TreeSnapshot.h"

namespace {

class EditHistoryTest : public LabelStoreTest {};

TEST_F(EditHistoryTest, KeepsTheLastThousandStepsAndANewEditDropsRedo) {
    OpenFresh();
    // Rewriting a frame to the bytes it already has, or selecting, changes nothing: no step.
    store.SelectROI(1, 0);
    store.SaveFrame(0);
    EXPECT_FALSE(store.CanUndo());

    for (int f = 0; f <= 1000; ++f) {
        store.AddROI(f, {1, 2, 30, 40}, 0, 0x11);
    }
    EXPECT_EQ(store.EditHistory().StepCount(), CEditHistory::kMaxSteps);
    CLabelManager::EditOutcome out;
    for (int f = 1000; f >= 1; --f) {
        ASSERT_TRUE(store.Undo(out)) << f;
        ASSERT_EQ(out.viewFrame, f);
        ASSERT_FALSE(std::filesystem::exists(FrameFile(f))) << f;
    }
    // The first step was dropped: frame 0 keeps its ROI.
    EXPECT_FALSE(store.Undo(out));
    EXPECT_EQ(Frame(0).size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(FrameFile(0)));

    ASSERT_TRUE(store.Redo(out));
    EXPECT_EQ(out.viewFrame, 1);
    EXPECT_TRUE(store.CanRedo());
    store.DeleteFrameROIs(0);
    EXPECT_FALSE(store.CanRedo());
    EXPECT_FALSE(store.Redo(out));
    EXPECT_EQ(store.GetFrameCount(2), 0);
}

TEST_F(EditHistoryTest, RemovedFilesComeBackAsTheyWereAndGoWhenTheHistoryIsForgotten) {
    for (int f = 0; f <= 3; ++f) {
        WriteLabelFile(std::to_string(f) + ".txt", "1,2,30,40,1\r\n");  // five columns
    }
    ASSERT_TRUE(store.OpenVideo(VideoPath()));
    // Parked files live in the writing store's own folder inside the hidden one.
    const auto parked = [this] {
        std::vector<std::string> names = StrayTemporaries();
        names.erase(
            std::remove_if(names.begin(), names.end(),
                           [](const std::string& n) { return n.find("/p-") == std::string::npos; }),
            names.end());
        return names;
    };
    store.DeleteLabelAfter(0, 1);
    ASSERT_FALSE(std::filesystem::exists(FrameFile(3)));
    EXPECT_EQ(parked().size(), 3u);
    CLabelManager::EditOutcome out;
    ASSERT_TRUE(store.Undo(out));
    for (int f = 0; f <= 3; ++f) {
        EXPECT_EQ(ReadFileBytes(FrameFile(f)), "1,2,30,40,1\r\n") << f;
    }
    ASSERT_TRUE(store.Redo(out));
    EXPECT_FALSE(std::filesystem::exists(FrameFile(3)));
    EXPECT_EQ(parked().size(), 3u) << "the three removed files, kept aside";
    // A parked file that no longer holds the step's bytes (another writer got at it) is not
    // renamed back: the frame gets the bytes the step recorded.
    const std::vector<std::string> names = parked();
    WriteFileBytes(LabelFolder() / ".tagwright-tmp" / names[0], "9,9,9,9,9,0\r\n");
    ASSERT_TRUE(store.Undo(out));
    for (int f = 0; f <= 3; ++f) {
        EXPECT_EQ(ReadFileBytes(FrameFile(f)), "1,2,30,40,1\r\n") << f;
    }
    ASSERT_TRUE(store.Redo(out));

    // Opening the video again forgets the steps, and with them the files kept for undo.
    ASSERT_TRUE(store.OpenVideo(VideoPath()));
    EXPECT_TRUE(parked().empty());
    EXPECT_EQ(Frame(3).size(), 0u);

    // A file kept aside by a writer that crashed goes at the next open, and is never read as
    // labels.
    const std::filesystem::path dead = LabelFolder() / ".tagwright-tmp" / "proc-1-1.1@elsewhere";
    std::filesystem::create_directories(dead);
    WriteFileBytes(dead / "p-7", "1,2,30,40,1\r\n");
    ASSERT_TRUE(store.OpenVideo(VideoPath()));
    EXPECT_FALSE(std::filesystem::exists(dead));
    EXPECT_EQ(store.GetCount(), 1) << "frame 0 alone: the kept file is no label file";
}

void RecordStepWithFile(CEditHistory& h, size_t fileBytes) {
    h.StartRecording();
    CEditHistory::FrameChange& change = h.AddRecordedFrame(static_cast<int>(h.StepCount()));
    change.before.file = std::string(fileBytes, 'x');
    change.after.file.reset();
}

TEST(EditHistory, DropsTheOldestStepsBeyondTheByteBoundButKeepsTheNewest) {
    constexpr size_t kMB = size_t{1} << 20;
    CEditHistory h(1000, 4 * kMB);
    for (int i = 0; i < 6; ++i) {
        RecordStepWithFile(h, kMB);
        ASSERT_TRUE(h.FinishRecording());
    }
    EXPECT_EQ(h.StepCount(), 3u);
    EXPECT_LE(h.Bytes(), 4 * kMB);
    EXPECT_GT(h.Bytes(), 3 * kMB);

    // A step larger than the whole bound is kept alone, so the last action can be undone.
    RecordStepWithFile(h, 5 * kMB);
    ASSERT_TRUE(h.FinishRecording());
    EXPECT_EQ(h.StepCount(), 1u);
    EXPECT_TRUE(h.CanUndo());

    // A step whose frames end as they began is no step.
    h.StartRecording();
    h.AddRecordedFrame(7).before.count = 0;
    EXPECT_FALSE(h.FinishRecording());
    EXPECT_EQ(h.StepCount(), 1u);
}

}  // namespace
