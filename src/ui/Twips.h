#pragma once

#include <QFontMetricsF>
#include <QRect>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace kartoma {

/// Window geometry is given in twips: 15 twips a pixel at 96 dots per inch, for a system font whose
/// lines are 13 pixels high. It is scaled here for the screen's logical resolution and for the
/// font the desktop actually uses, so that texts fit the boxes drawn for them.
inline double twipsScale(const QWidget* widget) {
    if (widget == nullptr) {
        return 1.0;
    }
    const double dpi = widget->logicalDpiX() / 96.0;
    const double text = QFontMetricsF(widget->font()).height() / (13.0 * dpi);
    return dpi * std::max(1.0, text);
}

inline int twipsToPixels(const QWidget* widget, int twips) {
    return static_cast<int>(std::lround(twips / 15.0 * twipsScale(widget)));
}

inline QRect twipsRect(const QWidget* widget, int left, int top, int width, int height) {
    return QRect(twipsToPixels(widget, left), twipsToPixels(widget, top), twipsToPixels(widget, width),
                 twipsToPixels(widget, height));
}

} // namespace kartoma

#include <QLabel>

namespace kartoma {

/// A label of several lines starts at its top and grows downwards when its text needs more room
/// than the box drawn for it, instead of being cut at both ends.
inline void fitHeight(QLabel* label) {
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const int needed = label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
    if (needed > label->height()) {
        label->resize(label->width(), needed);
    }
}

} // namespace kartoma
