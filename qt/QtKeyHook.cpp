#include "qt/QtKeyHook.h"

#include <QAbstractSlider>
#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QWheelEvent>
#include <QWindow>

#include "app/platform/IDialogWindow.h"
#include "qt/QtDialogWindow.h"

namespace {

// A code outside every key the dialog logic handles (the "clear" key on Windows keyboards).
constexpr int kUnhandledKey = 0xFE;

// Shifted digits of a US keyboard, for platforms that do not tell us the physical key.
int DigitForShiftedSymbol(int qtKey) {
    switch (qtKey) {
        case Qt::Key_ParenRight:
            return '0';
        case Qt::Key_Exclam:
            return '1';
        case Qt::Key_At:
            return '2';
        case Qt::Key_NumberSign:
            return '3';
        case Qt::Key_Dollar:
            return '4';
        case Qt::Key_Percent:
            return '5';
        case Qt::Key_AsciiCircum:
            return '6';
        case Qt::Key_Ampersand:
            return '7';
        case Qt::Key_Asterisk:
            return '8';
        case Qt::Key_ParenLeft:
            return '9';
        default:
            return 0;
    }
}

// Keys outside the command set still get their own code, so the key trace names the key. The
// punctuation keys of a US keyboard are named by the key, shifted or not.
int OtherKeyCode(int qtKey, bool keypad) {
    if (keypad) {
        switch (qtKey) {
            case Qt::Key_Asterisk:
                return 0x6A;
            case Qt::Key_Plus:
                return 0x6B;
            case Qt::Key_Minus:
                return 0x6D;
            case Qt::Key_Period:
            case Qt::Key_Comma:
                return 0x6E;
            case Qt::Key_Slash:
                return 0x6F;
            default:
                break;
        }
    }
    switch (qtKey) {
        case Qt::Key_Clear:
            return 0x0C;
        case Qt::Key_Pause:
            return 0x13;
        case Qt::Key_CapsLock:
            return 0x14;
        case Qt::Key_Meta:
        case Qt::Key_Super_L:
            return 0x5B;
        case Qt::Key_Super_R:
            return 0x5C;
        case Qt::Key_Menu:
            return 0x5D;
        case Qt::Key_NumLock:
            return 0x90;
        case Qt::Key_ScrollLock:
            return 0x91;
        case Qt::Key_Semicolon:
        case Qt::Key_Colon:
            return 0xBA;
        case Qt::Key_Equal:
        case Qt::Key_Plus:
            return 0xBB;
        case Qt::Key_Comma:
        case Qt::Key_Less:
            return 0xBC;
        case Qt::Key_Minus:
        case Qt::Key_Underscore:
            return 0xBD;
        case Qt::Key_Period:
        case Qt::Key_Greater:
            return 0xBE;
        case Qt::Key_Slash:
        case Qt::Key_Question:
            return 0xBF;
        case Qt::Key_QuoteLeft:
        case Qt::Key_AsciiTilde:
            return 0xC0;
        case Qt::Key_BracketLeft:
        case Qt::Key_BraceLeft:
            return 0xDB;
        case Qt::Key_Backslash:
        case Qt::Key_Bar:
            return 0xDC;
        case Qt::Key_BracketRight:
        case Qt::Key_BraceRight:
            return 0xDD;
        case Qt::Key_Apostrophe:
        case Qt::Key_QuoteDbl:
            return 0xDE;
        default:
            return 0;
    }
}

}  // namespace

int VirtualKeyFromQt(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode) {
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
        return keypad ? 0x60 + (qtKey - Qt::Key_0) : qtKey;
    }
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) {
        return qtKey;  // Qt's letter keys are the upper-case codes, with or without Shift
    }
    switch (qtKey) {
        case Qt::Key_Escape:
            return VK_ESCAPE;
        case Qt::Key_Space:
            return VK_SPACE;
        case Qt::Key_Left:
            return VK_LEFT;
        case Qt::Key_Up:
            return VK_UP;
        case Qt::Key_Right:
            return VK_RIGHT;
        case Qt::Key_Down:
            return VK_DOWN;
        case Qt::Key_Delete:
            return VK_DELETE;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return VK_RETURN;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return VK_TAB;
        case Qt::Key_Backspace:
            return VK_BACK;
        case Qt::Key_PageUp:
            return 0x21;
        case Qt::Key_PageDown:
            return 0x22;
        case Qt::Key_End:
            return 0x23;
        case Qt::Key_Home:
            return 0x24;
        case Qt::Key_Insert:
            return 0x2D;
        case Qt::Key_Shift:
            return 0x10;
        case Qt::Key_Control:
            return 0x11;
        case Qt::Key_Alt:
            return 0x12;
        default:
            break;
    }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) {
        return 0x70 + (qtKey - Qt::Key_F1);
    }
    // A shifted digit key still names its digit, as a key code names the key, not the symbol.
    // X11 key codes 10 to 19 are the digit row on every layout.
    if (!keypad && nativeScanCode >= 10 && nativeScanCode <= 19 &&
        QGuiApplication::platformName() == QLatin1String("xcb")) {
        return nativeScanCode == 19 ? '0' : static_cast<int>('1' + (nativeScanCode - 10));
    }
    if (!keypad && modifiers.testFlag(Qt::ShiftModifier)) {
        if (const int digit = DigitForShiftedSymbol(qtKey)) {
            return digit;
        }
    }
    if (const int code = OtherKeyCode(qtKey, keypad)) {
        return code;
    }
    return kUnhandledKey;
}

