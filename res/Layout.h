#pragma once

#include "labels/Geometry.h"
#include "res/Templates.h"

// How dialog units become pixels, and where the layout percentages put a control. Shared by the
// Qt windows and the in-memory test window so both agree to the pixel.
//
// One fixed rule from the dialog font: a dialog unit is fontPointSize / 6 pixels wide and
// fontPointSize * 7 / 36 pixels high (Tahoma 9: 1.5 x 1.75), so the main window's first client
// size (801 x 446 units -> 1202 x 781 pixels) is above its 1024 x 760 minimum.
struct DialogUnitScale {
    double x = 1.5;
    double y = 1.75;
};

DialogUnitScale ScaleForTemplate(const DialogTemplate& tmpl);

// A control's rectangle in client pixels as the template places it.
CRect TemplateRectPixels(const DialogTemplate& tmpl, const ControlTemplate& ctrl);

// The window's client size in pixels as the template gives it.
CPoint TemplateClientSize(const DialogTemplate& tmpl);

// The control's rectangle after the window's client area changed from the template's size to
// clientSize: the move share of the change is added to the position, the size share to the size.
CRect LayoutControlRect(const DialogTemplate& tmpl, const ControlTemplate& ctrl,
                        const CPoint& clientSize);
