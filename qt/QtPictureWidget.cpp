#include "qt/QtPictureWidget.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

QtPictureWidget::QtPictureWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::StrongFocus);
}

bool QtPictureWidget::SetImage(const cv::Mat& image, int viewWidth, int viewHeight) {
    if (image.empty() || image.depth() != CV_8U) {
        return false;
    }
    QImage::Format format = QImage::Format_Invalid;
    if (image.channels() == 3) {
        format = QImage::Format_BGR888;
    } else if (image.channels() == 1) {
        format = QImage::Format_Grayscale8;
    } else {
        return false;
    }
    // The caller's buffer is reused for the next frame, so the widget keeps its own copy; the
    // row stride is passed on because a display image may be padded or a sub-matrix.
    const QImage view(image.data, image.cols, image.rows, static_cast<qsizetype>(image.step[0]),
                      format);
    m_image = view.copy();
    m_viewSize = QSize(std::max(0, viewWidth), std::max(0, viewHeight));
    update();
    return true;
}

void QtPictureWidget::ClearImage() {
    m_image = QImage();
    m_viewSize = QSize();
    update();
}

void QtPictureWidget::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    // The black frame of an empty picture area; a painted image covers it.
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    if (m_image.isNull() || m_viewSize.isEmpty()) {
        return;
    }
    const QRect target(QPoint(0, 0), m_viewSize);
    painter.fillRect(target, Qt::black);
    // No smoothing: every screen pixel shows exactly one image pixel, as the frame-accurate
    // editing needs.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(target, m_image);
}
