#pragma once

#include "FileSystem.h"
#include "Workbook.h"

#include <QCoreApplication>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace kartoma::testing {

/// The phases of a list command a test can hold the worker in.
enum class Phase { Walk, Writing, Finish };

/// Holds the worker at one point of one phase until the test lets it go, so that a test acts while
/// the command is in that phase, with no guess at timing.
class Gate {
public:
    /// The gate holds the worker the next time it passes in `phase`, or after `skip` passes.
    void arm(Phase phase, int skip = 0) {
        const std::lock_guard lock(mutex_);
        armed_ = phase;
        skip_ = skip;
        reached_ = released_ = false;
    }
    /// On the worker: waits here when the gate is armed for `phase` (once).
    void pass(Phase phase) {
        std::unique_lock lock(mutex_);
        if (!armed_ || *armed_ != phase || skip_-- > 0) {
            return;
        }
        armed_.reset();
        reached_ = true;
        // Wakes the test's event loop, which answers the command's questions until then.
        QMetaObject::invokeMethod(QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
        changed_.wait(lock, [this] { return released_; });
    }
    /// Runs the event loop until the worker waits at the gate; true then.
    bool awaitReached() {
        while (!reached()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }
    bool reached() {
        const std::lock_guard lock(mutex_);
        return reached_;
    }
    void release() {
        const std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Phase> armed_;
    int skip_ = 0;
    bool reached_ = false, released_ = false;
};

/// The system's folders, held at a folder's listing while the gate says so.
class GatedFileSystem final : public FileSystem {
public:
    GatedFileSystem(FileSystem& system, Gate& gate) : system_(system), gate_(gate) {}
    int openRoot(const std::string& path, FolderHandle& folder) override { return system_.openRoot(path, folder); }
    int openChild(FolderHandle parent, std::string_view name, FolderHandle& folder) override {
        return system_.openChild(parent, name, folder);
    }
    int listFolder(FolderHandle folder, FolderListing& out, std::vector<ListingProblem>& problems) override {
        gate_.pass(Phase::Walk);
        return system_.listFolder(folder, out, problems);
    }
    void closeFolder(FolderHandle folder) override { system_.closeFolder(folder); }

private:
    FileSystem& system_;
    Gate& gate_;
};

/// The program's engine, held where a fill opens its template (the writing) or where it asks for the
/// workbook's destination (the finish, deflating still ahead).
class GatedOpener final : public WorkbookOpener {
public:
    GatedOpener(const std::atomic<bool>& stop, Gate& gate) : WorkbookOpener(&stop), gate_(gate) {}
    /// An engine factory for the controller's services.
    static auto factory(Gate& gate) {
        return [&gate](const std::atomic<bool>& stop) -> std::unique_ptr<WorkbookOpener> {
            return std::make_unique<GatedOpener>(stop, gate);
        };
    }

    std::unique_ptr<Workbook> open(const QString& templatePath, const QString& sheetName, int ownRowsKept,
                                   std::function<QString()> destination) override {
        gate_.pass(Phase::Writing);
        return WorkbookOpener::open(templatePath, sheetName, ownRowsKept, [this, destination] {
            gate_.pass(Phase::Finish);
            return destination();
        });
    }

private:
    Gate& gate_;
};

} // namespace kartoma::testing
