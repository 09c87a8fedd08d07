// Left-button editing on the in-memory window: drawing, moving, the rubber band, the cursor,
// the crop drag, and what reaches the per-frame files.

#include <gtest/gtest.h>

#include "InputTestSupport.h"

namespace {

// A ROI of label 1 well away from the stamped frame index in the top-left corner.
const CRect kRoiA{200, 150, 260, 200};
// A ROI of label 2 elsewhere on the same frame.
const CRect kRoiB{40, 160, 100, 220};

class MouseEditing : public DialogTest {
  protected:
    // Opens a small clip whose frame 0 holds the given ROIs.
    std::filesystem::path OpenWith(const std::vector<ROI>& frame0) {
        std::filesystem::path video = MakeVideo();
        if (video.empty()) {
            return {};
        }
        if (!frame0.empty()) {
            WriteLabelFile(video, 0, frame0);
        }
        return OpenViaButton(video) ? video : std::filesystem::path();
    }
    CLabelManager& Store() { return *dlg.GetLabelManager(); }
};

TEST_F(MouseEditing, DrawnRoiLandsInFrameFileWithConvertedCoordinates) {
    const auto video = OpenWith({});
    ASSERT_FALSE(video.empty());
    wnd.SetRadioIndex(IDC_RADIO_CLASS0, 2);  // "2 : Removed"

    const CPoint a = FrameToClient({40, 60});
    const CPoint b = FrameToClient({120, 140});
    wnd.LButtonDown(a);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_DRAW);
    wnd.MouseMove(b);
    wnd.LButtonUp(b);

    const CRect expected = DragToImage(*this, a, b);
    // The conversion lands within a pixel of where we aimed.
    EXPECT_NEAR(expected.left, 40, 1);
    EXPECT_NEAR(expected.top, 60, 1);
    EXPECT_NEAR(expected.right, 120, 1);
    EXPECT_NEAR(expected.bottom, 140, 1);
    EXPECT_EQ(ReadLabelFile(video, 0), LabelLine(expected, 1, 2));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_EQ(Store().GetSelLabel(), 1);
    EXPECT_EQ(Store().GetSelFrame(), 0);
    EXPECT_TRUE(wnd.IsControlEnabled(kMainGoButtonIds[0]));
    // The view shows the new ROI.
    EXPECT_EQ(PaintedPixel(*this, expected.left, (expected.top + expected.bottom) / 2),
              kLabel1Color);
}

TEST_F(MouseEditing, RubberBandShowsWithStoredRoisWhileDrawing) {
    const auto video = OpenWith({MakeRoi(0, 2, 0, kRoiB)});
    ASSERT_FALSE(video.empty());
    const CPoint a = FrameToClient({150, 60});
    wnd.LButtonDown(a);
    wnd.MouseMove(FrameToClient({230, 120}));
    const CRect band = DragToImage(*this, a, FrameToClient({230, 120}));
    EXPECT_EQ(PaintedPixel(*this, band.left, (band.top + band.bottom) / 2), kRubberBand);
    EXPECT_EQ(PaintedPixel(*this, kRoiB.left, (kRoiB.top + kRoiB.bottom) / 2), kLabel2Color);
}

