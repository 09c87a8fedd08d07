#include "qt/QtAppServices.h"

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "qt/QtDialogWindow.h"
#include "qt/QtProgress.h"

Q_LOGGING_CATEGORY(lcTagwrightKeys, "tagwright.keys", QtInfoMsg)

namespace {

QString ToQt(const std::string& text) {
    return QString::fromUtf8(text.data(), text.size());
}

}  // namespace

QStringList ConvertFileDialogFilter(const std::string& filter) {
    const QStringList parts = ToQt(filter).split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& name = parts[i];
        if (name.isEmpty()) {
            break;  // the "||" that ends the list
        }
        QStringList patterns;
        for (QString p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            p = p.trimmed();
            if (p == QLatin1String("*.*")) {
                p = QStringLiteral("*");
            }
            if (!p.isEmpty()) {
                patterns << p;
            }
        }
        if (patterns.isEmpty()) {
            patterns << QStringLiteral("*");
        }
        out << name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out;
}

MessageBoxResult QtAppServices::MessageBox(const std::string& text, MessageBoxType type) {
    const bool yesNo = type == MessageBoxType::YesNo;
    QMessageBox box(yesNo ? QMessageBox::Question : QMessageBox::Warning,
                    QString::fromUtf8(MessageBoxTitle()), ToQt(text),
                    yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, m_mainWindow);
    box.setTextFormat(Qt::PlainText);
    if (yesNo) {
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    }
    // The box runs its own event loop, so the playback timer keeps ticking meanwhile.
    const int answer = box.exec();
    if (!yesNo) {
        return MessageBoxResult::Ok;
    }
    // Closing the box any other way than with Yes is a No.
    return answer == QMessageBox::Yes ? MessageBoxResult::Yes : MessageBoxResult::No;
}

std::optional<std::filesystem::path> QtAppServices::OpenFileDialog(
    const std::string& filter, const std::filesystem::path& initialDir) {
    QFileDialog dialog(m_mainWindow, QStringLiteral("Open"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Show the filter names exactly as given, not followed by Qt's pattern list.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    const QStringList filters = ConvertFileDialogFilter(filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters.front());
    }
    if (!initialDir.empty()) {
        dialog.setDirectory(QFile::decodeName(QByteArray::fromStdString(initialDir.string())));
    }
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(QFile::encodeName(files.front()).toStdString());
}

void QtAppServices::BeginWaitCursor() {
    ++m_waitDepth;
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtAppServices::EndWaitCursor() {
    if (m_waitDepth <= 0) {
        return;  // unbalanced end: never pop a cursor someone else pushed
    }
    --m_waitDepth;
    QApplication::restoreOverrideCursor();
}

QtAppServices::QtAppServices(QWidget* mainWindow) : m_mainWindow(mainWindow) {}

QtAppServices::~QtAppServices() = default;

void QtAppServices::BeginProgress(const std::string& text, int total) {
    m_progress = std::make_unique<QtProgress>(m_mainWindow, text, total);
}

bool QtAppServices::StepProgress(int done) {
    return m_progress ? m_progress->Step(done) : true;
}

void QtAppServices::EndProgress() {
    m_progress.reset();
}

void QtAppServices::DebugTrace(const std::string& line) {
    QString text = ToQt(line);
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r'))) {
        text.chop(1);
    }
    qCDebug(lcTagwrightKeys).noquote() << text;
}

std::unique_ptr<IDialogWindow> QtAppServices::CreateDialogWindow(int templateId) {
    auto window =
        std::make_unique<QtDialogWindow>(templateId, QtDialogWindow::Role::Side, m_mainWindow);
    window->hide();
    return window;
}
