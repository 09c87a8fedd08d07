#include <gtest/gtest.h>

#include "labels/ROI.h"

TEST(RoiKey, LabelComesFirstWithoutPadding) {
    EXPECT_EQ(MakeRoiKey(3, 120), "3_120");
    EXPECT_EQ(MakeRoiKey(3, 0), "3_0");
    EXPECT_EQ(MakeRoiKey(-1, 57), "-1_57");
    EXPECT_NE(MakeRoiKey(12, 3), MakeRoiKey(1, 23));
}
