#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/platform/IDialogWindow.h"

class CTagwrightDlg;

enum class MessageBoxType { Ok, YesNo };
enum class MessageBoxResult { Ok, Yes, No };

// Application-wide services: modal boxes, the file dialog, the wait cursor, the debug trace,
// creating side windows from templates and reaching the main dialog.
class IAppServices {
  public:
    virtual ~IAppServices() = default;

    // Modal message box; keeps delivering timer ticks while open.
    virtual MessageBoxResult MessageBox(const std::string& text, MessageBoxType type) = 0;
    // Open-file dialog. filter uses the "name|pattern|name|pattern||" form.
    virtual std::optional<std::filesystem::path> OpenFileDialog(
        const std::string& filter, const std::filesystem::path& initialDir) = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
    // A long operation on the user-interface thread: BeginProgress before its first step,
    // StepProgress after each (done of total), EndProgress at its end. A box with a bar and a
    // way to stop appears only once the operation has run for half a second; meanwhile the
    // window takes no input but Escape, which (like the box's button) asks the operation to
    // stop: StepProgress then returns false. Timers keep ticking.
    virtual void BeginProgress(const std::string& text, int total) = 0;
    virtual bool StepProgress(int done) = 0;
    virtual void EndProgress() = 0;
    // One debug trace line (off by default in the real program).
    virtual void DebugTrace(const std::string& line) = 0;

    // A new modeless window built from a template, created hidden.
    virtual std::unique_ptr<IDialogWindow> CreateDialogWindow(int templateId) = 0;

    // The application's main dialog, or nullptr when there is none.
    virtual CTagwrightDlg* GetMainDialog() = 0;
};
