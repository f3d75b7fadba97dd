#include "Failure.h"

#include <cstring>

namespace kartoma {

QString Failure::worded(const QString& message, const QString& separator) const {
    QString text = message.contains(QLatin1String("%1")) ? message.arg(path_) : message;
    if (!detail_.isEmpty()) {
        text += separator + detail_;
    }
    return text;
}

QString systemErrorText(int errnum) {
    char buffer[256];
    // The GNU strerror_r returns a pointer that may or may not be the buffer.
    const char* text = strerror_r(errnum, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

} // namespace kartoma
