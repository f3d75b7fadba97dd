#include "Failure.h"

namespace kartoma {

QString Failure::worded(const QString& message, const QString& separator) const {
    QString text = message.contains(QLatin1String("%1")) ? message.arg(subject_) : message;
    if (!detail_.isEmpty()) {
        text += separator + detail_;
    }
    return text;
}

QString Failure::diagnostic() const {
    return detail_.isEmpty() ? subject_ : subject_ + QStringLiteral(": ") + detail_;
}

} // namespace kartoma
