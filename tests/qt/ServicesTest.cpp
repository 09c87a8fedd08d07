// The application services on Qt: message boxes, the file dialog, the wait cursor, the key
// trace and side windows.

#include <QAbstractButton>
#include <QFileDialog>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QTimer>

#include <fstream>

#include "QtTestSupport.h"
#include "qt/QtAppServices.h"
#include "res/Resource.h"
#include "support/TempDir.h"

namespace {

// Runs `answer` on the modal widget that `open` brings up, then returns what open returned.
template <typename Open, typename Answer>
auto WithModal(Open open, Answer answer) {
    QTimer::singleShot(0, [answer] {
        QWidget* modal = QApplication::activeModalWidget();
        answer(modal);
    });
    return open();
}

QAbstractButton* ButtonOf(QMessageBox* box, QMessageBox::StandardButton which) {
    return box == nullptr ? nullptr : box->button(which);
}

}  // namespace

TEST(FileDialogFilter, BecomesQtNameFiltersKeepingTheNames) {
    EXPECT_EQ(ConvertFileDialogFilter("video file(*.mp4;)|*.mp4;|All Files(*.*)|*.*||"),
              (QStringList{"video file(*.mp4;) (*.mp4)", "All Files(*.*) (*)"}));
    EXPECT_EQ(ConvertFileDialogFilter("Videos|*.mp4;*.avi;*.MP4||"),
              (QStringList{"Videos (*.mp4 *.avi *.MP4)"}));
    // No terminator, a missing pattern, an empty string.
    EXPECT_EQ(ConvertFileDialogFilter("Text|*.txt"), (QStringList{"Text (*.txt)"}));
    EXPECT_EQ(ConvertFileDialogFilter("Anything|"), (QStringList{"Anything (*)"}));
    EXPECT_TRUE(ConvertFileDialogFilter("").isEmpty());
    EXPECT_TRUE(ConvertFileDialogFilter("||").isEmpty());
}

TEST(MessageBoxes, YesNoBoxShowsTitleTextAndAnswers) {
    TestApp();
    QtAppServices services;
    QString title, text;
    bool hasYes = false, hasNo = false, hasOk = true;
    const MessageBoxResult no = WithModal(
        [&] { return services.MessageBox("프로그램을 종료합니다.", MessageBoxType::YesNo); },
        [&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            hasYes = ButtonOf(box, QMessageBox::Yes) != nullptr;
            hasNo = ButtonOf(box, QMessageBox::No) != nullptr;
            hasOk = ButtonOf(box, QMessageBox::Ok) != nullptr;
            ButtonOf(box, QMessageBox::No)->click();
        });
    EXPECT_EQ(no, MessageBoxResult::No);
    EXPECT_EQ(title, QStringLiteral("KORVALEN Video Tagwright"));
    EXPECT_EQ(text.toStdString(), "프로그램을 종료합니다.");
    EXPECT_TRUE(hasYes);
    EXPECT_TRUE(hasNo);
    EXPECT_FALSE(hasOk);

    const MessageBoxResult yes = WithModal(
        [&] { return services.MessageBox("x", MessageBoxType::YesNo); },
        [](QWidget* w) { ButtonOf(qobject_cast<QMessageBox*>(w), QMessageBox::Yes)->click(); });
    EXPECT_EQ(yes, MessageBoxResult::Yes);

    // Escape is No, never a silent Yes.
    const MessageBoxResult escaped =
        WithModal([&] { return services.MessageBox("x", MessageBoxType::YesNo); },
                  [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
    EXPECT_EQ(escaped, MessageBoxResult::No);
}

TEST(MessageBoxes, OkBoxHasOnlyOk) {
    TestApp();
    QtAppServices services;
    int buttons = -1;
    const MessageBoxResult r =
        WithModal([&] { return services.MessageBox("Open 버튼을 누르세요", MessageBoxType::Ok); },
                  [&](QWidget* w) {
                      auto* box = qobject_cast<QMessageBox*>(w);
                      ASSERT_NE(box, nullptr);
                      buttons = static_cast<int>(box->buttons().size());
                      ButtonOf(box, QMessageBox::Ok)->click();
                  });
    EXPECT_EQ(r, MessageBoxResult::Ok);
    EXPECT_EQ(buttons, 1);
}

TEST(MessageBoxes, TimerTicksKeepComingWhileABoxIsOpen) {
    TestApp();
    QtDialogWindow main(IDD_TAGWRIGHT_DIALOG, QtDialogWindow::Role::Main);
    RecordingEvents events;
    main.SetEventHandler(&events);
    QtAppServices services(&main);
    main.SetTimer(PLAY_TIMER_ID, 1);
    // The box closes itself once three ticks have arrived while it was open.
    events.onTimer = [&](int) {
        if (events.timers.size() == 3) {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                box->button(QMessageBox::Ok)->click();
            }
        }
    };
    const MessageBoxResult r = services.MessageBox("playing", MessageBoxType::Ok);
    main.KillTimer(PLAY_TIMER_ID);
    EXPECT_EQ(r, MessageBoxResult::Ok);
    EXPECT_GE(events.timers.size(), 3u);
    main.SetEventHandler(nullptr);
}

TEST(FileDialog, StartsInTheGivenFolderWithTheFiltersAndReturnsTheChoice) {
    TestApp();
    TempDir dir;
    const std::filesystem::path file = dir / "내시경 01.mp4";
    std::ofstream(file) << "x";
    QtAppServices services;
    QStringList filters;
    QString folder;
    const auto chosen = WithModal(
        [&] {
            return services.OpenFileDialog("video file(*.mp4;)|*.mp4;|All Files(*.*)|*.*||",
                                           dir.Path());
        },
        [&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            ASSERT_NE(dialog, nullptr);
            filters = dialog->nameFilters();
            folder = dialog->directory().absolutePath();
            dialog->selectFile(QString::fromStdString(file.string()));
            QMetaObject::invokeMethod(dialog, "accept");
        });
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, file);
    EXPECT_EQ(filters, (QStringList{"video file(*.mp4;) (*.mp4)", "All Files(*.*) (*)"}));
    EXPECT_EQ(folder.toStdString(), dir.Path().string());
}

