#include "OutputFile.h"

#include "SystemError.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kartoma {

namespace {

constexpr int kMaxLinks = 40;
constexpr int kSlots = 8;

/// The private folders of outputs being written, for the signal handler to remove. Plain atomics of
/// pointers: the handler may run at any moment and can only read what is already complete.
std::atomic<const char*> gPending[kSlots];

/// Empties and removes a folder the program made, using only calls that are safe in a signal
/// handler (no directory stream, no allocation). The folder holds files only.
void removeFolder(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        alignas(8) char buffer[4096];
        for (;;) {
            const long n = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            for (long at = 0; at < n;) {
                // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
                std::uint16_t length = 0;
                std::memcpy(&length, buffer + at + 16, sizeof length);
                const char* name = buffer + at + 19;
                if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
                    unlinkat(fd, name, 0);
                }
                at += length;
            }
        }
        close(fd);
    }
    rmdir(path);
}

void removePendingAndDie(int sig) {
    for (std::atomic<const char*>& slot : gPending) {
        if (const char* path = slot.exchange(nullptr); path != nullptr && unlink(path) != 0) {
            removeFolder(path);
        }
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

/// Takes over the signals that end the program, unless something else already handles or ignores
/// them (a hang-up ignored by nohup stays ignored).
void installHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Every signal whose default ends the program, a file grown past its limit and a crash
        // included (a fault returns to the faulting instruction and ends the program there).
        for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXFSZ,
                              SIGXCPU, SIGVTALRM, SIGPROF, SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGTRAP,
                              SIGSYS}) {
            struct sigaction old {};
            if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
                struct sigaction action {};
                action.sa_handler = removePendingAndDie;
                sigemptyset(&action.sa_mask);
                sigaction(sig, &action, nullptr);
            }
        }
    });
}

/// Six letters or digits nobody can guess, as mkdtemp takes.
std::string randomName() {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // Unguessable is not needed for the name to be safe (the link never follows or replaces an
        // existing name); distinct is, and the clock and the process give that.
        static std::atomic<std::uint64_t> count{0};
        const std::uint64_t seed = (static_cast<std::uint64_t>(getpid()) << 32) ^
                                   static_cast<std::uint64_t>(std::time(nullptr)) ^ (++count << 20);
        std::memcpy(bytes, &seed, sizeof bytes);
    }
    std::string name;
    for (const unsigned char b : bytes) {
        name += kLetters[b % (sizeof kLetters - 1)];
    }
    return name;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

/// Whether the system would refuse to follow the link `st` at `path`: the rule it applies to links
/// in sticky folders anyone may write to. Following a link by hand must not be a way around it.
bool isForeignLink(const std::string& path, const struct stat& link) {
    struct stat folder;
    if (stat(folderOf(path).c_str(), &folder) != 0) {
        return false; // the link was just read from there; what follows reports the folder's fault
    }
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return shared && link.st_uid != folder.st_uid && link.st_uid != geteuid();
}

/// Follows symbolic links at `path` to the file they lead to (which need not exist).
int resolveLinks(std::string& path) {
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return 0;
        }
        if (isForeignLink(path, st)) {
            return kForeignLink;
        }
        std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
        const ssize_t n = readlink(path.c_str(), target.data(), target.size());
        if (n < 0) {
            return errno;
        }
        target.resize(static_cast<std::size_t>(n));
        path = (target.empty() || target[0] == '/') ? target : folderOf(path) + "/" + target;
    }
    return ELOOP;
}

/// What an existing target that may be replaced is like.
struct Replaced {
    bool exists = false;
    unsigned mode = 0;
    unsigned owner = 0;
    unsigned group = 0;
};

/// Checks the resolved target and the folder the new version is made in.
int checkTarget(const std::string& target, Replaced& replaced) {
    struct stat st;
    replaced = Replaced{};
    if (lstat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return EISDIR;
        }
        if (!S_ISREG(st.st_mode)) {
            return kNotRegularFile;
        }
        if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
            return errno;
        }
        replaced = Replaced{true, st.st_mode & 07777U, st.st_uid, st.st_gid};
    } else if (errno != ENOENT) {
        return errno;
    }
    // The new version is made beside the target: a folder that takes no new file is found before a
    // walk that may take long, not after it.
    if (faccessat(AT_FDCWD, folderOf(target).c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return errno;
    }
    return 0;
}

} // namespace

Failure outputFailure(int error, FailureCode code, const QString& path) {
    if (error == kForeignLink) {
        return Failure(FailureCode::OutputLinkRefused, path);
    }
    return Failure(code, path,
                   error == kNotRegularFile ? QStringLiteral("not a regular file") : systemErrorText(error));
}

