#include <gtest/gtest.h>

#include "LabelTestSupport.h"

namespace {

TEST_F(LabelStoreTest, HitTestUsesHalfOpenRectanglesOnThatFrameOnly) {
    OpenFresh();
    store.SetCurLabel(4);
    store.AddROI(2, CRect{10, 20, 30, 40}, 0, 0x11);
    EXPECT_EQ(store.HitTest(7, CPoint{15, 25}), -1);  // frame without records
    const struct {
        CPoint p;
        int label;
    } cases[] = {
        {{10, 20}, 4},   // left/top edges are inside
        {{29, 39}, 4},   // last pixel inside
        {{30, 25}, -1},  // right edge is outside
        {{15, 40}, -1},  // bottom edge is outside
        {{9, 25}, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(store.HitTest(2, c.p), c.label) << c.p.x << "," << c.p.y;
    }
    EXPECT_EQ(store.HitTest(3, CPoint{15, 25}), -1);
}

TEST_F(LabelStoreTest, OverlappingRectanglesAlwaysHitTheSameRecord) {
    OpenFresh();
    store.SetCurLabel(9);
    store.AddROI(1, CRect{0, 0, 100, 100}, 0, 0);
    store.SetCurLabel(3);
    store.AddROI(1, CRect{50, 50, 150, 150}, 0, 0);
    const int first = store.HitTest(1, CPoint{60, 60});
    EXPECT_TRUE(first == 3 || first == 9);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(store.HitTest(1, CPoint{60, 60}), first);
    }
    EXPECT_EQ(store.HitTest(1, CPoint{120, 120}), 3);
    EXPECT_EQ(store.HitTest(1, CPoint{10, 10}), 9);
}

TEST_F(LabelStoreTest, GetFrameRoisMarksOnlyTheSelectedCopyAndAppends) {
    OpenFresh();
    store.SetCurLabel(1);
    store.AddROI(5, CRect{0, 0, 10, 10}, 1, 0);
    store.SetCurLabel(2);
    store.AddROI(5, CRect{20, 20, 30, 30}, 2, 0);
    store.AddROI(6, CRect{1, 1, 2, 2}, 0, 0);
    store.SelectROI(2, 5);

    std::vector<ROI> list(1);  // not cleared by the call
    store.GetFrameROIs(5, list);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1].nLabel, 1);
    EXPECT_EQ(list[1].bSelected, 0);
    EXPECT_EQ(list[2].nLabel, 2);
    EXPECT_EQ(list[2].bSelected, 1);
    EXPECT_EQ(list[2].rect, (CRect{20, 20, 30, 30}));
    EXPECT_EQ(list[2].nClass, 2);

    // The mark lives only in the copy handed out.
    ROI stored;
    ASSERT_TRUE(store.FindROI(2, 5, stored));
    EXPECT_EQ(stored.bSelected, 0);

    // Same label on another frame is not selected.
    auto other = Frame(6);
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].bSelected, 0);

    store.SelectROI(-1, 5);  // a right click on empty space
    for (const ROI& roi : Frame(5)) {
        EXPECT_EQ(roi.bSelected, 0);
    }
}

TEST_F(LabelStoreTest, SelectedRectFollowsTheKeyAndIsEmptyAfterDeletion) {
    OpenFresh();
    EXPECT_TRUE(store.GetSelectedRect().IsNull());
    store.SetCurLabel(3);
    store.AddROI(120, CRect{1, 2, 3, 4}, 0, 0);
    store.SelectROI(3, 120);
    EXPECT_EQ(store.GetSelKey(), "3_120");
    EXPECT_EQ(store.GetSelectedRect(), (CRect{1, 2, 3, 4}));

    store.DeleteROI(120, 3);
    EXPECT_TRUE(store.GetSelectedRect().IsNull());
    EXPECT_EQ(store.GetCount(), 0);  // looking up the selection never adds a record
    EXPECT_EQ(store.GetSelKey(), "3_120");
}

TEST_F(LabelStoreTest, ResetStoreKeepsTheSelectedNumbersButNotTheKey) {
    OpenFresh();
    store.SetCurLabel(7);
    store.AddROI(3, CRect{1, 1, 5, 5}, 0, 0);
    store.SelectROI(7, 3);
    store.ResetStore();
    EXPECT_EQ(store.GetCount(), 0);
    EXPECT_EQ(store.GetFrameCountLength(), 0);
    EXPECT_EQ(store.GetCurLabel(), 1);
    EXPECT_EQ(store.GetSelKey(), "");
    EXPECT_EQ(store.GetSelLabel(), 7);
    EXPECT_EQ(store.GetSelFrame(), 3);
    EXPECT_TRUE(store.GetSelectedRect().IsNull());
}

