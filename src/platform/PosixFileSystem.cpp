#include "FileSystem.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kartoma {

namespace {

/// Closes the directory stream on every path out of the listing.
class DirHandle {
public:
    explicit DirHandle(DIR* dir) : dir_(dir) {}
    ~DirHandle() {
        if (dir_ != nullptr) {
            closedir(dir_);
        }
    }
    DirHandle(const DirHandle&) = delete;
    DirHandle& operator=(const DirHandle&) = delete;
    DIR* get() const { return dir_; }

private:
    DIR* dir_;
};

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

int openFolderAt(int parent, const char* name, int extraFlags, FolderHandle& folder) {
    const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags);
    if (fd < 0) {
        return errno;
    }
    folder = fd;
    return 0;
}

} // namespace

int PosixFileSystem::openRoot(const std::string& path, FolderHandle& folder) {
    return openFolderAt(AT_FDCWD, path.c_str(), 0, folder);
}

int PosixFileSystem::openChild(FolderHandle parent, std::string_view name, FolderHandle& folder) {
    // O_NOFOLLOW: the walk only descends into what it saw as a real folder; if that was replaced by a
    // link in the meantime, the link is not followed. Being relative to the parent's descriptor, no
    // other component of the way there can be swapped either.
    return openFolderAt(parent, std::string(name).c_str(), O_NOFOLLOW, folder);
}

void PosixFileSystem::closeFolder(FolderHandle folder) {
    close(folder);
}

int PosixFileSystem::listFolder(FolderHandle folder, FolderListing& out,
                                std::vector<ListingProblem>& problems) {
    // The directory stream takes its descriptor with it when closed; the handle stays open for the
    // subfolders, so the stream reads through a copy.
    const int fd = fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        return errno;
    }
    DIR* stream = fdopendir(fd);
    if (stream == nullptr) {
        const int err = errno;
        close(fd);
        return err;
    }
    DirHandle dir(stream);
    const int dirFd = dirfd(stream);

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
        const bool folder = S_ISDIR(st.st_mode);
        out.add(std::string_view(entry->d_name), folder ? EntryKind::Folder : EntryKind::File,
                folder ? 0 : static_cast<std::int64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtime));
    }
    return 0;
}

} // namespace kartoma
