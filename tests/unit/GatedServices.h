#pragma once

#include "FileSystem.h"
#include "ReportComponent.h"
#include "WorkbookReport.h"

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

/// The program's engine, held at its first written cell (the writing) or where its finish asks for
/// the workbook's destination (the finish, deflating still ahead).
class GatedReport final : public ReportComponent, private WorkbookPresenter {
public:
    GatedReport(WorkbookPresenter& presenter, const std::atomic<bool>& stop, Gate& gate)
        : presenter_(presenter), gate_(gate), engine_(*this) {
        engine_.setCancelFlag(&stop);
    }
    /// An engine factory for the controller's services.
    static auto factory(Gate& gate) {
        return [&gate](WorkbookPresenter& presenter, const std::atomic<bool>& stop) -> std::unique_ptr<ReportComponent> {
            return std::make_unique<GatedReport>(presenter, stop, gate);
        };
    }

    void setBookFile(const QString& path) override { engine_.setBookFile(path); }
    void openBook() override { engine_.openBook(); }
    void setStartOption(int option) override { engine_.setStartOption(option); }
    void selectSheet(const QString& name, const QString& range) override { engine_.selectSheet(name, range); }
    void closeSheet() override { engine_.closeSheet(); }
    void setFinishOption(int option) override { engine_.setFinishOption(option); }
    void finish() override { engine_.finish(); }
    void abort() override { engine_.abort(); }
    void checkBook(const QString& path, const QString& sheet) override { engine_.checkBook(path, sheet); }
    int errorCode() const override { return engine_.errorCode(); }
    QString errorText() const override { return engine_.errorText(); }
    CellRange resolveReference(QStringView reference) override { return engine_.resolveReference(reference); }
    CellRange resolvePosition(int x1, int y1, int x2, int y2) override {
        return engine_.resolvePosition(x1, y1, x2, y2);
    }
    void setText(const CellRange& range, std::string_view utf8) override {
        gate_.pass(Phase::Writing);
        engine_.setText(range, utf8);
    }
    void setNumber(const CellRange& range, std::int64_t number) override { engine_.setNumber(range, number); }
    void setRowHeight(const CellRange& range, double points) override { engine_.setRowHeight(range, points); }
    void setAttr(const CellRange& range, AttrMember member, int value) override {
        engine_.setAttr(range, member, value);
    }
    void setPageText(const QString& l, const QString& c, const QString& r) override { engine_.setPageText(l, c, r); }
    void setTitleLook(const CellRange& range) override { engine_.setTitleLook(range); }
    void addRowBreak(int row) override { engine_.addRowBreak(row); }

private:
    QString destinationFor(const QString& bookFile) override {
        gate_.pass(Phase::Finish);
        return presenter_.destinationFor(bookFile);
    }
    bool present(const QString& savedPath) override { return presenter_.present(savedPath); }

    WorkbookPresenter& presenter_;
    Gate& gate_;
    WorkbookReport engine_;
};

} // namespace kartoma::testing
