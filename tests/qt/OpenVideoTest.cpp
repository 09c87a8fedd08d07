// The real main dialog in the real window: opening a generated video paints its frame into the
// picture area, and the arrow key steps through the hook to the next frame on screen.

#include <QImage>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>

#include <fstream>

#include <opencv2/imgproc.hpp>

#include "QtTestSupport.h"
#include "app/TagwrightDlg.h"
#include "qt/QtAppServices.h"
#include "res/Resource.h"
#include "support/TempDir.h"
#include "video/SampleVideo.h"
#include "video/VideoManager.h"

namespace {

// The picture area as the screen shows it, as a BGR image the size of the view.
cv::Mat ShownPicture(QtDialogWindow& window, const CPoint& view) {
    const CRect r = window.GetControlRect(IDC_PICTURE);
    const QImage shot = window.grab(QRect(r.left, r.top, view.x, view.y))
                            .toImage()
                            .convertToFormat(QImage::Format_BGR888);
    cv::Mat wrapped(shot.height(), shot.width(), CV_8UC3, const_cast<uchar*>(shot.constBits()),
                    static_cast<std::size_t>(shot.bytesPerLine()));
    return wrapped.clone();
}

// The share of view pixels that show exactly the frame pixel a nearest-neighbour stretch takes
// from the pixel centre.
double ShareMatchingFrame(const cv::Mat& shown, const cv::Mat& frame) {
    int same = 0;
    for (int y = 0; y < shown.rows; ++y) {
        const int sy = std::min(frame.rows - 1, (2 * y + 1) * frame.rows / (2 * shown.rows));
        for (int x = 0; x < shown.cols; ++x) {
            const int sx = std::min(frame.cols - 1, (2 * x + 1) * frame.cols / (2 * shown.cols));
            if (shown.at<cv::Vec3b>(y, x) == frame.at<cv::Vec3b>(sy, sx)) {
                ++same;
            }
        }
    }
    return static_cast<double>(same) / (shown.rows * shown.cols);
}

class RealMainDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        TestApp();
        options.width = 320;
        options.height = 240;
        options.frames = 8;
        video = dir / "clip.avi";
        ASSERT_TRUE(WriteSampleVideo(video, options));

        window = std::make_unique<QtDialogWindow>(IDD_TAGWRIGHT_DIALOG);
        services = std::make_unique<QtAppServices>(window.get());
        dlg = std::make_unique<CTagwrightDlg>(*window, *services);
        services->SetMainDialog(dlg.get());
        window->SetEventHandler(dlg.get());
        ASSERT_TRUE(dlg->OnInitDialog());
        ASSERT_TRUE(ShowAndActivate(*window));
    }

    void TearDown() override {
        dlg->OnDestroy();
        window->SetEventHandler(nullptr);
        dlg.reset();
        services.reset();
        window.reset();
    }

    TempDir dir;
    SampleVideoOptions options;
    std::filesystem::path video;
    std::unique_ptr<QtDialogWindow> window;
    std::unique_ptr<QtAppServices> services;
    std::unique_ptr<CTagwrightDlg> dlg;
};

}  // namespace

TEST_F(RealMainDialog, StartsWithoutAVideoAndHiddenSideWindows) {
    EXPECT_EQ(services->GetMainDialog(), dlg.get());
    EXPECT_EQ(dlg->GetModeFlags(), MODE_IDLE);
    EXPECT_FALSE(window->IsControlEnabled(IDC_BTN_PLAY));
    EXPECT_EQ(window->GetControlText(IDC_STATIC_FRAME), "--");
    // The side windows exist, hidden, as children of the main window.
    int sideWindows = 0;
    for (QtDialogWindow* w : window->findChildren<QtDialogWindow*>()) {
        EXPECT_FALSE(w->isVisible());
        ++sideWindows;
    }
    EXPECT_EQ(sideWindows, 3);
    EXPECT_FALSE(window->windowIcon().isNull());
}