TEST_F(MouseEditing, DragLeavingThePictureIsClippedAtItsRightAndBottomEdges) {
    const auto video = OpenWith({});
    ASSERT_FALSE(video.empty());
    const CRect pic = PictureRect();
    const int w = dlg.GetVideoManager()->GetWidth();
    const int h = dlg.GetVideoManager()->GetHeight();

    wnd.LButtonDown(FrameToClient({200, 150}));
    wnd.MouseMove({pic.right + 300, pic.bottom + 300});
    // The band's right and bottom edges sit on the frame's last column and row.
    EXPECT_EQ(PaintedPixel(*this, w - 1, 190), kRubberBand);
    EXPECT_EQ(PaintedPixel(*this, 230, h - 1), kRubberBand);

    // A release outside the picture ends the draw without adding anything.
    wnd.LButtonUp({pic.right + 300, pic.bottom + 300});
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_EQ(Store().GetCount(), 0);

    // The next press and a release on the picture's last pixel complete a ROI reaching the
    // frame's edges.
    const CPoint a = FrameToClient({200, 150});
    const CPoint last{pic.right - 1, pic.bottom - 1};
    wnd.LButtonDown(a);
    wnd.MouseMove(last);
    wnd.LButtonUp(last);
    const CRect expected = DragToImage(*this, a, last);
    EXPECT_GE(expected.right, w - 1);
    EXPECT_GE(expected.bottom, h - 1);
    EXPECT_EQ(ReadLabelFile(video, 0), LabelLine(expected, 1, 0));
}

// A press on empty area takes the active label's ROI out of the store; a draw that ends without
// adding anything puts it back, so store, view and file agree.
struct AbandonCase {
    const char* name;
    int dx;  // release point relative to the press, window pixels
    int dy;
};

class AbandonedDraw : public MouseEditing, public ::testing::WithParamInterface<AbandonCase> {};

TEST_P(AbandonedDraw, RestoresTheRemovedRoi) {
    const auto video = OpenWith({MakeRoi(0, 1, 1, kRoiA)});
    ASSERT_FALSE(video.empty());
    const std::string before = ReadLabelFile(video, 0);
    ASSERT_EQ(before, LabelLine(kRoiA, 1, 1));

    const CPoint a = FrameToClient({120, 120});
    wnd.LButtonDown(a);
    EXPECT_FALSE(HasRoi(*this, 1, 0)) << "the press takes the active label's ROI out";
    const CPoint b{a.x + GetParam().dx, a.y + GetParam().dy};
    wnd.MouseMove(b);
    wnd.LButtonUp(b);

    CRect rect;
    ASSERT_TRUE(HasRoi(*this, 1, 0, &rect));
    EXPECT_EQ(rect, kRoiA);
    EXPECT_EQ(Store().GetCount(), 1);
    EXPECT_EQ(Store().GetFrameCount(0), 1);
    EXPECT_EQ(ReadLabelFile(video, 0), before);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_EQ(PaintedPixel(*this, kRoiA.left, (kRoiA.top + kRoiA.bottom) / 2), kLabel1Color);
}

INSTANTIATE_TEST_SUITE_P(
    MouseEditing, AbandonedDraw,
    ::testing::Values(AbandonCase{"Click", 0, 0}, AbandonCase{"OnePixel", 1, 1},
                      AbandonCase{"TwoWideOneHigh", 2, 1}, AbandonCase{"UpAndLeft", -60, -60},
                      AbandonCase{"Left", -60, 40}, AbandonCase{"Up", 60, -40}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MouseEditing, TwoByTwoWindowPixelsIsEnoughForARoi) {
    const auto video = OpenWith({});
    ASSERT_FALSE(video.empty());
    const CPoint a = FrameToClient({120, 120});
    DragClient(*this, a, {a.x + 2, a.y + 2});
    EXPECT_EQ(Store().GetCount(), 1);
    EXPECT_TRUE(HasRoi(*this, 1, 0));
}

TEST_F(MouseEditing, SecondDrawOfTheSameLabelReplacesTheFirst) {
    const auto video = OpenWith({MakeRoi(0, 1, 0, kRoiA)});
    ASSERT_FALSE(video.empty());
    const CPoint a1 = FrameToClient({40, 60});
    const CPoint b1 = FrameToClient({100, 110});
    DragClient(*this, a1, b1);
    const CPoint a2 = FrameToClient({130, 50});
    const CPoint b2 = FrameToClient({180, 90});
    DragClient(*this, a2, b2);

    const CRect second = DragToImage(*this, a2, b2);
    EXPECT_EQ(ReadLabelFile(video, 0), LabelLine(second, 1, 0));
    EXPECT_EQ(Store().GetCount(), 1);
    EXPECT_EQ(Store().GetFrameCount(0), 1);
}

TEST_F(MouseEditing, DrawWithAnotherActiveLabelKeepsLabelOnesRoi) {
    const auto video = OpenWith({MakeRoi(0, 1, 0, kRoiA)});
    ASSERT_FALSE(video.empty());
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[1]));  // "Label 02"
    ASSERT_EQ(Store().GetCurLabel(), 2);
    DragFrame(*this, {40, 60}, {100, 110});
    EXPECT_TRUE(HasRoi(*this, 1, 0));
    EXPECT_TRUE(HasRoi(*this, 2, 0));
    EXPECT_EQ(Store().GetFrameCount(0), 2);
}

