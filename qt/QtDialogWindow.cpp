#include "qt/QtDialogWindow.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QSlider>
#include <QTimer>

#include <algorithm>

#include "qt/QtFonts.h"
#include "qt/QtKeyHook.h"
#include "qt/QtMarkedSlider.h"
#include "qt/QtPictureWidget.h"
#include "res/Layout.h"
#include "res/Resource.h"

// The icon resource lives in this static library; registering it explicitly keeps the linker
// from dropping it from the executable. Q_INIT_RESOURCE must be used outside any namespace.
static void InitTagwrightResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(tagwright);
        return true;
    }();
    (void)done;
}

namespace {

QString ToQt(const std::string& text) {
    return QString::fromUtf8(text.data(), text.size());
}

std::string FromQt(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

QColor ToQColor(const Rgb& c) {
    return QColor(c.r, c.g, c.b);
}

CRect FromQRect(const QRect& r) {
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

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

QtDialogWindow::QtDialogWindow(int templateId, Role role, QWidget* parent)
    : QDialog(parent), m_tmpl(FindDialogTemplate(templateId)), m_isMain(role == Role::Main) {
    setObjectName(QStringLiteral("dlg_%1").arg(templateId));
    setMouseTracking(true);
    // The logic decides when the window goes away; Qt must never delete it behind our back.
    setAttribute(Qt::WA_DeleteOnClose, false);
    setSizeGripEnabled(false);

    const bool hasCloseBox = m_tmpl != nullptr && (m_tmpl->style & DLG_SYSMENU) != 0;
    if (m_isMain) {
        // A task-bar window with title and minimise/maximise but no close box: ending the
        // program goes through EXIT, Enter or Escape.
        setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowMinMaxButtonsHint);
    } else if (hasCloseBox) {
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint);
    } else {
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    }

    if (m_tmpl == nullptr) {
        return;
    }
    setWindowTitle(QString::fromUtf8(m_tmpl->caption));
    setFont(DialogFont(*m_tmpl));
    BuildControls();

    const CPoint client = TemplateClientSize(*m_tmpl);
    if ((m_tmpl->style & DLG_RESIZABLE) != 0) {
        setMinimumSize(std::max(0, m_tmpl->minWidthPx), std::max(0, m_tmpl->minHeightPx));
        resize(std::max(client.x, m_tmpl->minWidthPx), std::max(client.y, m_tmpl->minHeightPx));
    } else {
        setFixedSize(client.x, client.y);
    }
    LayoutControls();

    if (m_isMain) {
        // The main window opens at the top-left of the screen like its template says, not
        // centred: a 1202 x 781 window on a small screen keeps its title bar reachable.
        move(0, 0);
        m_keyHook = std::make_unique<QtKeyHook>(*this);
    }
}

QtDialogWindow::~QtDialogWindow() {
    // No more events to a handler that may already be gone.
    m_handler = nullptr;
    m_keyHook.reset();
    for (auto& [id, timer] : m_timers) {
        timer->stop();
    }
    // Side windows are owned by the logic that asked for them, not by their Qt parent: should
    // one outlive this window, it must not be deleted twice.
    for (QtDialogWindow* side :
         findChildren<QtDialogWindow*>(QString(), Qt::FindDirectChildrenOnly)) {
        side->hide();
        side->setParent(nullptr);
    }
}

void QtDialogWindow::BuildControls() {
    QWidget* previous = nullptr;
    ControlKind previousKind = ControlKind::GroupBox;
    for (std::size_t i = 0; i < m_tmpl->controlCount; ++i) {
        const ControlTemplate& ctrl = m_tmpl->controls[i];
        QWidget* w = CreateControl(ctrl);
        w->setObjectName(QStringLiteral("ctl_%1").arg(ctrl.id));
        w->setEnabled((ctrl.style & STYLE_DISABLED) == 0);
        m_controls[ctrl.id] = w;

        if (ctrl.kind == ControlKind::RadioButton) {
            auto* radio = static_cast<QAbstractButton*>(w);
            // A radio group starts at a control marked as group start, or at the first radio
            // after another kind of control; the following radios join it.
            if ((ctrl.style & STYLE_GROUP) != 0 || previousKind != ControlKind::RadioButton ||
                m_radioGroups.empty()) {
                RadioGroup group;
                group.firstId = ctrl.id;
                group.group = new QButtonGroup(this);
                group.group->setExclusive(true);
                m_radioGroups.push_back(group);
            }
            RadioGroup& group = m_radioGroups.back();
            group.group->addButton(radio, static_cast<int>(group.buttons.size()));
            group.buttons.push_back(radio);
        }
        // Tab order follows the template, as in a dialog built from it.
        if (previous != nullptr && w->focusPolicy() != Qt::NoFocus) {
            QWidget::setTabOrder(previous, w);
        }
        if (w->focusPolicy() != Qt::NoFocus) {
            previous = w;
        }
        previousKind = ctrl.kind;
    }
}

QWidget* QtDialogWindow::CreateControl(const ControlTemplate& ctrl) {
    const QString caption = QString::fromUtf8(ctrl.caption);
    const int id = ctrl.id;
    switch (ctrl.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton:
        case ControlKind::ColorButton: {
            auto* button = new QPushButton(caption, this);
            // Enter always goes to the template's default button, never to whichever button
            // happens to hold the focus.
            button->setAutoDefault(false);
            button->setFlat((ctrl.style & STYLE_FLAT) != 0);
            if (ctrl.kind == ControlKind::DefaultPushButton) {
                button->setDefault(true);
                m_defaultButton = button;
            }
            // Buttons show the arrow even while the dialog surface shows the hand.
            button->setCursor(Qt::ArrowCursor);
            connect(button, &QPushButton::clicked, this, [this, id] { SendCommand(id); });
            return button;
        }
        case ControlKind::RadioButton: {
            auto* radio = new QRadioButton(caption, this);
            radio->setCursor(Qt::ArrowCursor);
            connect(radio, &QRadioButton::clicked, this, [this, id] { SendCommand(id); });
            return radio;
        }
        case ControlKind::GroupBox: {
            auto* box = new QGroupBox(this);
            box->setTitle(caption);
            // The frame is decoration only; clicks on it belong to the dialog surface.
            box->setAttribute(Qt::WA_TransparentForMouseEvents);
            return box;
        }
        case ControlKind::Picture:
            return new QtPictureWidget(this);
        case ControlKind::Slider: {
            auto* slider = new QtMarkedSlider(this);
            slider->setTickPosition(QSlider::NoTicks);
            slider->setRange(0, 100);
            slider->setCursor(Qt::ArrowCursor);
            // Only the user's own moves are notifications: a drag step or a channel click
            // (actionTriggered, raised after the position moved and before the value follows),
            // and the end of a drag. Positions set from code block the signals.
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
            return slider;
        }
        case ControlKind::StaticText: {
            auto* label = new QLabel(caption, this);
            label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
            label->setTextFormat(Qt::PlainText);
            return label;
        }
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(caption, this);
            edit->setReadOnly((ctrl.style & STYLE_READONLY) != 0);
            edit->setCursor(Qt::IBeamCursor);
            return edit;
        }
        case ControlKind::MultiLineEdit: {
            auto* edit = new QPlainTextEdit(this);
            edit->setReadOnly(true);
            edit->setLineWrapMode(QPlainTextEdit::NoWrap);
            edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            // Read-only, but the operator can still select and copy, and the caret scrolls
            // the text sideways.
            edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
            edit->setPlainText(caption);
            return edit;
        }
    }
    return new QWidget(this);
}

