#pragma once

#include "EntryList.h"

#include <QString>

#include <cstdint>
#include <string>

namespace kartoma {

class ReportComponent;
class CatalogueProgress;

/// The lines per page a writer uses: the stored value, or 60 when that leaves no room for an entry
/// on a page (below 2, possible only by editing the stored options).
int usablePageLines(int pageLN);

/// How many pages the every-page-titled layout needs: entries / (pageLN - 1), rounded up.
std::int64_t pageCount(std::size_t entries, int pageLN);

/// The sheet rows a list needs in each layout; more than a sheet holds is refused before writing.
std::int64_t rowsNeededOneTitle(std::size_t entries);
std::int64_t rowsNeededAllTitles(std::size_t entries, int pageLN);

/// Writes the rows of the workbook layouts through the report component: the entry row, the title
/// row of a page and whole pages.
class SheetLayout {
public:
    SheetLayout(ReportComponent& report, const EntryList& list, int pageLN, CatalogueProgress& progress);

    /// Entry `slot` into sheet row `row` (from 2), written whole: A name, B folder, C size (a number),
    /// D date, E time, F the volume label when there is one, G type, the row 13.5 points high.
    void writeEntryRow(std::size_t slot, std::int64_t row);
    /// The title row of page `page` (from 1), at sheet row (page - 1) * pageLN + 1: the template's
    /// title-row look with the header attributes (AttrA 12, AttrB 9, AttrC 22) over A to G, the seven
    /// titles, 13.5 points high.
    void writeTitleRow(std::int64_t page);
    /// Page `page`: its title row, then up to pageLN - 1 entries from slot (page - 1) * (pageLN - 1).
    void writePage(std::int64_t page);

private:

    ReportComponent& report_;
    const EntryList& list_;
    int pageLN_;
    CatalogueProgress& progress_;
    std::string volume_;
    std::uint32_t cachedFolder_ = UINT32_MAX;
    std::string folder_;
    std::string name_; ///< the entry's name as UTF-8, when it is not that already
};

/// The workbook with a title row at the top of every page, and a page break above each title row
/// but the first, so that every printed page is one page of the list. Returns false (after reporting
/// CatalogueStage::NothingToList) when the list is empty and no workbook was made. Throws Failure when the
/// report component fails, a stop included.
bool excelOutAllTitle(ReportComponent& report, const EntryList& list, int pageLN, const QString& templatePath,
                      CatalogueProgress& progress);

/// The workbook with the template's title row on the first page only and "&P/&N" in the footer.
bool excelOutOneTitle(ReportComponent& report, const EntryList& list, const QString& templatePath,
                      CatalogueProgress& progress);

} // namespace kartoma
