#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "VideoTestClips.h"
#include "support/TempDir.h"
#include "video/VideoManager.h"

namespace {

const cv::Vec3b kBackground(30, 60, 90);  // no label, number or box uses it
const cv::Vec3b kNumber(205, 205, 0);
const cv::Vec3b kSelectedNumber(128, 0, 0);

cv::Vec3b ToVec(const cv::Scalar& s) {
    return cv::Vec3b(static_cast<uchar>(s[0]), static_cast<uchar>(s[1]), static_cast<uchar>(s[2]));
}

ROI MakeRoi(int label, CRect rect, bool selected = false) {
    ROI r;
    r.nFrame = 0;
    r.nLabel = label;
    r.nClass = 0;
    r.rect = rect;
    r.bSelected = selected ? 1 : 0;
    return r;
}

class Overlay : public ::testing::Test {
  protected:
    void SetUp() override { vm.CurrentFrame() = cv::Mat(240, 320, CV_8UC3, ToScalar(kBackground)); }

    static cv::Scalar ToScalar(const cv::Vec3b& v) { return cv::Scalar(v[0], v[1], v[2]); }
    cv::Vec3b At(int x, int y) const { return vm.CurrentFrame().at<cv::Vec3b>(y, x); }

    // Columns of row y, between x0 and x1 inclusive, that carry colour c.
    std::string Row(int y, int x0, int x1, const cv::Vec3b& c) const {
        std::string s;
        for (int x = x0; x <= x1; ++x) {
            s += At(x, y) == c ? '#' : '.';
        }
        return s;
    }
    std::string Column(int x, int y0, int y1, const cv::Vec3b& c) const {
        std::string s;
        for (int y = y0; y <= y1; ++y) {
            s += At(x, y) == c ? '#' : '.';
        }
        return s;
    }
    int CountIn(const cv::Rect& area, const cv::Vec3b& c) const {
        int n = 0;
        const cv::Rect clipped =
            area & cv::Rect(0, 0, vm.CurrentFrame().cols, vm.CurrentFrame().rows);
        for (int y = clipped.y; y < clipped.br().y; ++y) {
            for (int x = clipped.x; x < clipped.br().x; ++x) {
                n += At(x, y) == c ? 1 : 0;
            }
        }
        return n;
    }
    // Where the number of a ROI whose bottom-right corner is (r, b) goes: its baseline-left
    // corner is at (r + 2, b + 2), the glyphs rise above the baseline.
    static cv::Rect NumberArea(int r, int b) { return {r + 2, b + 2 - 24, 50, 34}; }

