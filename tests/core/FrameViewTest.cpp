// Fitting the picture to the video, painting frames with and without their regions, and
// converting picture coordinates to frame pixels.

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include "labels/LabelManager.h"
#include "res/Layout.h"
#include "res/Templates.h"
#include "support/DialogHarness.h"
#include "video/VideoManager.h"

namespace {

class FrameViewTest : public DialogTest {
  protected:
    // A short clip of the given frame size, opened.
    bool OpenSized(int width, int height) {
        SampleVideoOptions o = SmallVideo();
        o.width = width;
        o.height = height;
        o.frames = 2;
        const std::string name = std::to_string(width) + "x" + std::to_string(height) + ".avi";
        return !MakeAndOpen(name, o).empty();
    }

    cv::Vec3b PaintedAt(int x, int y) const {
        return wnd.Ctl(IDC_PICTURE).image.at<cv::Vec3b>(y, x);
    }
};

struct FitCase {
    int frameW, frameH;
    int areaW, areaH;
    int viewW, viewH;
};

TEST_F(FrameViewTest, FitTakesTheLargestRectangleOfTheVideoAspectAtTheTopLeft) {
    const FitCase cases[] = {
        {1920, 1080, 1000, 700, 1000, 562},  // landscape, width-limited
        {1920, 1080, 1600, 600, 1066, 600},  // landscape in a too-short area: height-limited
        {720, 1280, 1000, 700, 393, 700},    // portrait, height-limited
        {1280, 1024, 1000, 700, 875, 700},   // landscape whose first guess is too tall
        {1000, 1000, 600, 800, 600, 600},    // square follows the portrait rule, then width
        {720, 1280, 300, 700, 300, 533},     // portrait too wide for a narrow area
        // 854 x (480 / 854) is 480 exactly, but the single-precision product lands just above
        // it: too tall by one, so the fit falls back to the height and truncates the width.
        {854, 480, 854, 479, 852, 479},
    };
    for (const FitCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.frameW << "x" << c.frameH << " in " << c.areaW << "x" << c.areaH);
        DialogHarness h;
        SampleVideoOptions o = SmallVideo();
        o.width = c.frameW;
        o.height = c.frameH;
        o.frames = 2;
        ASSERT_FALSE(h.MakeAndOpen("fit.avi", o).empty());
        const CRect before = h.PictureRect();

        h.wnd.ResizeControl(IDC_PICTURE, c.areaW, c.areaH);
        ASSERT_TRUE(h.dlg.FitPictureToFrame());

        EXPECT_EQ(h.dlg.GetViewSize(), (CPoint{c.viewW, c.viewH}));
        const CRect after = h.PictureRect();
        EXPECT_EQ(after.TopLeft(), before.TopLeft());
        EXPECT_EQ(after.Width(), c.viewW);
        EXPECT_EQ(after.Height(), c.viewH);
    }
}

TEST_F(FrameViewTest, ConversionWorkedExampleOfAFullHdFrame) {
    ASSERT_TRUE(OpenSized(1920, 1080));
    wnd.ResizeControl(IDC_PICTURE, 1000, 700);
    ASSERT_TRUE(dlg.FitPictureToFrame());
    ASSERT_EQ(dlg.GetViewSize(), (CPoint{1000, 562}));

    struct PointCase {
        CPoint in, out;
    };
    const PointCase points[] = {
        {{0, 0}, {0, 0}},
        {{500, 281}, {960, 540}},
        {{999, 561}, {1919, 1078}},  // the last picture pixel lands just inside the frame
        {{1, 1}, {1, 1}},
    };
    for (const PointCase& p : points) {
        EXPECT_EQ(dlg.ViewPointToImage(p.in), p.out) << p.in.x << "," << p.in.y;
    }
    EXPECT_EQ(dlg.ViewRectToImage({100, 50, 300, 250}), (CRect{192, 96, 576, 480}));

    // A rectangle keeps its converted size wherever it lies.
    for (CPoint at : {CPoint{0, 0}, CPoint{1, 1}, CPoint{333, 17}, CPoint{898, 500}}) {
        const CRect r = dlg.ViewRectToImage({at.x, at.y, at.x + 100, at.y + 37});
        EXPECT_EQ(r.Width(), 192) << at.x << "," << at.y;
        EXPECT_EQ(r.Height(), 71) << at.x << "," << at.y;
    }
}

