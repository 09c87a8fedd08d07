// QtDialogWindow, part one: the window and its controls built from a dialog template, the
// state of the controls by id, and timers. Input routing lives in QtDialogInput.cpp, painting in
// QtDialogPaint.cpp.

#include "qt/QtDialogWindow.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QSlider>
#include <QTimer>

#include <algorithm>

#include "qt/QtConversions.h"
#include "qt/QtFonts.h"
#include "qt/QtKeyHook.h"
#include "qt/QtMarkedSlider.h"
#include "qt/QtPictureWidget.h"
#include "res/Layout.h"
#include "res/Resource.h"

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
            ConnectSliderNotifications(slider);
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
