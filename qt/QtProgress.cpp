#include "qt/QtProgress.h"

#include <algorithm>

#include <QApplication>
#include <QKeyEvent>
#include <QWindow>

#include "qt/QtAppServices.h"

namespace {

constexpr int kShowAfterMs = 500;

bool IsInput(QEvent::Type type) {
    switch (type) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::Close:
            return true;
        default:
            return false;
    }
}

}  // namespace

QtProgress::QtProgress(QWidget* parent, const std::string& text, int total) {
    m_box = std::make_unique<QProgressDialog>(
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
        QStringLiteral("Stop (Esc)"), 0, std::max(1, total), parent);
    m_box->setWindowTitle(QString::fromUtf8(QtAppServices::MessageBoxTitle()));
    m_box->setWindowModality(Qt::ApplicationModal);
    m_box->setMinimumDuration(kShowAfterMs);
    m_box->setAutoClose(false);
    m_box->setAutoReset(false);
    QObject::connect(m_box.get(), &QProgressDialog::canceled, this, [this] { m_stop = true; });
    qApp->installEventFilter(this);
    // Starts the box's clock: it shows itself once the estimate passes half a second.
    m_box->setValue(0);
}

QtProgress::~QtProgress() {
    qApp->removeEventFilter(this);
    m_box->hide();
}

bool QtProgress::Step(int done) {
    m_box->setValue(std::min(done, m_box->maximum()));
    // The box handles events itself only once shown; before that, Escape must still come
    // through, and timers must still tick.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return !m_stop;
}

bool QtProgress::BelongsToBox(QObject* watched) const {
    if (auto* w = qobject_cast<QWidget*>(watched)) {
        return w == m_box.get() || m_box->isAncestorOf(w);
    }
    if (auto* win = qobject_cast<QWindow*>(watched)) {
        return win == m_box->windowHandle();
    }
    return false;
}

bool QtProgress::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        m_stop = true;
        return true;
    }
    if (IsInput(type) && !BelongsToBox(watched)) {
        // A close of the main window would tear the dialog down under the operation.
        if (type == QEvent::Close) {
            event->ignore();
        }
        return true;
    }
    return QObject::eventFilter(watched, event);
}