TEST_F(FrameViewTest, PointsPassTheScaleInSinglePrecisionRectanglesInDouble) {
    // A 320 x 240 frame in an 804 x 603 picture: the scale is 2.5125 and 201 picture pixels are
    // 80 frame pixels exactly. The scale rounded to single precision is a little larger, so a
    // point truncates to 79, while a rectangle, converted with the double scale, keeps 80.
    ASSERT_FALSE(MakeAndOpen().empty());
    wnd.ResizeControl(IDC_PICTURE, 804, 700);
    ASSERT_TRUE(dlg.FitPictureToFrame());
    ASSERT_EQ(dlg.GetViewSize(), (CPoint{804, 603}));

    EXPECT_EQ(dlg.ViewPointToImage({201, 201}), (CPoint{79, 79}));
    EXPECT_EQ(dlg.ViewPointToImage({202, 202}), (CPoint{80, 80}));
    EXPECT_EQ(dlg.ViewRectToImage({201, 201, 402, 402}), (CRect{80, 80, 160, 160}));
    EXPECT_EQ(dlg.ViewRectToImage({0, 0, 201, 201}), (CRect{0, 0, 80, 80}));
}

TEST_F(FrameViewTest, PointsJustOutsideTheTopLeftTruncateTowardZero) {
    ASSERT_FALSE(MakeAndOpen().empty());  // 320 x 240 shown enlarged
    const CPoint view = dlg.GetViewSize();
    ASSERT_GT(view.x, 320);
    EXPECT_EQ(dlg.ViewPointToImage({-1, -2}), (CPoint{0, 0}));
    EXPECT_EQ(dlg.ViewPointToImage({-3 * view.x / 320, 0}).x, -2);
    const CPoint last = dlg.ViewPointToImage({view.x - 1, view.y - 1});
    EXPECT_EQ(last, (CPoint{319, 239}));
}

TEST_F(FrameViewTest, BeforeAnyVideoThePictureFollowsTheLayoutAlone) {
    const DialogTemplate* tmpl = FindDialogTemplate(IDD_TAGWRIGHT_DIALOG);
    ASSERT_NE(tmpl, nullptr);
    ASSERT_EQ(tmpl->controls[0].id, IDC_PICTURE);
    for (CPoint size : {CPoint{1300, 900}, CPoint{1024, 760}, CPoint{1600, 1000}}) {
        wnd.Resize(size.x, size.y);
        EXPECT_EQ(PictureRect(), LayoutControlRect(*tmpl, tmpl->controls[0], size))
            << size.x << "x" << size.y;
    }
    EXPECT_EQ(dlg.GetViewSize(), (CPoint{0, 0}));
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).paintCount, 0);
}

TEST_F(FrameViewTest, OpeningFitsAndGrowingTheWindowGrowsThePictureAgain) {
    ASSERT_FALSE(MakeAndOpen().empty());
    const CPoint topLeft = PictureRect().TopLeft();
    // The default layout area is 1047 x 702: a 4:3 frame is height-limited.
    EXPECT_EQ(dlg.GetViewSize(), (CPoint{936, 702}));
    EXPECT_EQ(PictureRect().Width(), 936);

    wnd.Resize(1024, 760);  // layout area 869 x 681
    EXPECT_EQ(dlg.GetViewSize(), (CPoint{869, 651}));
    EXPECT_EQ(PictureRect().Width(), 869);
    EXPECT_EQ(PictureRect().Height(), 651);

    wnd.Resize(1500, 1000);  // layout area 1345 x 921
    EXPECT_EQ(dlg.GetViewSize(), (CPoint{1228, 921}));
    EXPECT_EQ(PictureRect().TopLeft(), topLeft);
    EXPECT_EQ(PictureRect().Width(), 1228);
    EXPECT_EQ(PictureRect().Height(), 921);
    // The resize repainted at the new size.
    EXPECT_EQ(Rendered().cols, 1228);
    EXPECT_EQ(Rendered().rows, 921);
    EXPECT_EQ(ShownFrameIndex(), 0);
}

TEST_F(FrameViewTest, OpeningAPortraitVideoAfterALandscapeOneUsesTheWholeLayoutArea) {
    SampleVideoOptions wide = SmallVideo();
    wide.width = 480;
    wide.height = 240;
    wide.frames = 2;
    ASSERT_FALSE(MakeAndOpen("wide.avi", wide).empty());
    EXPECT_EQ(dlg.GetViewSize(), (CPoint{1047, 523}));

    SampleVideoOptions tall = SmallVideo();
    tall.width = 240;
    tall.height = 480;
    tall.frames = 2;
    ASSERT_FALSE(MakeAndOpen("tall.avi", tall).empty());
    // Fitted in the 1047 x 702 layout area, not in the 1047 x 523 left by the first video.
    EXPECT_EQ(dlg.GetViewSize(), (CPoint{351, 702}));
}

