#pragma once

#include "Walk.h"

#include <QString>

#include <cstdint>

namespace kartoma {

/// The steps of the catalogue command a front end may show, in the order they come. Each front end
/// says them in its own words (or not at all).
enum class CatalogueStage {
    Listing,        ///< the command has begun: the folder is about to be walked
    WalkEnded,      ///< the walk is done; the list is complete
    SavingCsv,      ///< the CSV file is being written out
    CsvSaved,       ///< the CSV file is in place
    NothingToList,  ///< the list is empty: no workbook is made
    FillingSheet,   ///< the rows of the one-title workbook are being written
    FillingPages,   ///< the pages of the all-titles workbook are being written
    SheetFilled,    ///< the last row of the workbook is written
    SavingWorkbook, ///< the workbook is being packed and saved
    WorkbookSaved,  ///< the workbook is saved and handed over
};

/// What the catalogue command reports while it runs: the walk's folders and skipped entries (as a
/// WalkObserver), the stages above, the writers' position, and the points where it looks whether
/// it was stopped. Called on the command's thread. Every report does nothing unless overridden: this
/// class as it is shows nothing.
class CatalogueProgress : public WalkObserver {
public:
    void searching(const QString& folder) override { (void)folder; }
    /// The cancellation point once per entry met and once per row written: throws the stop's
    /// failure when the command was stopped. Cheap.
    void yieldNow() override {}
    void skipped(const QString& path, int errnum) override {
        (void)path;
        (void)errnum;
    }
    /// The command has reached `stage`. For FillingSheet and FillingPages, `total` is how far the
    /// writer's position (rowReached) goes.
    virtual void reached(CatalogueStage stage, std::uint64_t total = 0) {
        (void)stage;
        (void)total;
    }
    /// The writer's position, from 0 up to the `total` of its stage.
    virtual void rowReached(std::uint64_t position) { (void)position; }
    /// The cancellation point between the walk and the writing, and every few thousand lines of a
    /// CSV file: throws the stop's failure when the command was stopped.
    virtual void checkStopped() {}
};

} // namespace kartoma
