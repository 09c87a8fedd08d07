#pragma once

#include <QImage>
#include <QWidget>

#include <opencv2/core.hpp>

// The picture area of a dialog: a black frame that shows the last painted video image.
//
// The widget is transparent for mouse input, so presses, moves and releases over it reach the
// dialog in dialog client pixels, as the editing handlers expect. It accepts the keyboard focus
// because every key-down moves the focus here. It keeps a deep copy of the last image so that an
// uncovered area is painted again without asking the dialog's logic.
class QtPictureWidget : public QWidget {
    Q_OBJECT
  public:
    explicit QtPictureWidget(QWidget* parent = nullptr);

    // Keeps a copy of a BGR (or grey) 8-bit image and schedules a repaint: the view rectangle
    // (0, 0, viewWidth, viewHeight) is filled black and the whole image is stretched onto it
    // with nearest-neighbour sampling. Returns false (and forgets nothing) for an image of
    // another type.
    bool SetImage(const cv::Mat& image, int viewWidth, int viewHeight);
    // Forgets the picture; the area shows its frame on the dialog background again.
    void ClearImage();

    bool HasImage() const { return !m_image.isNull(); }
    const QImage& Image() const { return m_image; }
    QSize ViewSize() const { return m_viewSize; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage m_image;
    QSize m_viewSize;
};
