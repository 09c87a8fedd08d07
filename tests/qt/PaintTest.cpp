// Painting video images into the picture area: stretched without smoothing onto the view
// rectangle, kept for repainting, forgotten on request.

#include <QImage>

#include <set>

#include <opencv2/core.hpp>

#include "QtTestSupport.h"
#include "qt/QtPictureWidget.h"
#include "res/Resource.h"

namespace {

// A small BGR image whose every pixel has its own colour.
cv::Mat DistinctImage(int cols, int rows) {
    cv::Mat img(rows, cols, CV_8UC3);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            img.at<cv::Vec3b>(y, x) =
                cv::Vec3b(static_cast<uchar>(20 + 50 * x), static_cast<uchar>(30 + 60 * y),
                          static_cast<uchar>(200 - 15 * (x + y)));
        }
    }
    return img;
}

QColor ColourOf(const cv::Mat& bgr, int x, int y) {
    const cv::Vec3b p = bgr.at<cv::Vec3b>(y, x);
    return QColor(p[2], p[1], p[0]);
}

class PictureArea : public MainWindowFixture {
  protected:
    void SetUp() override {
        window->SetBackgroundColor({255, 255, 255});
        ASSERT_TRUE(ShowAndActivate(*window));
        picture = qobject_cast<QtPictureWidget*>(Ctl(IDC_PICTURE));
        ASSERT_NE(picture, nullptr);
    }

    // What the screen shows over the picture area, in picture pixels.
    QImage Shown() const {
        return window->grab(picture->geometry()).toImage().convertToFormat(QImage::Format_RGB32);
    }

    QtPictureWidget* picture = nullptr;
};

}  // namespace

TEST_F(PictureArea, ImageIsStretchedOntoTheViewWithoutSmoothing) {
    const cv::Mat img = DistinctImage(4, 3);
    window->ResizeControl(IDC_PICTURE, 400, 300);
    window->PaintImage(IDC_PICTURE, img, 400, 300);
    const QImage shown = Shown();
    ASSERT_EQ(shown.size(), QSize(400, 300));

    // Each image pixel covers a 100 x 100 block; test well inside each block.
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
            for (const QPoint& d : {QPoint(10, 10), QPoint(50, 50), QPoint(90, 90)}) {
                EXPECT_EQ(shown.pixelColor(x * 100 + d.x(), y * 100 + d.y()), ColourOf(img, x, y));
            }
        }
    }
    // No pixel anywhere is a blend of two image pixels.
    std::set<QRgb> palette;
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            palette.insert(ColourOf(img, x, y).rgb());
        }
    }
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            ASSERT_TRUE(palette.count(shown.pixel(x, y))) << x << "," << y;
        }
    }
}

TEST_F(PictureArea, WidthAndHeightAreStretchedIndependently) {
    const cv::Mat img = DistinctImage(4, 3);
    window->ResizeControl(IDC_PICTURE, 600, 150);
    window->PaintImage(IDC_PICTURE, img, 600, 150);
    const QImage shown = Shown();
    // 150 x 50 blocks.
    EXPECT_EQ(shown.pixelColor(75, 25), ColourOf(img, 0, 0));
    EXPECT_EQ(shown.pixelColor(525, 25), ColourOf(img, 3, 0));
    EXPECT_EQ(shown.pixelColor(375, 125), ColourOf(img, 2, 2));
}

TEST_F(PictureArea, RowStrideOfASubImageIsHonoured) {
    cv::Mat big = DistinctImage(7, 5);
    const cv::Mat sub = big(cv::Rect(2, 1, 4, 3));  // not continuous: rows are 7 pixels apart
    ASSERT_FALSE(sub.isContinuous());
    window->ResizeControl(IDC_PICTURE, 400, 300);
    window->PaintImage(IDC_PICTURE, sub, 400, 300);
    const QImage shown = Shown();
    EXPECT_EQ(shown.pixelColor(50, 50), ColourOf(big, 2, 1));
    EXPECT_EQ(shown.pixelColor(350, 250), ColourOf(big, 5, 3));
    EXPECT_EQ(shown.pixelColor(150, 150), ColourOf(big, 3, 2));
}

TEST_F(PictureArea, KeepsItsOwnCopyAndRepaintsWhenUncovered) {
    cv::Mat img = DistinctImage(4, 3);
    window->ResizeControl(IDC_PICTURE, 400, 300);
    window->PaintImage(IDC_PICTURE, img, 400, 300);
    const QColor before = ColourOf(img, 1, 1);
    img.setTo(cv::Scalar(0, 0, 0));  // the caller reuses its buffer
    window->hide();
    window->show();
    const QImage shown = Shown();
    EXPECT_EQ(shown.pixelColor(150, 150), before);
}

TEST_F(PictureArea, ViewRectangleIsFilledBlackAndTheRestShowsTheDialog) {
    const cv::Mat img = DistinctImage(4, 3);
    // A view smaller than the area: the image covers the view only.
    window->ResizeControl(IDC_PICTURE, 500, 400);
    window->PaintImage(IDC_PICTURE, img, 400, 300);
    const QImage shown = Shown();
    EXPECT_EQ(shown.pixelColor(50, 50), ColourOf(img, 0, 0));
    EXPECT_EQ(shown.pixelColor(450, 350), QColor(255, 255, 255));
    EXPECT_EQ(shown.pixelColor(499, 350), QColor(0, 0, 0));  // the frame line
}

TEST_F(PictureArea, ClearImageLeavesTheEmptyBlackFrame) {
    window->ResizeControl(IDC_PICTURE, 400, 300);
    window->PaintImage(IDC_PICTURE, DistinctImage(4, 3), 400, 300);
    window->ClearImage(IDC_PICTURE);
    EXPECT_FALSE(picture->HasImage());
    const QImage shown = Shown();
    EXPECT_EQ(shown.pixelColor(0, 0), QColor(0, 0, 0));
    EXPECT_EQ(shown.pixelColor(399, 299), QColor(0, 0, 0));
    EXPECT_EQ(shown.pixelColor(200, 150), QColor(255, 255, 255));
}

TEST_F(PictureArea, GreyImagesPaintAndOtherTypesAreRefused) {
    cv::Mat grey(2, 2, CV_8UC1);
    grey.at<uchar>(0, 0) = 10;
    grey.at<uchar>(0, 1) = 100;
    grey.at<uchar>(1, 0) = 180;
    grey.at<uchar>(1, 1) = 250;
    window->ResizeControl(IDC_PICTURE, 200, 200);
    window->PaintImage(IDC_PICTURE, grey, 200, 200);
    const QImage shown = Shown();
    EXPECT_EQ(shown.pixelColor(150, 50), QColor(100, 100, 100));
    EXPECT_EQ(shown.pixelColor(50, 150), QColor(180, 180, 180));

    // A float image is not a picture: the last good one stays.
    EXPECT_FALSE(picture->SetImage(cv::Mat(2, 2, CV_32FC3, cv::Scalar(1, 1, 1)), 200, 200));
    EXPECT_FALSE(picture->SetImage(cv::Mat(), 200, 200));
    EXPECT_EQ(Shown().pixelColor(150, 50), QColor(100, 100, 100));
}
