#include "SheetWriter.h"

#include "CatalogueProgress.h"
#include "Failure.h"
#include "NameText.h"
#include "Presenters.h"
#include "Workbook.h"

#include <span>

namespace kartoma {

namespace {

constexpr double kRowHeight = 13.5;
/// A title row: the template's title-row look, 12 points, bold, bordered, light grey.
const RowLook kTitleLook{true, {12, StylePart::Bold | StylePart::Border, StylePart::LightGrey}};

std::string utf8(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void refuseIfTooLong(std::int64_t rows) {
    if (rows > kMaxRows) {
        throw Failure(FailureCode::TooManyRows, QString::number(rows));
    }
}

/// The template's sheet to fill, keeping `ownRowsKept` of its own rows, saved where the presenter
/// says when the first bytes go out.
std::unique_ptr<Workbook> openWorkbook(const WorkbookOutput& output, const QString& templatePath, int ownRowsKept) {
    return output.opener.open(templatePath, kCatalogueSheet, ownRowsKept,
                              [&output, templatePath] { return output.presenter.destinationFor(templatePath); });
}

/// The closing steps both layouts share: save the workbook and hand it over.
void finishWorkbook(Workbook& book, const WorkbookOutput& output, CatalogueProgress& progress) {
    progress.reached(CatalogueStage::SavingWorkbook);
    const QString saved = book.save();
    // The file stays whatever becomes of it: the user is told where it is.
    if (!output.presenter.present(saved)) {
        throw Failure(FailureCode::PresentFailed, saved);
    }
    progress.reached(CatalogueStage::WorkbookSaved);
}

} // namespace

int usablePageLines(int linesPerPage) {
    return linesPerPage < 2 ? 60 : linesPerPage;
}

std::int64_t pageCount(std::size_t entries, int linesPerPage) {
    const std::int64_t perPage = usablePageLines(linesPerPage) - 1;
    return (static_cast<std::int64_t>(entries) + perPage - 1) / perPage;
}

std::int64_t rowsNeededTitledOnFirstPage(std::size_t entries) {
    return static_cast<std::int64_t>(entries) + 1;
}

std::int64_t rowsNeededTitledOnEveryPage(std::size_t entries, int linesPerPage) {
    const std::int64_t pages = pageCount(entries, linesPerPage);
    return pages == 0 ? 0 : static_cast<std::int64_t>(entries) + pages;
}

SheetLayout::SheetLayout(Workbook& book, const EntryList& list, int linesPerPage, CatalogueProgress& progress)
    : book_(book), list_(list), linesPerPage_(usablePageLines(linesPerPage)), progress_(progress),
      volume_(utf8(readablePath(list.volumeLabel()))) {}

void SheetLayout::writeEntryRow(std::size_t slot, std::int64_t row) {
    const EntryList::Record& r = list_.record(slot);
    if (r.folder != cachedFolder_) {
        folder_ = utf8(list_.folderPath(r.folder));
        cachedFolder_ = r.folder;
    }
    char date[10];
    char time[8];
    writeDateText(r.stamp, date);
    writeTimeText(r.stamp, time);
    // Most names are UTF-8 already and go as they are; others are made text once.
    const bool asTheyAre = nameEncoding(r.nameBytes()) == NameEncoding::Utf8;
    if (!asTheyAre) {
        name_ = utf8(nameText(r.nameBytes()));
    }
    const std::string_view name = asTheyAre ? r.nameBytes() : std::string_view(name_);
    const std::string_view type = r.type == EntryType::Folder ? "D" : "F";
    // A name, B folder, C size, D date, E time, F the volume label when there is one, G type.
    CellValue cells[] = {{0, name, {}},
                       {1, folder_, {}},
                       {2, {}, r.size},
                       {3, std::string_view(date, 10), {}},
                       {4, std::string_view(time, 8), {}},
                       {6, type, {}},
                       {5, volume_, {}}};
    std::size_t used = 6;
    if (!volume_.empty()) {
        std::swap(cells[5], cells[6]);
        used = 7;
    }
    book_.appendRow(static_cast<int>(row - 1), std::span<const CellValue>(cells, used), kRowHeight);
}

void SheetLayout::writeTitleRow(std::int64_t page) {
    // Every title row looks like the template's own, whatever the columns below it look like.
    CellValue cells[kColumnTitles.size()];
    for (std::size_t c = 0; c < kColumnTitles.size(); ++c) {
        cells[c] = CellValue{static_cast<int>(c), kColumnTitles[c], {}};
    }
    book_.appendRow(static_cast<int>((page - 1) * linesPerPage_), cells, kRowHeight, kTitleLook);
}

void SheetLayout::writePage(std::int64_t page) {
    const std::int64_t first = (page - 1) * (linesPerPage_ - 1);
    std::int64_t row = first + page;
    int used = 1;
    writeTitleRow(page);
    const std::int64_t count = static_cast<std::int64_t>(list_.count());
    for (std::int64_t i = first; i <= count - 1; ++i) {
        progress_.rowReached(static_cast<std::uint64_t>(i));
        ++used;
        progress_.yieldNow();
        ++row;
        writeEntryRow(static_cast<std::size_t>(i), row);
        if (used >= linesPerPage_) {
            break;
        }
    }
}

bool writeTitledOnEveryPage(const WorkbookOutput& output, const EntryList& list, int linesPerPage,
                            const QString& templatePath, CatalogueProgress& progress) {
    if (list.count() == 0) {
        progress.reached(CatalogueStage::NothingToList);
        return false;
    }
    refuseIfTooLong(rowsNeededTitledOnEveryPage(list.count(), linesPerPage));
    const std::unique_ptr<Workbook> book = openWorkbook(output, templatePath, 99999);
    progress.reached(CatalogueStage::FillingPages, list.count());
    SheetLayout layout(*book, list, linesPerPage, progress);
    const std::int64_t pages = pageCount(list.count(), linesPerPage);
    const int lines = usablePageLines(linesPerPage);
    for (std::int64_t page = 1; page <= pages; ++page) {
        // The printed pages are the list's pages: each begins with its title row.
        if (page > 1) {
            book->addRowBreak(static_cast<int>((page - 1) * lines));
        }
        layout.writePage(page);
    }
    progress.reached(CatalogueStage::SheetFilled);
    finishWorkbook(*book, output, progress);
    return true;
}

bool writeTitledOnFirstPage(const WorkbookOutput& output, const EntryList& list, const QString& templatePath,
                            CatalogueProgress& progress) {
    if (list.count() == 0) {
        progress.reached(CatalogueStage::NothingToList);
        return false;
    }
    refuseIfTooLong(rowsNeededTitledOnFirstPage(list.count()));
    const std::unique_ptr<Workbook> book = openWorkbook(output, templatePath, 9999);
    book->setFooter(QString(), QString(), QStringLiteral("&P/&N"));
    progress.reached(CatalogueStage::FillingSheet, list.count());
    SheetLayout layout(*book, list, 60, progress);
    const std::size_t count = list.count();
    for (std::size_t i = 1; i <= count; ++i) {
        progress.rowReached(i);
        progress.yieldNow();
        layout.writeEntryRow(i - 1, static_cast<std::int64_t>(i) + 1);
    }
    progress.reached(CatalogueStage::SheetFilled);
    finishWorkbook(*book, output, progress);
    return true;
}

} // namespace kartoma