void QtDialogWindow::LayoutControls() {
    if (m_tmpl == nullptr) {
        return;
    }
    const CPoint client{width(), height()};
    for (std::size_t i = 0; i < m_tmpl->controlCount; ++i) {
        const ControlTemplate& ctrl = m_tmpl->controls[i];
        auto it = m_controls.find(ctrl.id);
        if (it == m_controls.end()) {
            continue;
        }
        const CRect r = LayoutControlRect(*m_tmpl, ctrl, client);
        it->second->setGeometry(r.left, r.top, r.Width(), r.Height());
    }
}

void QtDialogWindow::SendCommand(int id) {
    if (m_handler != nullptr) {
        m_handler->OnCommand(id);
    }
}

QWidget* QtDialogWindow::Control(int id) const {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

bool QtDialogWindow::HasTimer(int id) const {
    auto it = m_timers.find(id);
    return it != m_timers.end() && it->second->isActive();
}

// --- window ---

void QtDialogWindow::ShowWindow(bool show) {
    if (!show) {
        hide();
        return;
    }
    QDialog::show();
    raise();
    activateWindow();
}

bool QtDialogWindow::IsWindowVisible() const {
    return isVisible();
}

int QtDialogWindow::exec() {
    ++m_execDepth;
    const int result = QDialog::exec();
    --m_execDepth;
    return result;
}

void QtDialogWindow::EndDialog(int result) {
    m_endResult = result;
    if (m_execDepth > 0) {
        done(result);  // ends the modal run; hides without a close event
    } else {
        hide();
    }
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

void QtDialogWindow::SetBackgroundColor(const Rgb& color) {
    QPalette pal = palette();
    pal.setColor(QPalette::Window, ToQColor(color));
    setPalette(pal);
    setAutoFillBackground(true);
    update();
}

void QtDialogWindow::SetIcon(int resourceId) {
    if (resourceId != IDR_MAINFRAME) {
        return;
    }
    InitTagwrightResources();
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/tagwright/icons/tagwright-%1.png").arg(size),
                     QSize(size, size));
    }
    setWindowIcon(icon);
}

