#include "VolumeLabels.h"

#include "NativePath.h"
#include "Utf8.h"

#include <QFile>
#include <QStorageInfo>
#include <QStringDecoder>

#include <algorithm>
#include <memory>
#include <string_view>

#include <blkid/blkid.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace kartoma {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

/// The label in the file system's superblock, probed as blkid does. Needs read access to the device.
QByteArray probedLabel(const QByteArray& device) {
    const std::unique_ptr<blkid_struct_probe, void (*)(blkid_probe)> probe(
        blkid_new_probe_from_filename(device.constData()), blkid_free_probe);
    if (!probe) {
        return {};
    }
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL);
    const char* label = nullptr;
    std::size_t length = 0;
    if (blkid_do_safeprobe(probe.get()) != 0 ||
        blkid_probe_lookup_value(probe.get(), "LABEL", &label, &length) != 0 || label == nullptr) {
        return {};
    }
    return QByteArray(label);
}

/// The label blkid's cache holds for the device, as an earlier probe with privileges left it.
QByteArray cachedLabel(const QByteArray& device) {
    blkid_cache cache = nullptr;
    if (blkid_get_cache(&cache, nullptr) != 0) {
        return {};
    }
    QByteArray label;
    if (blkid_dev dev = blkid_get_dev(cache, device.constData(), BLKID_DEV_FIND)) {
        blkid_tag_iterate tags = blkid_tag_iterate_begin(dev);
        const char* type = nullptr;
        const char* value = nullptr;
        while (blkid_tag_next(tags, &type, &value) == 0) {
            if (std::string_view(type) == "LABEL") {
                label = value;
            }
        }
        blkid_tag_iterate_end(tags);
    }
    blkid_put_cache(cache);
    return label;
}

QByteArray labelInUdevRecord(const QByteArray& record) {
    static constexpr std::string_view kKey = "E:ID_FS_LABEL_ENC=";
    const std::string_view text(record.constData(), static_cast<std::size_t>(record.size()));
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.starts_with(kKey)) {
            continue;
        }
        // udev writes a byte that is unsafe in a device name (a blank, a slash, a backslash, an
        // invalid UTF-8 byte) as \xNN; everything else stands as it is.
        const std::string_view value = line.substr(kKey.size());
        QByteArray label;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 3 < value.size() && value[i + 1] == 'x' &&
                hexValue(value[i + 2]) >= 0 && hexValue(value[i + 3]) >= 0) {
                label += static_cast<char>(hexValue(value[i + 2]) * 16 + hexValue(value[i + 3]));
                i += 3;
            } else {
                label += value[i];
            }
        }
        return label;
    }
    return {};
}

/// The text of a label's bytes: UTF-8 when they are UTF-8, else CP932.
QString labelText(const QByteArray& bytes) {
    const std::string_view text(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    bool utf8 = true;
    for (std::size_t pos = 0; pos < text.size() && utf8;) {
        const std::size_t from = pos;
        // A U+FFFD that the bytes really hold takes three of them; one that stands for a bad byte, one.
        utf8 = decodeUtf8(text, pos) != U'\uFFFD' || pos - from == 3;
    }
    if (utf8) {
        return QString::fromUtf8(bytes);
    }
    QStringDecoder cp932("windows-31j");
    const QString decoded = cp932.isValid() ? cp932.decode(bytes) : QString();
    return cp932.isValid() && !cp932.hasError() ? decoded : QString::fromUtf8(bytes);
}

} // namespace

QString udevLabel(const QString& dataFolder, unsigned major, unsigned minor) {
    QFile record(dataFolder + QStringLiteral("/b%1:%2").arg(major).arg(minor));
    // A record is a few kilobytes; a megabyte is more than any holds.
    return record.open(QIODevice::ReadOnly) ? labelText(labelInUdevRecord(record.read(1 << 20))) : QString();
}

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
    if (const QString name = storage.name(); !name.isEmpty()) {
        return name;
    }
    // Qt reads the label only through udev's by-label links, which containers, servers without
    // udev and loop devices often lack. The device itself still says it.
    const QByteArray device = storage.device();
    struct stat st;
    if (!device.startsWith("/dev/") || stat(device.constData(), &st) != 0 || !S_ISBLK(st.st_mode)) {
        return {};
    }
    QByteArray label = probedLabel(device);
    if (label.isEmpty()) {
        label = cachedLabel(device);
    }
    if (label.isEmpty()) {
        return udevLabel(udevDataFolder_, major(st.st_rdev), minor(st.st_rdev));
    }
    return labelText(label);
}

} // namespace kartoma
