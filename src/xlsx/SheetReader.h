#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kartoma {

class Package;

/// One row of a sheet as SheetReader gives it: the values of its cells that hold something, by column.
class SheetRow {
public:
    /// The row's number on the sheet, from 1.
    std::int64_t number() const { return number_; }
    /// The value of the cell in `column` (0 is column A) as UTF-8: a text as it reads (escapes
    /// undone), a number as the file writes it; empty when the cell is empty or missing. Valid until
    /// the next row is read.
    std::string_view cell(int column) const;
    /// The cells that hold something, left to right: their columns and values.
    std::size_t cellCount() const { return cells_.size(); }
    int column(std::size_t i) const { return cells_[i].column; }
    std::string_view value(std::size_t i) const;

private:
    friend class SheetReader;
    struct Cell {
        int column;
        bool shared; ///< a view into the shared-string table rather than into text_
        std::size_t begin, length;
    };
    std::int64_t number_ = 0;
    std::string text_;
    const std::string* shared_ = nullptr;
    std::vector<Cell> cells_;
};

/// How much a reader takes from one workbook before it refuses it as too large
/// (FailureCode::CatalogueTooLarge). The defaults lie far above any catalogue a sheet can hold
/// (1,048,576 rows of 255-byte names and 4,096-byte folders, each row a few kilobytes) and keep what
/// a hostile file costs within a few hundred MiB and a few seconds.
struct SheetBudget {
    /// Text of the shared-string table: this much, or `sharedTextPerPackedByte` bytes per compressed
    /// byte of its part when that is more (a real table compresses five to twenty times, a bomb a
    /// thousand times), but never more than `sharedTextMax`.
    std::uint64_t sharedText = 128u << 20;
    std::uint64_t sharedTextPerPackedByte = 32;
    std::uint64_t sharedTextMax = 1u << 30;
    /// Entries of the shared-string table (a catalogue's sheet has at most 1,048,576 rows of seven
    /// columns).
    std::uint64_t sharedCount = 8u << 20;
    /// Cells of one row, empty ones included (a sheet is 16,384 columns wide).
    std::size_t rowCells = 16384;
    /// Bytes of the values of one row.
    std::size_t rowBytes = 1u << 20;
    /// Bytes of values handed out in rows, beyond this much, per inflated byte of the sheet and its
    /// table: rows that repeat one long shared string cost no more than the file is large.
    std::uint64_t rowBytesFree = 256u << 20;
    std::uint64_t rowBytesPerInflatedByte = 64;
};

/// Reads the rows of one sheet of a saved workbook (.xlsx), front to back, without holding the sheet:
/// the sheet part is inflated in pieces and scanned as it comes, so memory does not grow with the
/// number of rows. Texts come from inline strings and from the shared-string table (which a
/// spreadsheet application writes when it saves the workbook again); the table is held in one block.
/// Time is linear in the bytes inflated, and memory is bounded by the budget whatever the file holds.
class SheetReader {
public:
    /// Opens the workbook at `path` and chooses the sheet named `preferredSheet` (letter case
    /// ignored), else the first sheet. Throws Failure: TemplateMissing when the file does not exist
    /// or cannot be opened, TemplateInvalid when it is not a workbook (not a zip package, parts missing,
    /// broken XML), SheetMissing when it has no sheet at all, CatalogueTooLarge when the shared-string table
    /// is over the budget. `keepGoing`, when given, is asked after every piece inflated (a few
    /// hundred KiB, about a millisecond's work); when it returns false the reader throws
    /// Failure(Cancelled).
    SheetReader(const QString& path, const QString& preferredSheet, const SheetBudget& budget = {},
                std::function<bool()> keepGoing = {});
    ~SheetReader();
    SheetReader(const SheetReader&) = delete;
    SheetReader& operator=(const SheetReader&) = delete;

    /// The name of the sheet being read.
    const QString& sheetName() const { return sheetName_; }

    /// Reads the next row that holds at least one value into `row`; false after the last one.
    /// Throws Failure: TemplateInvalid for broken XML or a shared string the table does not have,
    /// CatalogueTooLarge for a row over the budget, Cancelled when `keepGoing` said so.
    bool next(SheetRow& row);

    /// Inflated bytes of the sheet read so far.
    std::uint64_t bytesRead() const;

private:
    class Scanner;
    void readSharedStrings(const std::string& part);
    void finishCell(SheetRow& row);
    [[noreturn]] void tooLarge(const QString& reason) const;

    QString path_;
    SheetBudget budget_;
    std::function<bool()> keepGoing_;
    QString sheetName_;
    std::unique_ptr<Package> package_;
    std::unique_ptr<Scanner> sheet_;
    // The shared strings, one after another in UTF-8, and where each begins (one more at the end).
    std::string sharedText_;
    std::vector<std::uint64_t> sharedStart_;
    std::uint64_t rowBytesGiven_ = 0;
    std::size_t rowBytes_ = 0;
    std::size_t cellsInRow_ = 0;
    // The cell being read.
    std::string cellText_;
    std::string cellType_;
    int cellColumn_ = -1;
    bool inCell_ = false;
    bool inPhonetic_ = false;
    bool capture_ = false;
};

} // namespace kartoma
