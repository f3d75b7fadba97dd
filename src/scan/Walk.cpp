#include "Walk.h"

#include "Failure.h"
#include "NameText.h"
#include "NativePath.h"
#include "Utf8.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <iterator>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <sys/resource.h>

namespace kartoma {

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

/// How long the consumer waits for a folder before it lets the observer run again.
constexpr auto kYieldInterval = std::chrono::milliseconds(10);
/// Read ahead at most this many bytes of listings that were not offered yet; once there, reading
/// resumes only when the consumer has offered half of them, so that the readers work in long runs
/// instead of waking for every folder offered...
constexpr std::size_t kWindowBytes = std::size_t{8} << 20;
constexpr std::size_t kResumeBytes = kWindowBytes / 2;
/// A consumer that waits for a folder is woken once this much is read ahead of it (or nothing more
/// will be read for now): it then has a run of folders to offer, instead of waking for each one.
constexpr std::size_t kWakeBytes = std::size_t{256} << 10;
/// ...and keep at most this many folders open for their subfolders to be opened from.
constexpr int kWindowFolders = 64;
/// Threads that read ahead from a medium that answers at memory speed. More than one keeps a core busy
/// with system calls while the other sorts and records; more than two only contend for two cores.
constexpr int kWarmWorkers = 2;
/// Threads when the medium keeps them waiting: a cold disk or a disc serves many requests at once
/// faster than one at a time.
constexpr int kColdWorkers = 12;
/// More threads than this are not started, whatever is asked.
constexpr int kMaxWorkers = 64;
/// Folders whose reading decides whether the medium is cold.
constexpr int kSampleFolders = 16;
/// Offered listings kept for the readers to fill again, so that a folder costs no allocation...
constexpr std::size_t kSpareListings = 64;
/// ...unless it held more entries than this: a large folder's room is given back.
constexpr std::size_t kSpareEntries = 1024;

/// How often the calling thread has waited for something (a read from the medium, mostly) so far.
long blockingWaits() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

/// The bytes a listing takes, as the window counts them.
std::size_t listingBytes(const FolderListing& listing, std::size_t keyBytes) {
    std::size_t names = 0;
    for (std::size_t i = 0; i < listing.size(); ++i) {
        names += listing.item(i).nameLength;
    }
    return names + keyBytes + listing.size() * (sizeof(FolderListing::Item) + 3 * sizeof(std::uint32_t));
}

/// A folder's entries as the consumer offers them.
struct Listed {
    FolderListing listing;
    std::vector<ListingProblem> problems;
    std::string keys;
    std::vector<std::uint32_t> keyOffsets;
    std::vector<std::uint32_t> order;

    /// Empties the listing, keeping its room for the next folder.
    void clear() {
        listing.clear();
        problems.clear();
        keys.clear();
    }

    std::string_view key(std::uint32_t i) const {
        return std::string_view(keys).substr(keyOffsets[i], keyOffsets[i + 1] - keyOffsets[i]);
    }

    void sort() {
        const std::size_t n = listing.size();
        keyOffsets.assign(1, 0);
        keyOffsets.reserve(n + 1);
        for (std::size_t i = 0; i < n; ++i) {
            appendUpperUtf8(listing.name(i), keys);
            keyOffsets.push_back(static_cast<std::uint32_t>(keys.size()));
        }
        order.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            order[i] = static_cast<std::uint32_t>(i);
        }
        // UTF-8 byte order is code-point order; equal keys (a.txt and A.TXT) fall back to the raw
        // bytes, so the order never depends on the order the file system returned.
        std::sort(order.begin(), order.end(), [this](std::uint32_t a, std::uint32_t b) {
            const int byKey = key(a).compare(key(b));
            if (byKey != 0) {
                return byKey < 0;
            }
            return listing.name(a) < listing.name(b);
        });
    }
};

/// One folder of the walk: opened and read by whichever thread takes it first, offered by the consumer.
struct FolderJob {
    enum class State : std::uint8_t { Waiting, Taken, Read };

    FolderJob* parent = nullptr;
    std::string name; ///< its own name; the chosen folder's whole path
    int level = 1;
    State state = State::Waiting;
    bool open = false; ///< `handle` is open (guarded by the walk's lock)
    FolderHandle handle = 0;
    int unopenedChildren = 0; ///< children still to be opened from `handle` (guarded by the lock)
    int errnum = 0;           ///< the folder could not be opened or read
    std::exception_ptr thrown;
    std::unique_ptr<Listed> listed;
    std::size_t windowBytes = 0;
    /// The subfolders that are searched, in the order they are offered.
    std::vector<std::unique_ptr<FolderJob>> children;
};