TEST_F(LabelStoreTest, AdjustFrameCountGrowsOnDemandAndNeverGoesNegative) {
    store.AdjustFrameCount(100, 1, false);
    EXPECT_EQ(store.GetFrameCountLength(), 101);
    EXPECT_EQ(store.GetFrameCount(100), 1);
    for (int f = 0; f < 100; ++f) {
        ASSERT_EQ(store.GetFrameCount(f), 0) << f;
    }
    store.AdjustFrameCount(5, -1, false);
    EXPECT_EQ(store.GetFrameCount(5), 0);
    store.AdjustFrameCount(-1, 1, false);
    EXPECT_EQ(store.GetFrameCountLength(), 101);
    store.AdjustFrameCount(100, 7, true);
    EXPECT_EQ(store.GetFrameCount(100), 7);
    store.AdjustFrameCount(100, -3, false);
    EXPECT_EQ(store.GetFrameCount(100), 4);
    store.AdjustFrameCount(100, -30, true);
    EXPECT_EQ(store.GetFrameCount(100), 0);
    EXPECT_EQ(store.GetFrameCountLength(), 101);  // never shrinks
    EXPECT_EQ(store.GetFrameCount(5000), 0);      // beyond the end counts as 0
    store.AdjustFrameCount(3, 2, false);
    EXPECT_EQ(store.GetFrameCountLength(), 101);
}

TEST_F(LabelStoreTest, SameLabelOnTheSameFrameReplacesAndCountsOnce) {
    OpenFresh();
    store.SetCurLabel(2);
    store.AddROI(4, CRect{0, 0, 5, 5}, 0, 0);
    store.AddROI(4, CRect{10, 10, 50, 50}, 1, 0);
    EXPECT_EQ(store.GetCount(), 1);
    EXPECT_EQ(store.GetFrameCount(4), 1);
    auto rois = Frame(4);
    ASSERT_EQ(rois.size(), 1u);
    EXPECT_EQ(rois[0].rect, (CRect{10, 10, 50, 50}));
    EXPECT_EQ(rois[0].nClass, 1);
    // Different keys with the same digits stay apart: 12_3 and 1_23.
    store.SetCurLabel(12);
    store.AddROI(3, CRect{0, 0, 1, 1}, 0, 0);
    store.SetCurLabel(1);
    store.AddROI(23, CRect{0, 0, 1, 1}, 0, 0);
    EXPECT_EQ(store.GetCount(), 3);
    EXPECT_EQ(store.GetFrameCount(3), 1);
    EXPECT_EQ(store.GetFrameCount(23), 1);
}

TEST_F(LabelStoreTest, CountsMatchRecordsThroughAMixOfEdits) {
    OpenFresh();
    for (int label = 1; label <= 5; ++label) {
        store.SetCurLabel(label);
        for (int f = 0; f < 10; ++f) {
            store.AddROI(f, CRect{label, f, label + 10, f + 10}, 0, 0);
        }
    }
    store.DeleteROI(3, 2);
    store.DeleteROI(3, 2);  // already gone: no second decrement
    store.DeleteFrameROIs(4);
    store.CopyFrameToNext(6);
    store.DeleteLabelAfter(7, 5);
    store.SelectROI(1, 0);
    store.DeleteSelectedROI(0);
    store.DeleteSelectedROI(0);
    int total = 0;
    for (int f = 0; f < 12; ++f) {
        const int n = static_cast<int>(Frame(f).size());
        EXPECT_EQ(store.GetFrameCount(f), n) << "frame " << f;
        total += n;
    }
    EXPECT_EQ(store.GetCount(), total);
}

TEST_F(LabelStoreTest, RestoreRoiPutsBackTheRecordCountAndFile) {
    OpenFresh();
    store.SetCurLabel(3);
    store.AddROI(8, CRect{1, 2, 3, 4}, 2, 0);
    ROI saved;
    ASSERT_TRUE(store.FindROI(3, 8, saved));
    store.DeleteROI(8, -1);
    store.SaveFrame(8);
    EXPECT_FALSE(std::filesystem::exists(FrameFile(8)));
    EXPECT_EQ(store.GetFrameCount(8), 0);

    store.RestoreROI(saved);
    ROI back;
    ASSERT_TRUE(store.FindROI(3, 8, back));
    EXPECT_EQ(back.rect, saved.rect);
    EXPECT_EQ(back.nClass, 2);
    EXPECT_EQ(store.GetFrameCount(8), 1);
    EXPECT_EQ(ReadFileBytes(FrameFile(8)), "1,2,3,4,3,2\r\n");

    store.RestoreROI(saved);  // restoring over itself does not count twice
    EXPECT_EQ(store.GetFrameCount(8), 1);
    EXPECT_FALSE(store.FindROI(4, 8, back));
}

}  // namespace
