#include <gtest/gtest.h>

#include "LabelTestSupport.h"
#include "labels/GapFill.h"
#include "support/TreeSnapshot.h"

namespace fs = std::filesystem;

namespace {

class LabelEditingTest : public LabelStoreTest {
  protected:
    void SetUp() override { OpenFresh(); }

    void Put(int frame, int label, CRect rect = CRect{1, 2, 30, 40}, int nClass = 0) {
        store.SetCurLabel(label);
        store.AddROI(frame, rect, nClass, 0x11);
        store.SetCurLabel(1);
    }

    std::vector<int> Labels(int frame) const {
        std::vector<int> labels;
        for (const ROI& roi : Frame(frame)) {
            labels.push_back(roi.nLabel);
        }
        return labels;
    }
};

TEST_F(LabelEditingTest, AddRoiStoresUnderTheActiveLabelAndRewritesTheFrame) {
    store.SetCurLabel(3);
    EXPECT_EQ(store.AddROI(5, CRect{10, 10, 40, 50}, 1, 0x11), 3);
    EXPECT_EQ(store.GetFrameCount(5), 1);
    EXPECT_EQ(ReadFileBytes(FrameFile(5)), "10,10,40,50,3,1\r\n");
    EXPECT_EQ(store.AddROI(5, CRect{0, 0, 4, 4}, 2, 0x11), 3);
    EXPECT_EQ(store.GetFrameCount(5), 1);
    EXPECT_EQ(ReadFileBytes(FrameFile(5)), "0,0,4,4,3,2\r\n");
    EXPECT_EQ(store.GetSelKey(), "");  // the caller selects
}

TEST_F(LabelEditingTest, AddRoiWhileTrackingUsesTheSelectedLabel) {
    store.SelectROI(7, 4);
    store.SetCurLabel(2);
    EXPECT_EQ(store.AddROI(5, CRect{1, 1, 9, 9}, 0, 0x41), 7);
    EXPECT_EQ(Labels(5), std::vector<int>{7});
    EXPECT_EQ(store.GetCurLabel(), 2);

    store.SelectROI(-1, 5);  // right click on empty space, then a tracking step
    EXPECT_EQ(store.AddROI(6, CRect{1, 1, 9, 9}, 0, 0x41), -1);
    EXPECT_EQ(store.GetFrameCount(6), 1);
    EXPECT_EQ(ReadFileBytes(FrameFile(6)), "1,1,9,9,-1,0\r\n");
}

TEST_F(LabelEditingTest, DeleteRoiUsesTheActiveLabelForNegativeAndLeavesTheFile) {
    Put(5, 3);
    Put(5, 4);
    const std::string before = ReadFileBytes(FrameFile(5));
    store.SetCurLabel(3);
    EXPECT_EQ(store.DeleteROI(5, -1), 1);
    EXPECT_EQ(Labels(5), std::vector<int>{4});
    EXPECT_EQ(store.GetFrameCount(5), 1);
    EXPECT_EQ(ReadFileBytes(FrameFile(5)), before);  // the caller rewrites the frame
    EXPECT_EQ(store.DeleteROI(5, 9), 1);             // missing: nothing changes
    EXPECT_EQ(store.GetFrameCount(5), 1);
}

TEST_F(LabelEditingTest, DeleteSelectedRoiOnlyOnItsOwnFrame) {
    Put(5, 3);
    store.SelectROI(3, 5);
    EXPECT_EQ(store.DeleteSelectedROI(6), 0);
    EXPECT_EQ(store.GetCount(), 1);
    EXPECT_EQ(store.DeleteSelectedROI(5), 1);
    EXPECT_EQ(store.GetCount(), 0);
    EXPECT_EQ(store.GetFrameCount(5), 0);
    EXPECT_EQ(store.GetSelKey(), "3_5");
    EXPECT_EQ(store.DeleteSelectedROI(5), 0);
    store.ResetStore();
    EXPECT_EQ(store.DeleteSelectedROI(5), 0);
}

TEST_F(LabelEditingTest, SetSelectedRectMovesAndRewritesOrDoesNothing) {
    Put(5, 3, CRect{1, 1, 5, 5}, 2);
    store.SelectROI(3, 5);
    EXPECT_EQ(store.SetSelectedRect(CRect{10, 11, 20, 21}), 1);
    EXPECT_EQ(ReadFileBytes(FrameFile(5)), "10,11,20,21,3,2\r\n");
    store.SelectROI(3, 6);
    EXPECT_EQ(store.SetSelectedRect(CRect{0, 0, 1, 1}), 1);
    EXPECT_EQ(store.GetCount(), 1);
    EXPECT_FALSE(fs::exists(FrameFile(6)));
}

TEST_F(LabelEditingTest, DeleteFrameRoisRemovesRecordsFileAndCount) {
    Put(5, 3);
    Put(5, 4);
    Put(6, 3);
    EXPECT_EQ(store.DeleteFrameROIs(5), 1);
    EXPECT_TRUE(Frame(5).empty());
    EXPECT_EQ(store.GetFrameCount(5), 0);
    EXPECT_FALSE(fs::exists(FrameFile(5)));
    EXPECT_TRUE(fs::exists(FrameFile(6)));
    EXPECT_EQ(store.FindFirstFrame(3), 6);

    WriteFileBytes(FrameFile(8), "1,1,2,2,9,0\r\n");  // no record in memory: file left alone
    EXPECT_EQ(store.DeleteFrameROIs(8), 1);
    EXPECT_TRUE(fs::exists(FrameFile(8)));
}

TEST_F(LabelEditingTest, CopyFrameToNextReplacesTheNextFrame) {
    Put(10, 1, CRect{1, 1, 11, 11}, 1);
    Put(10, 2, CRect{2, 2, 22, 22}, 2);
    Put(11, 3);
    EXPECT_EQ(store.CopyFrameToNext(10), 1);
    auto next = Frame(11);
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next[0].nLabel, 1);
    EXPECT_EQ(next[0].rect, (CRect{1, 1, 11, 11}));
    EXPECT_EQ(next[0].nClass, 1);
    EXPECT_EQ(next[1].nLabel, 2);
    EXPECT_EQ(next[1].nClass, 2);
    EXPECT_EQ(store.GetFrameCount(11), 2);
    EXPECT_EQ(store.GetFrameCount(10), 2);
    EXPECT_EQ(ReadFileBytes(FrameFile(11)), "1,1,11,11,1,1\r\n2,2,22,22,2,2\r\n");
    EXPECT_EQ(store.FindFirstFrame(3), -1);
}

