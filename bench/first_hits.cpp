// The time to the first 1,000 hits inside a running program, as the search window's worker meets a
// key: the index kept open, the library's catalogues looked at again (update), then the search until
// 1,000 hits have come, with media counts.
//
//     first_hits LIBRARY INDEX PATTERN...
//
// For each pattern: five rounds, the first of which may still warm the cache; prints each round's
// milliseconds and the median of the last four.

#include "CatalogueIndex.h"
#include "CatalogueSearch.h"
#include "Failure.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

class Quiet final : public kartoma::IndexProgress {
public:
    bool reading(const QString&, qsizetype, qsizetype) override { return true; }
    void unreadable(const kartoma::Failure&) override {}
};

/// Takes hits until it has 1,000, then asks the search to stop.
class FirstThousand final : public kartoma::SearchSink {
public:
    void hit(const kartoma::SearchHit&) override { ++hits; }
    void unreadable(const kartoma::Failure&) override {}
    bool keepGoing(const QString&, std::uint64_t) override { return hits < 1000; }
    std::uint64_t hits = 0;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: first_hits LIBRARY INDEX PATTERN...\n");
        return 2;
    }
    const QStringList paths{QString::fromLocal8Bit(argv[1])};
    kartoma::CatalogueIndex index(QString::fromLocal8Bit(argv[2]));
    Quiet quiet;
    for (int p = 3; p < argc; ++p) {
        const kartoma::SearchQuery query{QString::fromUtf8(argv[p]), false, true};
        std::vector<double> rounds;
        std::uint64_t hits = 0;
        for (int round = 0; round < 5; ++round) {
            QElapsedTimer clock;
            clock.start();
            index.update(paths, quiet);
            FirstThousand sink;
            index.search(paths, query, sink);
            rounds.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
            hits = sink.hits;
        }
        std::vector<double> warm(rounds.begin() + 1, rounds.end());
        std::sort(warm.begin(), warm.end());
        std::printf("%s: %llu hits; rounds %.0f %.0f %.0f %.0f %.0f ms; median of the last four %.0f ms\n", argv[p],
                    static_cast<unsigned long long>(hits), rounds[0], rounds[1], rounds[2], rounds[3], rounds[4],
                    (warm[1] + warm[2]) / 2);
    }
    return 0;
}
