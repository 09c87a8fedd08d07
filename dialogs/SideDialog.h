#pragma once

#include <memory>

#include "app/platform/IAppServices.h"
#include "app/platform/IDialogWindow.h"

// What the modeless side dialogs have in common: each owns its window, receives that window's
// events for as long as it lives, and is shown and hidden rather than created and destroyed.
class CSideDialog : public IDialogEvents {
  public:
    CSideDialog(std::unique_ptr<IDialogWindow> window, IAppServices& app)
        : m_wnd(std::move(window)), m_app(app) {
        m_wnd->SetEventHandler(this);
    }
    ~CSideDialog() override { m_wnd->SetEventHandler(nullptr); }
    CSideDialog(const CSideDialog&) = delete;
    CSideDialog& operator=(const CSideDialog&) = delete;

    void Show() { m_wnd->ShowWindow(true); }
    void Hide() { m_wnd->ShowWindow(false); }
    IDialogWindow& Window() { return *m_wnd; }

  protected:
    std::unique_ptr<IDialogWindow> m_wnd;
    IAppServices& m_app;
};
