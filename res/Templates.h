#pragma once

#include <cstddef>
#include <string>

// Dialog templates as constant tables: what a window toolkit needs to build each window.
// Rectangles are in dialog units; layout percentages say which share of a change of the
// window's client size is added to a control's position (move) or size (size).

enum class ControlKind {
    PushButton,
    DefaultPushButton,
    ColorButton,  // push button whose caption colour can be set
    RadioButton,  // auto radio button
    GroupBox,
    Picture,        // picture area, black frame
    Slider,         // horizontal trackbar, no tick marks
    StaticText,     // centred static text
    Edit,           // single-line edit with border
    MultiLineEdit,  // multi-line, read-only, no scroll bars, scrolls sideways
};

enum ControlStyle : unsigned {
    STYLE_NONE = 0,
    STYLE_DISABLED = 1u << 0,
    STYLE_GROUP = 1u << 1,  // first control of a radio group
    STYLE_FLAT = 1u << 2,
    STYLE_READONLY = 1u << 3,
    STYLE_AUTOHSCROLL = 1u << 4,
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* caption;  // UTF-8, '&' marks the mnemonic letter
    int x, y, cx, cy;     // dialog units
    unsigned style;
    int moveX, moveY, sizeX, sizeY;  // layout percentages
};

enum DialogStyle : unsigned {
    DLG_NONE = 0,
    DLG_RESIZABLE = 1u << 0,
    DLG_SYSMENU = 1u << 1,  // has a close box
    DLG_MODALFRAME = 1u << 2,
};

struct DialogTemplate {
    int id;
    const char* caption;
    const char* fontFace;
    int fontPointSize;
    int cx, cy;  // client size, dialog units
    unsigned style;
    int minWidthPx, minHeightPx;  // minimum tracking size in pixels, 0 = none
    const ControlTemplate* controls;
    std::size_t controlCount;
};

// The template with this id; nullptr when unknown.
const DialogTemplate* FindDialogTemplate(int id);

// The help text shown by the help dialog (UTF-8, lines joined by CR LF).
const std::string& HelpText();
