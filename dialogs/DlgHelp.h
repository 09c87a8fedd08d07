#pragma once

#include <memory>

#include "dialogs/SideDialog.h"

// The key reference: a modeless window with a read-only text box, created hidden with the main
// dialog and shown by its "?" button. OK, the close box and Escape only hide it.
class CDlgHelp : public CSideDialog {
  public:
    using CSideDialog::CSideDialog;

    bool OnInitDialog() override;
    void OnCommand(int id) override;
};
