#include "dialogs/DlgHelp.h"

#include "res/Resource.h"
#include "res/Templates.h"

bool CDlgHelp::OnInitDialog() {
    m_wnd->SetControlFont(IDC_EDIT_HELP, FontSpec{"Tahoma", 19, 500});
    m_wnd->SetControlText(IDC_EDIT_HELP, HelpText());
    return true;
}

void CDlgHelp::OnCommand(int id) {
    // OK, the close box and Escape only hide the window; it is shown again as it was.
    if (id == IDOK || id == IDCANCEL) {
        Hide();
    }
}
