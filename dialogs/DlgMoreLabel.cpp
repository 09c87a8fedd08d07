#include "dialogs/DlgMoreLabel.h"

#include "app/TagwrightDlg.h"
#include "res/Resource.h"

namespace {

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlack{0, 0, 0};

// The label number behind one of this dialog's buttons, 0 when id is none of them. The ids do
// not follow the label numbers, so the tables are searched.
int LabelFor(const int (&ids)[kLabelCount], int id) {
    for (int i = 0; i < kLabelCount; ++i) {
        if (ids[i] == id) {
            return i + 1;
        }
    }
    return 0;
}

}  // namespace

bool CDlgMoreLabel::OnInitDialog() {
    return true;
}

void CDlgMoreLabel::OnCommand(int id) {
    // The close box and Escape arrive as Cancel (Enter, with no default button, as OK): the
    // window only hides and keeps its colours and GO states for the next time it is shown.
    if (id == IDOK || id == IDCANCEL) {
        Hide();
        return;
    }
    if (int n = LabelFor(kMoreLabelButtonIds, id)) {
        SelectLabelInMoreLabel(n, true);
        return;
    }
    if (int n = LabelFor(kMoreGoButtonIds, id)) {
        if (CTagwrightDlg* main = m_app.GetMainDialog()) {
            main->GoToLabel(n);
        }
    }
}

void CDlgMoreLabel::SelectLabelInMoreLabel(int n, bool notifyMain) {
    if (n < 1 || n > kLabelCount) {
        return;
    }
    CTagwrightDlg* main = m_app.GetMainDialog();
    for (int id : kMoreLabelButtonIds) {
        m_wnd->SetCaptionColor(id, kBlack);
    }
    m_wnd->SetCaptionColor(kMoreLabelButtonIds[n - 1], kRed);
    if (notifyMain && main != nullptr) {
        main->SelectLabel(n, false);
    }
}

void CDlgMoreLabel::ResetMoreLabel() {
    for (int i = 0; i < kLabelCount; ++i) {
        m_wnd->EnableControl(kMoreGoButtonIds[i], false);
        m_wnd->SetCaptionColor(kMoreLabelButtonIds[i], kBlack);
    }
    m_wnd->SetCaptionColor(kMoreLabelButtonIds[0], kRed);
}

void CDlgMoreLabel::SetGoButtonEnabled(int n, bool enabled) {
    if (n < 1 || n > kLabelCount) {
        return;
    }
    m_wnd->EnableControl(kMoreGoButtonIds[n - 1], enabled);
}
