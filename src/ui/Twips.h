#pragma once

#include <QRect>
#include <QWidget>

#include <cmath>

namespace kartoma {

/// Window geometry is given in twips: 15 twips a pixel at 96 dots per inch, scaled here for the
/// screen's logical resolution.
inline int twipsToPixels(const QWidget* widget, int twips) {
    const double scale = widget != nullptr ? widget->logicalDpiX() / 96.0 : 1.0;
    return static_cast<int>(std::lround(twips / 15.0 * scale));
}

inline QRect twipsRect(const QWidget* widget, int left, int top, int width, int height) {
    return QRect(twipsToPixels(widget, left), twipsToPixels(widget, top), twipsToPixels(widget, width),
                 twipsToPixels(widget, height));
}

} // namespace kartoma
