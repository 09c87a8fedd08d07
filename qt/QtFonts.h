#pragma once

#include <QFont>
#include <QStringList>

#include "app/platform/IDialogWindow.h"
#include "res/Templates.h"

// Fonts named by the dialog templates and the logic ("Tahoma", "MS Shell Dlg") do not exist on
// Linux. They map to an installed sans-serif family, with a Korean family behind it so that the
// Korean texts render, keeping the requested pixel height and weight. The substitute is wider
// than the faces the templates were drawn for, so it is narrowed (a horizontal stretch, which
// leaves every height alone) until its average character width is half its em, the proportion
// the dialog units assume.

// The families tried in order for every font of the program.
QStringList TagwrightFontFamilies();

// The mean advance of "A".."Z", "a".."z" in pixels: what a dialog's horizontal unit is a quarter
// of.
double AverageCharWidth(const QFont& font);

// The font with the largest stretch (at most its present one or 100) whose average character
// width is at most targetPx. A narrowing may make fontconfig pick a condensed face of the family
// when one is installed, on which Qt scales the rest, so the width is measured again after each
// step rather than computed once. Never narrower than a stretch of 50.
QFont NarrowToAverageWidth(QFont font, double targetPx);

// A font whose line height (ascent + descent) is spec.heightPx pixels, like a Windows font
// created with a positive cell height; the weight is kept (400 normal, 700 bold). Narrowed so
// that the regular weight's average character width is half the em; a bold font keeps its extra
// width over that.
QFont MakeQtFont(const FontSpec& spec);

// The font every control of a dialog starts with: the template's point size at 96 dots per inch,
// narrowed to an average character width of four horizontal dialog units, and further when a
// static text, button or radio caption of the template would still be wider than the room its
// control's style leaves for text. Needs the QApplication (its style measures that room).
QFont DialogFont(const DialogTemplate& tmpl);
