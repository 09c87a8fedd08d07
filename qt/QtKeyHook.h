#pragma once

#include <QObject>

#include "app/platform/IDialogWindow.h"

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
//
// Held keys: every key-down carries its event time and whether the key is held (repeat). On X11
// a held key arrives as release/press pairs that Qt marks as auto-repeat only when the press was
// already queued; a press with the same key and the same time as the release before it is a
// repeat all the same.
//
// Side windows (More Label, help): their key-downs go through the main window's hook too, so
// that the editing keys work while such a window has the focus. What the side window needs
// itself stays there: Escape, Enter, Space, Tab, Alt keys, and every key while a text field has
// the focus.
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
    // The key-down as the dialog logic sees it: code, modifiers, time, held or not.
    InputMessage KeyMessage(const QKeyEvent& event) const;
    // A key-down in a side window of the main window: handed to the main window's hook when it
    // is one of the editing keys.
    bool OnSideWindowKeyPress(QKeyEvent& event);

    QtDialogWindow& m_window;
    // The last key release seen, to tell the X11 repeat pairs.
    int m_lastReleaseKey = 0;
    quint64 m_lastReleaseTime = 0;
};
