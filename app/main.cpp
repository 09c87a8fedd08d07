// Start-up of Tagwright: one modal main window, run until EXIT, Enter or Escape ends it.
//
//     tagwright [VIDEO]
//
// With a VIDEO argument (a desktop launcher's "Open with", or the README's run command) the
// video is opened as soon as the window is shown, by the same flow as the OPEN button without
// the file dialog. Without one the program starts with no video.

#include <QApplication>
#include <QTimer>

#include <filesystem>
#include <system_error>

#include "app/TagwrightDlg.h"
#include "qt/QtAppServices.h"
#include "qt/QtDialogWindow.h"
#include "qt/QtFonts.h"
#include "res/Resource.h"
#include "res/Templates.h"

namespace {

// A relative path from the command line is resolved against the directory it was typed in;
// the label folder is derived from the video's full path.
std::filesystem::path AbsoluteVideoPath(const char* arg) {
    const std::filesystem::path given(arg);
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(given, ec);
    return ec ? given : full.lexically_normal();
}

}  // namespace

// The application object: owns the Qt application, the main window and the main dialog's
// logic for the whole run.
class CTagwrightApp {
  public:
    int Run(int argc, char** argv);
};

int CTagwrightApp::Run(int argc, char** argv) {
    QApplication app(argc, argv);  // removes Qt's own options from argc and argv
    QApplication::setApplicationName(QStringLiteral("tagwright"));
    QApplication::setDesktopFileName(QStringLiteral("tagwright"));
    if (const DialogTemplate* tmpl = FindDialogTemplate(IDD_TAGWRIGHT_DIALOG)) {
        // Message boxes and menus use the application font: the dialog's font, with a Korean
        // family behind it for the Korean messages.
        QApplication::setFont(DialogFont(*tmpl));
    }

    QtDialogWindow window(IDD_TAGWRIGHT_DIALOG, QtDialogWindow::Role::Main);
    QtAppServices services(&window);
    {
        CTagwrightDlg dlg(window, services);
        services.SetMainDialog(&dlg);
        window.SetEventHandler(&dlg);
        dlg.OnInitDialog();
        QApplication::setWindowIcon(window.windowIcon());

        if (argc > 1 && argv[1] != nullptr && argv[1][0] != '\0') {
            dlg.SetVideoPath(AbsoluteVideoPath(argv[1]));
            // Once the window is shown and laid out, so the picture is fitted to its real size.
            QTimer::singleShot(0, &window, [&dlg] { dlg.OnCommand(ID_OPEN_VIDEO); });
        }

        window.show();
        window.exec();  // the result is not examined: every edit is already on disk

        dlg.OnDestroy();
        window.SetEventHandler(nullptr);
        services.SetMainDialog(nullptr);
        // The dialog goes first: it owns the side windows, which are Qt children of the main
        // window and must not outlive it.
    }
    return 0;
}

int main(int argc, char** argv) {
    CTagwrightApp app;
    return app.Run(argc, argv);
}