CPoint QtDialogWindow::GetClientSize() const {
    return {width(), height()};
}

void QtDialogWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // The layout first, so the picture area has its full layout space back before the logic
    // fits it to the video again.
    LayoutControls();
    if (m_handler != nullptr) {
        m_handler->OnSize(width(), height());
    }
}

// --- controls ---

void QtDialogWindow::EnableControl(int id, bool enable) {
    if (QWidget* w = Control(id)) {
        w->setEnabled(enable);
    }
}

bool QtDialogWindow::IsControlEnabled(int id) const {
    const QWidget* w = Control(id);
    return w != nullptr && w->isEnabledTo(this);
}

void QtDialogWindow::SetControlText(int id, const std::string& text) {
    QWidget* w = Control(id);
    if (w == nullptr) {
        return;
    }
    const QString qtext = ToQt(text);
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(qtext);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(qtext);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(qtext);
        edit->setCursorPosition(0);
    } else if (auto* multi = qobject_cast<QPlainTextEdit*>(w)) {
        // Lines arrive joined by CR LF; the text box wants plain line breaks.
        QString normalised = qtext;
        normalised.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        multi->setPlainText(normalised);
    } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
        box->setTitle(qtext);
    }
}

std::string QtDialogWindow::GetControlText(int id) const {
    const QWidget* w = Control(id);
    if (w == nullptr) {
        return {};
    }
    if (auto* button = qobject_cast<const QAbstractButton*>(w)) {
        return FromQt(button->text());
    }
    if (auto* label = qobject_cast<const QLabel*>(w)) {
        return FromQt(label->text());
    }
    if (auto* edit = qobject_cast<const QLineEdit*>(w)) {
        return FromQt(edit->text());
    }
    if (auto* multi = qobject_cast<const QPlainTextEdit*>(w)) {
        QString text = multi->toPlainText();
        text.replace(QLatin1String("\n"), QLatin1String("\r\n"));
        return FromQt(text);
    }
    if (auto* box = qobject_cast<const QGroupBox*>(w)) {
        return FromQt(box->title());
    }
    return {};
}

void QtDialogWindow::SetCaptionColor(int id, const Rgb& color) {
    QWidget* w = Control(id);
    if (w == nullptr) {
        return;
    }
    QPalette pal = w->palette();
    const QColor c = ToQColor(color);
    // Active and inactive windows alike; a disabled control keeps the greyed caption.
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::ButtonText, c);
        pal.setColor(group, QPalette::WindowText, c);
        pal.setColor(group, QPalette::Text, c);
    }
    w->setPalette(pal);
    w->update();
}

