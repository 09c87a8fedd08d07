// QtDialogWindow, part two: input routing. Mouse input over the dialog surface, the slider's
// user notifications, the pop-up menu, the pointer and keyboard state on demand, and the
// standard dialog keys for the keys the pre-dispatch hook (QtKeyHook) passes on.

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>

#include "qt/QtConversions.h"
#include "qt/QtDialogWindow.h"
#include "res/Resource.h"

namespace {

// The letter a caption marks with '&' ("S&KIP (30)" -> 'K'); "&&" is a literal ampersand.
QChar MnemonicOf(const QString& caption) {
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != QLatin1Char('&')) {
            continue;
        }
        if (caption[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return caption[i + 1].toUpper();
    }
    return {};
}

bool IsButtonKind(ControlKind kind) {
    return kind == ControlKind::PushButton || kind == ControlKind::DefaultPushButton ||
           kind == ControlKind::ColorButton;
}

}  // namespace

bool QtDialogWindow::event(QEvent* event) {
    // A modal box blocks this window and swallows the release of a held button; a pop-up menu
    // takes the release to itself; another window taking the focus, or hiding, keeps it from us
    // too. None of these sends a release or an ungrab, so the logic hears it here.
    switch (event->type()) {
        case QEvent::WindowBlocked:
        case QEvent::WindowDeactivate:
        case QEvent::Hide:
        case QEvent::UngrabMouse:
            if (m_handler != nullptr) {
                m_handler->OnCancelMode();
            }
            break;
        case QEvent::FocusOut:
            if (static_cast<QFocusEvent*>(event)->reason() == Qt::PopupFocusReason &&
                m_handler != nullptr) {
                m_handler->OnCancelMode();
            }
            break;
        default:
            break;
    }
    return QDialog::event(event);
}

void QtDialogWindow::reject() {
    SendCommand(IDCANCEL);
}

void QtDialogWindow::accept() {
    SendCommand(IDOK);
}

void QtDialogWindow::closeEvent(QCloseEvent* event) {
    // The close box or the window manager asks; the logic answers with EndDialog or a hide.
    event->ignore();
    SendCommand(IDCANCEL);
}

void QtDialogWindow::ConnectSliderNotifications(QSlider* slider) {
    // Only the user's own moves are notifications: a drag step or a channel click
    // (actionTriggered, raised after the position moved and before the value follows), and the
    // end of a drag. Positions set from code block the signals.
    connect(slider, &QSlider::actionTriggered, this, [this](int) {
        if (m_handler != nullptr) {
            m_handler->OnHScroll();
        }
    });
    connect(slider, &QSlider::sliderReleased, this, [this] {
        if (m_handler != nullptr) {
            m_handler->OnHScroll();
        }
    });
}

// --- pointer and keyboard ---

CPoint QtDialogWindow::GetCursorPos() const {
    const QPoint p = mapFromGlobal(QCursor::pos());
    return {p.x(), p.y()};
}

bool QtDialogWindow::IsLeftButtonDown() const {
    return QGuiApplication::mouseButtons().testFlag(Qt::LeftButton);
}

bool QtDialogWindow::IsCtrlDown() const {
    return QGuiApplication::keyboardModifiers().testFlag(Qt::ControlModifier);
}

void QtDialogWindow::SetCursor(CursorShape shape) {
    m_cursorChosenInMove = true;
    setCursor(shape == CursorShape::Hand ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void QtDialogWindow::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    event->accept();  // accepted presses keep the implicit grab, so the release comes back here
    if (m_handler == nullptr) {
        return;
    }
    if (event->button() == Qt::LeftButton) {
        m_handler->OnLButtonDown({p.x(), p.y()});
    } else if (event->button() == Qt::RightButton) {
        m_handler->OnRButtonDown({p.x(), p.y()});
    }
}

void QtDialogWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    event->accept();
    // A cursor holds only for the move that chose it: a move whose handler chooses none shows
    // the window's arrow again, so the hand never outlives the state that showed it (the hand
    // over a ROI is for the idle window only).
    m_cursorChosenInMove = false;
    if (m_handler != nullptr) {
        m_handler->OnMouseMove({p.x(), p.y()});
    }
    if (!m_cursorChosenInMove && cursor().shape() != Qt::ArrowCursor) {
        setCursor(Qt::ArrowCursor);
    }
}

