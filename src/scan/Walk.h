#pragma once

#include "Failure.h"
#include "FileSystem.h"

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

namespace kartoma {

/// The deepest level a walk goes to: the chosen folder is level 1.
inline constexpr int kMaxWalkDepth = 8;

/// WalkOptions::workers: let the walk decide by how fast the medium answers.
inline constexpr int kChooseWorkers = -1;

struct WalkOptions {
    /// How many folder levels are listed: 1 lists the chosen folder's own entries only; values above
    /// 8 act as 8; 0 or less lists nothing at all.
    int depth = kMaxWalkDepth;
    /// Threads that open, list and sort folders ahead of the one that called walkTree; 0 leaves all
    /// of it to that one. What is offered, reported and in what order does not depend on it.
    int workers = kChooseWorkers;
};

/// Where the walk offers the entries it meets.
class EntrySink {
public:
    virtual ~EntrySink() = default;
    /// The entries offered next lie in the folder at `level` (1: the chosen one) whose own name is
    /// `name` (for the chosen folder: its whole path as the system's bytes). The folders of the
    /// levels above are those last begun there.
    virtual void beginFolder(int level, std::string_view name) = 0;
    /// One entry of the current folder: its name as the file system gives it, the same name
    /// upper-cased in UTF-8 (invalid bytes as U+FFFD), and its data.
    virtual void offer(std::string_view name, std::string_view upperName,
                       const FolderListing::Item& item) = 0;
};

/// What the walk tells the one who started it.
class WalkObserver {
public:
    virtual ~WalkObserver() = default;
    /// Before each subfolder is searched, with its path.
    virtual void searching(const QString& folder) = 0;
    /// Once per entry met, and at least every 10 ms while the walk waits for a folder to be read; the
    /// window lets its event loop run here (throttled by time). What it throws ends the walk.
    virtual void yieldNow() = 0;
    /// A folder that could not be listed or an entry that could not be examined; the walk goes on.
    virtual void skipped(const QString& path, int errnum) = 0;
};

struct WalkStats {
    std::uint64_t entriesSeen = 0;       ///< entries offered to the sink
    std::uint64_t unreadableFolders = 0; ///< folders below the chosen one that could not be listed
    std::uint64_t unreadableEntries = 0; ///< entries that vanished or could not be examined
    std::uint64_t skipped() const { return unreadableFolders + unreadableEntries; }
};

/// The failure for a chosen folder that cannot be opened or listed, by the system's error value.
FailureCode rootFailureCode(int errnum);

/// Walks `root` (a path as NativePath.h holds it) and its subfolders down to `options.depth` levels. Each
/// folder is read completely before anything below it is searched, and stays open only until its last
/// subfolder is opened from it; its entries are offered sorted by upper-cased name (code-point
/// order, files and folders mixed), then its subfolders are walked one after another in that order, each
/// completely.
///
/// Folders are read ahead by `options.workers` threads, within a bounded number of open folders and of
/// bytes read but not yet offered; the sink and the observer are called on the calling thread only,
/// in the order above, whatever the number of threads. The file system is called from all of them.
///
/// Throws Failure when `root` itself cannot be listed; anything below it that cannot be read is
/// reported to `observer.skipped` and counted, and the walk goes on. Whatever leaves walkTree, its
/// threads have ended and every folder it opened is closed.
WalkStats walkTree(const QString& root, const WalkOptions& options, FileSystem& fileSystem, EntrySink& sink,
                   WalkObserver& observer);

} // namespace kartoma
