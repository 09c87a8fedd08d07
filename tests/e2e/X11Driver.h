#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "labels/Geometry.h"

// Drives the real program the way an operator does: a child process on the X display named by
// $DISPLAY, real pointer and key events through xdotool (XTEST), and screenshots of the whole
// screen through ImageMagick's import. Nothing here looks inside the program.

// Runs a shell command; returns its exit status and (optionally) what it printed.
int RunShell(const std::string& command, std::string* output = nullptr);

// Quotes a string for the shell.
std::string ShellQuote(const std::string& s);

class AppProcess {
  public:
    AppProcess() = default;
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    // Starts binary with the arguments, its working directory cwd and stdout/stderr in logPath.
    bool Start(const std::filesystem::path& binary, const std::vector<std::string>& args,
               const std::filesystem::path& cwd, const std::filesystem::path& logPath);
    // Waits up to timeoutMs for the process to end; its exit code, or nullopt when still running.
    std::optional<int> Wait(int timeoutMs);
    bool Running();
    void Kill();

  private:
    pid_t m_pid = -1;
    std::optional<int> m_exit;
};

struct WindowInfo {
    std::string id;
    CRect rect;  // screen pixels
};

// The visible top-level window with exactly this title, waiting up to timeoutMs.
std::optional<WindowInfo> FindWindowByTitle(const std::string& title, int timeoutMs);
// Whether a visible window with this title exists now.
bool WindowExists(const std::string& title);
void FocusWindow(const std::string& id);

void MouseMove(int x, int y);
void MouseDown(int button);
void MouseUp(int button);
// A press at from, moves in steps to to, release there.
void MouseDrag(const CPoint& from, const CPoint& to, int steps = 8);
// Sends one key (xdotool key names: "t", "Escape", "Return", "Delete", "3").
void PressKey(const std::string& key);
// Lets the program handle what was sent.
void Settle(int ms = 300);

// The whole screen as a BGR image (empty on failure).
cv::Mat Screenshot();