int checkOutputFile(const std::string& path) {
    std::string target = path;
    Replaced replaced;
    if (const int err = resolveLinks(target); err != 0) {
        return err;
    }
    return checkTarget(target, replaced);
}

OutputFile::~OutputFile() {
    discard();
}

int OutputFile::open(const std::string& path) {
    discard();
    target_ = path;
    if (const int err = resolveLinks(target_); err != 0) {
        return err;
    }
    Replaced replaced;
    if (const int err = checkTarget(target_, replaced); err != 0) {
        return err;
    }
    replaces_ = replaced.exists;
    keptMode_ = replaced.mode;
    keptOwner_ = replaced.owner;
    keptGroup_ = replaced.group;
    installHandlers();
    if (openUnnamed() == 0) {
        return 0;
    }
    return openInPrivateFolder();
}

int OutputFile::openUnnamed() {
    // A file system without unnamed files (or a kernel without them) refuses; so does one whose
    // descriptors cannot be given a name later, which needs either the right to link by descriptor
    // or /proc. The private folder serves then, and reports any error that is real.
    fd_ = ::open(folderOf(target_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        return errno;
    }
    if (access("/proc/self/fd", X_OK) != 0 && geteuid() != 0) {
        const int err = errno;
        close(fd_);
        fd_ = -1;
        return err;
    }
    unnamed_ = true;
    return 0;
}

int OutputFile::openInPrivateFolder() {
    // The slot names the folder before it exists, so that no moment is left in which a signal would
    // miss it.
    folder_ = folderOf(target_) + "/.kartoma-XXXXXX";
    if (!claimSlot(folder_)) {
        return EMFILE;
    }
    if (mkdtemp(folder_.data()) == nullptr) {
        const int err = errno;
        releaseSlot();
        return err;
    }
    workPath_ = folder_ + "/new";
    fd_ = ::open(workPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        const int err = errno;
        discard();
        return err;
    }
    return 0;
}

/// Gives the unnamed new version the name `name` in its folder.
int OutputFile::nameUnnamed(const std::string& name) {
    // Linking by the descriptor itself needs a privilege; linking its entry in /proc does not.
    if (linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) {
        return 0;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

int OutputFile::commit() {
    // The data reaches the disk before the name does, so a crash cannot leave an empty file in place
    // of the old one.
    if (fd_ < 0) {
        discard();
        return EBADF;
    }
    int err = fsync(fd_) == 0 ? 0 : errno;
    // The owner goes first: changing it clears set-user-ID bits that the mode then restores. A user
    // who may not give files away keeps the new version as their own.
    if (err == 0 && replaces_ && fchown(fd_, keptOwner_, keptGroup_) != 0 && errno != EPERM) {
        err = errno;
    }
    if (err == 0 && replaces_ && fchmod(fd_, keptMode_) != 0) {
        err = errno;
    }
    if (err == 0 && unnamed_) {
        // A file cannot be linked over an existing name: it gets a private one first, which the
        // signal handler knows, and that name then replaces the target in one step.
        for (int attempt = 0; attempt < 100; ++attempt) {
            // A name in use makes the link fail (EEXIST); another is tried then.
            linkPath_ = folderOf(target_) + "/.kartoma-" + randomName();
            if (!claimSlot(linkPath_)) {
                err = EMFILE;
                break;
            }
            err = nameUnnamed(linkPath_);
            if (err != EEXIST) {
                break;
            }
            releaseSlot();
        }
        if (err == 0 && rename(linkPath_.c_str(), target_.c_str()) != 0) {
            err = errno;
            unlink(linkPath_.c_str());
        }
        releaseSlot();
    } else if (err == 0 && rename(workPath_.c_str(), target_.c_str()) != 0) {
        err = errno;
    }
    discard();
    return err;
}

bool OutputFile::claimSlot(const std::string& path) {
    for (int slot = 0; slot < kSlots && slot_ < 0; ++slot) {
        const char* expected = nullptr;
        if (gPending[slot].compare_exchange_strong(expected, path.c_str())) {
            slot_ = slot;
        }
    }
    return slot_ >= 0;
}

void OutputFile::releaseSlot() {
    if (slot_ >= 0) {
        gPending[slot_] = nullptr;
        slot_ = -1;
    }
}

void OutputFile::discard() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    unnamed_ = false;
    if (slot_ >= 0) {
        releaseSlot();
        removeFolder(folder_.c_str());
    }
    workPath_.clear();
}

} // namespace kartoma
