#include "Walk.h"

#include "Failure.h"
#include "LikePattern.h"
#include "NameText.h"
#include "NativePath.h"
#include "Utf8.h"

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

namespace kartoma {

QString searchingText(const QString& folder) {
    return folder + QStringLiteral("を検索中です。");
}

QString joinPath(const QString& folder, const QString& name) {
    if (folder.endsWith(QLatin1Char('/'))) {
        return folder + name;
    }
    return folder + QLatin1Char('/') + name;
}

std::string joinPathBytes(const std::string& folder, std::string_view name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path = folder;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path.append(name);
    return path;
}

FailureCode rootFailureCode(int errnum) {
    switch (errnum) {
    case ENOENT:
        return FailureCode::RootNotFound;
    case ENOTDIR:
        return FailureCode::RootNotFolder;
    default:
        return FailureCode::RootUnreadable;
    }
}

namespace {

class Walker {
public:
    Walker(const WalkOptions& options, FileSystem& fileSystem, EntrySink& sink, WalkObserver& observer)
        : depth_(std::min(options.depth, kMaxWalkDepth)), fileSystem_(fileSystem), sink_(sink),
          observer_(observer) {}

    void walkRoot(const std::string& path, const QString& display) {
        if (depth_ < 1) {
            return;
        }
        FolderHandle folder = 0;
        const int err = fileSystem_.openRoot(path, folder);
        if (err != 0) {
            throw Failure(rootFailureCode(err), display, systemErrorText(err));
        }
        walkFolder(folder, path, display, 1);
    }

    /// Lists the open `folder` (which it closes) and walks its subfolders, each opened from it.
    void walkFolder(FolderHandle folder, std::string_view name, const QString& display, int level) {
        const OpenFolder open(fileSystem_, folder);
        listing_.clear();
        problems_.clear();
        const int err = fileSystem_.listFolder(folder, listing_, problems_);
        if (err != 0) {
            if (level == 1) {
                throw Failure(rootFailureCode(err), display, systemErrorText(err));
            }
            skipFolder(display, err);
            return;
        }
        for (const ListingProblem& problem : problems_) {
            ++stats_.unreadableEntries;
            observer_.skipped(problem.name.empty() ? display : joinPath(display, nameText(problem.name)),
                              problem.errnum);
        }

        sortListing();
        // Only the subfolders' own names wait here; their paths are made when they are searched.
        std::string pendingNames;
        std::vector<std::uint32_t> pendingEnds;
        sink_.beginFolder(level, name);
        for (const std::uint32_t i : order_) {
            observer_.yieldNow();
            const FolderListing::Item& item = listing_.item(i);
            const std::string_view entryName = listing_.name(i);
            if (item.kind == EntryKind::Folder && level < kMaxWalkDepth) {
                pendingNames.append(entryName);
                pendingEnds.push_back(static_cast<std::uint32_t>(pendingNames.size()));
            }
            sink_.offer(entryName, key(i), item);
            ++stats_.entriesSeen;
        }
        // listing_ is reused by the levels below; nothing of it is needed past this point.
        std::uint32_t begin = 0;
        for (const std::uint32_t end : pendingEnds) {
            const std::string_view subName = std::string_view(pendingNames).substr(begin, end - begin);
            begin = end;
            const QString subDisplay = joinPath(display, nameText(subName));
            observer_.searching(subDisplay);
            if (depth_ <= level) {
                continue;
            }
            FolderHandle sub = 0;
            const int openErr = fileSystem_.openChild(folder, subName, sub);
            if (openErr != 0) {
                skipFolder(subDisplay, openErr);
                continue;
            }
            walkFolder(sub, subName, subDisplay, level + 1);
        }
    }

    const WalkStats& stats() const { return stats_; }

private:
    /// Closes a folder handle on every way out of a level.
    class OpenFolder {
    public:
        OpenFolder(FileSystem& fileSystem, FolderHandle folder) : fileSystem_(fileSystem), folder_(folder) {}
        ~OpenFolder() { fileSystem_.closeFolder(folder_); }
        OpenFolder(const OpenFolder&) = delete;
        OpenFolder& operator=(const OpenFolder&) = delete;

    private:
        FileSystem& fileSystem_;
        FolderHandle folder_;
    };

    void skipFolder(const QString& display, int err) {
        ++stats_.unreadableFolders;
        observer_.skipped(display, err);
    }

    std::string_view key(std::uint32_t i) const {
        return std::string_view(keys_).substr(keyOffsets_[i], keyOffsets_[i + 1] - keyOffsets_[i]);
    }

    void sortListing() {
        const std::size_t n = listing_.size();
        keys_.clear();
        keyOffsets_.assign(1, 0);
        for (std::size_t i = 0; i < n; ++i) {
            appendUpperUtf8(listing_.name(i), keys_);
            keyOffsets_.push_back(static_cast<std::uint32_t>(keys_.size()));
        }
        order_.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            order_[i] = static_cast<std::uint32_t>(i);
        }
        // UTF-8 byte order is code-point order; equal keys (a.txt and A.TXT) fall back to the raw
        // bytes, so the order never depends on the order the file system returned.
        std::sort(order_.begin(), order_.end(), [this](std::uint32_t a, std::uint32_t b) {
            const int byKey = key(a).compare(key(b));
            if (byKey != 0) {
                return byKey < 0;
            }
            return listing_.name(a) < listing_.name(b);
        });
    }

    int depth_;
    FileSystem& fileSystem_;
    EntrySink& sink_;
    WalkObserver& observer_;
    WalkStats stats_;
    // Scratch space shared by all levels: a level is done with it before it descends.
    FolderListing listing_;
    std::vector<ListingProblem> problems_;
    std::string keys_;
    std::vector<std::uint32_t> keyOffsets_;
    std::vector<std::uint32_t> order_;
};

} // namespace

WalkStats walkTree(const QString& root, const WalkOptions& options, FileSystem& fileSystem, EntrySink& sink,
                   WalkObserver& observer) {
    Walker walker(options, fileSystem, sink, observer);
    walker.walkRoot(toNativePath(root), readablePath(root));
    return walker.stats();
}

} // namespace kartoma
