#pragma once

#include <QByteArray>
#include <QString>

#include <utility>

namespace kartoma {

/// The label of the medium that holds a folder.
class VolumeLabels {
public:
    virtual ~VolumeLabels() = default;
    /// The label of the file system holding `folderPath`; empty when it has none or cannot be found.
    virtual QString labelOf(const QString& folderPath) = 0;
};

/// Labels as the system knows them: Qt's (udev's /dev/disk/by-label links), else what the file
/// system's own superblock says, read as findmnt and blkid read it: by probing the mount's block
/// device when it is readable, else from blkid's cache, else from udev's database.
class SystemVolumeLabels final : public VolumeLabels {
public:
    /// `udevDataFolder` is where udev keeps what it knows of each device.
    explicit SystemVolumeLabels(QString udevDataFolder = QStringLiteral("/run/udev/data"))
        : udevDataFolder_(std::move(udevDataFolder)) {}
    QString labelOf(const QString& folderPath) override;

private:
    QString udevDataFolder_;
};

/// The label udev's database in `dataFolder` records for the file system on the block device
/// `major`:`minor` (the file "b<major>:<minor>", lines "E:KEY=value"): ID_FS_LABEL_ENC with its
/// \xNN escapes decoded, as text (UTF-8, else CP932 as on Japanese media labelled in the old code
/// page). Empty when the record or its label is missing.
QString udevLabel(const QString& dataFolder, unsigned major, unsigned minor);

} // namespace kartoma
