#pragma once

#include <QString>

#include <cstdint>

namespace kartoma {

/// "F" for a file, "D" for a folder.
enum class EntryType : std::uint8_t { File, Folder };

inline QString typeText(EntryType type) {
    return type == EntryType::Folder ? QStringLiteral("D") : QStringLiteral("F");
}

/// One listed file or folder, as the writers and the tests see it.
struct FileEntry {
    QString dir;       ///< the folder that holds the entry, as the walk reached it
    QString name;      ///< the entry's own name (bytes that are not UTF-8 show as U+FFFD)
    std::int64_t size; ///< bytes; 0 for a folder
    QString date;      ///< local date of the last write, yyyy/mm/dd
    QString time;      ///< local time of the last write, hh:mm:ss
    QString volume;    ///< the volume label of the run, or empty
    EntryType type;
};

} // namespace kartoma
