#include "res/Layout.h"

#include <cmath>

namespace {

int RoundPx(double v) {
    return static_cast<int>(std::floor(v + 0.5));
}

}  // namespace

DialogUnitScale ScaleForTemplate(const DialogTemplate& tmpl) {
    const double pt = tmpl.fontPointSize > 0 ? tmpl.fontPointSize : 9;
    return {pt / 6.0, pt * 7.0 / 36.0};
}

CRect TemplateRectPixels(const DialogTemplate& tmpl, const ControlTemplate& ctrl) {
    const DialogUnitScale s = ScaleForTemplate(tmpl);
    return {RoundPx(ctrl.x * s.x), RoundPx(ctrl.y * s.y), RoundPx((ctrl.x + ctrl.cx) * s.x),
            RoundPx((ctrl.y + ctrl.cy) * s.y)};
}

CPoint TemplateClientSize(const DialogTemplate& tmpl) {
    const DialogUnitScale s = ScaleForTemplate(tmpl);
    return {RoundPx(tmpl.cx * s.x), RoundPx(tmpl.cy * s.y)};
}

CRect LayoutControlRect(const DialogTemplate& tmpl, const ControlTemplate& ctrl,
                        const CPoint& clientSize) {
    const CRect base = TemplateRectPixels(tmpl, ctrl);
    const CPoint initial = TemplateClientSize(tmpl);
    const int dx = clientSize.x - initial.x;
    const int dy = clientSize.y - initial.y;
    const int moveX = dx * ctrl.moveX / 100;
    const int moveY = dy * ctrl.moveY / 100;
    const int growX = dx * ctrl.sizeX / 100;
    const int growY = dy * ctrl.sizeY / 100;
    CRect r{base.left + moveX, base.top + moveY, base.right + moveX + growX,
            base.bottom + moveY + growY};
    if (r.right < r.left) {
        r.right = r.left;
    }
    if (r.bottom < r.top) {
        r.bottom = r.top;
    }
    return r;
}