struct MoveCase {
    const char* name;
    CPoint to;               // where the grab point is released, frame pixels
    CPoint resize = {0, 0};  // a window size the drag passes through (none when 0)
};

class MoveRoi : public MouseEditing, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(MoveRoi, RewritesItsFrameFile) {
    // The five-column form is rewritten in six columns, so any rewrite shows in the bytes.
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    std::filesystem::create_directories(LabelFolder(video));
    WriteFileBytes(LabelFolder(video) / "0.txt", "200,150,260,200,1\r\n");
    ASSERT_TRUE(OpenViaButton(video));
    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[2]));  // active label 3

    const CPoint a = FrameToClient({220, 170});
    wnd.LButtonDown(a);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE | MODE_GRAB);
    EXPECT_EQ(Store().GetSelLabel(), 1);
    EXPECT_EQ(Store().GetCurLabel(), 1) << "grabbing a ROI makes its label the active one";
    if (GetParam().resize.x > 0) {
        wnd.Resize(GetParam().resize.x, GetParam().resize.y);
    }
    const CPoint b = FrameToClient(GetParam().to);
    wnd.MouseMove(b);
    wnd.LButtonUp(b);

    // The pointer's travel over the frame, whatever the picture's scale was at either end.
    const CPoint d = GetParam().to - CPoint{220, 170};
    ASSERT_NE(d, (CPoint{0, 0}));
    const CRect moved = kRoiA.Offset(d.x, d.y);
    EXPECT_EQ(ReadLabelFile(video, 0), LabelLine(moved, 1, 0));
    CRect stored;
    ASSERT_TRUE(HasRoi(*this, 1, 0, &stored));
    EXPECT_EQ(stored, moved);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
}

