#pragma once

#include "CatalogueSearch.h"

#include <QList>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace kartoma {

class CatalogueIndex;

/// One piece of work for the search window's worker.
struct SearchRequest {
    enum class Kind {
        Search,       ///< the entries matching `query`
        SingleCopies, ///< the entries held by one medium only (those matching `query` when it is not empty)
        Refresh,      ///< only bring the index up to date with the catalogues
    };
    Kind kind = Kind::Search;
    QStringList paths; ///< catalogues and folders of catalogues, as findCatalogueFiles takes them
    SearchQuery query;
};

/// How a piece of work ended.
struct SearchOutcome {
    SearchSummary summary;
    bool anyCatalogue = false;  ///< the paths named at least one catalogue file
    bool fromIndex = false;     ///< answered from the index
    bool indexUnusable = false; ///< the index could not be used; the catalogue files were read instead
};

/// What the worker reports, called on the thread that owns the runner, only for the latest request.
struct SearchRunnerCallbacks {
    /// The index is being brought up to date: `done` of `total` catalogues read.
    std::function<void(int done, int total, const QString& catalogue)> indexing;
    /// The catalogue files are being read directly: the `done`th of `total` catalogues, `rows` lines so far.
    std::function<void(int done, int total, std::uint64_t rows, const QString& catalogue)> reading;
    /// Hits in the order found; at most `maxHits` of a request in all.
    std::function<void(const QList<SearchHit>& hits)> hits;
    /// A catalogue or folder that could not be read.
    std::function<void(const Failure& failure)> unreadable;
    /// The request ended (to its end or stopped).
    std::function<void(const SearchOutcome& outcome)> finished;
};

/// Runs the search window's searches on a worker thread of its own, one at a time: start() stops the
/// running search (its sink sees the stop at its next keepGoing) and queues the new one; a request
/// queued but not begun is replaced by a newer one. The worker hands hits over in batches (every
/// `batchIntervalMs`, or sooner once a few thousand have gathered) and progress at most every
/// `batchIntervalMs`, as queued calls to the owning thread; whatever an older request still reports
/// after a newer one started is dropped there, so a stale hit is never shown.
///
/// Catalogues are searched through the catalogue index at `indexPath` (brought up to date first);
/// when the index cannot be used, the catalogue files are read directly.
class SearchRunner final : public QObject {
public:
    struct Options {
        QString indexPath;       ///< the index database; empty: the index's default path
        int batchIntervalMs = 15; ///< the least time between two hand-overs of hits and progress
        int maxHits = 100000;    ///< hits beyond this many are counted, not handed over
    };

    SearchRunner(Options options, SearchRunnerCallbacks callbacks, QObject* parent = nullptr);
    /// Stops the running search and waits for the worker to end.
    ~SearchRunner() override;

    /// Stops whatever runs and starts `request`.
    void start(SearchRequest request);
    /// Stops the running request; its `finished` still comes (with `stopped`).
    void stop();
    /// Stops the running request and drops everything it still reports, `finished` too.
    void cancel();

private:
    struct Job {
        SearchRequest request;
        int generation = 0;
    };
    class Sink;

    void loop();
    void run(const Job& job, CatalogueIndex& index);
    /// Calls `call` on the owning thread if `generation` is still the latest then.
    void post(int generation, std::function<void()> call);

    Options options_;
    SearchRunnerCallbacks callbacks_;
    int latest_ = 0; ///< owning thread only
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Job> pending_;
    bool quit_ = false;
    std::atomic<int> stopBelow_{0}; ///< requests numbered below it stop at their next keepGoing
    std::thread worker_;
};

} // namespace kartoma
