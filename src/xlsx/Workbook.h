#pragma once

#include "CellReference.h"
#include "Failure.h"
#include "PackageParts.h"
#include "SheetTemplate.h"
#include "StylePart.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kartoma {

class PackageOutput;

/// One cell of a row: an integer, else a text (UTF-8; invalid bytes become U+FFFD), in a zero-based
/// column. Texts stay texts whatever they look like ("=SUM(A1)" is no formula).
struct CellValue {
    int column;
    std::string_view text;
    std::optional<std::int64_t> number;
};

/// How the cells of a row look: their column's look, or with `titleRow` the look of the sheet's own
/// first row in their column; `style` (font size, bold/italic/underline/border, fill) applies over it.
struct RowLook {
    bool titleRow = false;
    StylePart::Look style;
};

/// A template workbook (.xlsx) being filled: rows appended in ascending order to one of its sheets,
/// then saved as a new workbook.
///
/// It fills, not re-creates: every part of the template is copied unchanged except the sheet, which
/// is streamed anew (the template's own rows merged with the appended ones, in row order, the used
/// range and the footer updated), the workbook part (which asks for a recalculation on load), and the
/// style part when looks need styles the template lacks. Appended cells take the style of the
/// template's own cell at that place, else their column's default style, so widths, number formats
/// and fonts come from the template.
///
/// Only the row being appended is held: from the first rows on, the package is written straight to
/// its file, the sheet deflated on a thread of its own, so memory does not grow with the rows. Rows
/// appended in order carry no number, rows of the sheet's default height no height.
///
/// Every failure throws Failure; a workbook not saved leaves nothing behind. `stop`, once set, makes
/// the operation under way fail with Cancelled: it is looked at between rows and, while the package
/// is written, every few milliseconds.
class Workbook {
public:
    struct Options {
        /// The template's own rows kept: those above this many (later ones are left out).
        int ownRowsKept = kMaxRows;
        /// The stop (null: none); it must outlive the workbook.
        const std::atomic<bool>* stop = nullptr;
        /// Where the workbook is saved, asked once when the package begins to be written (with the
        /// first large piece of rows, or at the save).
        std::function<QString()> destination;
    };

    /// Opens `templatePath` and its sheet `sheetName` (letter case ignored) and reads the sheet:
    /// TemplateMissing, TemplateInvalid or SheetMissing when that fails.
    Workbook(const QString& templatePath, const QString& sheetName, Options options);
    ~Workbook();
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;

    /// Reads `templatePath` and its sheet as completely as a fill would (the package, the sheet, the
    /// style part) and writes nothing; throws as the constructor or a look would.
    static void check(const QString& templatePath, const QString& sheetName);

    /// Appends zero-based row `row` (below every row appended before, else RowOutOfOrder): `cells`
    /// in ascending columns, `height` points high (0 to 409), looking as `look` says. A row, column,
    /// height or look the sheet cannot hold is BadCellReference.
    void appendRow(int row, std::span<const CellValue> cells, double height, const RowLook& look = {});
    /// A manual page break above zero-based row `row` (1 and up): that row begins a printed page.
    /// Added to the sheet's own breaks; at most kMaxRowBreaks are kept, the first ones.
    void addRowBreak(int row);
    /// The left, centre and right footer texts. "&P" prints the page number, "&N" the page count.
    void setFooter(const QString& left, const QString& centre, const QString& right);
    /// Writes the rest of the sheet and the package and replaces the destination with it; returns
    /// the path it was saved at. The last call on the workbook.
    QString save();

private:
    [[noreturn]] void fail(FailureCode code, const QString& subject, const QString& detail = {}) const;
    void checkStop() const;
    void loadSheet();
    void loadStyles();
    int columnStyle(int column);
    int baseStyle(int column, const RowLook& look);
    void emitOwnRowsBefore(int row);
    void emitRow(int row, const SheetTemplate::Row* own, std::span<const CellValue> cells,
                 std::optional<double> height, const RowLook& look);
    void emitRowStart(int row, const SheetTemplate::Row* own, std::optional<double> height);
    void emitCell(int row, const CellValue& cell, int style);
    void noteUsed(int column, int row);
    void spillRows();
    /// Opens the destination and writes the parts before the sheet, then the sheet's head.
    void beginSheet();
    void copyParts(bool styles);
    std::string usedRange() const;

    QString bookFile_;
    Options options_;
    Package package_;
    SheetLocation parts_;
    std::optional<SheetTemplate> sheet_;
    std::optional<StylePart> styles_;
    std::optional<QString> footer_;
    std::vector<std::pair<int, int>> titleStyles_; ///< (column, style) of the sheet's own first row
    std::vector<int> rowBreaks_;                   ///< ascending, at most kMaxRowBreaks
    std::vector<int> columnStyles_;                ///< columns' default styles, as far as rows asked
    int lastRow_ = -1;                             ///< the last row written out
    std::size_t nextOwnRow_ = 0;                   ///< the template's first row not yet passed
    std::string rowsBuffer_;
    int minColumn_ = -1, maxColumn_ = -1, minRow_ = -1, maxRow_ = -1;
    std::unique_ptr<PackageOutput> output_;
    std::string head_;                ///< the sheet's XML before its rows, the used range left open
    std::size_t dimensionOffset_ = 0; ///< where in the head the used range begins
};

/// Opens templates to fill, all stopped by one token: the fill of a command. A test wraps it to hold
/// a fill at a point.
class WorkbookOpener {
public:
    /// `stop` (may be null) must outlive the opener and its workbooks.
    explicit WorkbookOpener(const std::atomic<bool>* stop = nullptr) : stop_(stop) {}
    virtual ~WorkbookOpener() = default;
    /// A new Workbook of `templatePath`'s sheet `sheetName`, keeping `ownRowsKept` of its own rows,
    /// saved where `destination` says when it is asked.
    virtual std::unique_ptr<Workbook> open(const QString& templatePath, const QString& sheetName, int ownRowsKept,
                                           std::function<QString()> destination);

private:
    const std::atomic<bool>* stop_;
};

} // namespace kartoma
