#include "FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kartoma {

namespace {

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

/// One name of the folder as the system enumerated it.
struct Found {
    std::uint64_t inode;
    std::uint32_t nameOffset; ///< into Scratch::names, where it ends with a NUL
    std::uint32_t nameLength;
};

/// What fstatat said of a name.
struct Examined {
    std::int64_t size;
    std::int64_t mtime;
    int errnum;
    bool isFolder;
    EntryIdentity identity;
};

/// The buffers of one thread's listings, kept from folder to folder.
struct Scratch {
    std::vector<char> records = std::vector<char>(64 * 1024);
    std::string names;
    std::vector<Found> found;
    std::vector<std::uint32_t> byInode;
    std::vector<Examined> examined;
};

} // namespace

EntryIdentity EntryIdentity::of(const struct stat& status) {
    const auto nanoseconds = [](const struct timespec& t) {
        return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    return EntryIdentity{static_cast<std::uint64_t>(status.st_ino), static_cast<std::uint64_t>(status.st_dev),
                         std::max(nanoseconds(status.st_mtim), nanoseconds(status.st_ctim)), S_ISLNK(status.st_mode)};
}

int PosixFileSystem::openAt(int parent, const char* name, int extraFlags, FolderHandle& folder) {
    const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags);
    if (fd < 0) {
        return errno;
    }
    folder = fd;
    return 0;
}

int PosixFileSystem::openRoot(const std::string& path, FolderHandle& folder) {
    return openAt(AT_FDCWD, path.c_str(), 0, folder);
}

int PosixFileSystem::openChild(FolderHandle parent, std::string_view name, FolderHandle& folder) {
    // O_NOFOLLOW: the walk only descends into what it saw as a real folder; if that was replaced by a
    // link in the meantime, the link is not followed. Being relative to the parent's descriptor, no
    // other component of the way there can be swapped either.
    return openAt(parent, std::string(name).c_str(), O_NOFOLLOW, folder);
}

void PosixFileSystem::closeFolder(FolderHandle folder) {
    close(folder);
}

int PosixFileSystem::listFolder(FolderHandle folder, FolderListing& out,
                                std::vector<ListingProblem>& problems) {
    // The descriptor is read directly: a directory stream would cost an fstat and two fcntl more
    // per folder, for nothing the walk needs.
    thread_local Scratch scratch;
    scratch.names.clear();
    scratch.found.clear();
    int readError = 0;
    for (;;) {
        const ssize_t got = getdents64(folder, scratch.records.data(), scratch.records.size());
        if (got <= 0) {
            // An error ends the reading; what was read so far stands.
            readError = got < 0 ? errno : 0;
            break;
        }
        for (ssize_t at = 0; at < got;) {
            const auto* record = reinterpret_cast<const dirent64*>(scratch.records.data() + at);
            at += record->d_reclen;
            if (isDotOrDotDot(record->d_name)) {
                continue;
            }
            const std::size_t length = std::strlen(record->d_name);
            scratch.found.push_back(Found{record->d_ino, static_cast<std::uint32_t>(scratch.names.size()),
                                          static_cast<std::uint32_t>(length)});
            scratch.names.append(record->d_name, length + 1);
        }
    }

    // Examined in inode order, which on most file systems is the order of their inode tables on the
    // medium: a cold disc or disk then reads ahead instead of seeking back and forth.
    const std::size_t count = scratch.found.size();
    scratch.byInode.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        scratch.byInode[i] = static_cast<std::uint32_t>(i);
    }
    std::sort(scratch.byInode.begin(), scratch.byInode.end(), [](std::uint32_t a, std::uint32_t b) {
        return scratch.found[a].inode < scratch.found[b].inode;
    });
    scratch.examined.resize(count);
    for (const std::uint32_t i : scratch.byInode) {
        struct stat st;
        Examined& e = scratch.examined[i];
        if (fstatat(folder, scratch.names.data() + scratch.found[i].nameOffset, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            e.errnum = errno;
            continue;
        }
        e.errnum = 0;
        e.isFolder = S_ISDIR(st.st_mode);
        e.size = e.isFolder ? 0 : static_cast<std::int64_t>(st.st_size);
        e.mtime = static_cast<std::int64_t>(st.st_mtime);
        if (out.keepsIdentities()) {
            e.identity = EntryIdentity::of(st);
        }
    }

    // Handed on in the order the folder enumerates, as a directory stream would.
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view name(scratch.names.data() + scratch.found[i].nameOffset, scratch.found[i].nameLength);
        const Examined& e = scratch.examined[i];
        if (e.errnum != 0) {
            problems.push_back(ListingProblem{std::string(name), e.errnum});
            continue;
        }
        out.add(name, e.isFolder ? EntryKind::Folder : EntryKind::File, e.size, e.mtime);
        if (out.keepsIdentities()) {
            out.addIdentity(e.identity);
        }
    }
    if (readError != 0) {
        problems.push_back(ListingProblem{std::string(), readError});
    }
    return 0;
}

} // namespace kartoma