void QtDialogWindow::SetControlFont(int id, const FontSpec& font) {
    if (QWidget* w = Control(id)) {
        w->setFont(MakeQtFont(font));
        w->update();
    }
}

void QtDialogWindow::SetFocus(int id) {
    if (QWidget* w = Control(id)) {
        w->setFocus(Qt::OtherFocusReason);
    }
}

const QtDialogWindow::RadioGroup* QtDialogWindow::FindRadioGroup(int firstId) const {
    for (const RadioGroup& g : m_radioGroups) {
        if (g.firstId == firstId) {
            return &g;
        }
    }
    return nullptr;
}

void QtDialogWindow::SetRadioIndex(int firstId, int index) {
    const RadioGroup* g = FindRadioGroup(firstId);
    if (g == nullptr) {
        return;
    }
    // An exclusive group cannot be emptied; -1 (none checked) needs the exclusivity lifted.
    g->group->setExclusive(false);
    for (std::size_t i = 0; i < g->buttons.size(); ++i) {
        const QSignalBlocker block(g->buttons[i]);
        g->buttons[i]->setChecked(static_cast<int>(i) == index);
    }
    g->group->setExclusive(true);
}

int QtDialogWindow::GetRadioIndex(int firstId) const {
    const RadioGroup* g = FindRadioGroup(firstId);
    if (g == nullptr) {
        return -1;
    }
    for (std::size_t i = 0; i < g->buttons.size(); ++i) {
        if (g->buttons[i]->isChecked()) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void QtDialogWindow::SetSliderRange(int id, int minPos, int maxPos, bool /*redraw*/) {
    if (auto* slider = qobject_cast<QSlider*>(Control(id))) {
        const QSignalBlocker block(slider);
        slider->setRange(minPos, std::max(minPos, maxPos));
    }
}

void QtDialogWindow::SetSliderTickFrequency(int id, int freq) {
    if (auto* slider = qobject_cast<QSlider*>(Control(id))) {
        slider->setTickInterval(std::max(0, freq));  // kept, although no ticks are drawn
    }
}

void QtDialogWindow::SetSliderPos(int id, int pos) {
    if (auto* slider = qobject_cast<QSlider*>(Control(id))) {
        const QSignalBlocker block(slider);
        slider->setValue(pos);
    }
}

void QtDialogWindow::SetSliderMarks(int id, CSliderMarks* marks) {
    if (auto* slider = qobject_cast<QtMarkedSlider*>(Control(id))) {
        slider->SetMarks(marks);
    }
}

int QtDialogWindow::GetSliderPos(int id) const {
    // The position, not the value: during a user action the value follows only after the
    // notification has been handled.
    if (auto* slider = qobject_cast<const QSlider*>(Control(id))) {
        return slider->sliderPosition();
    }
    return 0;
}

CRect QtDialogWindow::GetControlRect(int id) const {
    const QWidget* w = Control(id);
    return w == nullptr ? CRect{} : FromQRect(w->geometry());
}

void QtDialogWindow::ResizeControl(int id, int width, int height) {
    if (QWidget* w = Control(id)) {
        w->resize(std::max(0, width), std::max(0, height));
    }
}

void QtDialogWindow::PaintImage(int id, const cv::Mat& bgr, int viewWidth, int viewHeight) {
    if (auto* picture = qobject_cast<QtPictureWidget*>(Control(id))) {
        picture->SetImage(bgr, viewWidth, viewHeight);
    }
}

void QtDialogWindow::ClearImage(int id) {
    if (auto* picture = qobject_cast<QtPictureWidget*>(Control(id))) {
        picture->ClearImage();
    }
}

// --- timers ---

void QtDialogWindow::SetTimer(int id, int intervalMs) {
    QTimer*& timer = m_timers[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        // A tick that comes while the handler still runs is merged into one, never queued.
        connect(timer, &QTimer::timeout, this, [this, id] {
            if (m_handler != nullptr) {
                m_handler->OnTimer(id);
            }
        });
    }
    timer->start(std::max(1, intervalMs));  // restarts a running timer with the new period
}

void QtDialogWindow::KillTimer(int id) {
    auto it = m_timers.find(id);
    if (it != m_timers.end()) {
        it->second->stop();
    }
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
