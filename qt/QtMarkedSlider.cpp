#include "qt/QtMarkedSlider.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <vector>

#include "app/SliderMarks.h"

QtMarkedSlider::QtMarkedSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {}

void QtMarkedSlider::SetMarks(CSliderMarks* marks) {
    m_marks = marks;
    update();
}

QRect QtMarkedSlider::HandleRectAt(int position) const {
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    opt.sliderPosition = position;
    opt.sliderValue = position;
    return style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
}

int QtMarkedSlider::MarkOriginX() const {
    return HandleRectAt(minimum()).center().x();
}

int QtMarkedSlider::MarkSpan() const {
    // Asking the style where the handle stands at both ends keeps the marks under the handle
    // whatever handle length and margins the style uses.
    return HandleRectAt(maximum()).x() - HandleRectAt(minimum()).x();
}

QRect QtMarkedSlider::MarkBand() const {
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const int top = groove.bottom() + 2;
    const int bottom = height() - 1;
    if (bottom - top >= 2) {
        return QRect(0, top, width(), bottom - top + 1);
    }
    // A slider squeezed to its groove has no room below it: the marks go on the groove.
    return QRect(0, groove.top(), width(), groove.height());
}

void QtMarkedSlider::paintEvent(QPaintEvent* event) {
    if (m_marks != nullptr) {
        const int span = MarkSpan();
        const std::vector<SliderMark>& columns = m_marks->Columns(span);
        const int x0 = MarkOriginX();
        const QRect band = MarkBand();
        const int shortTop = band.bottom() - std::min(2, band.height() - 1);
        QPainter p(this);
        const Rgb rgb = m_marks->CurrentColor();
        const QColor currentColor(rgb.r, rgb.g, rgb.b);
        const QColor currentEdge = currentColor.darker(150);
        // One rectangle per run of equal columns: a labelled stretch is one bar.
        size_t c = 0;
        while (c < columns.size()) {
            size_t end = c + 1;
            while (end < columns.size() && columns[end] == columns[c]) {
                ++end;
            }
            const int x = x0 + static_cast<int>(c);
            const int w = static_cast<int>(end - c);
            if (columns[c] == SliderMark::Labelled) {
                p.fillRect(QRect(x, shortTop, w, band.bottom() - shortTop + 1), NeutralColor());
            } else if (columns[c] == SliderMark::CurrentLabel) {
                p.fillRect(QRect(x, band.top(), w, band.height() - 1), currentColor);
                p.fillRect(QRect(x, band.bottom(), w, 1), currentEdge);
            }
            c = end;
        }
    }
    // The slider itself goes over the band, so the handle covers the marks where it stands.
    QSlider::paintEvent(event);
}