    CVideoManager vm;
};

TEST_F(Overlay, ColourTableHasTheThirtyLabelColours) {
    const struct {
        int label;
        cv::Scalar colour;
    } cases[] = {{1, {255, 0, 0}},      {2, {0, 128, 0}},      {3, {0, 0, 255}},
                 {9, {128, 0, 128}},    {10, {128, 128, 128}}, {11, {255, 255, 255}},
                 {12, {139, 69, 19}},   {20, {128, 0, 128}},   {21, {0, 128, 255}},
                 {25, {255, 192, 203}}, {29, {255, 215, 0}},   {30, {165, 42, 53}}};
    for (const auto& c : cases) {
        EXPECT_EQ(vm.LabelColor(c.label), c.colour) << c.label;
        EXPECT_EQ(vm.LabelColor(c.label)[3], 0.0) << c.label;
    }
}

TEST_F(Overlay, LabelsOutsideTheTableGetTheNeutralFallback) {
    const cv::Scalar fallback = vm.LabelColor(0);
    for (int label = 1; label <= 30; ++label) {
        EXPECT_NE(vm.LabelColor(label), fallback) << "label " << label << " looks like no label";
    }
    for (int label : {-1, 0, 31, 100, INT_MIN, INT_MAX}) {
        EXPECT_EQ(vm.LabelColor(label), fallback) << label;
    }
    // Neutral: a grey.
    EXPECT_EQ(fallback[0], fallback[1]);
    EXPECT_EQ(fallback[1], fallback[2]);
}

TEST_F(Overlay, NoRoisLeavesTheFrameClean) {
    const cv::Mat before = vm.CurrentFrame().clone();
    EXPECT_TRUE(vm.DrawRois({}));
    EXPECT_EQ(cv::norm(before, vm.CurrentFrame(), cv::NORM_INF), 0);
}

TEST_F(Overlay, SelectedRoiIsThickerWithADifferentNumberColour) {
    const CRect plain{20, 20, 80, 60};
    const CRect selected{150, 100, 230, 170};
    EXPECT_TRUE(vm.DrawRois({MakeRoi(3, plain), MakeRoi(1, selected, true)}));
    const cv::Vec3b red = ToVec(vm.LabelColor(3));
    const cv::Vec3b blue = ToVec(vm.LabelColor(1));

    // The outline is centred on the edge pixels left..right-1 and top..bottom-1. OpenCV's
    // 8-connected thick lines make thickness 2 three pixels wide and thickness 3 five.
    EXPECT_EQ(Row(40, 16, 24, red), "...###...");           // left edge x = 20
    EXPECT_EQ(Row(40, 75, 83, red), "...###...");           // right edge x = 79
    EXPECT_EQ(Column(50, 16, 24, red), "...###...");        // top edge y = 20
    EXPECT_EQ(Column(50, 55, 63, red), "...###...");        // bottom edge y = 59
    EXPECT_EQ(Row(135, 145, 155, blue), "...#####...");     // left edge x = 150
    EXPECT_EQ(Row(135, 224, 234, blue), "...#####...");     // right edge x = 229
    EXPECT_EQ(Column(190, 164, 174, blue), "...#####...");  // bottom edge y = 169
    // Inside stays untouched.
    EXPECT_EQ(At(50, 40), kBackground);
    EXPECT_EQ(At(190, 135), kBackground);

    // Numbers next to the bottom-right corners, each in its own colour only.
    EXPECT_GT(CountIn(NumberArea(plain.right, plain.bottom), kNumber), 10);
    EXPECT_EQ(CountIn(NumberArea(plain.right, plain.bottom), kSelectedNumber), 0);
    EXPECT_GT(CountIn(NumberArea(selected.right, selected.bottom), kSelectedNumber), 10);
    EXPECT_EQ(CountIn(NumberArea(selected.right, selected.bottom), kNumber), 0);
    // Nothing of a number lies left of its origin or above the rectangle's bottom half.
    EXPECT_EQ(CountIn({0, 0, plain.right + 2, 240}, kNumber), 0);
    EXPECT_EQ(CountIn({0, 0, 320, plain.top + 20}, kNumber), 0);
}

TEST_F(Overlay, SelectedNumberIsDrawnWithTheThickerStroke) {
    vm.DrawRois({MakeRoi(8, {20, 20, 80, 60})});
    const int thin = CountIn(NumberArea(80, 60), kNumber);
    SetUp();
    vm.DrawRois({MakeRoi(8, {20, 20, 80, 60}, true)});
    const int thick = CountIn(NumberArea(80, 60), kSelectedNumber);
    EXPECT_GT(thick, thin);
}

TEST_F(Overlay, LabelThirtyAndTheTwinColoursNineAndTwenty) {
    vm.DrawRois({MakeRoi(30, {20, 20, 80, 60}), MakeRoi(9, {120, 20, 180, 60}),
                 MakeRoi(20, {220, 20, 280, 60})});
    EXPECT_EQ(At(20, 40), cv::Vec3b(165, 42, 53));
    EXPECT_EQ(At(120, 40), cv::Vec3b(128, 0, 128));
    EXPECT_EQ(At(120, 40), At(220, 40));
}

TEST_F(Overlay, LabelsOutsideTheTableAreDrawnInTheFallbackColour) {
    const cv::Vec3b grey = ToVec(vm.LabelColor(-1));
    EXPECT_TRUE(vm.DrawRois({MakeRoi(-1, {20, 20, 80, 60}), MakeRoi(31, {120, 20, 180, 60}),
                             MakeRoi(INT_MAX, {220, 20, 280, 60})}));
    EXPECT_EQ(At(20, 40), grey);
    EXPECT_EQ(At(120, 40), grey);
    EXPECT_EQ(At(220, 40), grey);
    // Their numbers are drawn like any other, so the operator can find and delete them.
    EXPECT_GT(CountIn(NumberArea(80, 60), kNumber), 10);
    EXPECT_GT(CountIn(NumberArea(180, 60), kNumber), 10);
}

TEST_F(Overlay, EmptyRectangleDrawsOnlyItsNumber) {
    for (const CRect r :
         {CRect{100, 100, 100, 150}, CRect{100, 100, 150, 100}, CRect{150, 150, 100, 100}}) {
        SetUp();
        const cv::Vec3b colour = ToVec(vm.LabelColor(2));
        vm.DrawRois({MakeRoi(2, r)});
        EXPECT_EQ(CountIn({0, 0, 320, 240}, colour), 0) << Describe(r);
        EXPECT_GT(CountIn(NumberArea(r.right, r.bottom), kNumber), 10) << Describe(r);
    }
}

TEST_F(Overlay, RoisAtAndBeyondTheEdgesAreClipped) {
    const cv::Mat before = vm.CurrentFrame().clone();
    EXPECT_TRUE(vm.DrawRois({MakeRoi(4, {250, 200, 320, 240}), MakeRoi(5, {-50, -50, 10, 10}),
                             MakeRoi(6, {400, 300, 500, 400}),
                             MakeRoi(7, {INT_MIN / 2, INT_MIN / 2, INT_MAX / 2, INT_MAX / 2})}));
    EXPECT_EQ(At(250, 220), ToVec(vm.LabelColor(4)));
    EXPECT_EQ(At(9, 5), ToVec(vm.LabelColor(5)));
    // The second's number starts at (12, 12) and is cut at the top edge; the first's would
    // start at (322, 242) and is wholly clipped away, as are those of the last two.
    const int partial = CountIn({0, 0, 60, 30}, kNumber);
    EXPECT_GT(partial, 0);
    EXPECT_EQ(CountIn({0, 0, 320, 240}, kNumber), partial);
}

TEST_F(Overlay, LaterRecordsAreDrawnOverEarlierOnes) {
    vm.DrawRois({MakeRoi(1, {20, 20, 80, 60}), MakeRoi(3, {20, 20, 80, 60})});
    EXPECT_EQ(At(20, 40), ToVec(vm.LabelColor(3)));
}

TEST_F(Overlay, RubberBandRectangle) {
    vm.DrawRectangle({40, 30, 140, 90}, cv::Scalar(200, 10, 10, 0), 2);
    EXPECT_EQ(Row(60, 36, 44, cv::Vec3b(200, 10, 10)), "...###...");
    EXPECT_EQ(Column(90, 85, 93, cv::Vec3b(200, 10, 10)), "...###...");  // bottom edge y = 89
    EXPECT_EQ(CountIn({0, 0, 320, 240}, kNumber), 0);
}

TEST(OverlayWithoutFrame, DrawingOnNoFrameDoesNothing) {
    CVideoManager vm;
    EXPECT_TRUE(vm.DrawRois({MakeRoi(1, {0, 0, 10, 10})}));
    vm.DrawRectangle({0, 0, 10, 10}, cv::Scalar(1, 2, 3), 2);
    EXPECT_TRUE(vm.CurrentFrame().empty());
}

TEST(OverlayOnVideo, DrawnOverlayAppearsOnTheDisplayImageOfAnMjpgFrame) {
    TempDir dir;
    const auto path = MakeClip(dir / "clip.avi", ClipOptions(320, 240, 3));
    CVideoManager vm;
    ASSERT_TRUE(vm.Open(path));
    ASSERT_TRUE(vm.ReadNextFrame());
    vm.DrawRois({MakeRoi(30, {100, 100, 200, 180}, true)});
    const cv::Mat& display = vm.MakeDisplayImage();
    EXPECT_EQ(display.at<cv::Vec3b>(140, 100), cv::Vec3b(165, 42, 53));
    EXPECT_EQ(display.at<cv::Vec3b>(140, 98), cv::Vec3b(165, 42, 53));
    ASSERT_TRUE(vm.ReloadCurrentFrame());
    EXPECT_NE(vm.CurrentFrame().at<cv::Vec3b>(140, 100), cv::Vec3b(165, 42, 53));
}

}  // namespace
