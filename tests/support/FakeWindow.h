#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "app/SliderMarks.h"
#include "app/platform/IAppServices.h"
#include "app/platform/IDialogWindow.h"
#include "res/Templates.h"

// An in-memory window built from a dialog template. It records everything the logic does to it
// (texts, colours, enabled states, slider, timers, painted pictures, cursors, menus) and lets a
// test drive it (clicks, mouse, keys, timer ticks, resizes) without a display.
class FakeWindow : public IDialogWindow {
  public:
    struct Control {
        int id = 0;
        ControlKind kind = ControlKind::PushButton;
        std::string text;
        bool enabled = true;
        std::optional<Rgb> captionColor;  // unset = platform default
        int captionColorChanges = 0;
        std::optional<FontSpec> font;
        CRect rect;  // client pixels
        bool checked = false;
        int sliderMin = 0, sliderMax = 100, sliderPos = 0, sliderTickFreq = 1;
        // Slider marks as painted at the last hand-over: one column per pixel of the slider's
        // width (a handle-less slider), and the current label's colour.
        std::vector<SliderMark> marks;
        Rgb marksColor;
        int marksHandOvers = 0;
        // Picture
        cv::Mat image;  // last painted image (copy)
        int viewWidth = 0, viewHeight = 0;
        int paintCount = 0;
    };

    explicit FakeWindow(int templateId);

    // --- IDialogWindow ---
    void SetEventHandler(IDialogEvents* handler) override { m_handler = handler; }
    void ShowWindow(bool show) override { m_visible = show; }
    bool IsWindowVisible() const override { return m_visible; }
    void EndDialog(int result) override;
    void SetBackgroundColor(const Rgb& color) override { m_background = color; }
    void SetIcon(int resourceId) override { m_iconId = resourceId; }
    CPoint GetClientSize() const override { return m_clientSize; }
    void EnableControl(int id, bool enable) override;
    bool IsControlEnabled(int id) const override;
    void SetControlText(int id, const std::string& text) override;
    std::string GetControlText(int id) const override;
    void SetCaptionColor(int id, const Rgb& color) override;
    void SetControlFont(int id, const FontSpec& font) override;
    void SetFocus(int id) override { m_focusId = id; }
    void SetRadioIndex(int firstId, int index) override;
    int GetRadioIndex(int firstId) const override;
    void SetSliderRange(int id, int minPos, int maxPos, bool redraw) override;
    void SetSliderTickFrequency(int id, int freq) override;
    void SetSliderPos(int id, int pos) override;
    int GetSliderPos(int id) const override;
    void SetSliderMarks(int id, CSliderMarks* marks) override;
    CRect GetControlRect(int id) const override;
    void ResizeControl(int id, int width, int height) override;
    void PaintImage(int id, const cv::Mat& bgr, int viewWidth, int viewHeight) override;
    void ClearImage(int id) override;
    void SetTimer(int id, int intervalMs) override;
    void KillTimer(int id) override;
    CPoint GetCursorPos() const override { return m_cursor; }
    bool IsLeftButtonDown() const override { return m_leftDown; }
    bool IsCtrlDown() const override { return m_ctrlDown; }
    void SetCursor(CursorShape shape) override { m_cursorShape = shape; }
    // A clock of its own: it moves only when a test says so or a paint costs time.
    std::uint32_t TickCount() const override { return m_clock; }
    int TrackPopupMenu(const CPoint& screen, const std::string& text, int commandId,
                       bool enabled) override;

    // --- inspection ---
    Control& Ctl(int id);
    const Control& Ctl(int id) const;
    bool HasControl(int id) const { return m_controls.count(id) != 0; }
    std::optional<int> EndResult() const { return m_endResult; }
    bool TimerRunning(int id) const { return m_timers.count(id) != 0; }
    int TimerInterval(int id) const;
    int TimerStarts() const { return m_timerStarts; }
    CursorShape CursorShown() const { return m_cursorShape; }
    int FocusId() const { return m_focusId; }
    Rgb Background() const { return m_background; }
    int IconId() const { return m_iconId; }
    // What the picture control shows: the last image stretched (nearest neighbour) to the view
    // size; empty when nothing was painted.
    cv::Mat RenderedPicture(int id) const;
    struct MenuCall {
        CPoint screen;
        std::string text;
        int commandId = 0;
        bool enabled = false;
    };
    const std::vector<MenuCall>& MenuCalls() const { return m_menuCalls; }
    // The command the next pop-up menu returns (0 = dismissed).
    void SetMenuAnswer(int command) { m_menuAnswer = command; }

    // A modal box or menu runs a nested loop in which the running timers keep expiring, as in
    // the real window. Each modal call (this window's menu, and the boxes and file dialog of
    // services wired with FakeAppServices::SetModalTickWindow) fires every running timer this
    // many times (1 by default; expiries do not pile up, so a long box is still one tick).
    void SetTicksPerModalCall(int n) { m_ticksPerModalCall = n; }
    void DeliverModalTicks();
    // Ticks handed to the handler from inside modal calls so far.
    int ModalTicksDelivered() const { return m_modalTicks; }
    // The left button is released while the next box or menu is open: the box takes the
    // release, which never reaches this window's handler.
    void ReleaseInsideNextModal() { m_releaseInModal = true; }

    // --- time ---
    // Each paint of the picture advances the clock by this much: the cost of a step.
    void SetPaintCost(int ms) { m_paintCost = ms; }
    void SetClock(std::uint32_t ms) { m_clock = ms; }

