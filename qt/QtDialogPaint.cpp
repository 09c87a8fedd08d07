// QtDialogWindow, part three: painting. The background, the icon, caption colours and fonts of
// controls, and the frame image in the picture area.

#include <QIcon>
#include <QPalette>

#include "qt/QtConversions.h"
#include "qt/QtDialogWindow.h"
#include "qt/QtFonts.h"
#include "qt/QtPictureWidget.h"
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
