#pragma once

#include <map>
#include <memory>
#include <vector>

#include <QDialog>

#include "app/platform/IDialogWindow.h"
#include "res/Templates.h"

class QAbstractButton;
class QButtonGroup;
class QKeyEvent;
class QPushButton;
class QSlider;
class QTimer;
class QtKeyHook;
class QtPictureWidget;

// A real window built from a dialog template: one Qt widget per control, found by its template
// id (and by the object name "ctl_<id>"), placed by the template's pixel rectangles and the
// layout percentages on every resize.
//
// Events go to the IDialogEvents handler: button and radio clicks as OnCommand(id), mouse input
// over the dialog surface and the picture area in client pixels, timer expiries, user moves of a
// slider, and every resize after the controls have been laid out again. The window never closes
// or hides by itself: the close box, Escape and the window manager's close request become
// OnCommand(IDCANCEL), and the logic decides (EndDialog or ShowWindow(false)).
//
// The application's main window (Role::Main) has no close box and installs the pre-dispatch key
// hook (see QtKeyHook), which routes its key-downs and wheel events through the handler's
// PreTranslateMessage before the focused control sees them. Side dialogs (Role::Side) are
// created with the main window as parent, get a close box when their template asks for one and
// keep Qt's own dialog keys.
//
// Single-threaded: every method runs on the GUI thread. The handler is not owned.
//
// Definitions are split by concern: QtDialogWindow.cpp builds the controls from the template and
// keeps their state and the timers, QtDialogInput.cpp routes input, QtDialogPaint.cpp paints.
class QtDialogWindow : public QDialog, public IDialogWindow {
    Q_OBJECT
  public:
    enum class Role { Main, Side };

    // templateId must name a known template (FindDialogTemplate); an unknown id yields an empty
    // window so that nothing throws.
    explicit QtDialogWindow(int templateId, Role role = Role::Main, QWidget* parent = nullptr);
    ~QtDialogWindow() override;

    // --- IDialogWindow ---
    void SetEventHandler(IDialogEvents* handler) override { m_handler = handler; }
    void ShowWindow(bool show) override;
    bool IsWindowVisible() const override;
    void EndDialog(int result) override;
    void SetBackgroundColor(const Rgb& color) override;
    void SetIcon(int resourceId) override;
    CPoint GetClientSize() const override;
    void EnableControl(int id, bool enable) override;
    bool IsControlEnabled(int id) const override;
    void SetControlText(int id, const std::string& text) override;
    std::string GetControlText(int id) const override;
    void SetCaptionColor(int id, const Rgb& color) override;
    void SetControlFont(int id, const FontSpec& font) override;
    void SetFocus(int id) override;
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
    CPoint GetCursorPos() const override;
    bool IsLeftButtonDown() const override;
    bool IsCtrlDown() const override;
    void SetCursor(CursorShape shape) override;
    int TrackPopupMenu(const CPoint& screen, const std::string& text, int commandId,
                       bool enabled) override;

    // --- for the application and tests ---
    const DialogTemplate* Template() const { return m_tmpl; }
    // The widget of a control, or nullptr.
    QWidget* Control(int id) const;
    IDialogEvents* EventHandler() const { return m_handler; }
    bool IsMainWindow() const { return m_isMain; }
    bool HasTimer(int id) const;
    // The result given to the last EndDialog (0 before any).
    int EndResult() const { return m_endResult; }

    // The standard dialog keys for a key-down the handler passed on: Enter clicks the default
    // button, Escape sends OnCommand(IDCANCEL), the menu key asks for the context menu, and a
    // plain letter (no Alt, Ctrl or Meta) that is the mnemonic of an enabled, visible button
    // clicks it. True when the key was used.
    bool HandleStandardKey(const QKeyEvent& event);
    // A context menu asked for from the keyboard (the menu key, Shift+F10): OnContextMenu at the
    // top-left corner of the focused control, in screen pixels.
    void RequestKeyboardContextMenu();
    // The enabled, visible button whose caption marks this letter with '&' (nullptr if none).
    QAbstractButton* ButtonForMnemonic(QChar letter) const;

    // Runs the dialog modally; EndDialog then ends this run with its result.
    int exec() override;

  public slots:
    // Escape and the close box ask the logic instead of closing.
    void reject() override;
    void accept() override;

  protected:
    // Tells the logic when the window loses the pointer (OnCancelMode).
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    struct RadioGroup {
        int firstId = 0;
        QButtonGroup* group = nullptr;
        std::vector<QAbstractButton*> buttons;  // template order
    };

    void BuildControls();
    QWidget* CreateControl(const ControlTemplate& ctrl);
    void LayoutControls();
    const RadioGroup* FindRadioGroup(int firstId) const;
    void SendCommand(int id);
    // The slider's user actions become OnHScroll (QtDialogInput.cpp).
    void ConnectSliderNotifications(QSlider* slider);

    const DialogTemplate* m_tmpl = nullptr;
    IDialogEvents* m_handler = nullptr;
    bool m_isMain = false;
    std::map<int, QWidget*> m_controls;
    std::vector<RadioGroup> m_radioGroups;
    QPushButton* m_defaultButton = nullptr;
    std::map<int, QTimer*> m_timers;
    int m_execDepth = 0;
    int m_endResult = 0;
    std::unique_ptr<QtKeyHook> m_keyHook;
    // Whether the handler chose a cursor during the mouse move being delivered.
    bool m_cursorChosenInMove = false;
};