TEST_F(LabelEditingTest, CopyingAnEmptyFrameClearsTheNextOne) {
    Put(0, 5);
    Put(11, 3);
    EXPECT_EQ(store.CopyFrameToNext(10), 1);
    EXPECT_TRUE(Frame(11).empty());
    EXPECT_FALSE(fs::exists(FrameFile(11)));
    EXPECT_EQ(store.GetFrameCount(11), 0);
    EXPECT_EQ(store.GetFrameCount(0), 1);

    EXPECT_EQ(store.CopyFrameToNext(2147483647), 1);  // no frame after the last int
    EXPECT_EQ(store.GetCount(), 1);
}

TEST_F(LabelEditingTest, DeleteLabelAfterKeepsTheFrameItselfAndEarlierOnes) {
    Put(9, 4);
    Put(10, 4);
    Put(11, 4);
    Put(30, 4);
    Put(30, 6);
    EXPECT_EQ(store.DeleteLabelAfter(10, 4), 1);
    EXPECT_EQ(Labels(9), std::vector<int>{4});
    EXPECT_EQ(Labels(10), std::vector<int>{4});
    EXPECT_TRUE(Frame(11).empty());
    EXPECT_EQ(Labels(30), std::vector<int>{6});
    EXPECT_FALSE(fs::exists(FrameFile(11)));
    EXPECT_EQ(ReadFileBytes(FrameFile(30)), "1,2,30,40,6,0\r\n");
    EXPECT_EQ(store.GetFrameCount(11), 0);
    EXPECT_EQ(store.GetFrameCount(30), 1);
    EXPECT_TRUE(fs::exists(FrameFile(9)));
    EXPECT_TRUE(fs::exists(FrameFile(10)));
    EXPECT_EQ(store.DeleteLabelAfter(0, 17), 1);  // absent label
    EXPECT_EQ(store.GetCount(), 3);
}

TEST_F(LabelEditingTest, SetLabelClassRewritesEveryFileOfThatLabelOnly) {
    for (int f : {3, 8, 40, 41}) {
        Put(f, 4, CRect{f, 0, f + 5, 5}, 0);
    }
    Put(8, 2, CRect{0, 0, 9, 9}, 1);
    Put(50, 2, CRect{0, 0, 9, 9}, 1);
    EXPECT_EQ(store.SetLabelClass(4, 2), 1);
    for (int f : {3, 40, 41}) {
        EXPECT_EQ(ReadFileBytes(FrameFile(f)),
                  std::to_string(f) + ",0," + std::to_string(f + 5) + ",5,4,2\r\n");
    }
    EXPECT_EQ(ReadFileBytes(FrameFile(8)), "0,0,9,9,2,1\r\n8,0,13,5,4,2\r\n");
    EXPECT_EQ(ReadFileBytes(FrameFile(50)), "0,0,9,9,2,1\r\n");
    EXPECT_EQ(store.GetLabelClass(4), 2);
    EXPECT_EQ(store.GetLabelClass(2), 1);
    EXPECT_EQ(store.SetLabelClass(9, 1), 1);
    EXPECT_EQ(store.GetLabelClass(9), -1);
}

