// Walks a folder with a given number of reading threads and records nothing: the walk's own time,
// for choosing how many threads read ahead (bench/walk-workers).
#include "EntryRecorder.h"
#include "Walk.h"

#include <QString>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

class Counter final : public kartoma::EntrySink, public kartoma::WalkObserver {
public:
    void beginFolder(int, std::string_view) override {}
    void offer(std::string_view, std::string_view, const kartoma::FolderListing::Item&) override { ++entries; }
    void searching(const QString&) override {}
    void yieldNow() override {}
    void skipped(const QString&, int) override {}
    unsigned long entries = 0;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: walk_workers WORKERS|auto FOLDER\n");
        return 2;
    }
    kartoma::WalkOptions options;
    options.workers = QString::fromUtf8(argv[1]) == QStringLiteral("auto") ? kartoma::kChooseWorkers
                                                                          : std::atoi(argv[1]);
    kartoma::PosixFileSystem fileSystem;
    Counter counter;
    const auto start = std::chrono::steady_clock::now();
    kartoma::walkTree(QString::fromUtf8(argv[2]), options, fileSystem, counter, counter);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%s workers: %lu entries in %.3f s\n", argv[1], counter.entries, took.count());
    return 0;
}