INSTANTIATE_TEST_SUITE_P(
    MouseEditing, MoveRoi,
    ::testing::Values(MoveCase{"Diagonal", {250, 190}}, MoveCase{"Horizontal", {190, 170}},
                      MoveCase{"Vertical", {220, 120}},
                      MoveCase{"AcrossAShrinkingResize", {250, 190}, {1024, 760}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MouseEditing, ClickOnRoiWithoutMovementWritesNothingButSelectsAndTracks) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    std::filesystem::create_directories(LabelFolder(video));
    WriteFileBytes(LabelFolder(video) / "0.txt", "200,150,260,200,1\r\n");
    ASSERT_TRUE(OpenViaButton(video));
    auto tracker = InstallScriptedTracker(*this);

    const CPoint a = FrameToClient({220, 170});
    wnd.LButtonDown(a);
    wnd.LButtonUp(a);

    EXPECT_EQ(ReadLabelFile(video, 0), "200,150,260,200,1\r\n");
    EXPECT_EQ(Store().GetSelLabel(), 1);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    ASSERT_EQ(tracker->inits.size(), 1u);
    EXPECT_EQ(tracker->inits[0], cv::Rect(200, 150, 60, 50));
}

TEST_F(MouseEditing, WhileDraggingOnlyTheDraggedRectangleIsShown) {
    const auto video = OpenWith({MakeRoi(0, 1, 0, kRoiA), MakeRoi(0, 2, 0, kRoiB)});
    ASSERT_FALSE(video.empty());
    const int midB = (kRoiB.top + kRoiB.bottom) / 2;
    ASSERT_EQ(PaintedPixel(*this, kRoiB.left, midB), kLabel2Color);

    const CPoint a = FrameToClient({220, 170});
    wnd.LButtonDown(a);
    const CPoint b = FrameToClient({240, 180});
    wnd.MouseMove(b);
    const CPoint d = dlg.ViewPointToImage(b - a);
    const CRect band = kRoiA.Offset(d.x, d.y);
    EXPECT_EQ(PaintedPixel(*this, band.left, (band.top + band.bottom) / 2), kRubberBand);
    EXPECT_NE(PaintedPixel(*this, kRoiB.left, midB), kLabel2Color);

    wnd.LButtonUp(b);
    EXPECT_EQ(PaintedPixel(*this, kRoiB.left, midB), kLabel2Color);
    EXPECT_EQ(PaintedPixel(*this, band.left, (band.top + band.bottom) / 2), kLabel1Color);
}

TEST_F(MouseEditing, HandCursorOverRoiOnlyWhileIdle) {
    const auto video = OpenWith({MakeRoi(0, 1, 0, kRoiA)});
    ASSERT_FALSE(video.empty());
    const CPoint overRoi = FrameToClient({230, 175});
    const CPoint empty = FrameToClient({60, 60});

    wnd.MouseMove(overRoi);
    EXPECT_EQ(wnd.CursorShown(), CursorShape::Hand);
    wnd.MouseMove(empty);
    EXPECT_EQ(wnd.CursorShown(), CursorShape::Arrow);
    // The hit test runs for any point of the window, the right/bottom edges being outside.
    wnd.MouseMove(FrameToClient({kRoiA.right, 175}));
    EXPECT_EQ(wnd.CursorShown(), CursorShape::Arrow);

    // Drawing is not idle: passing over a ROI leaves the cursor alone.
    wnd.LButtonDown(FrameToClient({60, 100}));
    wnd.MouseMove(overRoi);
    EXPECT_EQ(wnd.CursorShown(), CursorShape::Arrow);
}

TEST_F(MouseEditing, NothingHappensWithoutAVideo) {
    const CRect pic = PictureRect();
    const CPoint p{pic.left + 50, pic.top + 50};
    wnd.LButtonDown(p);
    wnd.MouseMove({p.x + 40, p.y + 40});
    wnd.LButtonUp({p.x + 40, p.y + 40});
    EXPECT_EQ(dlg.GetModeFlags(), MODE_IDLE);
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).paintCount, 0);
}