TEST_F(LabelEditingTest, GetLabelClassReportsTheRecordOnTheFirstFrame) {
    WriteFileBytes(FrameFile(20), "1,1,2,2,5,1\r\n");
    WriteFileBytes(FrameFile(7), "1,1,2,2,5,2\r\n");
    store.OpenVideo(VideoPath());
    EXPECT_EQ(store.GetLabelClass(5), 2);
}

TEST_F(LabelEditingTest, FindFirstFrameTakesTheSmallestOrTellsTheLabelIsMissing) {
    Put(40, 3);
    Put(12, 3);
    Put(99, 3);
    Put(5, 4);
    EXPECT_EQ(store.FindFirstFrame(3), 12);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(store.FindFirstFrame(8), -1);
    EXPECT_EQ(messages, std::vector<std::string>{kNoSuchLabel});
    store.ResetStore();
    EXPECT_EQ(store.FindFirstFrame(3), -1);
    EXPECT_EQ(CountOf(kNoSuchLabel), 2);
}

// Each row labels its frames (one record each, two on frame 2 of the first store) in a fresh
// store, then asks both ways from `cur`. Rows marked "moved" went elsewhere before: from beyond
// the last listed frame N came back to it and B showed the current frame again.
TEST_F(LabelEditingTest, LabelledFrameSearch) {
    constexpr int kMax = 2147483647;
    constexpr int kMin = -2147483647 - 1;
    const std::vector<int> counts00201 = {2, 2, 4};  // counts 0, 0, 2, 0, 1 on frames 0 to 4
    const struct {
        std::vector<int> labelled;
        int cur, next, prev;
    } cases[] = {
        {counts00201, 0, 2, 0},
        {counts00201, 1, 2, -1},
        {counts00201, 2, 4, -1},
        {counts00201, 3, 4, 2},
        {counts00201, 4, -1, 2},  // moved: N from the last listed frame came back to it
        {counts00201, 5, -1, 4},  // moved: N
        {counts00201, 6, -1, 4},  // moved: B from beyond the counts stayed put
        {counts00201, 7, -1, 4},  // moved: both
        {counts00201, -1, 2, -1},
        {counts00201, -5, 2, -5},      // moved: N went to the last listed frame
        {counts00201, kMax, -1, 4},    // moved: both
        {counts00201, kMin, 2, kMin},  // moved: N
        {{20, 40}, 45, -1, 40},        // moved: B did nothing and N went back to 40
        {{20, 40}, 40, -1, 20},
        {{20, 40}, 30, 40, 20},
        {{20, 40}, 20, 40, -1},
        {{20, 40}, 10, 20, -1},
        {{0, 0, 0}, 0, -1, 0},  // counts 3, only frame 0 listed: N never lands on frame 0
        {{0, 0, 0}, 9, -1, 0},  // moved: B from beyond stayed put
        {{0, 0, 0}, 1, -1, 0},
        {{0, 0, 0}, -1, -1, -1},
        {{0, 5}, -1, -1, -1},  // a search from frame 0 stops at a labelled frame 0
        {{}, 0, -1, 0},
        {{}, 3, -1, -1},  // moved: B in an empty store showed the current frame again
    };
    for (const auto& c : cases) {
        store.ResetStore();
        int label = 1;
        for (int frame : c.labelled) {
            Put(frame, label++);
        }
        EXPECT_EQ(store.NextLabelledFrame(c.cur), c.next)
            << "next from " << c.cur << " over " << c.labelled.size() << " records";
        EXPECT_EQ(store.PrevLabelledFrame(c.cur), c.prev)
            << "prev from " << c.cur << " over " << c.labelled.size() << " records";
    }
}

TEST_F(LabelEditingTest, LabelledFrameSearchSkipsFramesWhoseRecordsWereDeleted) {
    Put(0, 1);
    Put(3, 1);
    Put(6, 1);
    store.DeleteROI(6, 1);
    store.DeleteROI(3, 1);
    EXPECT_EQ(store.GetFrameCountLength(), 7);  // still listed, no longer labelled
    EXPECT_EQ(store.NextLabelledFrame(0), -1);
    EXPECT_EQ(store.NextLabelledFrame(2), -1);
    EXPECT_EQ(store.PrevLabelledFrame(6), 0);
    EXPECT_EQ(store.PrevLabelledFrame(9), 0);
}

}  // namespace