    // --- driving the window as a user would ---
    bool InitDialog();
    // Clicks an enabled button; a radio button becomes the checked one of its group first.
    // Returns false (nothing sent) when the control is disabled or missing.
    bool Click(int id);
    void SetCursorPos(const CPoint& p) { m_cursor = p; }
    void SetLeftButtonDown(bool down) { m_leftDown = down; }
    void SetCtrlDown(bool down) { m_ctrlDown = down; }
    void SetShiftDown(bool down) { m_shiftDown = down; }
    void LButtonDown(const CPoint& p);
    void MouseMove(const CPoint& p);  // left button state as last set
    void LButtonUp(const CPoint& p);
    void RButtonDown(const CPoint& p);
    // Sends a key-down through PreTranslateMessage; returns whether it was consumed.
    bool KeyDown(int vk);
    // A key-down made by the window system at `time` (a repeat when the key is held). It is
    // handled when it arrives, or, when the clock is already later (a step still ran), then.
    bool KeyDownAt(int vk, std::uint32_t time, bool repeat);
    // Any key-down or wheel message with its own time, handled as KeyDownAt handles keys.
    bool Send(const InputMessage& msg);
    // Another window or a grab took the pointer: the button is up without a release here.
    void LoseGrab();
    bool Wheel(int delta);
    void FireTimer(int id);
    // The user moved the slider to pos.
    void ScrollSlider(int pos);
    // Resizes the client area: the layout percentages are applied, then OnSize.
    void Resize(int cx, int cy);

  private:
    const DialogTemplate* m_tmpl = nullptr;
    IDialogEvents* m_handler = nullptr;
    std::map<int, Control> m_controls;
    std::vector<int> m_order;  // template order
    bool m_visible = false;
    std::optional<int> m_endResult;
    Rgb m_background{240, 240, 240};
    int m_iconId = 0;
    CPoint m_clientSize;
    std::map<int, int> m_timers;
    int m_timerStarts = 0;
    CPoint m_cursor;
    bool m_leftDown = false;
    bool m_ctrlDown = false;
    bool m_shiftDown = false;
    CursorShape m_cursorShape = CursorShape::Arrow;
    int m_focusId = 0;
    std::vector<MenuCall> m_menuCalls;
    int m_menuAnswer = 0;
    int m_ticksPerModalCall = 1;
    int m_modalTicks = 0;
    bool m_releaseInModal = false;
    std::uint32_t m_clock = 0;
    int m_paintCost = 0;
};

// In-memory application services: message boxes answered from a script, a scripted file dialog,
// a wait-cursor counter, the trace lines, and side windows created as FakeWindows.
class FakeAppServices : public IAppServices {
  public:
    struct Box {
        std::string text;
        MessageBoxType type;
    };

    MessageBoxResult MessageBox(const std::string& text, MessageBoxType type) override;
    std::optional<std::filesystem::path> OpenFileDialog(
        const std::string& filter, const std::filesystem::path& initialDir) override;
    void BeginWaitCursor() override {
        ++m_waitDepth;
        ++m_waitCursorUses;
    }
    void EndWaitCursor() override { --m_waitDepth; }
    void BeginProgress(const std::string& text, int total) override;
    bool StepProgress(int done) override;
    void EndProgress() override { m_progressOpen = false; }
    void DebugTrace(const std::string& line) override { m_trace.push_back(line); }
    std::unique_ptr<IDialogWindow> CreateDialogWindow(int templateId) override;
    CTagwrightDlg* GetMainDialog() override { return m_mainDialog; }

    // --- script and inspection ---
    void SetMainDialog(CTagwrightDlg* dlg) { m_mainDialog = dlg; }
    // The window whose timers keep ticking while a box or the file dialog is open.
    void SetModalTickWindow(FakeWindow* wnd) { m_tickWindow = wnd; }
    // Answers for the next Yes/No boxes, in order; when none is queued a Yes/No box answers Yes.
    void QueueAnswer(MessageBoxResult r) { m_answers.push_back(r); }
    void ClearAnswers() { m_answers.clear(); }
    const std::vector<Box>& Boxes() const { return m_boxes; }
    void ClearBoxes() { m_boxes.clear(); }
    // The next file dialog returns this (nullopt = cancel).
    void SetFileDialogResult(std::optional<std::filesystem::path> p) {
        m_fileResult = std::move(p);
    }
    const std::string& LastFilter() const { return m_lastFilter; }
    const std::filesystem::path& LastInitialDir() const { return m_lastInitialDir; }
    int FileDialogCalls() const { return m_fileDialogCalls; }
    int WaitDepth() const { return m_waitDepth; }
    int WaitCursorUses() const { return m_waitCursorUses; }
    const std::vector<std::string>& Trace() const { return m_trace; }
    // The operator presses Escape during the next long operation after this many of its steps
    // (-1: never). Each step also lets the modal tick window's timers expire, as in Qt.
    void StopProgressAfter(int steps) { m_stopAfter = steps; }
    struct Progress {
        std::string text;
        int total = 0;
        int steps = 0;
        int lastDone = 0;
    };
    const std::vector<Progress>& ProgressRuns() const { return m_progress; }
    bool ProgressOpen() const { return m_progressOpen; }
    // The side window created from this template (nullptr when none was).
    FakeWindow* Window(int templateId) const;

  private:
    CTagwrightDlg* m_mainDialog = nullptr;
    FakeWindow* m_tickWindow = nullptr;
    std::deque<MessageBoxResult> m_answers;
    std::vector<Box> m_boxes;
    std::optional<std::filesystem::path> m_fileResult;
    std::string m_lastFilter;
    std::filesystem::path m_lastInitialDir;
    int m_fileDialogCalls = 0;
    int m_waitDepth = 0;
    int m_waitCursorUses = 0;
    std::vector<std::string> m_trace;
    std::map<int, FakeWindow*> m_windows;
    std::vector<Progress> m_progress;
    bool m_progressOpen = false;
    int m_stopAfter = -1;
};
