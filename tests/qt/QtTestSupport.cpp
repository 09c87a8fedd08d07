#include "QtTestSupport.h"

#include "res/Resource.h"

void RecordingEvents::OnSize(int cx, int cy) {
    sizes.push_back({cx, cy});
    log.push_back("size " + std::to_string(cx) + "x" + std::to_string(cy));
    if (window != nullptr) {
        pictureRectsAtSize.push_back(window->GetControlRect(IDC_PICTURE));
    }
}

void RecordingEvents::OnHScroll() {
    ++hscrolls;
    log.emplace_back("hscroll");
    if (window != nullptr) {
        sliderPosAtScroll.push_back(window->GetSliderPos(IDC_SLIDER));
    }
}

bool ShowAndActivate(QWidget& w) {
    w.show();
    w.raise();
    w.activateWindow();
    return QTest::qWaitForWindowActive(&w);
}

MainWindowFixture::MainWindowFixture() {
    TestApp();
    window = std::make_unique<QtDialogWindow>(IDD_TAGWRIGHT_DIALOG, QtDialogWindow::Role::Main);
    events.window = window.get();
    window->SetEventHandler(&events);
}

MainWindowFixture::~MainWindowFixture() {
    window->SetEventHandler(nullptr);
    window.reset();
}

QWidget* MainWindowFixture::Ctl(int id) const {
    return window->findChild<QWidget*>(QStringLiteral("ctl_%1").arg(id));
}
