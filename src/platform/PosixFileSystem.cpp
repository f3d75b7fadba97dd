#include "FileSystem.h"

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

} // namespace

int PosixFileSystem::openAt(int parent, const char* name, int extraFlags, FolderHandle& folder) {
    const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags);
    if (fd < 0) {
        return errno;
    }
    // The stream is kept with its descriptor: the folder is read through it, and its subfolders are
    // opened from the same descriptor, with no copy to make and close.
    DIR* stream = fdopendir(fd);
    if (stream == nullptr) {
        const int err = errno;
        close(fd);
        return err;
    }
    if (streams_.size() <= static_cast<std::size_t>(fd)) {
        streams_.resize(static_cast<std::size_t>(fd) + 1, nullptr);
    }
    streams_[static_cast<std::size_t>(fd)] = stream;
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
    closedir(static_cast<DIR*>(streams_[static_cast<std::size_t>(folder)]));
    streams_[static_cast<std::size_t>(folder)] = nullptr;
}

int PosixFileSystem::listFolder(FolderHandle folder, FolderListing& out,
                                std::vector<ListingProblem>& problems) {
    DIR* stream = static_cast<DIR*>(streams_[static_cast<std::size_t>(folder)]);
    const int dirFd = folder;

    for (;;) {
        errno = 0;
        const dirent* entry = readdir(stream);
        if (entry == nullptr) {
            if (errno != 0) {
                // The rest of the folder cannot be read; what was read so far stands.
                problems.push_back(ListingProblem{std::string(), errno});
            }
            break;
        }
        if (isDotOrDotDot(entry->d_name)) {
            continue;
        }
        struct stat st;
        if (fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            problems.push_back(ListingProblem{std::string(entry->d_name), errno});
            continue;
        }
        const bool isFolder = S_ISDIR(st.st_mode);
        out.add(std::string_view(entry->d_name), isFolder ? EntryKind::Folder : EntryKind::File,
                isFolder ? 0 : static_cast<std::int64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtime));
    }
    return 0;
}

} // namespace kartoma
