// The CROP button's mode change and the report dialog: prefill, OK and Cancel.

#include <gtest/gtest.h>

#include <string>

#include "dialogs/DlgReport.h"
#include "labels/LabelManager.h"
#include "support/DialogHarness.h"

namespace {

class ReportDialogTest : public DialogTest {
  protected:
    // A clip with three records of two labels.
    void OpenLabelled() {
        video = MakeVideo("report.avi");
        ASSERT_FALSE(video.empty());
        WriteLabelFile(
            video, 2, {MakeRoi(2, 1, 0, {40, 60, 80, 100}), MakeRoi(2, 4, 1, {120, 60, 160, 100})});
        WriteLabelFile(video, 9, {MakeRoi(9, 4, 1, {120, 60, 160, 100})});
        ASSERT_TRUE(OpenViaButton(video));
    }

    std::filesystem::path ReportFile() const { return video.parent_path() / "labeling_report.txt"; }

    // UTF-16LE bytes of an ASCII text.
    static std::string Utf16(const std::string& ascii) {
        std::string out;
        for (char c : ascii) {
            out += c;
            out += '\0';
        }
        return out;
    }

    std::filesystem::path video;
};

TEST_F(ReportDialogTest, ReportBeforeAnyVideoShowsNothing) {
    ASSERT_TRUE(wnd.Click(IDC_BTN_REPORT));
    EXPECT_FALSE(ReportWindow()->IsWindowVisible());
    EXPECT_EQ(ReportWindow()->GetControlText(IDC_EDIT_COMMENT), "");
}

TEST_F(ReportDialogTest, ReportPrefillsFrameAndRecordCounts) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    ASSERT_TRUE(wnd.Click(IDC_BTN_REPORT));
    EXPECT_TRUE(ReportWindow()->IsWindowVisible());
    // Records, not distinct labels: three regions of two labels.
    EXPECT_EQ(ReportWindow()->GetControlText(IDC_EDIT_COMMENT), "20 frames, 3 labels, ");

    // Each click refills the edit.
    ReportWindow()->SetControlText(IDC_EDIT_COMMENT, "typed");
    ASSERT_TRUE(wnd.Click(IDC_BTN_REPORT));
    EXPECT_EQ(ReportWindow()->GetControlText(IDC_EDIT_COMMENT), "20 frames, 3 labels, ");
}

TEST_F(ReportDialogTest, OkWritesTheReportUnderTheWaitCursorAndClears) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    ASSERT_TRUE(wnd.Click(IDC_BTN_REPORT));
    ReportWindow()->SetControlText(IDC_EDIT_COMMENT, "20 frames, 3 labels, ok");

    ASSERT_TRUE(ReportWindow()->Click(IDOK));

    EXPECT_FALSE(ReportWindow()->IsWindowVisible());
    EXPECT_EQ(ReportWindow()->GetControlText(IDC_EDIT_COMMENT), "");
    EXPECT_EQ(app.WaitCursorUses(), 1);
    EXPECT_EQ(app.WaitDepth(), 0);
    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(app.Boxes()[0].text, "레포트 생성 완료. ..//labeling_report.txt");
    EXPECT_EQ(app.Boxes()[0].type, MessageBoxType::Ok);

    // The report sits beside the label folder; its first row carries the comment.
    const std::string bytes = ReadFileBytes(ReportFile());
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.rfind(Utf16("ID \t Polyp \t ImageNo \t Range\t Class\t Comment\n"), 0), 0u);
    EXPECT_NE(bytes.find(Utf16(" \t 20 frames, 3 labels, ok\n")), std::string::npos);
    EXPECT_NE(bytes.find(Utf16(" \t 4 \t 2 \t 2~9 \t 1 \t ")), std::string::npos);
}

TEST_F(ReportDialogTest, CancelHidesAndWritesNothing) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    ASSERT_TRUE(wnd.Click(IDC_BTN_REPORT));
    ASSERT_TRUE(ReportWindow()->Click(IDCANCEL));
    EXPECT_FALSE(ReportWindow()->IsWindowVisible());
    EXPECT_FALSE(std::filesystem::exists(ReportFile()));
    EXPECT_TRUE(app.Boxes().empty());
    EXPECT_EQ(app.WaitCursorUses(), 0);
}

