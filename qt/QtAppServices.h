#pragma once

#include <QLoggingCategory>
#include <memory>

#include "app/platform/IAppServices.h"

class QWidget;
class QtProgress;

Q_DECLARE_LOGGING_CATEGORY(lcTagwrightKeys)

// The application services on Qt: message boxes and the file dialog over the main window, the
// wait cursor, the key trace, and side windows built from templates.
//
// The main window is not owned; side windows are owned by whoever asks for them and must be
// destroyed before the main window (they are its Qt children, for stacking and placement).
// GUI thread only.
class QtAppServices : public IAppServices {
  public:
    explicit QtAppServices(QWidget* mainWindow = nullptr);
    ~QtAppServices() override;

    // The window title of every message box.
    static const char* MessageBoxTitle() { return "KORVALEN Video Tagwright"; }

    MessageBoxResult MessageBox(const std::string& text, MessageBoxType type) override;
    std::optional<std::filesystem::path> OpenFileDialog(
        const std::string& filter, const std::filesystem::path& initialDir) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    // A QtProgress over the main window (qt/QtProgress.h).
    void BeginProgress(const std::string& text, int total) override;
    bool StepProgress(int done) override;
    void EndProgress() override;
    // One line to the logging category "tagwright.keys", off unless enabled, for example with
    // QT_LOGGING_RULES="tagwright.keys.debug=true".
    void DebugTrace(const std::string& line) override;
    std::unique_ptr<IDialogWindow> CreateDialogWindow(int templateId) override;
    CTagwrightDlg* GetMainDialog() override { return m_mainDialog; }

    void SetMainWindow(QWidget* window) { m_mainWindow = window; }
    void SetMainDialog(CTagwrightDlg* dlg) { m_mainDialog = dlg; }
    int WaitCursorDepth() const { return m_waitDepth; }

  private:
    QWidget* m_mainWindow = nullptr;
    CTagwrightDlg* m_mainDialog = nullptr;
    int m_waitDepth = 0;
    std::unique_ptr<QtProgress> m_progress;
};

// "name|pattern|name|pattern||" (patterns separated by ';') as Qt name filters: each name is
// kept as the operator sees it and followed by its patterns in parentheses, separated by
// blanks; "*.*" becomes "*" because on Linux many files have no dot.
QStringList ConvertFileDialogFilter(const std::string& filter);