void QtDialogWindow::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    event->accept();
    if (m_handler == nullptr) {
        return;
    }
    if (event->button() == Qt::LeftButton) {
        m_handler->OnLButtonUp({p.x(), p.y()});
    } else if (event->button() == Qt::RightButton) {
        // The context menu follows the release of the right button, wherever it happens.
        const QPoint g = event->globalPosition().toPoint();
        m_handler->OnContextMenu({g.x(), g.y()});
    }
}

void QtDialogWindow::contextMenuEvent(QContextMenuEvent* event) {
    // Qt on X11 asks for a context menu on the press; ours opens on the release (above).
    event->accept();
}

void QtDialogWindow::RequestKeyboardContextMenu() {
    if (m_handler == nullptr) {
        return;
    }
    const QWidget* focus = focusWidget();
    const QPoint g =
        focus != nullptr ? focus->mapToGlobal(QPoint(0, 0)) : mapToGlobal(QPoint(0, 0));
    m_handler->OnContextMenu({g.x(), g.y()});
}

int QtDialogWindow::TrackPopupMenu(const CPoint& screen, const std::string& text, int commandId,
                                   bool enabled) {
    QMenu menu(this);
    QAction* item = menu.addAction(ToQt(text));
    item->setEnabled(enabled);
    const QAction* chosen = menu.exec(QPoint(screen.x, screen.y));
    return (chosen != nullptr && chosen == item && enabled) ? commandId : 0;
}

// --- standard dialog keys ---

QAbstractButton* QtDialogWindow::ButtonForMnemonic(QChar letter) const {
    if (letter.isNull() || m_tmpl == nullptr) {
        return nullptr;
    }
    const QChar wanted = letter.toUpper();
    for (std::size_t i = 0; i < m_tmpl->controlCount; ++i) {
        const ControlTemplate& ctrl = m_tmpl->controls[i];
        if (!IsButtonKind(ctrl.kind) && ctrl.kind != ControlKind::RadioButton) {
            continue;
        }
        auto* button = qobject_cast<QAbstractButton*>(Control(ctrl.id));
        if (button == nullptr || !button->isEnabledTo(this) || !button->isVisibleTo(this)) {
            continue;
        }
        if (MnemonicOf(button->text()) == wanted) {
            return button;
        }
    }
    return nullptr;
}

bool QtDialogWindow::HandleStandardKey(const QKeyEvent& event) {
    const int key = event.key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (m_defaultButton != nullptr && m_defaultButton->isEnabled()) {
            m_defaultButton->click();
        }
        return true;
    }
    if (key == Qt::Key_Escape) {
        SendCommand(IDCANCEL);
        return true;
    }
    if (key == Qt::Key_Menu) {
        RequestKeyboardContextMenu();
        return true;
    }
    const Qt::KeyboardModifiers mods = event.modifiers();
    if (mods & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier)) {
        return false;  // Alt+letter is Qt's own mnemonic shortcut; Ctrl+letter is no mnemonic
    }
    if (!((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))) {
        return false;
    }
    // A control that types text keeps its letters.
    const QWidget* focus = focusWidget();
    if (const auto* edit = qobject_cast<const QLineEdit*>(focus); edit && !edit->isReadOnly()) {
        return false;
    }
    if (const auto* edit = qobject_cast<const QPlainTextEdit*>(focus);
        edit && !edit->isReadOnly()) {
        return false;
    }
    QAbstractButton* button = ButtonForMnemonic(QChar(key));
    if (button == nullptr) {
        return false;
    }
    button->click();
    return true;
}
