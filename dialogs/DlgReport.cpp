#include "dialogs/DlgReport.h"

#include "app/TagwrightDlg.h"
#include "res/Resource.h"

bool CDlgReport::OnInitDialog() {
    return true;
}

void CDlgReport::OnCommand(int id) {
    if (id == IDOK) {
        OnOK();
    } else if (id == IDCANCEL) {
        // Cancel writes nothing and keeps the comment; the next Report click refills it.
        Hide();
    }
}

void CDlgReport::SetComment(const std::string& text) {
    m_wnd->SetControlText(IDC_EDIT_COMMENT, text);
}

void CDlgReport::OnOK() {
    if (CTagwrightDlg* main = m_app.GetMainDialog()) {
        main->SaveReport(m_wnd->GetControlText(IDC_EDIT_COMMENT));
        m_wnd->SetControlText(IDC_EDIT_COMMENT, "");
    }
    Hide();
}
