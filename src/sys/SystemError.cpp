#include "SystemError.h"

#include <cstring>

namespace kartoma {

QString systemErrorText(int errnum) {
    char buffer[256];
    // The GNU strerror_r returns a pointer that may or may not be the buffer.
    const char* text = strerror_r(errnum, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

} // namespace kartoma
