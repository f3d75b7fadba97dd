#include "Dialogs.h"

#include <QStringList>

namespace kartoma {

QString qtFileFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        // "*.*" means every file; on this platform that is "*".
        description.replace(QLatin1String("(*.*)"), QLatin1String("(*)"));
        filters.append(description);
    }
    return filters.join(QLatin1String(";;"));
}

} // namespace kartoma
