#include "SearchRunner.h"

#include "CatalogueIndex.h"
#include "SearchPattern.h"
#include "NameText.h"

#include <QElapsedTimer>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>

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
        // Batches stay small enough for the window to take in and free a piece at a time.
        if (batch_.size() >= 4096 || (batch_.size() >= 512 && due())) {
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
    void setCatalogues(int catalogues) { catalogues_ = catalogues; }

    /// Reports the index's update: its progress, handed over at the window's pace, and its stop.
    class Update final : public IndexProgress {
    public:
        explicit Update(Sink& sink) : sink_(sink) {}
        bool reading(const QString& catalogue, qsizetype done, qsizetype total) override {
            total_ = static_cast<int>(total);
            if (sink_.due()) {
                sink_.sinceHandOver_.restart();
                sink_.runner_.post(sink_.generation_, [&runner = sink_.runner_, done = static_cast<int>(done),
                                                       total = total_, catalogue] {
                    runner.callbacks_.indexing(done, total, catalogue);
                });
            }
            return !sink_.stopped();
        }
        // The search names the same catalogues again, with those it finds unreadable on its own.
        void unreadable(const Failure&) override {}
        int total() const { return total_; }

    private:
        Sink& sink_;
        int total_ = 0;
    };

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
    // On a machine with few cores the search and the window's thread compete: the search yields, so
    // that keys and repaints never wait for it. (Linux gives each thread a nice value of its own.)
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, thread, std::min(19, ::getpriority(PRIO_PROCESS, thread) + 10));
    // The index is opened on the worker, on the first request, and belongs to it.
    std::unique_ptr<CatalogueIndex> index;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || pending_.has_value(); });
        if (quit_) {
            return;
        }
        const Job job = std::move(*pending_);
        pending_.reset();
        lock.unlock();
        if (index == nullptr) {
            index = std::make_unique<CatalogueIndex>(options_.indexPath.isEmpty() ? CatalogueIndex::defaultPath()
                                                                                : options_.indexPath);
        }
        run(job, *index);
        lock.lock();
    }
}

void SearchRunner::run(const Job& job, CatalogueIndex& index) {
    const SearchRequest& request = job.request;
    Sink sink(*this, job.generation, request, 0);
    SearchOutcome outcome;
    Sink::Update update(sink);
    const IndexUpdate updated = index.update(request.paths, update);
    sink.setCatalogues(update.total());
    outcome.anyCatalogue = update.total() > 0;
    outcome.indexUnusable = index.state() != CatalogueIndex::State::Ready;
    outcome.fromIndex = !outcome.indexUnusable;
    if (updated.stopped || sink.stopped()) {
        outcome.summary.stopped = true;
    } else if (request.kind == SearchRequest::Kind::Search) {
        // An index that cannot be used reads the catalogue files itself.
        outcome.summary = index.search(request.paths, request.query, sink);
    } else if (request.kind == SearchRequest::Kind::SingleCopies) {
        // An index that cannot be used makes the list in one kept in memory, as the command line does.
        outcome.summary = index.singleCopies(request.paths, sink);
    }
    sink.handOver();
    outcome.summary.hits = sink.hits();
    outcome.anyCatalogue = outcome.anyCatalogue || outcome.summary.catalogues + outcome.summary.unreadable > 0;
    outcome.summary.stopped = outcome.summary.stopped || sink.stopped();
    post(job.generation, [this, outcome] { callbacks_.finished(outcome); });
}

} // namespace kartoma
