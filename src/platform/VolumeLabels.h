#pragma once

#include <QString>

namespace kartoma {

/// The label of the medium that holds a folder.
class VolumeLabels {
public:
    virtual ~VolumeLabels() = default;
    /// The label of the file system holding `folderPath`; empty when it has none or cannot be found.
    virtual QString labelOf(const QString& folderPath) = 0;
};

/// Labels as the system knows them (QStorageInfo).
class SystemVolumeLabels final : public VolumeLabels {
public:
    QString labelOf(const QString& folderPath) override;
};

} // namespace kartoma
