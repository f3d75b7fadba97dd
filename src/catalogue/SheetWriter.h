#pragma once

#include "EntryList.h"

#include <QString>

#include <cstdint>
#include <string>

namespace kartoma {

class Workbook;
class WorkbookOpener;
class WorkbookPresenter;
class CatalogueProgress;

/// What the workbooks are made with: the engine's opener (its stop included) and where each finished
/// workbook goes and how the user gets it.
struct WorkbookOutput {
    WorkbookOpener& opener;
    WorkbookPresenter& presenter;
};

/// The lines per page a writer uses: the stored value, or 60 when that leaves no room for an entry
/// on a page (below 2, possible only by editing the stored options).
int usablePageLines(int linesPerPage);

/// How many pages the every-page-titled layout needs: entries / (linesPerPage - 1), rounded up.
std::int64_t pageCount(std::size_t entries, int linesPerPage);

/// The sheet rows a list needs in each layout; more than a sheet holds is refused before writing.
std::int64_t rowsNeededTitledOnFirstPage(std::size_t entries);
std::int64_t rowsNeededTitledOnEveryPage(std::size_t entries, int linesPerPage);

/// Writes the rows of the workbook layouts: the entry row, the title row of a page and whole pages.
class SheetLayout {
public:
    SheetLayout(Workbook& book, const EntryList& list, int linesPerPage, CatalogueProgress& progress);

    /// Entry `slot` into sheet row `row` (from 2), written whole: A name, B folder, C size (a number),
    /// D date, E time, F the volume label when there is one, G type, the row 13.5 points high.
    void writeEntryRow(std::size_t slot, std::int64_t row);
    /// The title row of page `page` (from 1), at sheet row (page - 1) * linesPerPage + 1: the seven titles
    /// in A to G with the template's title-row look, 12 points, bold, bordered, on light grey, the
    /// row 13.5 points high.
    void writeTitleRow(std::int64_t page);
    /// Page `page`: its title row, then up to linesPerPage - 1 entries from slot (page - 1) * (linesPerPage -
    /// 1).
    void writePage(std::int64_t page);

private:

    Workbook& book_;
    const EntryList& list_;
    int linesPerPage_;
    CatalogueProgress& progress_;
    std::string volume_;
    std::uint32_t cachedFolder_ = UINT32_MAX;
    std::string folder_;
    std::string name_; ///< the entry's name as UTF-8, when it is not that already
};

/// The workbook with a title row at the top of every page, and a page break above each title row
/// but the first, so that every printed page is one page of the list. Returns false (after reporting
/// CatalogueStage::NothingToList) when the list is empty and no workbook was made. The saved workbook is
/// handed to the presenter; PresentFailed (naming the saved file, which stays) when that fails.
/// Throws Failure when the engine fails, a stop included.
bool writeTitledOnEveryPage(const WorkbookOutput& output, const EntryList& list, int linesPerPage,
                            const QString& templatePath, CatalogueProgress& progress);

/// The workbook with the template's title row on the first page only and "&P/&N" in the footer.
bool writeTitledOnFirstPage(const WorkbookOutput& output, const EntryList& list, const QString& templatePath,
                            CatalogueProgress& progress);

} // namespace kartoma