class Walker {
public:
    Walker(const WalkOptions& options, FileSystem& fileSystem, EntrySink& sink, WalkObserver& observer)
        : depth_(std::min(options.depth, kMaxWalkDepth)), fileSystem_(fileSystem), sink_(sink),
          observer_(observer), chooseWorkers_(options.workers == kChooseWorkers),
          workerLimit_(chooseWorkers_ ? kWarmWorkers : std::clamp(options.workers, 0, kMaxWorkers)) {}

    ~Walker() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        workToDo_.notify_all();
        for (std::thread& worker : workers_) {
            worker.join();
        }
        if (root_ != nullptr) {
            closeAll(*root_);
        }
    }

    Walker(const Walker&) = delete;
    Walker& operator=(const Walker&) = delete;

    void walkRoot(const std::string& path, const QString& display) {
        if (depth_ < 1) {
            return;
        }
        FolderHandle folder = 0;
        const int err = fileSystem_.openRoot(path, folder);
        if (err != 0) {
            throw Failure(rootFailureCode(err), display, systemErrorText(err));
        }
        root_ = std::make_unique<FolderJob>();
        root_->name = path;
        root_->handle = folder;
        root_->open = true;
        ++openFolders_;
        addWorkers();
        consume(*root_, display);
    }

    const WalkStats& stats() const { return stats_; }