TEST_F(MouseEditing, HeldButtonWithoutAGrabShowsTheSelectedRoiDisplacedAndCommitsNothing) {
    const auto video = OpenWith({MakeRoi(0, 1, 0, kRoiA), MakeRoi(0, 2, 0, kRoiB)});
    ASSERT_FALSE(video.empty());
    const std::string before = ReadLabelFile(video, 0);
    // A click on the ROI selects it; its release puts the anchor back at 0, 0.
    const CPoint onA = FrameToClient({220, 170});
    wnd.LButtonDown(onA);
    wnd.LButtonUp(onA);
    ASSERT_EQ(Store().GetSelLabel(), 1);
    ASSERT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);

    // A press beside the picture starts nothing; moving with the button held over the picture
    // shows the selected ROI moved by the cursor's distance from that anchor, alone.
    const CRect pic = PictureRect();
    wnd.LButtonDown({pic.left - 3, pic.top + 5});
    ASSERT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    const CPoint p{pic.left + 9, pic.top + 8};
    wnd.MouseMove(p);
    const CPoint d = dlg.ViewPointToImage(p);
    ASSERT_NE(d, (CPoint{0, 0}));
    const CRect band = kRoiA.Offset(d.x, d.y);
    ASSERT_LT(band.right, dlg.GetVideoManager()->GetWidth());
    ASSERT_LT(band.bottom, dlg.GetVideoManager()->GetHeight());
    EXPECT_EQ(PaintedPixel(*this, band.left, (band.top + band.bottom) / 2), kRubberBand);
    EXPECT_NE(PaintedPixel(*this, kRoiA.left, (kRoiA.top + kRoiA.bottom) / 2), kLabel1Color);
    EXPECT_NE(PaintedPixel(*this, kRoiB.left, (kRoiB.top + kRoiB.bottom) / 2), kLabel2Color);

    // The release inside the picture commits nothing and shows every ROI where it was.
    wnd.LButtonUp(p);
    CRect rect;
    ASSERT_TRUE(HasRoi(*this, 1, 0, &rect));
    EXPECT_EQ(rect, kRoiA);
    EXPECT_EQ(ReadLabelFile(video, 0), before);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_EQ(PaintedPixel(*this, kRoiA.left, (kRoiA.top + kRoiA.bottom) / 2), kLabel1Color);
    EXPECT_EQ(PaintedPixel(*this, kRoiB.left, (kRoiB.top + kRoiB.bottom) / 2), kLabel2Color);
    EXPECT_NE(PaintedPixel(*this, band.left, (band.top + band.bottom) / 2), kRubberBand);
}

struct SizeCase {
    const char* name;
    int width;  // frame pixels wanted
    int height;
    bool tracked;
};

class SmallRoi : public MouseEditing, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(SmallRoi, IsStoredButStartsTheTrackerOnlyFromTenByTen) {
    const auto video = OpenWith({});
    ASSERT_FALSE(video.empty());
    auto tracker = InstallScriptedTracker(*this);

    // Find window drags that convert to exactly the wanted size.
    auto windowExtent = [&](int want, bool xAxis) {
        for (int v = 2; v < 1000; ++v) {
            const CRect r = dlg.ViewRectToImage({0, 0, xAxis ? v : 100, xAxis ? 100 : v});
            if ((xAxis ? r.Width() : r.Height()) == want) {
                return v;
            }
        }
        return -1;
    };
    const int ww = windowExtent(GetParam().width, true);
    const int wh = windowExtent(GetParam().height, false);
    ASSERT_GT(ww, 1);
    ASSERT_GT(wh, 1);
    const CPoint a = FrameToClient({150, 100});
    const CPoint b{a.x + ww, a.y + wh};
    DragClient(*this, a, b);

