#pragma once

#include <memory>

#include "app/platform/IAppServices.h"
#include "app/platform/IDialogWindow.h"

// The key reference: a modeless window with a read-only text box, created hidden with the main
// dialog and shown by its "?" button. OK, the close box and Escape only hide it.
class CDlgHelp : public IDialogEvents {
  public:
    CDlgHelp(std::unique_ptr<IDialogWindow> window, IAppServices& app);
    ~CDlgHelp() override;

    bool OnInitDialog() override;
    void OnCommand(int id) override;

    void Show();
    void Hide();
    IDialogWindow& Window() { return *m_wnd; }

  private:
    std::unique_ptr<IDialogWindow> m_wnd;
    IAppServices& m_app;
};