private:
    void addWorkers() {
        const std::lock_guard lock(mutex_);
        while (static_cast<int>(workers_.size()) < workerLimit_) {
            try {
                workers_.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                workerLimit_ = static_cast<int>(workers_.size()); // the consumer reads what nobody else does
            }
        }
    }

    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (!stopping_ && !workReady()) {
                ++idleWorkers_;
                workToDo_.wait(lock, [this] { return stopping_ || workReady(); });
                --idleWorkers_;
            }
            if (stopping_) {
                return;
            }
            FolderJob* job = urgent_;
            if (job != nullptr) {
                urgent_ = nullptr;
                unstack(*job);
            } else {
                job = pending_.back();
                pending_.pop_back();
            }
            if (job->state == FolderJob::State::Waiting) {
                readTaken(*job, lock);
            }
        }
    }

    /// There is a folder a worker may take (under the lock).
    bool workReady() const {
        return urgent_ != nullptr || (!pending_.empty() && !throttled_ && openFolders_ < kWindowFolders);
    }

    /// Takes `job` off the stack of folders to read, where it would outlive its reading (under the lock).
    void unstack(FolderJob& job) {
        const auto it = std::find(pending_.rbegin(), pending_.rend(), &job);
        if (it != pending_.rend()) {
            pending_.erase(std::next(it).base());
        }
    }

    /// Reads `job` (just taken, under `lock`) with the lock released, and hands it to the consumer.
    void readTaken(FolderJob& job, std::unique_lock<std::mutex>& lock) {
        job.state = FolderJob::State::Taken;
        const bool sampled = chooseWorkers_ && sampled_ < kSampleFolders;
        std::unique_ptr<Listed> spare;
        if (!spareListings_.empty()) {
            spare = std::move(spareListings_.back());
            spareListings_.pop_back();
        }
        lock.unlock();
        const long blocksBefore = sampled ? blockingWaits() : 0;
        read(job, std::move(spare));
        const long blocked = sampled ? blockingWaits() - blocksBefore : 0;
        lock.lock();
        if (sampled) {
            blocked_ += blocked;
            // A medium that kept the first folders' readers waiting (a cold disk, a disc, a network):
            // more requests at once let it order its reads. One that answers from memory never blocks.
            if (++sampled_ == kSampleFolders && blocked_ >= kSampleFolders) {
                workerLimit_ = kColdWorkers;
            }
        }
        job.state = FolderJob::State::Read;
        windowBytes_ += job.windowBytes;
        throttled_ = throttled_ || windowBytes_ >= kWindowBytes;
        for (auto it = job.children.rbegin(); it != job.children.rend(); ++it) {
            pending_.push_back(it->get());
        }
        // Every wake-up costs both threads a trip through the kernel: only those who wait are woken,
        // and the consumer only when a run of folders is ready for it.
        const bool wakeWorkers = idleWorkers_ > 0 && workReady();
        const bool wakeConsumer = awaited_ != nullptr && awaited_->state == FolderJob::State::Read &&
                                  (windowBytes_ >= kWakeBytes || !workReady());
        if (wakeConsumer) {
            awaited_ = nullptr;
        }
        lock.unlock();
        if (wakeWorkers) {
            workToDo_.notify_all();
        }
        if (wakeConsumer) {
            jobRead_.notify_one();
        }
        lock.lock();
    }

    /// Opens `job` from its parent and reads it into `listed` (if any: an offered one); called without
    /// the lock.
    void read(FolderJob& job, std::unique_ptr<Listed> listed) {
        try {
            if (job.parent != nullptr && !openFromParent(job)) {
                return;
            }
            if (listed == nullptr) {
                listed = std::make_unique<Listed>();
            } else {
                listed->clear();
            }
            job.errnum = fileSystem_.listFolder(job.handle, listed->listing, listed->problems);
            if (job.errnum == 0) {
                listed->sort();
                if (job.level < depth_) {
                    job.children.reserve(static_cast<std::size_t>(
                        std::count_if(listed->order.begin(), listed->order.end(), [&](std::uint32_t i) {
                            return listed->listing.item(i).kind == EntryKind::Folder;
                        })));
                    for (const std::uint32_t i : listed->order) {
                        if (listed->listing.item(i).kind == EntryKind::Folder) {
                            auto child = std::make_unique<FolderJob>();
                            child->parent = &job;
                            child->name = listed->listing.name(i);
                            child->level = job.level + 1;
                            job.children.push_back(std::move(child));
                        }
                    }
                }
                job.windowBytes = listingBytes(listed->listing, listed->keys.size());
                job.listed = std::move(listed);
            }
        } catch (...) {
            job.thrown = std::current_exception();
            job.children.clear();
            job.listed.reset();
        }
        bool close = false;
        {
            // The caller wakes the workers a closed folder makes room for.
            const std::lock_guard lock(mutex_);
            job.unopenedChildren = static_cast<int>(job.children.size());
            close = job.open && job.unopenedChildren == 0;
            if (close) {
                job.open = false;
                --openFolders_;
            }
        }
        if (close) {
            fileSystem_.closeFolder(job.handle);
        }
    }

    /// Opens `job` from its parent's handle, which is closed once its last child is open.
    bool openFromParent(FolderJob& job) {
        FolderJob& parent = *job.parent;
        FolderHandle handle = 0;
        const int err = fileSystem_.openChild(parent.handle, job.name, handle);
        bool closeParent = false;
        {
            const std::lock_guard lock(mutex_);
            if (err == 0) {
                job.handle = handle;
                job.open = true;
                ++openFolders_;
            } else {
                job.errnum = err;
            }
            closeParent = --parent.unopenedChildren == 0;
            if (closeParent) {
                parent.open = false;
                --openFolders_;
            }
        }
        if (closeParent) {
            fileSystem_.closeFolder(parent.handle);
        }
        return err == 0;
    }

    /// Waits until `job` is read, letting the observer run meanwhile. The next free worker reads it,
    /// whatever the window; without workers it is read here.
    void await(FolderJob& job) {
        std::unique_lock lock(mutex_);
        while (job.state != FolderJob::State::Read) {
            if (job.state == FolderJob::State::Waiting) {
                if (workers_.empty()) {
                    unstack(job);
                    readTaken(job, lock);
                    break;
                }
                urgent_ = &job;
                if (idleWorkers_ > 0) {
                    workToDo_.notify_one();
                }
            }
            // Woken when a run of folders is read, or after the interval: whichever comes first, the
            // folder is offered as soon as it is read.
            awaited_ = &job;
            const bool read =
                jobRead_.wait_for(lock, kYieldInterval, [&job] { return job.state == FolderJob::State::Read; });
            awaited_ = nullptr;
            if (!read) {
                lock.unlock();
                observer_.yieldNow();
                lock.lock();
            }
        }
        const bool grow = static_cast<int>(workers_.size()) < workerLimit_;
        lock.unlock();
        if (grow) {
            addWorkers();
        }
    }

    /// Offers the folder of `job` and walks its subfolders; `job` has been searched for already.
    void consume(FolderJob& job, const QString& display) {
        await(job);
        if (job.thrown) {
            std::rethrow_exception(job.thrown);
        }
        if (job.errnum != 0) {
            if (job.level == 1) {
                throw Failure(rootFailureCode(job.errnum), display, systemErrorText(job.errnum));
            }
            skipFolder(display, job.errnum);
            return;
        }
        const Listed& listed = *job.listed;
        for (const ListingProblem& problem : listed.problems) {
            ++stats_.unreadableEntries;
            observer_.skipped(problem.name.empty() ? display : joinPath(display, nameText(problem.name)),
                              problem.errnum);
        }
        // Only the subfolders' own names wait here; their paths are made when they are searched.
        std::string pendingNames;
        std::vector<std::uint32_t> pendingEnds;
        sink_.beginFolder(job.level, job.name);
        for (const std::uint32_t i : listed.order) {
            observer_.yieldNow();
            const FolderListing::Item& item = listed.listing.item(i);
            const std::string_view entryName = listed.listing.name(i);
            if (item.kind == EntryKind::Folder && job.level < kMaxWalkDepth) {
                pendingNames.append(entryName);
                pendingEnds.push_back(static_cast<std::uint32_t>(pendingNames.size()));
            }
            sink_.offer(entryName, listed.key(i), item);
            ++stats_.entriesSeen;
        }
        release(job);

        std::uint32_t begin = 0;
        std::size_t child = 0;
        for (const std::uint32_t end : pendingEnds) {
            const std::string_view subName = std::string_view(pendingNames).substr(begin, end - begin);
            begin = end;
            const QString subDisplay = joinPath(display, nameText(subName));
            observer_.searching(subDisplay);
            if (depth_ <= job.level) {
                continue;
            }
            consume(*job.children[child], subDisplay);
            // Nothing refers to a subfolder walked to its end: its handle is closed, its own
            // subfolders are gone.
            job.children[child++].reset();
        }
    }

    /// Gives the memory of an offered listing back to the window.
    void release(FolderJob& job) {
        const bool keep = job.listed->listing.size() <= kSpareEntries;
        bool wake = false;
        {
            const std::lock_guard lock(mutex_);
            windowBytes_ -= job.windowBytes;
            job.windowBytes = 0;
            if (throttled_ && windowBytes_ <= kResumeBytes) {
                throttled_ = false;
                wake = idleWorkers_ > 0;
            }
            if (keep && spareListings_.size() < kSpareListings) {
                spareListings_.push_back(std::move(job.listed));
            }
        }
        if (wake) {
            workToDo_.notify_all();
        }
        job.listed.reset();
    }

    void skipFolder(const QString& display, int err) {
        ++stats_.unreadableFolders;
        observer_.skipped(display, err);
    }

    /// Closes what the walk left open when it ended early; the workers have ended.
    void closeAll(FolderJob& job) {
        if (job.open) {
            job.open = false;
            fileSystem_.closeFolder(job.handle);
        }
        for (const std::unique_ptr<FolderJob>& child : job.children) {
            if (child != nullptr) {
                closeAll(*child);
            }
        }
    }

    int depth_;
    FileSystem& fileSystem_;
    EntrySink& sink_;
    WalkObserver& observer_;
    WalkStats stats_;
    std::unique_ptr<FolderJob> root_;

    const bool chooseWorkers_;
    std::mutex mutex_;
    std::condition_variable workToDo_; ///< a folder to read, room in the window, or stop
    std::condition_variable jobRead_;  ///< a folder was read
    // Guarded by mutex_:
    int workerLimit_;
    std::vector<std::thread> workers_;
    std::vector<FolderJob*> pending_; ///< folders to read, the next one to offer last
    FolderJob* urgent_ = nullptr;     ///< the folder the consumer waits for, not taken yet
    FolderJob* awaited_ = nullptr;    ///< the folder the consumer waits for, until it is woken
    int idleWorkers_ = 0;             ///< workers waiting for a folder to read
    std::size_t windowBytes_ = 0;
    bool throttled_ = false;          ///< the window was full and is not half empty yet
    std::vector<std::unique_ptr<Listed>> spareListings_;
    int openFolders_ = 0;
    bool stopping_ = false;
    int sampled_ = 0;
    long blocked_ = 0;
};

} // namespace

WalkStats walkTree(const QString& root, const WalkOptions& options, FileSystem& fileSystem, EntrySink& sink,
                   WalkObserver& observer) {
    Walker walker(options, fileSystem, sink, observer);
    walker.walkRoot(toNativePath(root), readablePath(root));
    return walker.stats();
}

} // namespace kartoma