    const CRect stored = DragToImage(*this, a, b);
    ASSERT_EQ(stored.Width(), GetParam().width);
    ASSERT_EQ(stored.Height(), GetParam().height);
    EXPECT_EQ(ReadLabelFile(video, 0), LabelLine(stored, 1, 0));
    if (GetParam().tracked) {
        ASSERT_EQ(tracker->inits.size(), 1u);
        EXPECT_EQ(tracker->inits[0],
                  cv::Rect(stored.left, stored.top, stored.Width(), stored.Height()));
    } else {
        EXPECT_TRUE(tracker->inits.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(MouseEditing, SmallRoi,
                         ::testing::Values(SizeCase{"NineByFifty", 9, 50, false},
                                           SizeCase{"FiftyByNine", 50, 9, false},
                                           SizeCase{"TenByTen", 10, 10, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MouseEditing, CropDragWritesCropFileAndReturnsToIdle) {
    const auto video = OpenWith({MakeRoi(0, 1, 0, kRoiA)});
    ASSERT_FALSE(video.empty());
    ASSERT_TRUE(wnd.Click(IDC_BTN_CROP));
    ASSERT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_CROP);

    // The press may lie outside the picture; the rectangle is written as measured.
    const CRect pic = PictureRect();
    const CPoint a{pic.left + 30, pic.top + 40};
    const CPoint b = FrameToClient({150, 120});
    wnd.LButtonDown(a);
    wnd.MouseMove(b);
    EXPECT_EQ(Store().GetCount(), 1) << "a crop drag does not touch the ROIs";
    wnd.LButtonUp(b);

    const CRect crop = DragToImage(*this, a, b);
    char expected[64];
    std::snprintf(expected, sizeof expected, "%d,%d,%d,%d", crop.left, crop.top, crop.right,
                  crop.bottom);
    const std::string bytes = ReadFileBytes(LabelFolder(video) / "crop.txt");
    EXPECT_EQ(bytes.substr(0, std::string(expected).size()), expected);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_TRUE(HasRoi(*this, 1, 0));
    EXPECT_EQ(ReadLabelFile(video, 0), LabelLine(kRoiA, 1, 0));
}

TEST_F(MouseEditing, DrawGoesToTheFrameShownAtTheRelease) {
    const auto video = OpenWith({});
    ASSERT_FALSE(video.empty());
    const CPoint a = FrameToClient({40, 60});
    const CPoint b = FrameToClient({100, 120});
    wnd.LButtonDown(a);
    ASSERT_TRUE(wnd.KeyDown(VK_RIGHT));  // the video moves on during the drag
    wnd.MouseMove(b);
    wnd.LButtonUp(b);
    EXPECT_EQ(ReadLabelFile(video, 0), "");
    EXPECT_EQ(ReadLabelFile(video, 1), LabelLine(DragToImage(*this, a, b), 1, 0));
}

TEST_F(MouseEditing, DrawOnAnotherFrameThanThePressLosesNothing) {
    // The press on frame 0 takes label 1's ROI out; the ROI drawn lands on frame 1, so frame 0's
    // ROI was replaced by nothing and must come back.
    const auto video = OpenWith({MakeRoi(0, 1, 0, kRoiA)});
    ASSERT_FALSE(video.empty());
    const CPoint a = FrameToClient({40, 60});
    const CPoint b = FrameToClient({100, 120});
    wnd.LButtonDown(a);
    ASSERT_TRUE(wnd.KeyDown(VK_RIGHT));
    wnd.MouseMove(b);
    wnd.LButtonUp(b);
    CRect rect;
    ASSERT_TRUE(HasRoi(*this, 1, 0, &rect));
    EXPECT_EQ(rect, kRoiA);
    EXPECT_TRUE(HasRoi(*this, 1, 1));
    EXPECT_EQ(ReadLabelFile(video, 0), LabelLine(kRoiA, 1, 0));
    EXPECT_EQ(Store().GetFrameCount(0), 1);
}

// Edits stay on the frame the operator sees, whatever else arrives during a drag.
TEST_F(MouseEditing, MoveEndsUnmovedWhenTheFrameChangedUnderIt) {
    const auto video = OpenWith({MakeRoi(0, 1, 0, kRoiA)});
    ASSERT_FALSE(video.empty());
    const std::string before = ReadLabelFile(video, 0);
    wnd.LButtonDown(FrameToClient({220, 170}));
    ASSERT_TRUE(wnd.KeyDown(VK_RIGHT));
    const CPoint b = FrameToClient({120, 100});
    wnd.MouseMove(b);
    wnd.LButtonUp(b);
    CRect rect;
    ASSERT_TRUE(HasRoi(*this, 1, 0, &rect));
    EXPECT_EQ(rect, kRoiA);
    EXPECT_EQ(ReadLabelFile(video, 0), before);
}

TEST_F(MouseEditing, DeleteKeyDuringADrawKeepsTheRoiThePressHeldOut) {
    const auto video = OpenWith({MakeRoi(0, 1, 0, kRoiA), MakeRoi(0, 2, 0, kRoiB)});
    ASSERT_FALSE(video.empty());
    wnd.LButtonDown(FrameToClient({150, 60}));  // takes label 1's ROI out for the draw
    wnd.MouseMove(FrameToClient({70, 190}));    // over label 2's ROI
    ASSERT_TRUE(wnd.KeyDown(0x44));             // D
    EXPECT_EQ(ReadLabelFile(video, 0), LabelLine(kRoiA, 1, 0));
    EXPECT_TRUE(HasRoi(*this, 1, 0));
    EXPECT_FALSE(HasRoi(*this, 2, 0));
}

// A gesture of the left button ends with its release wherever that happens, or with a second
// button; left pending, a later, unrelated release would finish it from an anchor that no longer
// exists.
struct OutsideReleaseCase {
    const char* name;
    bool pressOnRoi;  // a grab, else a draw on empty area
    // How the gesture ends, then what follows (client pixels of the picture given).
    void (*end)(DialogHarness& h, const CRect& pic);
    void (*then)(DialogHarness& h, const CRect& pic);
};

void PrintTo(const OutsideReleaseCase& c, std::ostream* os) {
    *os << c.name;
}

void ReleaseOutsideThePicture(DialogHarness& h, const CRect& pic) {
    h.wnd.LButtonUp({pic.right + 20, pic.top + 40});
}

void PressOutsideReleaseInside(DialogHarness& h, const CRect& pic) {
    h.wnd.LButtonDown({pic.right + 20, pic.top + 40});
    h.wnd.LButtonUp({pic.left + 300, pic.top + 200});
}

class ReleaseOutside : public MouseEditing,
                       public ::testing::WithParamInterface<OutsideReleaseCase> {};

TEST_P(ReleaseOutside, EndsTheGestureAndLaterInputMovesNoRoi) {
    const auto video = OpenWith({MakeRoi(0, 1, 0, kRoiA), MakeRoi(0, 2, 0, kRoiB)});
    ASSERT_FALSE(video.empty());
    const std::string before = ReadLabelFile(video, 0);
    const CRect pic = PictureRect();
    const CPoint a = FrameToClient(GetParam().pressOnRoi ? CPoint{220, 170} : CPoint{40, 60});
    wnd.LButtonDown(a);
    wnd.MouseMove({a.x + 30, a.y + 20});
    GetParam().end(*this, pic);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);

    GetParam().then(*this, pic);
    CRect rect;
    ASSERT_TRUE(HasRoi(*this, 1, 0, &rect));
    EXPECT_EQ(rect, kRoiA);
    EXPECT_EQ(ReadLabelFile(video, 0), before);
    EXPECT_EQ(Store().GetFrameCount(0), 2);
}

INSTANTIATE_TEST_SUITE_P(
    MouseEditing, ReleaseOutside,
    ::testing::Values(OutsideReleaseCase{"GrabThenCopyKey", true, ReleaseOutsideThePicture,
                                         [](DialogHarness& h, const CRect& pic) {
                                             h.wnd.SetCursorPos({pic.left + 300, pic.top + 200});
                                             h.wnd.KeyDown(0x43);  // C
                                         }},
                      OutsideReleaseCase{"GrabThenPressOutsideReleaseInside", true,
                                         ReleaseOutsideThePicture, PressOutsideReleaseInside},
                      OutsideReleaseCase{"DrawThenPressOutsideReleaseInside", false,
                                         ReleaseOutsideThePicture, PressOutsideReleaseInside},
                      // The right press over another ROI neither takes the drag over to that
                      // ROI nor opens the menu on its release, which comes last.
                      OutsideReleaseCase{"GrabThenSecondButtonOverAnotherRoi", true,
                                         [](DialogHarness& h, const CRect&) {
                                             h.wnd.RButtonDown(h.FrameToClient({70, 190}));
                                         },
                                         [](DialogHarness& h, const CRect&) {
                                             h.wnd.LButtonUp(h.FrameToClient({120, 100}));
                                             h.dlg.OnContextMenu({500, 400});
                                             EXPECT_TRUE(h.wnd.MenuCalls().empty());
                                         }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
