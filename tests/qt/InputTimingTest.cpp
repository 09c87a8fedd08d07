// Input timing that only the real event loop has: a release swallowed by a message box opened
// during a drag, and a backlog of auto-repeated key presses queued while a step runs. The main
// dialog runs on the real window and Qt's own queue; the mouse goes through the QWindow, so a
// modal box blocks it as on a desktop.

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <string>

#include "QtTestSupport.h"
#include "app/TagwrightDlg.h"
#include "qt/QtAppServices.h"
#include "res/Resource.h"
#include "support/TempDir.h"
#include "video/SampleVideo.h"
#include "video/VideoManager.h"

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct RealDialog : public ::testing::Test {
    RealDialog() {
        SampleVideoOptions o;
        o.width = 640;
        o.height = 480;
        o.frames = 30;
        video = tmp / "clip.avi";
        folder = tmp / "clip";
        fs::create_directories(folder);
        std::ofstream(folder / "0.txt", std::ios::binary)
            << "100,100,200,200,1,0\r\n300,100,400,200,2,0\r\n";
        made = WriteSampleVideo(video, o);
        services.SetMainDialog(&dlg);
        window.SetEventHandler(&dlg);
        dlg.OnInitDialog();
    }
    ~RealDialog() override {
        dlg.OnDestroy();
        window.SetEventHandler(nullptr);
        services.SetMainDialog(nullptr);
    }
    bool Open() {
        if (!made || !ShowAndActivate(window)) {
            return false;
        }
        dlg.SetVideoPath(video);
        dlg.OnCommand(ID_OPEN_VIDEO);
        dlg.GetVideoManager()->WaitForIndex();
        return (dlg.GetModeFlags() & MODE_VIDEO_OPEN) != 0;
    }
    // A window point over a frame pixel.
    QPoint At(int x, int y) const {
        const CRect pic = window.GetControlRect(IDC_PICTURE);
        const double s = static_cast<double>(pic.Width()) / 640.0;
        return {pic.left + static_cast<int>(x * s) + 1, pic.top + static_cast<int>(y * s) + 1};
    }

    bool appReady = (TestApp(), true);  // before any widget
    TempDir tmp;
    fs::path video;
    fs::path folder;
    bool made = false;
    QtDialogWindow window{IDD_TAGWRIGHT_DIALOG, QtDialogWindow::Role::Main};
    QtAppServices services{&window};
    CTagwrightDlg dlg{window, services};
};

TEST_F(RealDialog, AReleaseSwallowedByABoxEndsTheMoveAndCCopiesUnmoved) {
    ASSERT_TRUE(Open());
    QWindow* w = window.windowHandle();
    QTest::mousePress(w, Qt::LeftButton, {}, At(150, 150));
    QTest::mouseMove(w, At(170, 160));
    bool answered = false;
    // While the quit question is up the button is released (the box takes it), then No.
    QTimer::singleShot(0, &window, [&] {
        QTest::mouseRelease(w, Qt::LeftButton, {}, At(170, 160));
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->button(QMessageBox::No)->click();
            answered = true;
        }
    });
    QTest::keyClick(w, Qt::Key_Escape);
    ASSERT_TRUE(answered);
    QTest::mouseMove(w, At(450, 350));
    QTest::keyClick(w, Qt::Key_C);
    EXPECT_EQ(ReadText(folder / "0.txt"), "100,100,200,200,1,0\r\n300,100,400,200,2,0\r\n");
    EXPECT_EQ(ReadText(folder / "1.txt"), "100,100,200,200,1,0\r\n300,100,400,200,2,0\r\n");
}

TEST_F(RealDialog, RepeatsQueuedBehindAStepAreDroppedAndTheKeyUpEndsIt) {
    ASSERT_TRUE(Open());
    QWindow* w = window.windowHandle();
    // A held Right: the press, then repeats the window system made while the first step was
    // still running (their time is the press's), all queued before the step began.
    const quint64 t0 = 100000;
    auto post = [&](QEvent::Type type, bool autoRepeat, quint64 time) {
        auto* ev = new QKeyEvent(type, Qt::Key_Right, Qt::NoModifier, QString(), autoRepeat);
        ev->setTimestamp(time);
        QCoreApplication::postEvent(w, ev);
    };
    post(QEvent::KeyPress, false, t0);
    for (int i = 0; i < 10; ++i) {
        post(QEvent::KeyRelease, true, t0);
        post(QEvent::KeyPress, true, t0);
    }
    post(QEvent::KeyRelease, false, t0 + 1);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg.GetVideoManager()->CurrentFrameIndex(), 1);
    // A fresh press after the key-up acts at once.
    post(QEvent::KeyPress, false, t0 + 5000);
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg.GetVideoManager()->CurrentFrameIndex(), 2);
}

}  // namespace
