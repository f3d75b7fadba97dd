#include "VolumeLabels.h"

#include "NativePath.h"

#include <QStorageInfo>

#include <algorithm>

namespace kartoma {

QString SystemVolumeLabels::labelOf(const QString& folderPath) {
    // The storage is looked up by a path as text; a folder whose name is not text is looked up by
    // its nearest ancestor that is (a mount point is rarely named with bytes that are not text).
    QString path = folderPath;
    while (hasEscapedBytes(path)) {
        path.truncate(std::max<qsizetype>(path.lastIndexOf(QLatin1Char('/')), 1));
    }
    const QStorageInfo storage(path);
    if (!storage.isValid()) {
        return {};
    }
    return storage.name();
}

} // namespace kartoma