int VirtualKeyFromEvent(const QKeyEvent& event) {
    return VirtualKeyFromQt(event.key(), event.modifiers(), event.nativeScanCode());
}

QtKeyHook::QtKeyHook(QtDialogWindow& window) : m_window(window) {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->installEventFilter(this);
    }
}

QtKeyHook::~QtKeyHook() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->removeEventFilter(this);
    }
}

bool QtKeyHook::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::Wheel) {
        return false;
    }
    if (!watched->isWindowType()) {
        return false;
    }
    if (type == QEvent::KeyRelease) {
        const auto& key = *static_cast<QKeyEvent*>(event);
        m_lastReleaseKey = key.key();
        m_lastReleaseTime = key.timestamp();
        return false;
    }
    // Only the main window's own QWindow: its child widgets have no native window of their
    // own, so this is where every key and wheel event of the window arrives first, once.
    const QWindow* handle = m_window.windowHandle();
    if (handle == nullptr) {
        return false;
    }
    if (watched != handle) {
        return type == QEvent::KeyPress && OnSideWindowKeyPress(*static_cast<QKeyEvent*>(event));
    }
    if (type == QEvent::KeyPress) {
        return OnKeyPress(*static_cast<QKeyEvent*>(event));
    }
    const auto& wheel = *static_cast<QWheelEvent*>(event);
    const int delta = wheel.angleDelta().y();
    // Horizontal scrolling and the empty begin/end events of touchpads are no wheel steps.
    if (delta == 0 || m_window.EventHandler() == nullptr) {
        return false;
    }
    InputMessage msg;
    msg.type = InputMessage::Type::MouseWheel;
    msg.wheelDelta = delta;
    msg.time = static_cast<std::uint32_t>(wheel.timestamp());
    msg.repeat = true;  // wheel steps come in runs, like a held key
    m_window.EventHandler()->PreTranslateMessage(msg);
    // The wheel goes on to the control under the pointer, except to the slider: the step above
    // has already moved the video by one frame, and the slider would move by its own step the
    // other way and seek again.
    const QWidget* target = m_window.childAt(wheel.position().toPoint());
    return qobject_cast<const QAbstractSlider*>(target) != nullptr;
}

bool QtKeyHook::OnKeyPress(QKeyEvent& event) {
    // A key pressed with Alt held (Alt itself included), and F10, are menu keys rather than
    // key-downs of the window: none of its commands runs on them and the focus stays. Alt with a
    // caption's letter presses that button through Qt's own shortcut, which has already run.
    // Ctrl+Alt is AltGr on many keyboards and types ordinary keys.
    const Qt::KeyboardModifiers mods = event.modifiers();
    const bool altHeld = mods.testFlag(Qt::AltModifier) || event.key() == Qt::Key_Alt;
    if ((altHeld && !mods.testFlag(Qt::ControlModifier)) || event.key() == Qt::Key_F10) {
        if (event.key() == Qt::Key_F10 && mods == Qt::ShiftModifier) {
            // The keyboard's way to the context menu, like a right-button release.
            m_window.RequestKeyboardContextMenu();
            return true;
        }
        return false;
    }
    if (IDialogEvents* handler = m_window.EventHandler()) {
        InputMessage msg = KeyMessage(event);
        msg.ctrl = msg.ctrl && !altHeld;
        if (handler->PreTranslateMessage(msg)) {
            return true;
        }
    }
    return m_window.HandleStandardKey(event);
}

InputMessage QtKeyHook::KeyMessage(const QKeyEvent& event) const {
    InputMessage msg;
    msg.type = InputMessage::Type::KeyDown;
    msg.vkCode = VirtualKeyFromEvent(event);
    msg.ctrl = event.modifiers().testFlag(Qt::ControlModifier);
    msg.shift = event.modifiers().testFlag(Qt::ShiftModifier);
    msg.time = static_cast<std::uint32_t>(event.timestamp());
    // The X11 pair of a held key: a release and a press with one time stamp.
    msg.repeat =
        event.isAutoRepeat() || (event.key() == m_lastReleaseKey &&
                                 event.timestamp() == m_lastReleaseTime && event.timestamp() != 0);
    return msg;
}

bool QtKeyHook::OnSideWindowKeyPress(QKeyEvent& event) {
    // Only windows built as side windows of this main window.
    QWidget* focus = QApplication::focusWidget();
    auto* side = focus != nullptr ? qobject_cast<QtDialogWindow*>(focus->window()) : nullptr;
    if (side == nullptr || side == &m_window || side->parentWidget() != &m_window) {
        return false;
    }
    const int key = event.key();
    const Qt::KeyboardModifiers mods = event.modifiers();
    if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter ||
        key == Qt::Key_Space || key == Qt::Key_Tab || key == Qt::Key_Backtab ||
        mods.testFlag(Qt::AltModifier) || key == Qt::Key_Alt) {
        return false;
    }
    if (const auto* edit = qobject_cast<const QLineEdit*>(focus); edit && !edit->isReadOnly()) {
        return false;
    }
    if (const auto* edit = qobject_cast<const QPlainTextEdit*>(focus);
        edit && !edit->isReadOnly()) {
        return false;
    }
    IDialogEvents* handler = m_window.EventHandler();
    if (handler == nullptr) {
        return false;
    }
    const InputMessage msg = KeyMessage(event);
    // Keys the main window does not use (B and N are used and passed on) stay with the side
    // window, which may have a use for them.
    return handler->PreTranslateMessage(msg);
}
