#pragma once

#include <memory>

#include "app/platform/IAppServices.h"
#include "app/platform/IDialogWindow.h"

// Buttons for all thirty labels with a GO button each; kept in step with the main palette even
// while hidden. Its close box and Escape only hide it.
class CDlgMoreLabel : public IDialogEvents {
  public:
    CDlgMoreLabel(std::unique_ptr<IDialogWindow> window, IAppServices& app);
    ~CDlgMoreLabel() override;

    bool OnInitDialog() override;
    void OnCommand(int id) override;

    void SelectLabelInMoreLabel(int n, bool notifyMain);
    void ResetMoreLabel();
    void SetGoButtonEnabled(int n, bool enabled);
    void Show();
    void Hide();
    IDialogWindow& Window() { return *m_wnd; }

  private:
    std::unique_ptr<IDialogWindow> m_wnd;
    IAppServices& m_app;
};
