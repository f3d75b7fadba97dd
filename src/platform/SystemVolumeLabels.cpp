#include "VolumeLabels.h"

#include <QStorageInfo>

namespace kartoma {

QString SystemVolumeLabels::labelOf(const QString& folderPath) {
    const QStorageInfo storage(folderPath);
    if (!storage.isValid()) {
        return {};
    }
    return storage.name();
}

} // namespace kartoma
