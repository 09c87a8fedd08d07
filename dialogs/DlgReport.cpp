#include "dialogs/DlgReport.h"

#include "app/TagwrightDlg.h"
#include "res/Resource.h"

CDlgReport::CDlgReport(std::unique_ptr<IDialogWindow> window, IAppServices& app)
    : m_wnd(std::move(window)), m_app(app) {
    m_wnd->SetEventHandler(this);
}

CDlgReport::~CDlgReport() {
    m_wnd->SetEventHandler(nullptr);
}

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

void CDlgReport::Show() {
    m_wnd->ShowWindow(true);
}

void CDlgReport::Hide() {
    m_wnd->ShowWindow(false);
}

void CDlgReport::OnOK() {
    if (CTagwrightDlg* main = m_app.GetMainDialog()) {
        main->SaveReport(m_wnd->GetControlText(IDC_EDIT_COMMENT));
        m_wnd->SetControlText(IDC_EDIT_COMMENT, "");
    }
    Hide();
}
