#pragma once

#include <memory>
#include <string>

#include "dialogs/SideDialog.h"

// Comment dialog for the labelling report: modeless, created hidden, shown by the Report button.
// OK hands the comment to the main dialog's report action; Cancel only hides it.
class CDlgReport : public CSideDialog {
  public:
    using CSideDialog::CSideDialog;

    bool OnInitDialog() override;
    void OnCommand(int id) override;

    void SetComment(const std::string& text);

  private:
    void OnOK();
};
