#pragma once

#include <QGuiApplication>

namespace kartoma {

/// The application-wide mouse pointer as one state: the hourglass while a command works, the
/// normal arrow otherwise.
inline void setWaitPointer() {
    if (QGuiApplication::overrideCursor() == nullptr) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QGuiApplication::changeOverrideCursor(Qt::WaitCursor);
    }
}

inline void setDefaultPointer() {
    while (QGuiApplication::overrideCursor() != nullptr) {
        QGuiApplication::restoreOverrideCursor();
    }
}

inline bool isWaitPointer() {
    return QGuiApplication::overrideCursor() != nullptr &&
           QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
}

} // namespace kartoma
