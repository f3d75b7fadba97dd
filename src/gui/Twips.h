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

namespace kartoma {

/// fitHeight for a label with controls below it in a fixed-size window: what lies below the label
/// moves down by as much as the label grew into it, and the window grows to hold everything, so a
/// font larger than the one the window was drawn for neither covers nor cuts a line.
inline void fitHeightMovingDown(QLabel* label, int gap) {
    const int oldBottom = label->geometry().bottom();
    fitHeight(label);
    QWidget* window = label->parentWidget();
    const QList<QWidget*> children = window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    int firstBelow = window->height();
    for (const QWidget* child : children) {
        if (child != label && child->y() > oldBottom) {
            firstBelow = std::min(firstBelow, child->y());
        }
    }
    const int overlap = std::max(0, label->geometry().bottom() + gap - firstBelow);
    int lowest = 0;
    for (QWidget* child : children) {
        if (child != label && child->y() > oldBottom) {
            child->move(child->x(), child->y() + overlap);
        }
        lowest = std::max(lowest, child->geometry().bottom());
    }
    if (lowest + gap > window->height()) {
        window->setFixedSize(window->width(), lowest + gap);
    }
}

} // namespace kartoma
