// The help and More Label windows: shown by their buttons, hidden (never destroyed) by OK, the
// close box and Escape.

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>

#include "dialogs/DlgHelp.h"
#include "dialogs/DlgMoreLabel.h"
#include "labels/LabelManager.h"
#include "res/Templates.h"
#include "support/DialogHarness.h"

namespace {

class SideDialogsTest : public DialogTest {};

TEST_F(SideDialogsTest, HelpShowsTheKeyReferenceInItsFont) {
    FakeWindow* help = HelpWindow();
    ASSERT_NE(help, nullptr);
    // The text is in place from the start, before the window is ever shown.
    EXPECT_EQ(help->GetControlText(IDC_EDIT_HELP), HelpText());
    ASSERT_TRUE(help->Ctl(IDC_EDIT_HELP).font.has_value());
    EXPECT_EQ(help->Ctl(IDC_EDIT_HELP).font->face, "Tahoma");
    EXPECT_EQ(help->Ctl(IDC_EDIT_HELP).font->heightPx, 19);
    EXPECT_EQ(help->Ctl(IDC_EDIT_HELP).font->weight, 500);
    const std::string& text = help->GetControlText(IDC_EDIT_HELP);
    EXPECT_EQ(text.rfind("- 재생 관련 - \r\n", 0), 0u);
    EXPECT_NE(text.back(), '\n');
}

TEST_F(SideDialogsTest, HelpTextIsTheKeyReferenceLineForLine) {
    // Written out here rather than taken from the program, so that an edit to the reference
    // shows up. Blanks at line ends are part of the text.
    const char* const lines[] = {
        "- 재생 관련 - ",
        "SpaceBar : 동영상 재생. Toggle ",
        "Left key : 동영상 이전 프레임 이동",
        "Right key : 동영상 다음 프레임 이동",
        "'n'/'N' : (N)ext labeled frame. Label이 포함된 다음 Frame을 검색해서 이동. ",
        "'b'/'B' : (B)ackward to Prev labeled frame. Label이 포함된 이전 Frame을 검색해서 이동. ",
        "",
        "",
        "- 편집 관련 - ",
        "'c', 'C' : (C)opy & paste Labels. 현재 frame의 roi 항목을 모두 다음 frame으로 복사.",
        "'d', 'D', 'Delete' : (D)elete selected Roi. 선택된 ROI 항목 삭제",
        "'e', 'E': 현재 프레임의 모든 ROI항목 삭제",
        "'i', 'I' : (I)n-between fill. 현재 frame의 ROI와 같은 Label의 이전 ROI 사이 frame을 "
        "모두 채움",
        "",
        "- etc - ",
        "'t', 'T': (T)racking ROI",
        "'l', 'L' : Next (L)abel 활성화",
        "'k', 'K': Skip label 지정'm', 'M': More dialog 오픈esc : 프로그램 종료",
    };
    std::string expected;
    for (std::size_t i = 0; i < std::size(lines); ++i) {
        expected += i == 0 ? "" : "\r\n";
        expected += lines[i];
    }
    ASSERT_NE(HelpWindow(), nullptr);
    EXPECT_EQ(HelpWindow()->GetControlText(IDC_EDIT_HELP), expected);
}

TEST_F(SideDialogsTest, HelpIsShownOnceHiddenAndShownAgainUnchanged) {
    FakeWindow* help = HelpWindow();
    ASSERT_NE(help, nullptr);
    CDlgHelp* dialog = dlg.GetHelpDialog();

    ASSERT_TRUE(wnd.Click(IDC_BTN_HELP));
    ASSERT_TRUE(wnd.Click(IDC_BTN_HELP));
    EXPECT_TRUE(help->IsWindowVisible());
    EXPECT_EQ(app.Window(IDD_DLG_HELP), help);  // still the one window

    // OK is a button of the window; the close box and Escape arrive as Cancel.
    const std::function<void()> closers[] = {
        [&] { ASSERT_TRUE(help->Click(IDOK)); },
        [&] { dialog->OnCommand(IDCANCEL); },
    };
    for (const auto& close : closers) {
        close();
        EXPECT_FALSE(help->IsWindowVisible());
        EXPECT_EQ(dlg.GetHelpDialog(), dialog);
        ASSERT_TRUE(wnd.Click(IDC_BTN_HELP));
        EXPECT_TRUE(help->IsWindowVisible());
        EXPECT_EQ(help->GetControlText(IDC_EDIT_HELP), HelpText());
        EXPECT_EQ(help->Ctl(IDC_EDIT_HELP).font->heightPx, 19);
    }
    EXPECT_FALSE(wnd.EndResult().has_value());
}

TEST_F(SideDialogsTest, MoreLabelHidesOnCloseAndKeepsItsState) {
    FakeWindow* more = MoreWindow();
    ASSERT_NE(more, nullptr);
    CDlgMoreLabel* dialog = dlg.GetMoreLabelDialog();
    ASSERT_TRUE(wnd.Click(IDC_BTN_MORE));
    ASSERT_TRUE(wnd.Click(IDC_BTN_MORE));
    EXPECT_TRUE(more->IsWindowVisible());

    ASSERT_TRUE(more->Click(kMoreLabelButtonIds[16]));  // label 17
    dlg.SetGoButtonEnabled(17, true);
    for (int closing : {IDCANCEL, IDOK}) {
        dialog->OnCommand(closing);
        EXPECT_FALSE(more->IsWindowVisible()) << closing;
        EXPECT_EQ(dlg.GetMoreLabelDialog(), dialog);
        // The main dialog is untouched by the side window's close.
        EXPECT_FALSE(wnd.EndResult().has_value());
        ASSERT_TRUE(wnd.Click(IDC_BTN_MORE));
        EXPECT_EQ(more->Ctl(kMoreLabelButtonIds[16]).captionColor, kRed);
        EXPECT_TRUE(more->IsControlEnabled(kMoreGoButtonIds[16]));
    }
}

TEST_F(SideDialogsTest, MoreLabelButtonsUseTheirOwnIdTable) {
    FakeWindow* more = MoreWindow();
    ASSERT_NE(more, nullptr);
    // Several More Label ids are also main-window ids: 1041 is "Label 01" here and Report there.
    ASSERT_EQ(kMoreLabelButtonIds[0], IDC_BTN_REPORT);
    ASSERT_TRUE(more->Click(1041));
    EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), 1);
    EXPECT_FALSE(ReportWindow()->IsWindowVisible());
    ASSERT_TRUE(more->Click(1046));  // "Label 19" here, SKIP in the main window
    EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), 19);
    ASSERT_TRUE(more->Click(1076));  // "SKIP (30)"
    EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), 30);
    EXPECT_FALSE(wnd.IsControlEnabled(IDC_RADIO_CLASS0));

    // Its GO buttons start disabled and a GO command without a video does nothing.
    for (int id : kMoreGoButtonIds) {
        EXPECT_FALSE(more->IsControlEnabled(id)) << id;
    }
    dlg.GetMoreLabelDialog()->OnCommand(kMoreGoButtonIds[0]);
    EXPECT_TRUE(app.Boxes().empty());
}

TEST_F(SideDialogsTest, SideDialogsWithoutAMainDialogStayQuiet) {
    app.SetMainDialog(nullptr);
    ASSERT_TRUE(MoreWindow()->Click(kMoreLabelButtonIds[4]));
    EXPECT_EQ(MoreWindow()->Ctl(kMoreLabelButtonIds[4]).captionColor, kRed);
    EXPECT_EQ(dlg.GetLabelManager()->GetCurLabel(), 1);
    ReportWindow()->ShowWindow(true);
    ReportWindow()->SetControlText(IDC_EDIT_COMMENT, "kept");
    ASSERT_TRUE(ReportWindow()->Click(IDOK));
    EXPECT_FALSE(ReportWindow()->IsWindowVisible());
    EXPECT_EQ(ReportWindow()->GetControlText(IDC_EDIT_COMMENT), "kept");
    app.SetMainDialog(&dlg);
}

}  // namespace
