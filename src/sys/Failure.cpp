#include "Failure.h"

namespace kartoma {

QString Failure::worded(const QString& message, const QString& separator) const {
    QString text = message.contains(QLatin1String("%1")) ? message.arg(path_) : message;
    if (!detail_.isEmpty()) {
        text += separator + detail_;
    }
    return text;
}

} // namespace kartoma