TEST_F(FrameViewTest, RefreshDrawsTheFrameRegionsOnlyWithTheOverlay) {
    const std::filesystem::path video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 0,
                   {MakeRoi(0, 1, 0, {40, 60, 120, 140}), MakeRoi(0, 3, 0, {160, 80, 260, 180})});
    ASSERT_TRUE(OpenViaButton(video));

    const cv::Vec3b label1(255, 0, 0);
    const cv::Vec3b label3(0, 0, 255);
    EXPECT_EQ(PaintedAt(40, 100), label1);
    EXPECT_EQ(PaintedAt(80, 60), label1);
    EXPECT_EQ(PaintedAt(160, 130), label3);
    // The window shows the same pixels stretched.
    const CPoint client = FrameToClient({40, 100});
    const cv::Mat shown = Rendered();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.at<cv::Vec3b>(client.y - PictureRect().top, client.x - PictureRect().left),
              label1);

    // A second refresh without a reload draws the same regions at the same places.
    const cv::Mat first = wnd.Ctl(IDC_PICTURE).image.clone();
    ASSERT_TRUE(dlg.RefreshView(1));
    EXPECT_EQ(cv::norm(first, wnd.Ctl(IDC_PICTURE).image, cv::NORM_INF), 0.0);

    // Without the overlay, a reloaded frame is painted clean.
    ASSERT_TRUE(dlg.GetVideoManager()->ReloadCurrentFrame());
    ASSERT_TRUE(dlg.RefreshView(0));
    EXPECT_NE(PaintedAt(40, 100), label1);
    EXPECT_NE(PaintedAt(160, 130), label3);
    EXPECT_EQ(
        cv::norm(dlg.GetVideoManager()->CurrentFrame(), wnd.Ctl(IDC_PICTURE).image, cv::NORM_INF),
        0.0);

    // After an edit the reload removes what no longer exists.
    ASSERT_EQ(dlg.GetLabelManager()->DeleteROI(0, 3), 1);
    ASSERT_TRUE(dlg.GetVideoManager()->ReloadCurrentFrame());
    ASSERT_TRUE(dlg.RefreshView(1));
    EXPECT_EQ(PaintedAt(40, 100), label1);
    EXPECT_NE(PaintedAt(160, 130), label3);
}

TEST_F(FrameViewTest, CounterAndSliderFollowTheShownFrame) {
    const std::filesystem::path video = MakeAndOpen();
    ASSERT_FALSE(video.empty());
    for (int frame : {5, 19, 0, 7}) {
        ASSERT_TRUE(dlg.GetVideoManager()->SeekFrame(frame));
        ASSERT_TRUE(dlg.RefreshView(1));
        EXPECT_EQ(wnd.GetControlText(IDC_STATIC_FRAME), std::to_string(frame));
        EXPECT_EQ(wnd.GetSliderPos(IDC_SLIDER), frame);
        EXPECT_EQ(ShownFrameIndex(), frame);
    }
}

TEST_F(FrameViewTest, ResizeAfterReadingPastTheEndKeepsTheLastPicture) {
    ASSERT_FALSE(MakeAndOpen().empty());
    const int last = SmallVideo().frames - 1;
    ASSERT_TRUE(dlg.GetVideoManager()->SeekFrame(last));
    ASSERT_TRUE(dlg.RefreshView(1));
    EXPECT_FALSE(dlg.GetVideoManager()->ReadNextFrame());
    ASSERT_TRUE(dlg.GetVideoManager()->CurrentFrame().empty());
    const int paints = wnd.Ctl(IDC_PICTURE).paintCount;

    wnd.Resize(1300, 900);
    EXPECT_FALSE(dlg.RefreshView(1));
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).paintCount, paints);
    EXPECT_EQ(ShownFrameIndex(), last);
    EXPECT_EQ(wnd.GetControlText(IDC_STATIC_FRAME), std::to_string(last));
}

TEST_F(FrameViewTest, DragRectangleReplacesTheOverlayUntilTheNextRefreshWithIt) {
    const std::filesystem::path video = MakeVideo();
    ASSERT_FALSE(video.empty());
    WriteLabelFile(video, 0, {MakeRoi(0, 1, 0, {40, 60, 120, 140})});
    ASSERT_TRUE(OpenViaButton(video));
    const cv::Vec3b band(200, 10, 10);
    const cv::Vec3b label1(255, 0, 0);

    ASSERT_TRUE(dlg.DrawDragRectangle({150, 100, 250, 200}));
    ASSERT_TRUE(dlg.RefreshView(0));
    EXPECT_EQ(PaintedAt(150, 150), band);
    EXPECT_EQ(PaintedAt(200, 100), band);
    EXPECT_NE(PaintedAt(40, 100), label1);

    ASSERT_TRUE(dlg.DrawDragRectangle({160, 110, 250, 200}));
    ASSERT_TRUE(dlg.RefreshView(1));
    EXPECT_EQ(PaintedAt(160, 150), band);
    EXPECT_NE(PaintedAt(150, 150), band);  // the earlier band is gone
    EXPECT_EQ(PaintedAt(40, 100), label1);
}

TEST_F(FrameViewTest, OverlayAndDragNeedAVideoSource) {
    EXPECT_FALSE(dlg.DrawFrameOverlay());
    EXPECT_FALSE(dlg.DrawDragRectangle({0, 0, 10, 10}));
    EXPECT_FALSE(dlg.PaintFrame(cv::Mat(10, 10, CV_8UC3)));
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).paintCount, 0);
}

}  // namespace
