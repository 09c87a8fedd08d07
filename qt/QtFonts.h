#pragma once

#include <QFont>
#include <QStringList>

#include "app/platform/IDialogWindow.h"
#include "res/Templates.h"

// Fonts named by the dialog templates and the logic ("Tahoma", "MS Shell Dlg") do not exist on
// Linux. They map to an installed sans-serif family, with a Korean family behind it so that the
// Korean texts render, keeping the requested pixel height and weight.

// The families tried in order for every font of the program.
QStringList TagwrightFontFamilies();

// A font whose line height (ascent + descent) is spec.heightPx pixels, like a Windows font
// created with a positive cell height; the weight is kept (400 normal, 700 bold).
QFont MakeQtFont(const FontSpec& spec);

// The font every control of a dialog starts with: the template's point size at 96 dots per inch,
// slightly condensed.
QFont DialogFont(const DialogTemplate& tmpl);
