#include "qt/QtPictureWidget.h"

#include <opencv2/imgproc.hpp>

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
    if (image.channels() != 3 && image.channels() != 1) {
        return false;
    }
    // The caller's buffer is reused for the next frame, so the widget keeps its own copy. It is
    // kept as 32-bit RGB (bytes B, G, R, 255 in memory, so one OpenCV conversion fills it): Qt
    // stretches that format directly, while a 24-bit image would be converted whole on every
    // paint, which costs more than decoding a 1080p frame.
    if (m_image.width() != image.cols || m_image.height() != image.rows ||
        m_image.format() != QImage::Format_RGB32) {
        m_image = QImage(image.cols, image.rows, QImage::Format_RGB32);
    }
    cv::Mat target(image.rows, image.cols, CV_8UC4, m_image.bits(),
                   static_cast<size_t>(m_image.bytesPerLine()));
    cv::cvtColor(image, target, image.channels() == 3 ? cv::COLOR_BGR2BGRA : cv::COLOR_GRAY2BGRA);
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