// Label 2's boxes as keyframes, other labels in the way, and a fill asked on `at`: the gap it
// finds, the boxes the frames between get (straight-line boxes here; how boxes are found is the
// caller's), and an undo that leaves the folder as it was, byte for byte.
TEST_F(LabelEditingTest, FillLabelGapTable) {
    struct Box {
        int frame;
        CRect rect;
    };
    struct Row {
        const char* name;
        std::vector<Box> label2;
        std::vector<Box> label5;
        int at;
        CRect bounds;
        GapLookup lookup;
        int stored;
        std::vector<Box> expect;  // label 2 afterwards, where it matters
        int untouched;            // a frame left without label 2 (-1: none)
    };
    const CRect big{0, 0, 1000, 1000};
    // clang-format off
    const Row rows[] = {
        {"distance 2", {{10, {0, 0, 10, 10}}, {12, {10, 20, 30, 40}}}, {}, 12, big,
         GapLookup::kFound, 1, {{11, {5, 10, 20, 25}}}, 9},
        {"distance 3", {{10, {0, 0, 30, 30}}, {13, {30, 60, 60, 90}}}, {}, 13, big,
         GapLookup::kFound, 2, {{11, {10, 20, 40, 50}}, {12, {20, 40, 50, 70}}}, 14},
        {"long, other labels between left alone",
         {{10, {0, 0, 100, 100}}, {310, {300, 0, 400, 100}}},
         {{11, {7, 7, 70, 70}}, {300, {1, 1, 9, 9}}}, 310, big, GapLookup::kFound, 299,
         {{11, {1, 0, 101, 100}}, {160, {150, 0, 250, 100}}, {309, {299, 0, 399, 100}}}, 311},
        {"the nearest earlier box splits the gap",
         {{10, {0, 0, 10, 10}}, {14, {0, 0, 10, 10}}, {20, {6, 0, 16, 10}}}, {}, 20, big,
         GapLookup::kFound, 5, {{15, {1, 0, 11, 10}}, {19, {5, 0, 15, 10}}}, 12},
        {"a box of the label right before: refused",
         {{10, {0, 0, 10, 10}}, {19, {0, 0, 10, 10}}, {20, {0, 0, 10, 10}}}, {}, 20, big,
         GapLookup::kNothingBetween, -1, {}, -1},
        // The bounds: the frame cut down to the crop region.
        {"clipped to the bounds", {{1, {-40, -20, 20, 30}}, {4, {50, 40, 140, 130}}}, {}, 4,
         {5, 5, 90, 70}, GapLookup::kFound, 2, {{2, {5, 5, 60, 63}}, {3, {20, 20, 90, 70}}}, -1},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(LabelFolder());
        OpenFresh();
        for (const Box& b : row.label2) {
            Put(b.frame, 2, b.rect, 1);
        }
        for (const Box& b : row.label5) {
            Put(b.frame, 5, b.rect);
        }
        // The hidden work folder holds what undo needs; the label files are what must return.
        auto labelFiles = [this] {
            TreeSnapshot t = SnapshotTree(LabelFolder());
            for (auto it = t.begin(); it != t.end();) {
                it = it->first.rfind(".tagwright", 0) == 0 ? t.erase(it) : std::next(it);
            }
            return t;
        };
        const TreeSnapshot before = labelFiles();
        LabelGap gap;
        ASSERT_EQ(FindLabelGap(store, 2, row.at, gap), row.lookup);
        if (row.lookup != GapLookup::kFound) {
            continue;
        }
        std::vector<CRect> boxes;
        for (int f = gap.first + 1; f < gap.last; ++f) {
            boxes.push_back(LinearGapBox(gap, f));
        }
        store.SetCurLabel(7);
        EXPECT_EQ(FillLabelGap(store, gap, boxes, row.bounds), row.stored);
        EXPECT_EQ(store.GetCurLabel(), 7);
        for (const Box& b : row.expect) {
            ROI roi;
            ASSERT_TRUE(store.FindROI(2, b.frame, roi)) << b.frame;
            EXPECT_EQ(roi.rect, b.rect) << b.frame;
            EXPECT_EQ(roi.nClass, 1) << b.frame;
        }
        ROI none;
        EXPECT_FALSE(store.FindROI(2, row.untouched, none));
        for (const Box& b : row.label5) {
            ROI roi;
            ASSERT_TRUE(store.FindROI(5, b.frame, roi));
            EXPECT_EQ(roi.rect, b.rect);
        }
        if (!row.label5.empty()) {
            EXPECT_EQ(ReadFileBytes(FrameFile(11)), "1,0,101,100,2,1\r\n7,7,70,70,5,0\r\n");
        }
        CLabelManager::EditOutcome out;
        ASSERT_TRUE(store.Undo(out));
        EXPECT_EQ(out.viewFrame, row.at);
        EXPECT_EQ(labelFiles(), before);
    }
}
