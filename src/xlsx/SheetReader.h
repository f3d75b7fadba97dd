#pragma once

#include <QString>

#include <cstdint>
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
    /// undone), a number as the file writes it; empty when the cell is empty or missing.
    std::string_view cell(int column) const;
    /// The cells that hold something, left to right: their columns and values.
    std::size_t cellCount() const { return cells_.size(); }
    int column(std::size_t i) const { return cells_[i].column; }
    std::string_view value(std::size_t i) const {
        return std::string_view(text_).substr(cells_[i].begin, cells_[i].length);
    }

private:
    friend class SheetReader;
    struct Cell {
        int column;
        std::size_t begin, length;
    };
    std::int64_t number_ = 0;
    std::string text_;
    std::vector<Cell> cells_;
};

/// Reads the rows of one sheet of a saved workbook (.xlsx), front to back, without holding the sheet:
/// the sheet part is inflated in pieces and scanned as it comes, so memory does not grow with the
/// number of rows. Texts come from inline strings and from the shared-string table (which a
/// spreadsheet application writes when it saves the workbook again); the table is held in one block.
class SheetReader {
public:
    /// Opens the workbook at `path` and chooses the sheet named `preferredSheet` (letter case
    /// ignored), else the first sheet. Throws WorkbookError: BookMissing when the file does not exist
    /// or cannot be opened, BookInvalid when it is not a workbook (not a zip package, parts missing,
    /// broken XML), SheetMissing when it has no sheet at all.
    SheetReader(const QString& path, const QString& preferredSheet);
    ~SheetReader();
    SheetReader(const SheetReader&) = delete;
    SheetReader& operator=(const SheetReader&) = delete;

    /// The name of the sheet being read.
    const QString& sheetName() const { return sheetName_; }

    /// Reads the next row that holds at least one value into `row`; false after the last one.
    /// Throws WorkbookError(BookInvalid) for broken XML or a shared string the table does not have.
    bool next(SheetRow& row);

    /// Inflated bytes of the sheet read so far.
    std::uint64_t bytesRead() const;

private:
    class Scanner;
    void readSharedStrings(const std::string& part);
    void finishCell(SheetRow& row);

    QString path_;
    QString sheetName_;
    std::unique_ptr<Package> package_;
    std::unique_ptr<Scanner> sheet_;
    // The shared strings, one after another in UTF-8, and where each begins (one more at the end).
    std::string sharedText_;
    std::vector<std::size_t> sharedStart_;
    // The cell being read.
    std::string cellText_;
    std::string cellType_;
    int cellColumn_ = -1;
    bool inCell_ = false;
    bool inPhonetic_ = false;
    bool capture_ = false;
};

} // namespace kartoma
