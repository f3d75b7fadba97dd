#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct stat;

namespace kartoma {

/// What one directory entry is, as far as a catalogue cares: a folder is descended into, everything
/// else (regular files, symbolic links, devices, sockets) is listed as a file.
enum class EntryKind : std::uint8_t { File, Folder };

/// What tells one file from another, and one state of it from the next: its identity and its times.
struct EntryIdentity {
    std::uint64_t inode = 0;
    std::uint64_t device = 0;
    std::int64_t changedNs = 0; ///< the later of its modification and status change times, in ns
    bool link = false;          ///< a symbolic link, not the file it names

    /// The identity a file's status gives. The change time counts too: a copy that keeps the times
    /// (cp -p, rsync) rewrites a file in place with its old modification time, and only the change
    /// time, which no one can set, tells it.
    static EntryIdentity of(const struct stat& status);
};

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
        identities_.clear();
    }
    void add(std::string_view name, EntryKind kind, std::int64_t size, std::int64_t mtime) {
        items_.push_back(Item{static_cast<std::uint32_t>(names_.size()),
                              static_cast<std::uint32_t>(name.size()), kind, size, mtime});
        names_.append(name);
    }
    /// Asks the file system for each entry's identity too (identity()), so that a caller that needs it
    /// does not examine the entry again; one that does not give it leaves identity() empty.
    void keepIdentities() { keepIdentities_ = true; }
    bool keepsIdentities() const { return keepIdentities_; }
    /// Adds the identity of the entry added last.
    void addIdentity(const EntryIdentity& identity) { identities_.push_back(identity); }
    const EntryIdentity* identity(std::size_t i) const {
        return identities_.size() == items_.size() ? &identities_[i] : nullptr;
    }
    std::size_t size() const { return items_.size(); }
    const Item& item(std::size_t i) const { return items_[i]; }
    std::string_view name(std::size_t i) const {
        return std::string_view(names_).substr(items_[i].nameOffset, items_[i].nameLength);
    }

private:
    std::string names_;
    std::vector<Item> items_;
    std::vector<EntryIdentity> identities_;
    bool keepIdentities_ = false;
};

/// One entry that was enumerated but could not be examined (it vanished, or its data cannot be read).
struct ListingProblem {
    std::string name;
    int errnum;
};

/// An open folder, as the file system hands it out; the walk descends from it by name only.
using FolderHandle = int;

/// Directory enumeration: the one place the walk touches the file system.
///
/// Subfolders are reached from their parent's open handle, one name at a time, never by a path: a
/// folder swapped for a link while the walk runs is refused rather than followed, and no path length
/// limit applies however deep the tree.
///
/// The walk calls an implementation from several threads at once, so every function must be safe to
/// call concurrently. It lists a handle once, from one thread; it may open several children of one
/// parent at the same time from different threads; it closes a handle only after every use of it
/// has returned.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    /// Opens the folder the user chose, at `path` (raw bytes); a link there is followed. Returns 0
    /// with `folder` set, or the errno value.
    virtual int openRoot(const std::string& path, FolderHandle& folder) = 0;

    /// Opens the subfolder `name` of the open `parent`; a link there is never followed. Returns 0
    /// with `folder` set, or the errno value.
    virtual int openChild(FolderHandle parent, std::string_view name, FolderHandle& folder) = 0;

    /// Reads every entry of the open `folder` except "." and "..", with each entry's kind, size and
    /// modification time taken from the entry itself (symbolic links are never followed). Entries
    /// that cannot be examined are left out of `out` and reported in `problems`. Returns 0, or the
    /// errno value when the folder cannot be read at all.
    virtual int listFolder(FolderHandle folder, FolderListing& out,
                           std::vector<ListingProblem>& problems) = 0;

    /// Gives back a handle from openRoot or openChild.
    virtual void closeFolder(FolderHandle folder) = 0;
};

/// The real file system: open handles are descriptors, subfolders are opened with openat.
class PosixFileSystem final : public FileSystem {
public:
    int openRoot(const std::string& path, FolderHandle& folder) override;
    int openChild(FolderHandle parent, std::string_view name, FolderHandle& folder) override;
    int listFolder(FolderHandle folder, FolderListing& out, std::vector<ListingProblem>& problems) override;
    void closeFolder(FolderHandle folder) override;

private:
    static int openAt(int parent, const char* name, int extraFlags, FolderHandle& folder);
};

} // namespace kartoma