TEST_F(RealMainDialog, OpenedVideoIsPaintedAndTheRightKeyShowsTheNextFrame) {
    dlg->SetVideoPath(video);
    dlg->OnCommand(ID_OPEN_VIDEO);
    ASSERT_EQ(dlg->GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_EQ(window->GetControlText(IDC_EDIT_PATH), video.string());
    EXPECT_EQ(window->GetControlText(IDC_STATIC_FRAME), "0");
    EXPECT_TRUE(window->IsControlEnabled(IDC_BTN_PLAY));

    // The picture area was fitted to 4:3 inside its 1047 x 702 layout space.
    const CPoint view = dlg->GetViewSize();
    EXPECT_EQ(view, (CPoint{936, 702}));
    EXPECT_EQ(window->GetControlRect(IDC_PICTURE), (CRect{11, 12, 11 + 936, 12 + 702}));

    CVideoManager* vm = dlg->GetVideoManager();
    ASSERT_NE(vm, nullptr);
    const cv::Mat frame0 = vm->CurrentFrame().clone();
    const cv::Mat shown0 = ShownPicture(*window, view);
    EXPECT_GT(ShareMatchingFrame(shown0, frame0), 0.98);
    cv::Mat back;
    cv::resize(shown0, back, frame0.size(), 0, 0, cv::INTER_NEAREST);
    EXPECT_EQ(ReadStampedIndex(back), 0);

    // Right arrow, through the pre-dispatch hook.
    QTest::keyClick(window->windowHandle(), Qt::Key_Right);
    EXPECT_EQ(window->GetControlText(IDC_STATIC_FRAME), "1");
    EXPECT_EQ(window->GetSliderPos(IDC_SLIDER), 1);
    EXPECT_EQ(QApplication::focusWidget(), window->Control(IDC_PICTURE));
    const cv::Mat shown1 = ShownPicture(*window, view);
    EXPECT_GT(ShareMatchingFrame(shown1, vm->CurrentFrame()), 0.98);
    cv::resize(shown1, back, frame0.size(), 0, 0, cv::INTER_NEAREST);
    EXPECT_EQ(ReadStampedIndex(back), 1);
}

// The wheel steps one frame wherever the pointer is; over the slider too, which would otherwise
// take the same wheel event for a move of its own and seek once more.
TEST_F(RealMainDialog, WheelOverTheSliderStepsOneFrame) {
    dlg->SetVideoPath(video);
    dlg->OnCommand(ID_OPEN_VIDEO);
    ASSERT_EQ(window->GetControlText(IDC_STATIC_FRAME), "0");
    const QPoint over = window->Control(IDC_SLIDER)->geometry().center();
    auto wheel = [&](int delta) {
        QWindow* handle = window->windowHandle();
        QWheelEvent ev(QPointF(over), handle->mapToGlobal(QPointF(over)), QPoint(),
                       QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(handle, &ev);
    };
    wheel(-120);  // towards the user: the next frame
    wheel(-120);
    EXPECT_EQ(window->GetControlText(IDC_STATIC_FRAME), "2");
    EXPECT_EQ(dlg->GetVideoManager()->CurrentFrameIndex(), 2);
    wheel(120);  // away: the previous frame
    EXPECT_EQ(window->GetControlText(IDC_STATIC_FRAME), "1");
    EXPECT_EQ(window->GetSliderPos(IDC_SLIDER), 1);
}

TEST_F(RealMainDialog, GrowingTheWindowRefitsAndRepaintsThePicture) {
    dlg->SetVideoPath(video);
    dlg->OnCommand(ID_OPEN_VIDEO);
    ASSERT_EQ(dlg->GetViewSize(), (CPoint{936, 702}));
    window->resize(1400, 900);
    QCoreApplication::processEvents();
    // Layout space 1245 x 821: height-limited, so 4:3 gives 1094 x 821.
    EXPECT_EQ(dlg->GetViewSize(), (CPoint{1094, 821}));
    EXPECT_EQ(window->GetControlRect(IDC_PICTURE), (CRect{11, 12, 11 + 1094, 12 + 821}));
    const cv::Mat shown = ShownPicture(*window, dlg->GetViewSize());
    EXPECT_GT(ShareMatchingFrame(shown, dlg->GetVideoManager()->CurrentFrame()), 0.98);
}

TEST_F(RealMainDialog, PlainKClicksSkipAndSelectsLabelThirty) {
    QTest::keyClick(window->windowHandle(), Qt::Key_K);
    // The SKIP caption turns to the selection colour; label 1 goes back to black.
    const QColor skip =
        window->Control(IDC_BTN_SKIP)->palette().color(QPalette::Active, QPalette::ButtonText);
    const QColor label1 =
        window->Control(1010)->palette().color(QPalette::Active, QPalette::ButtonText);
    EXPECT_EQ(skip, QColor(255, 0, 0));
    EXPECT_EQ(label1, QColor(0, 0, 0));
}

// Escape during the fill of I, however early, stops it: nothing is written, and the key goes no
// further (it would ask whether to quit).
TEST_F(RealMainDialog, EscapeStopsTheFillAndNothingIsWritten) {
    const std::filesystem::path folder = dir / "clip";
    std::filesystem::create_directories(folder);
    for (int f : {0, 7}) {
        const CRect r = SampleBlobBox(options, f);
        std::ofstream(folder / (std::to_string(f) + ".txt"), std::ios::binary)
            << r.left << ',' << r.top << ',' << r.right << ',' << r.bottom << ",1,0\r\n";
    }
    dlg->SetVideoPath(video);
    dlg->OnCommand(ID_OPEN_VIDEO);
    ASSERT_TRUE(dlg->GetVideoManager()->SeekFrame(7));
    dlg->RefreshView(1);
    // Waiting when the fill starts, and so handled at its first step.
    QCoreApplication::postEvent(window->windowHandle(),
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    bool boxShown = false;
    QTimer::singleShot(3000, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            boxShown = true;
            modal->close();
        }
    });
    QTest::keyClick(window->windowHandle(), Qt::Key_I);
    EXPECT_FALSE(boxShown);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    for (int f = 1; f < 7; ++f) {
        EXPECT_FALSE(std::filesystem::exists(folder / (std::to_string(f) + ".txt"))) << f;
    }
    EXPECT_EQ(dlg->GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_EQ(window->GetControlText(IDC_STATIC_FRAME), "7");
    // Input reaches the dialog again.
    QTest::keyClick(window->windowHandle(), Qt::Key_Left);
    EXPECT_EQ(window->GetControlText(IDC_STATIC_FRAME), "6");
}
