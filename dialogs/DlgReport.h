#pragma once

#include <memory>
#include <string>

#include "app/platform/IAppServices.h"
#include "app/platform/IDialogWindow.h"

// Comment dialog for the labelling report: modeless, created hidden, shown by the Report button.
// OK hands the comment to the main dialog's report action; Cancel only hides it.
class CDlgReport : public IDialogEvents {
  public:
    CDlgReport(std::unique_ptr<IDialogWindow> window, IAppServices& app);
    ~CDlgReport() override;

    bool OnInitDialog() override;
    void OnCommand(int id) override;

    void SetComment(const std::string& text);
    void Show();
    void Hide();
    IDialogWindow& Window() { return *m_wnd; }

  private:
    void OnOK();

    std::unique_ptr<IDialogWindow> m_wnd;
    IAppServices& m_app;
};
