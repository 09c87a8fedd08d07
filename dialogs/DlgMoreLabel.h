#pragma once

#include <memory>

#include "dialogs/SideDialog.h"

// Buttons for all thirty labels with a GO button each; kept in step with the main palette even
// while hidden. Its close box and Escape only hide it.
class CDlgMoreLabel : public CSideDialog {
  public:
    using CSideDialog::CSideDialog;

    bool OnInitDialog() override;
    void OnCommand(int id) override;

    void SelectLabelInMoreLabel(int n, bool notifyMain);
    void ResetMoreLabel();
    void SetGoButtonEnabled(int n, bool enabled);
};
