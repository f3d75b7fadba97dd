#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kartoma {

/// What one directory entry is, as far as a catalogue cares: a folder is descended into, everything
/// else (regular files, symbolic links, devices, sockets) is listed as a file.
enum class EntryKind : std::uint8_t { File, Folder };

/// The entries of one folder, read in one go. Names are kept as the file system's raw bytes in one
/// buffer, so a folder of any size costs two allocations that are reused for the next folder.
class FolderListing {
public:
    struct Item {
        std::uint32_t nameOffset;
        std::uint32_t nameLength;
        EntryKind kind;
        std::int64_t size;  ///< bytes; 0 for folders
        std::int64_t mtime; ///< seconds since 1970-01-01 UTC
    };

    void clear() {
        names_.clear();
        items_.clear();
    }
    void add(std::string_view name, EntryKind kind, std::int64_t size, std::int64_t mtime) {
        items_.push_back(Item{static_cast<std::uint32_t>(names_.size()),
                              static_cast<std::uint32_t>(name.size()), kind, size, mtime});
        names_.append(name);
    }
    std::size_t size() const { return items_.size(); }
    const Item& item(std::size_t i) const { return items_[i]; }
    std::string_view name(std::size_t i) const {
        return std::string_view(names_).substr(items_[i].nameOffset, items_[i].nameLength);
    }

private:
    std::string names_;
    std::vector<Item> items_;
};

/// One entry that was enumerated but could not be examined (it vanished, or its data cannot be read).
struct ListingProblem {
    std::string name;
    int errnum;
};

/// Directory enumeration: the one place the walk touches the file system.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    /// Reads every entry of the folder at `path` (raw bytes) except "." and "..", with each entry's
    /// kind, size and modification time taken from the entry itself (symbolic links are never
    /// followed). Entries that cannot be examined are left out of `out` and reported in `problems`.
    /// Returns 0 on success, or the errno value when the folder itself cannot be opened; the folder is
    /// closed again before the call returns, whatever happens. `path` itself is followed when it is a
    /// link only if `followLink` is true (the folder the user chose may be reached through a link;
    /// folders found by the walk never are).
    virtual int listFolder(const std::string& path, bool followLink, FolderListing& out,
                           std::vector<ListingProblem>& problems) = 0;
};

/// The real file system, over opendir/readdir and fstatat on the folder's own descriptor.
class PosixFileSystem final : public FileSystem {
public:
    int listFolder(const std::string& path, bool followLink, FolderListing& out,
                   std::vector<ListingProblem>& problems) override;
};

} // namespace kartoma
