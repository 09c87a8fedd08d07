#pragma once

#include <QObject>

class QKeyEvent;
class QtDialogWindow;

// The virtual-key code the dialog logic knows for a Qt key event: Escape 0x1B, Space 0x20,
// arrows 0x25 to 0x28, Delete 0x2E, Enter 0x0D, Tab 0x09, digits of the main keyboard 0x30 to
// 0x39 (also with Shift), letters 0x41 to 0x5A in either case. Keypad digits get the keypad
// codes 0x60 to 0x69, punctuation and lock keys their usual codes (punctuation by its key on a
// US keyboard: ',' and '<' are both 0xBC), and every other key a code that names none of the
// program's commands.
int VirtualKeyFromQt(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode = 0);
int VirtualKeyFromEvent(const QKeyEvent& event);

// The pre-dispatch hook of the main window: an event filter on the application that sees each
// key press and wheel event of the window before Qt dispatches it to the focused or hovered
// widget, hands it to the handler's PreTranslateMessage and eats it when the handler consumed
// it. A passed-on key then gets the standard dialog keys (QtDialogWindow::HandleStandardKey);
// anything else goes on to Qt as usual, and so does the wheel, except over the slider, where the
// hook's frame step is the only one. Keys pressed with Alt held,
// and F10, are menu keys: the hook leaves them to Qt (Alt with a caption's letter presses that
// button).
//
// The hook looks at the events Qt hands to the window's QWindow, once per input event: Qt hands
// an unused key or wheel event on to every parent widget in turn, and hooking at widget level
// would see such an event again at each of them.
class QtKeyHook : public QObject {
    Q_OBJECT
  public:
    explicit QtKeyHook(QtDialogWindow& window);
    ~QtKeyHook() override;
    QtKeyHook(const QtKeyHook&) = delete;
    QtKeyHook& operator=(const QtKeyHook&) = delete;

    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool OnKeyPress(QKeyEvent& event);

    QtDialogWindow& m_window;
};
