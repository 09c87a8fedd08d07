#pragma once

// Small conversions between our plain types and Qt's, shared by the window's source files.

#include <QColor>
#include <QRect>
#include <QString>

#include <string>

#include "app/platform/IDialogWindow.h"

inline QString ToQt(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string FromQt(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

inline QColor ToQColor(const Rgb& c) {
    return QColor(c.r, c.g, c.b);
}

inline CRect FromQRect(const QRect& r) {
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}
