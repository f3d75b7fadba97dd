#pragma once

#include "CellReference.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kartoma {

class ReportComponent;

/// The three attribute members of a range (`Attr`), as this engine gives them meaning:
///   AttrA  font size in points (1 to 409) of the range's font; the font otherwise stays the column's
///   AttrB  style bits: 1 bold, 2 italic, 4 underline, 8 a thin border on every side of each cell
///   AttrC  fill colour, an index of the 56-colour palette (8 to 63; 22 is light grey), 0 for none
/// So AttrA 12, AttrB 9, AttrC 22 make a row a table header: 12 pt bold in bordered light-grey cells.
enum class AttrMember { A, B, C };

/// One cell of a row written whole: an integer, else a text (UTF-8), in a zero-based column.
struct RowCell {
    int column;
    std::string_view text;
    std::optional<std::int64_t> number;
};

/// The attribute object of a range.
class RangeAttr {
public:
    RangeAttr(ReportComponent& report, CellRange range) : report_(report), range_(range) {}
    void setAttrA(int value);
    void setAttrB(int value);
    void setAttrC(int value);

private:
    ReportComponent& report_;
    CellRange range_;
};

/// A cell or range object, as `Cell` and `Pos` return it.
class CellHandle {
public:
    CellHandle(ReportComponent& report, CellRange range) : report_(report), range_(range) {}
    /// Text stays text, whatever it looks like ("=SUM(A1)" is not a formula).
    void setValue(const QString& text);
    /// The same, given as UTF-8 bytes (invalid bytes become U+FFFD).
    void setValueUtf8(std::string_view text);
    /// Integers stay numbers.
    void setValue(std::int64_t number);
    /// The height of the cell's row, in points.
    void setRowHeight(double points);
    RangeAttr attr() { return RangeAttr(report_, range_); }
    /// The cells take the look of the sheet's title row (its own first row) in their column, instead
    /// of their column's; attributes then apply over it.
    void setTitleLook();
    const CellRange& range() const { return range_; }

private:
    ReportComponent& report_;
    CellRange range_;
};

/// The page texts of the selected sheet, as `PageSetup` returns them.
class PageSetupHandle {
public:
    explicit PageSetupHandle(ReportComponent& report) : report_(report) {}
    /// The left, centre and right footer texts. "&P" prints the page number, "&N" the page count.
    void setPageText(const QString& left, const QString& centre, const QString& right);
    /// A manual page break above zero-based row `row`: that row begins a printed page. Added to the
    /// sheet's own breaks; every other print setting of the sheet stays as it is.
    void addRowBreak(int row);

private:
    ReportComponent& report_;
};

/// The spreadsheet report component: one job at a time names a workbook, opens it, fills cells of one
/// sheet and hands the result over.
///
/// A job runs setBookFile, openBook, (setStartOption), selectSheet, cell operations, closeSheet,
/// setFinishOption, finish. Any operation may fail: it then throws WorkbookError, and errorCode() is
/// its code with errorText() its diagnostic (not meant for users: the caller words the failure).
/// abort() drops the job; every later operation of it fails until setBookFile starts a new one.
class ReportComponent {
public:
    virtual ~ReportComponent() = default;

    /// BookFile: the workbook the job works on; starts a new job and clears the error.
    virtual void setBookFile(const QString& path) = 0;
    virtual void openBook() = 0;
    /// StartOption: 0 fills the workbook as it is (the only start this engine knows).
    virtual void setStartOption(int option) = 0;
    /// Selects the sheet later cells go to. `range` is "first-last" (such as "1-9999"): the rows of
    /// the workbook's own that the job keeps; its own rows outside it are left out.
    virtual void selectSheet(const QString& name, const QString& range) = 0;
    PageSetupHandle pageSetup() { return PageSetupHandle(*this); }

    /// Cell("A2"): a cell by its reference.
    CellHandle cell(QStringView reference) { return CellHandle(*this, resolveReference(reference)); }
    /// Pos(x, y): a cell by zero-based column and row.
    CellHandle pos(int x, int y) { return pos(x, y, x, y); }
    /// Pos(x1, y1, x2, y2): the range between two cells.
    CellHandle pos(int x1, int y1, int x2, int y2) {
        return CellHandle(*this, resolvePosition(x1, y1, x2, y2));
    }

    virtual void closeSheet() = 0;
    /// FinishOption: -2 hands the workbook over through the presenter (the only finish it knows).
    virtual void setFinishOption(int option) = 0;
    /// Saves the workbook and hands it over; the job is then over.
    virtual void finish() = 0;
    virtual void abort() = 0;
    /// Reads the workbook at `path` and its sheet `sheetName` as completely as a fill would (the
    /// package, the sheet part, the style part), writes nothing and leaves no job behind. Throws
    /// WorkbookError when a fill of it would fail for what it holds.
    virtual void checkBook(const QString& path, const QString& sheetName) = 0;

    virtual int errorCode() const = 0;
    virtual QString errorText() const = 0;

    // The operations behind the handles.
    virtual CellRange resolveReference(QStringView reference) = 0;
    virtual CellRange resolvePosition(int x1, int y1, int x2, int y2) = 0;
    virtual void setText(const CellRange& range, std::string_view utf8) = 0;
    virtual void setNumber(const CellRange& range, std::int64_t number) = 0;
    virtual void setRowHeight(const CellRange& range, double points) = 0;
    virtual void setAttr(const CellRange& range, AttrMember member, int value) = 0;
    virtual void setPageText(const QString& left, const QString& centre, const QString& right) = 0;
    virtual void setTitleLook(const CellRange& range) = 0;
    virtual void addRowBreak(int row) = 0;

    /// Writes zero-based row `row` whole: `cells` (ascending columns) with the column's look, the row
    /// `height` points high; the same as setting each cell and the height through the handles, and
    /// what a long list is written with.
    virtual void appendRow(int row, std::span<const RowCell> cells, double height);
};

/// Where a finished workbook goes, and how the user gets it.
class WorkbookPresenter {
public:
    virtual ~WorkbookPresenter() = default;
    /// The path the finished workbook is saved at.
    virtual QString destinationFor(const QString& bookFile) = 0;
    /// Hands the saved workbook to the user; false when that cannot be done (the engine then fails
    /// with PresentFailed naming the saved file, which stays).
    virtual bool present(const QString& savedPath) = 0;
};

} // namespace kartoma
