#pragma once

#include "FileTime.h"

#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace kartoma {

/// "F" for a file, "D" for a folder.
enum class EntryType : std::uint8_t { File, Folder };

/// The titles of a catalogue's seven columns in their order, UTF-8: the first row of every list, in
/// the CSV file and the workbook alike, and what a saved catalogue is recognised by.
inline constexpr std::array<std::string_view, 7> kColumnTitles = {"ファイル名", "ディレクトリ", "サイズ", "日付",
                                                                   "時間",       "ボリューム",   "TYPE"};
/// The sheet of a workbook the catalogue is written to, and read from first.
inline const QString kCatalogueSheet = QStringLiteral("Kartoma");

/// The recorded entries of one catalogue, in recording order.
///
/// Built to hold a million entries in little memory: each record is 32 bytes; names are kept as the
/// file system's bytes in large blocks; every entry of a folder shares one folder, and a folder is
/// kept as its parent and its own name, so the table grows with the names, not with the depth of the
/// paths. A folder's path is made only when a row is written. Nothing is ever moved once stored, so
/// growing the list never needs twice its memory.
class EntryList {
public:
    struct Record {
        const char* name;
        std::uint32_t folder;     ///< index into the folder table
        std::uint16_t nameLength; ///< a name is at most 255 bytes on every Linux file system
        EntryType type;
        std::int64_t size;
        LocalStamp stamp;

        std::string_view nameBytes() const { return std::string_view(name, nameLength); }
    };
    static_assert(sizeof(Record) == 32);

    EntryList() = default;
    EntryList(const EntryList&) = delete;
    EntryList& operator=(const EntryList&) = delete;
    EntryList(EntryList&&) = default;
    EntryList& operator=(EntryList&&) = default;

    /// Empties the list, its folder table and its volume label.
    void clear();

    /// Adds a folder to the folder table by its whole path as the system's bytes (the folder a walk
    /// starts from); entries and other folders refer to it by the returned index. Its names that are
    /// neither UTF-8 nor CP932 count with undecodableNames.
    std::uint32_t addFolder(std::string_view path);
    /// Adds the folder `name` (raw bytes) inside the folder at index `parent`. A name neither UTF-8
    /// nor CP932 counts with undecodableNames unless the folder is `listed` as an entry too, where it
    /// counts already.
    std::uint32_t addFolder(std::uint32_t parent, std::string_view name, bool listed = false);
    /// The path of the folder at `index`, its names joined with "/": the text of the folder column.
    QString folderPath(std::uint32_t index) const;
    /// The same path as the system's bytes, for writers that keep a name's own bytes.
    std::string folderBytes(std::uint32_t index) const;

    void append(std::uint32_t folder, std::string_view name, std::int64_t size, const LocalStamp& stamp,
                EntryType type);

    std::size_t count() const { return count_; }
    /// How many names in the list (entries', folders' and those of a start folder's path) are neither
    /// UTF-8 nor CP932: their bytes
    /// that are not text show as U+FFFD, or "?" in CP932.
    std::uint64_t undecodableNames() const { return undecodableNames_; }
    const Record& record(std::size_t i) const {
        return *std::launder(reinterpret_cast<const Record*>(blocks_[i / kBlockRecords]->bytes) + i % kBlockRecords);
    }

    /// The volume label written into every entry of the list (empty: none).
    const QString& volumeLabel() const { return volumeLabel_; }
    void setVolumeLabel(const QString& label) { volumeLabel_ = label; }


private:
    static constexpr std::size_t kBlockRecords = 16384;
    static constexpr std::size_t kNameBlockBytes = 1 << 20;
    static constexpr std::size_t kMaxNameBytes = 0xFFFF;

    const char* storeName(std::string_view name, bool counted = true);

    /// Room for kBlockRecords records, left uninitialised: a record is written before it is read.
    struct Block {
        alignas(Record) unsigned char bytes[sizeof(Record) * kBlockRecords];
    };
    static_assert(std::is_trivially_destructible_v<Record>, "a block is freed without destroying its records");

    std::vector<std::unique_ptr<Block>> blocks_;
    std::size_t count_ = 0;
    std::uint64_t undecodableNames_ = 0;
    std::vector<std::unique_ptr<char[]>> nameBlocks_;
    std::size_t nameBlockUsed_ = kNameBlockBytes;
    /// A folder of the table: a start folder has no parent and its path (bytes) in startPaths_.
    struct Folder {
        const char* name;
        std::uint32_t parent; ///< kNoParent for a start folder
        std::uint32_t nameLength;
    };
    static constexpr std::uint32_t kNoParent = 0xFFFFFFFF;

    std::vector<Folder> folders_;
    std::vector<std::string> startPaths_;
    QString volumeLabel_;
};

} // namespace kartoma