TEST_F(ReportDialogTest, ReportThatCannotBeWrittenClosesWithoutAMessage) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    // A folder where the report file should be makes it impossible to open.
    std::filesystem::create_directory(ReportFile());
    ASSERT_TRUE(wnd.Click(IDC_BTN_REPORT));
    ASSERT_TRUE(ReportWindow()->Click(IDOK));
    EXPECT_FALSE(ReportWindow()->IsWindowVisible());
    EXPECT_EQ(ReportWindow()->GetControlText(IDC_EDIT_COMMENT), "");
    EXPECT_TRUE(app.Boxes().empty());
    EXPECT_EQ(app.WaitDepth(), 0);
}

TEST_F(ReportDialogTest, OkAfterTheVideoWentAwayWritesNothing) {
    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    ASSERT_TRUE(wnd.Click(IDC_BTN_REPORT));
    const std::filesystem::path broken = tmp / "broken.mp4";
    WriteFileBytes(broken, "no video");
    EXPECT_FALSE(OpenViaButton(broken));
    app.ClearBoxes();

    ASSERT_TRUE(ReportWindow()->Click(IDOK));
    EXPECT_FALSE(std::filesystem::exists(ReportFile()));
    EXPECT_TRUE(app.Boxes().empty());
}

TEST_F(ReportDialogTest, CropStartsOnlyFromVideoOpenAndIdle) {
    // Before a video the button does nothing.
    ASSERT_TRUE(wnd.Click(IDC_BTN_CROP));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_IDLE);

    ASSERT_NO_FATAL_FAILURE(OpenLabelled());
    ASSERT_TRUE(wnd.Click(IDC_BTN_CROP));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_CROP);
    // Pressing it again during crop mode changes nothing.
    ASSERT_TRUE(wnd.Click(IDC_BTN_CROP));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_CROP);

    // While playing, crop mode starts too and playback goes on.
    ASSERT_TRUE(OpenViaButton(video));
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    ASSERT_TRUE(wnd.Click(IDC_BTN_CROP));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_PLAYING | MODE_CROP);
    EXPECT_TRUE(wnd.TimerRunning(PLAY_TIMER_ID));
    EXPECT_FALSE(std::filesystem::exists(LabelFolder(video) / "crop.txt"));
}

TEST_F(ReportDialogTest, CropDragWritesTheWorkedExampleInFramePixels) {
    // A 1920 x 1080 video in a 1000 x 562 picture: the drag from (100, 50) to (300, 250) in
    // picture pixels is 192,96,576,480 in frame pixels.
    SampleVideoOptions o = SmallVideo();
    o.width = 1920;
    o.height = 1080;
    o.frames = 2;
    video = MakeAndOpen("fullhd.avi", o);
    ASSERT_FALSE(video.empty());
    wnd.ResizeControl(IDC_PICTURE, 1000, 700);
    ASSERT_TRUE(dlg.FitPictureToFrame());
    ASSERT_EQ(dlg.GetViewSize(), (CPoint{1000, 562}));
    const CPoint origin = PictureRect().TopLeft();
    const auto at = [&](int x, int y) { return CPoint{origin.x + x, origin.y + y}; };
    const std::filesystem::path crop = LabelFolder(video) / "crop.txt";

    // A release outside the picture writes nothing and crop mode goes on.
    ASSERT_TRUE(wnd.Click(IDC_BTN_CROP));
    wnd.LButtonDown(at(100, 50));
    wnd.MouseMove(at(300, 250));
    wnd.LButtonUp(at(1200, 250));
    EXPECT_FALSE(std::filesystem::exists(crop));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_CROP);
    EXPECT_TRUE(app.Boxes().empty());

    wnd.LButtonDown(at(100, 50));
    wnd.MouseMove(at(300, 250));
    wnd.LButtonUp(at(300, 250));
    EXPECT_EQ(ReadFileBytes(crop), "192,96,576,480\r\n");
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(app.Boxes()[0].text, "crop 파일 생성 완료");
    EXPECT_EQ(app.Boxes()[0].type, MessageBoxType::Ok);

    // Dragged up and to the left: kept as dragged, each size truncated toward zero on its own.
    ASSERT_TRUE(wnd.Click(IDC_BTN_CROP));
    wnd.LButtonDown(at(300, 250));
    wnd.MouseMove(at(100, 50));
    wnd.LButtonUp(at(100, 50));
    EXPECT_EQ(ReadFileBytes(crop), "576,480,192,96\r\n");
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    // No region was added by either drag.
    EXPECT_EQ(dlg.GetLabelManager()->GetCount(), 0);
}

}  // namespace
