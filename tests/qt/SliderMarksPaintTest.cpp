// The frame slider paints its marks under the columns the mark logic names, under the handle's
// positions, and nowhere else.

#include <QImage>
#include <QStyle>
#include <QStyleOptionSlider>

#include "QtTestSupport.h"
#include "app/SliderMarks.h"
#include "labels/LabelManager.h"
#include "qt/QtMarkedSlider.h"
#include "res/Resource.h"
#include "support/TempDir.h"

namespace {

constexpr int kFrames = 1000;

class SliderMarksPaint : public MainWindowFixture {
  protected:
    void SetUp() override {
        window->SetBackgroundColor({255, 255, 255});
        ASSERT_TRUE(ShowAndActivate(*window));
        slider = qobject_cast<QtMarkedSlider*>(Ctl(IDC_SLIDER));
        ASSERT_NE(slider, nullptr);
        window->SetSliderRange(IDC_SLIDER, 0, kFrames, false);
        // The handle rests at the top position, where no frame is labelled.
        window->SetSliderPos(IDC_SLIDER, kFrames);
        // Only what is stored is kept: the labels need a folder to live in.
        store.OpenVideo(dir / "marks.mp4");
        AddStretch(1, 100, 199);
        AddStretch(2, 500, 500);
        AddStretch(2, 700, 720);
        store.SetCurLabel(1);
        marks.SetFrameCount(kFrames);
        marks.Follow(&store, kCurrent);
    }

    void AddStretch(int label, int first, int last) {
        store.SetCurLabel(label);
        for (int f = first; f <= last; ++f) {
            store.AddROI(f, CRect{10, 10, 50, 50}, 0, 0);
        }
    }

    QImage Grab() const { return slider->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    static constexpr Rgb kCurrent{0, 0, 255};
    QtMarkedSlider* slider = nullptr;
    TempDir dir;
    CLabelManager store;
    CSliderMarks marks;
};

TEST_F(SliderMarksPaint, MarksAppearInTheirColumnsOnlyAndSitUnderTheHandle) {
    const QImage plain = Grab();
    window->SetSliderMarks(IDC_SLIDER, &marks);
    const QImage marked = Grab();
    ASSERT_EQ(plain.size(), marked.size());

    const int x0 = slider->MarkOriginX();
    const int span = slider->MarkSpan();
    const std::vector<SliderMark>& columns = marks.Columns(span);
    ASSERT_EQ(columns.size(), static_cast<size_t>(span) + 1);
    const QRect band = slider->MarkBand();
    int labelled = 0;
    int current = 0;
    for (int x = 0; x < marked.width(); ++x) {
        const int c = x - x0;
        const SliderMark m =
            c >= 0 && c <= span ? columns[static_cast<size_t>(c)] : SliderMark::None;
        bool changed = false;
        for (int y = 0; y < marked.height(); ++y) {
            if (marked.pixel(x, y) != plain.pixel(x, y)) {
                changed = true;
                ASSERT_TRUE(band.contains(x, y)) << "outside the band at " << x << "," << y;
            }
        }
        ASSERT_EQ(changed, m != SliderMark::None) << "column " << c;
        if (m == SliderMark::Labelled) {
            ++labelled;
            EXPECT_EQ(QColor(marked.pixel(x, band.bottom() - 1)), QtMarkedSlider::NeutralColor())
                << "column " << c;
        } else if (m == SliderMark::CurrentLabel) {
            ++current;
            EXPECT_EQ(QColor(marked.pixel(x, band.top())), QColor(0, 0, 255)) << "column " << c;
        }
    }
    EXPECT_GT(labelled, 0);
    EXPECT_GT(current, 0);

    // The mark of a frame lies under the handle showing it, whatever the position.
    const SliderScale scale{kFrames, span};
    for (int f : {0, 1, 150, 333, 500, 667, 710, 999, kFrames}) {
        EXPECT_EQ(scale.ColumnOf(f), QStyle::sliderPositionFromValue(0, kFrames, f, span)) << f;
    }
    QStyleOptionSlider opt;  // the handle at the first position
    opt.initFrom(slider);
    opt.orientation = Qt::Horizontal;
    opt.maximum = kFrames;
    EXPECT_EQ(x0, slider->style()
                      ->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, slider)
                      .center()
                      .x());

    // Moving the handle repaints the slider but recomputes nothing.
    const int computed = marks.Recomputations();
    for (int f : {150, 600, 900}) {
        window->SetSliderPos(IDC_SLIDER, f);
        Grab();
    }
    EXPECT_EQ(marks.Recomputations(), computed);

    // Without labels the slider looks exactly as it did without marks.
    window->SetSliderPos(IDC_SLIDER, kFrames);
    store.ResetStore();
    window->SetSliderMarks(IDC_SLIDER, &marks);
    EXPECT_EQ(Grab(), plain);
}

}  // namespace