TEST(FileDialog, CancelGivesNothing) {
    TestApp();
    QtAppServices services;
    const auto chosen = WithModal([&] { return services.OpenFileDialog("All|*.*||", {}); },
                                  [](QWidget* w) {
                                      ASSERT_NE(qobject_cast<QFileDialog*>(w), nullptr);
                                      static_cast<QDialog*>(w)->reject();
                                  });
    EXPECT_FALSE(chosen.has_value());
}

TEST(WaitCursor, NestsAndNeverPopsACursorItDidNotPush) {
    TestApp();
    QtAppServices services;
    ASSERT_EQ(QApplication::overrideCursor(), nullptr);
    services.BeginWaitCursor();
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    services.BeginWaitCursor();
    services.EndWaitCursor();
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    services.EndWaitCursor();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    QApplication::setOverrideCursor(Qt::CrossCursor);  // someone else's
    services.EndWaitCursor();                          // unbalanced: ignored
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    QApplication::restoreOverrideCursor();
}

namespace {

std::vector<std::string> g_captured;

void Capture(QtMsgType, const QMessageLogContext& ctx, const QString& msg) {
    g_captured.push_back(std::string(ctx.category ? ctx.category : "") + ": " + msg.toStdString());
}

}  // namespace

TEST(KeyTrace, IsOffByDefaultAndGoesToItsCategoryWhenEnabled) {
    TestApp();
    QtAppServices services;
    EXPECT_FALSE(lcTagwrightKeys().isDebugEnabled());
    g_captured.clear();
    const QtMessageHandler previous = qInstallMessageHandler(Capture);
    services.DebugTrace("[Key] 20\n");
    EXPECT_TRUE(g_captured.empty());

    QLoggingCategory::setFilterRules(QStringLiteral("tagwright.keys.debug=true"));
    services.DebugTrace("[Key] 1b\n");
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(previous);
    EXPECT_EQ(g_captured, (std::vector<std::string>{"tagwright.keys: [Key] 1b"}));
}

TEST(SideWindowServices, CreatesHiddenChildrenOfTheMainWindowAndKnowsTheMainDialog) {
    TestApp();
    QtDialogWindow main(IDD_TAGWRIGHT_DIALOG, QtDialogWindow::Role::Main);
    QtAppServices services(&main);
    EXPECT_EQ(services.GetMainDialog(), nullptr);
    std::unique_ptr<IDialogWindow> report = services.CreateDialogWindow(IDD_DLG_REPORT);
    ASSERT_NE(report, nullptr);
    EXPECT_FALSE(report->IsWindowVisible());
    EXPECT_EQ(static_cast<QtDialogWindow*>(report.get())->parentWidget(), &main);
    EXPECT_EQ(report->GetControlText(IDC_STATIC_SAVE), "Save report ?");
    report->SetControlText(IDC_EDIT_COMMENT, "작은 용종");
    EXPECT_EQ(report->GetControlText(IDC_EDIT_COMMENT), "작은 용종");
}
