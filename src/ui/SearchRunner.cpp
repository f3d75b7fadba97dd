#include "SearchRunner.h"

#include "FileSystem.h"
#include "SearchPattern.h"
#include "Walk.h"

#include <QElapsedTimer>

namespace kartoma {

/// Gathers a request's hits and progress on the worker and hands them over in batches.
class SearchRunner::Sink final : public SearchSink {
public:
    Sink(SearchRunner& runner, int generation, const SearchRequest& request, int catalogues)
        : runner_(runner), generation_(generation), catalogues_(catalogues), matchPath_(request.query.matchPath) {
        // The index lists single copies whatever their names; the window narrows them to the pattern.
        if (request.kind == SearchRequest::Kind::SingleCopies && !request.query.pattern.isEmpty()) {
            filter_.emplace(request.query.pattern);
        }
        sinceHandOver_.start();
    }

    void hit(const SearchHit& hit) override {
        if (filter_ && !filter_->matches(matchPath_ ? joinPath(hit.folder, hit.name) : hit.name)) {
            return;
        }
        ++hits_;
        if (hits_ <= static_cast<std::uint64_t>(runner_.options_.maxHits)) {
            batch_.append(hit);
        }
        if (batch_.size() >= 512 && due()) {
            handOver();
        }
    }

    void unreadable(const Failure& failure) override {
        runner_.post(generation_, [&runner = runner_, failure] { runner.callbacks_.unreadable(failure); });
    }

    bool keepGoing(const QString& catalogue, std::uint64_t rowsRead) override {
        if (catalogue != current_) {
            current_ = catalogue;
            ++done_;
        }
        if (due()) {
            handOver();
            runner_.post(generation_, [&runner = runner_, done = done_, total = catalogues_, rowsRead, catalogue] {
                runner.callbacks_.reading(done, total, rowsRead, catalogue);
            });
        }
        return !stopped();
    }

    bool stopped() const { return generation_ < runner_.stopBelow_.load(std::memory_order_relaxed); }

    /// Hands over the hits gathered so far.
    void handOver() {
        sinceHandOver_.restart();
        if (batch_.isEmpty()) {
            return;
        }
        runner_.post(generation_,
                     [&runner = runner_, hits = std::move(batch_)] { runner.callbacks_.hits(hits); });
        batch_ = {};
    }

    std::uint64_t hits() const { return hits_; }

private:
    bool due() const { return sinceHandOver_.elapsed() >= runner_.options_.batchIntervalMs; }

    SearchRunner& runner_;
    int generation_;
    int catalogues_;
    bool matchPath_;
    std::optional<SearchPattern> filter_;
    QElapsedTimer sinceHandOver_;
    QList<SearchHit> batch_;
    QString current_;
    int done_ = 0;
    std::uint64_t hits_ = 0;
};

SearchRunner::SearchRunner(Options options, SearchRunnerCallbacks callbacks, QObject* parent)
    : QObject(parent), options_(std::move(options)), callbacks_(std::move(callbacks)) {
    worker_ = std::thread([this] { loop(); });
}

SearchRunner::~SearchRunner() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        pending_.reset();
        stopBelow_ = latest_ + 1;
    }
    wake_.notify_one();
    worker_.join();
}

void SearchRunner::start(SearchRequest request) {
    {
        std::lock_guard lock(mutex_);
        pending_ = Job{std::move(request), ++latest_};
        stopBelow_ = latest_;
    }
    busy_ = true;
    wake_.notify_one();
}

void SearchRunner::stop() {
    std::lock_guard lock(mutex_);
    stopBelow_ = latest_ + 1;
}

void SearchRunner::cancel() {
    std::lock_guard lock(mutex_);
    pending_.reset();
    stopBelow_ = ++latest_ + 1;
    busy_ = false;
}

void SearchRunner::post(int generation, std::function<void()> call) {
    // Runs on the owning thread; a call still queued when the runner goes is dropped with it.
    QMetaObject::invokeMethod(
        this,
        [this, generation, call = std::move(call)] {
            if (generation == latest_) {
                call();
            }
        },
        Qt::QueuedConnection);
}

void SearchRunner::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || pending_.has_value(); });
        if (quit_) {
            return;
        }
        const Job job = std::move(*pending_);
        pending_.reset();
        lock.unlock();
        run(job);
        lock.lock();
    }
}

void SearchRunner::run(const Job& job) {
    PosixFileSystem fileSystem;
    const CatalogueFiles found = findCatalogueFiles(job.request.paths, fileSystem);
    Sink sink(*this, job.generation, job.request, static_cast<int>(found.files.size()));
    for (const Failure& problem : found.problems) {
        sink.unreadable(problem);
    }
    SearchOutcome outcome;
    outcome.anyCatalogue = !found.files.isEmpty();
    switch (job.request.kind) {
    case SearchRequest::Kind::Search:
        outcome.summary = searchCatalogues(found.files, job.request.query, sink, fileSystem);
        break;
    case SearchRequest::Kind::SingleCopies:
    case SearchRequest::Kind::Refresh:
        outcome.indexUnusable = true;
        break;
    }
    sink.handOver();
    outcome.summary.hits = sink.hits();
    outcome.summary.unreadable += found.problems.size();
    outcome.summary.stopped = outcome.summary.stopped || sink.stopped();
    post(job.generation, [this, outcome] {
        busy_ = false;
        callbacks_.finished(outcome);
    });
}

} // namespace kartoma
