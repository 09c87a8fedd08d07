#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "video/FrameCache.h"

namespace {

const cv::Size kSize(10, 10);
constexpr size_t kFrameBytes = 10 * 10 * 3;

// Stores a 10 x 10 frame filled with `value` under key; false when the cache refused it.
bool Put(CFrameCache& cache, int key, int value) {
    cv::Mat* slot = cache.Slot(key, kSize, CV_8UC3);
    if (slot == nullptr) {
        return false;
    }
    slot->setTo(cv::Scalar::all(value));
    return true;
}

// The value a cached frame was filled with, or -1 when the key is absent.
int ValueOf(CFrameCache& cache, int key) {
    const cv::Mat* m = cache.Find(key);
    return m == nullptr ? -1 : m->at<cv::Vec3b>(5, 5)[0];
}

TEST(FrameCache, EvictsTheLeastRecentlyUsedFrameAndStaysWithinTheBudget) {
    CFrameCache cache(3 * kFrameBytes);
    ASSERT_TRUE(Put(cache, 1, 10));
    ASSERT_TRUE(Put(cache, 2, 20));
    ASSERT_TRUE(Put(cache, 3, 30));
    EXPECT_EQ(cache.Bytes(), 3 * kFrameBytes);
    // Using 1 makes 2 the least recently used.
    EXPECT_EQ(ValueOf(cache, 1), 10);
    ASSERT_TRUE(Put(cache, 4, 40));
    EXPECT_FALSE(cache.Contains(2));
    EXPECT_EQ(ValueOf(cache, 1), 10);
    EXPECT_EQ(ValueOf(cache, 3), 30);
    EXPECT_EQ(ValueOf(cache, 4), 40);
    EXPECT_EQ(cache.Count(), 3u);
    EXPECT_EQ(cache.Bytes(), 3 * kFrameBytes);
    EXPECT_EQ(cache.PeakBytes(), 3 * kFrameBytes);
}

TEST(FrameCache, NeverEvictsThePinnedFrame) {
    CFrameCache cache(2 * kFrameBytes);
    ASSERT_TRUE(Put(cache, 7, 70));
    cache.Pin(7);
    for (int key = 100; key < 110; ++key) {
        ASSERT_TRUE(Put(cache, key, key)) << key;
        EXPECT_LE(cache.Bytes(), cache.Budget());
    }
    EXPECT_EQ(ValueOf(cache, 7), 70);
    EXPECT_EQ(ValueOf(cache, 109), 109);
    EXPECT_FALSE(cache.Contains(108));
}

TEST(FrameCache, RefusesAFrameThatCannotFitAndEvictsNothingForIt) {
    CFrameCache small(kFrameBytes - 1);
    EXPECT_FALSE(Put(small, 1, 1));
    EXPECT_EQ(small.Bytes(), 0u);

    // Only the pinned frame is held, and the budget has no room beside it.
    CFrameCache cache(kFrameBytes + kFrameBytes / 2);
    ASSERT_TRUE(Put(cache, 1, 11));
    cache.Pin(1);
    EXPECT_FALSE(Put(cache, 2, 22));
    EXPECT_EQ(ValueOf(cache, 1), 11);
    EXPECT_EQ(cache.Bytes(), kFrameBytes);
}

TEST(FrameCache, AFullCacheReusesTheMemoryOfTheFrameItEvicts) {
    CFrameCache cache(2 * kFrameBytes);
    ASSERT_TRUE(Put(cache, 1, 1));
    ASSERT_TRUE(Put(cache, 2, 2));
    const uchar* memoryOfFirst = cache.Find(1)->data;
    cache.Find(2);
    cv::Mat* slot = cache.Slot(3, kSize, CV_8UC3);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->data, memoryOfFirst);
    EXPECT_FALSE(cache.Contains(1));
    // A frame of another size gets memory of its own, and the count follows its size.
    cv::Mat* wide = cache.Slot(4, cv::Size(20, 10), CV_8UC3);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide->size(), cv::Size(20, 10));
    EXPECT_EQ(cache.Bytes(), 2 * kFrameBytes);
    EXPECT_EQ(cache.Count(), 1u);
}

TEST(FrameCache, ASlotForAKeyAlreadyHeldIsThatFrame) {
    CFrameCache cache(4 * kFrameBytes);
    ASSERT_TRUE(Put(cache, 5, 50));
    ASSERT_TRUE(Put(cache, 5, 51));
    EXPECT_EQ(cache.Count(), 1u);
    EXPECT_EQ(cache.Bytes(), kFrameBytes);
    EXPECT_EQ(ValueOf(cache, 5), 51);
}

TEST(FrameCache, AShrunkBudgetEvictsAtOnceButKeepsThePinnedFrame) {
    CFrameCache cache(5 * kFrameBytes);
    for (int key = 0; key < 5; ++key) {
        ASSERT_TRUE(Put(cache, key, key));
    }
    cache.Pin(0);
    cache.SetBudget(2 * kFrameBytes);
    EXPECT_EQ(cache.Bytes(), 2 * kFrameBytes);
    EXPECT_TRUE(cache.Contains(0));
    EXPECT_TRUE(cache.Contains(4)) << "the most recently used frame stays";
    EXPECT_EQ(cache.PeakBytes(), 5 * kFrameBytes);
    cache.Clear();
    EXPECT_EQ(cache.Bytes(), 0u);
    EXPECT_EQ(cache.Count(), 0u);
}

TEST(FrameCache, ErasingBelowAKeyLeavesTheKeysAboveIt) {
    CFrameCache cache(8 * kFrameBytes);
    for (int key : {-7, -3, -2, 0, 4}) {
        ASSERT_TRUE(Put(cache, key, key + 10));
    }
    cache.Pin(-3);
    cache.EraseBelow(0);
    EXPECT_FALSE(cache.Contains(-7));
    EXPECT_FALSE(cache.Contains(-3)) << "even when pinned";
    EXPECT_FALSE(cache.Contains(-2));
    EXPECT_EQ(ValueOf(cache, 0), 10);
    EXPECT_EQ(ValueOf(cache, 4), 14);
    EXPECT_EQ(cache.Bytes(), 2 * kFrameBytes);
}

}  // namespace
