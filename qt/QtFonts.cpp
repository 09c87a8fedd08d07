#include "qt/QtFonts.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace {

QFont BaseFont() {
    QFont font;
    font.setFamilies(TagwrightFontFamilies());
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace

QStringList TagwrightFontFamilies() {
    return {QStringLiteral("DejaVu Sans"), QStringLiteral("NanumGothic")};
}

QFont MakeQtFont(const FontSpec& spec) {
    QFont font = BaseFont();
    font.setWeight(static_cast<QFont::Weight>(std::clamp(spec.weight, 100, 900)));
    if (spec.heightPx <= 0) {
        return font;
    }
    // Windows sizes a font by its cell height; Qt by its em size. Measure the family's cell at a
    // large em and scale down so that the cell comes out at the requested height.
    const int probeEm = 100;
    QFont probe = font;
    probe.setPixelSize(probeEm);
    const double cell = QFontMetricsF(probe).height();
    int em = spec.heightPx;
    if (cell > 0.0) {
        em = static_cast<int>(std::lround(spec.heightPx * probeEm / cell));
    }
    font.setPixelSize(std::max(1, em));
    return font;
}

QFont DialogFont(const DialogTemplate& tmpl) {
    QFont font = BaseFont();
    const int points = tmpl.fontPointSize > 0 ? tmpl.fontPointSize : 9;
    // Dialog templates assume 96 dots per inch; a pixel size keeps the controls' text in
    // proportion to their pixel rectangles on any screen.
    font.setPixelSize(static_cast<int>(std::lround(points * 96.0 / 72.0)));
    // The substitute is wider than the face the templates were drawn for; narrowing it keeps
    // captions such as "2 : Removed" inside their rectangles.
    font.setStretch(QFont::SemiCondensed);
    return font;
}
