#include "qt/QtFonts.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>
#include <cmath>

#include "res/Layout.h"

namespace {

constexpr int kMinStretch = 50;

QFont BaseFont() {
    QFont font;
    font.setFamilies(TagwrightFontFamilies());
    font.setStyleHint(QFont::SansSerif);
    return font;
}

bool IsButton(ControlKind kind) {
    return kind == ControlKind::PushButton || kind == ControlKind::DefaultPushButton ||
           kind == ControlKind::ColorButton;
}

// The width the control's style leaves for its caption, or -1 for a control without one.
int CaptionRoom(const DialogTemplate& tmpl, const ControlTemplate& ctrl, const QFont& font) {
    const CRect r = TemplateRectPixels(tmpl, ctrl);
    if (ctrl.kind == ControlKind::StaticText) {
        return r.Width();
    }
    const bool radio = ctrl.kind == ControlKind::RadioButton;
    if (!radio && !IsButton(ctrl.kind)) {
        return -1;
    }
    QStyleOptionButton opt;
    opt.rect = QRect(0, 0, r.Width(), r.Height());
    opt.fontMetrics = QFontMetrics(font);
    opt.text = QString::fromUtf8(ctrl.caption);
    opt.state = QStyle::State_Enabled;
    if ((ctrl.style & STYLE_FLAT) != 0) {
        opt.features |= QStyleOptionButton::Flat;
    }
    if (ctrl.kind == ControlKind::DefaultPushButton) {
        opt.features |= QStyleOptionButton::DefaultButton;
    }
    const QStyle::SubElement part =
        radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents;
    return QApplication::style()->subElementRect(part, &opt, nullptr).width();
}

// The smallest share of its caption's width that a control has room for (1 when all fit).
double WorstCaptionFit(const DialogTemplate& tmpl, const QFont& font) {
    const QFontMetricsF metrics(font);
    double worst = 1.0;
    for (std::size_t i = 0; i < tmpl.controlCount; ++i) {
        const ControlTemplate& ctrl = tmpl.controls[i];
        const int room = CaptionRoom(tmpl, ctrl, font);
        if (room < 0) {
            continue;
        }
        // Buttons and radios show '&' as the mnemonic underline; static texts show it as is.
        const int flags =
            ctrl.kind == ControlKind::StaticText ? Qt::TextSingleLine : Qt::TextShowMnemonic;
        const double needed = metrics.size(flags, QString::fromUtf8(ctrl.caption)).width();
        if (needed > room) {
            worst = std::min(worst, room / needed);
        }
    }
    return worst;
}

}  // namespace

QStringList TagwrightFontFamilies() {
    return {QStringLiteral("DejaVu Sans"), QStringLiteral("NanumGothic")};
}

double AverageCharWidth(const QFont& font) {
    static const QString alphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return QFontMetricsF(font).horizontalAdvance(alphabet) / alphabet.size();
}

QFont NarrowToAverageWidth(QFont font, double targetPx) {
    int stretch = std::clamp(font.stretch() > 0 ? font.stretch() : 100, kMinStretch, 100);
    // Two or three steps settle it: one to the estimate, one more when a condensed face came.
    for (int step = 0; step < 4 && stretch > kMinStretch; ++step) {
        font.setStretch(stretch);
        const double avg = AverageCharWidth(font);
        if (avg <= targetPx || avg <= 0.0) {
            return font;
        }
        const int next = static_cast<int>(std::floor(stretch * targetPx / avg));
        stretch = std::clamp(next, kMinStretch, stretch - 1);
    }
    font.setStretch(stretch);
    return font;
}

QFont MakeQtFont(const FontSpec& spec) {
    QFont font = BaseFont();
    if (spec.heightPx <= 0) {
        font.setWeight(static_cast<QFont::Weight>(std::clamp(spec.weight, 100, 900)));
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
    // The width comes from the regular weight, so that a bold caption stays as much wider than
    // a normal one as the face makes it.
    font.setWeight(QFont::Normal);
    font = NarrowToAverageWidth(font, font.pixelSize() / 2.0);
    font.setWeight(static_cast<QFont::Weight>(std::clamp(spec.weight, 100, 900)));
    return font;
}

QFont DialogFont(const DialogTemplate& tmpl) {
    QFont font = BaseFont();
    const int points = tmpl.fontPointSize > 0 ? tmpl.fontPointSize : 9;
    // Dialog templates assume 96 dots per inch; a pixel size keeps the controls' text in
    // proportion to their pixel rectangles on any screen.
    font.setPixelSize(static_cast<int>(std::lround(points * 96.0 / 72.0)));
    // A horizontal dialog unit is a quarter of the dialog font's average character width: with
    // that width the captions take the share of their controls the template was drawn with.
    font = NarrowToAverageWidth(font, 4.0 * ScaleForTemplate(tmpl).x);
    // The substitute's letters are not proportioned like the original's everywhere (a caption
    // heavy in wide letters comes out wider), so the tightest caption may ask for a little more.
    for (int step = 0; step < 3 && font.stretch() > kMinStretch; ++step) {
        const double worst = WorstCaptionFit(tmpl, font);
        if (worst >= 1.0) {
            break;
        }
        const int next = static_cast<int>(std::floor(font.stretch() * worst));
        font.setStretch(std::clamp(next, kMinStretch, font.stretch() - 1));
    }
    return font;
}
