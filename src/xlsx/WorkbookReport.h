#pragma once

#include "PackageParts.h"
#include "ReportComponent.h"
#include "PrintParts.h"
#include "SheetTemplate.h"
#include "StylePart.h"
#include "WorkbookError.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kartoma {

class OutputFile;
class PackageWriter;
class PartStream;

/// The report component over Office Open XML workbooks (.xlsx).
///
/// It fills, not re-creates: every part of the workbook is copied unchanged except the selected
/// sheet, which is streamed anew (the workbook's own rows merged with the written cells, in row
/// order, the used range and the footer updated), and the style part when attributes need styles the
/// workbook lacks. Written cells take the style of the workbook's own cell at that place, else their
/// column's default style, so widths, number formats and fonts come from the template.
///
/// Rows must be written in ascending order: only the current row is held. From the first finished
/// rows on, the package is written straight to its file: the sheet's XML is deflated on a thread of
/// its own while the next rows are made, a few pieces queued between the two, so memory does not grow
/// with the number of rows. Rows written in order carry no number, and rows of the sheet's default
/// height no height. Texts are inline strings (never formulas); integers are numbers.
/// A sheet nothing is written to is copied as it is, so a saved list of any size can be opened and
/// handed over again.
class WorkbookReport final : public ReportComponent {
public:
    /// `presenter` decides where finished workbooks go and how the user gets them; it must outlive
    /// the report.
    explicit WorkbookReport(WorkbookPresenter& presenter);
    ~WorkbookReport() override;

    void setBookFile(const QString& path) override;
    void openBook() override;
    void setStartOption(int option) override;
    void selectSheet(const QString& name, const QString& range) override;
    void closeSheet() override;
    void setFinishOption(int option) override;
    void finish() override;
    void abort() override;
    void checkBook(const QString& path, const QString& sheetName) override;
    int errorCode() const override { return errorCode_; }
    QString errorText() const override { return errorText_; }

    CellRange resolveReference(QStringView reference) override;
    CellRange resolvePosition(int x1, int y1, int x2, int y2) override;
    void setText(const CellRange& range, std::string_view utf8) override;
    void setNumber(const CellRange& range, std::int64_t number) override;
    void setRowHeight(const CellRange& range, double points) override;
    void setAttr(const CellRange& range, AttrMember member, int value) override;
    void setPageText(const QString& left, const QString& centre, const QString& right) override;
    void setTitleLook(const CellRange& range) override;
    void addRowBreak(int row) override;
    void appendRow(int row, std::span<const RowCell> cells, double height) override;

    /// A flag that stops the job when set (null: none). It is looked at between rows and, while the
    /// workbook is finished, every few milliseconds; once it is set the operation under way fails
    /// with JobAborted, the job is dropped and nothing of the workbook is left. It must outlive the
    /// jobs it stops.
    void setCancelFlag(const std::atomic<bool>* flag) { cancel_ = flag; }

private:
    enum class State { Idle, Named, Open, SheetSelected, SheetClosed, Aborted };
    struct WrittenCell {
        int column;
        enum class Kind { None, Text, Number } kind = Kind::None;
        std::string value; ///< escaped text or the number's digits
        bool preserveSpace = false;
        bool titleLook = false; ///< based on the title row's style, not the column's
        StylePart::Look look;
    };

    [[noreturn]] void fail(WorkbookErrorCode code, const QString& subject, const QString& detail = {});
    void require(State least, const char* operation);
    void dropJob();
    /// Runs `step`; a WorkbookError it throws becomes this job's error.
    template <typename Step> auto recorded(Step&& step);
    QByteArray readPart(const std::string& name, bool required);
    void loadSheet();
    void loadStyles();
    WrittenCell& cellAt(int column, int row);
    /// Runs `write` on each cell of `range`, row by row, once the sheet may be written.
    template <typename Write> void forEachCell(const CellRange& range, const char* operation, Write write);
    void moveToRow(int row);
    void flushRow();
    void emitTemplateRowsBefore(int row);
    void emitRow(int row, const SheetTemplate::Row* own, std::span<const WrittenCell> written,
                 std::optional<double> height);
    int baseStyle(const WrittenCell& cell) const;
    int styleFor(int base, const StylePart::Look& look);
    void spillRows();
    void noteUsed(int column, int row);
    /// Fails with JobAborted, dropping the job, when the cancel flag is set.
    void checkCancel();
    [[noreturn]] void cancelJob();
    /// Opens the new version of the destination; the package is written to it from now on.
    void beginOutput();
    /// Starts the sheet part: the parts before it, then its head.
    void beginSheet();
    /// Copies the template's parts but the sheet (`styles`: only the style part, else all others).
    void copyParts(bool styles);
    /// A failure of the output: SaveFailed with the system's reason, or a stop.
    [[noreturn]] void failOutput(int error);
    void discardOutput();
    /// Starts row `row`'s element with its reference when it does not follow the one before.
    void openRow(int row, std::string& out);
    /// Appends a cell's reference attribute.
    void appendCellPlace(int column, int row, std::string& out);

    WorkbookPresenter& presenter_;
    State state_ = State::Idle;
    int errorCode_ = 0;
    QString errorText_;
    QString bookFile_;
    std::unique_ptr<Package> package_;
    std::string workbookPart_;
    std::string sheetPart_;
    std::string stylesPart_;
    std::optional<SheetTemplate> sheet_;
    std::optional<StylePart> styles_;
    int keepFirst_ = 0, keepLast_ = kMaxRows - 1;
    std::optional<QString> footer_;
    std::vector<std::pair<int, int>> titleStyles_; ///< (column, style) of the sheet's own first row
    std::vector<int> rowBreaks_;                   ///< ascending, at most kMaxRowBreaks

    // The row being written, and the template's rows not yet passed.
    int currentRow_ = -1;
    bool rowWritten_ = false; ///< the current row went out whole through appendRow
    int lastRow_ = -1;        ///< the last row written out
    std::vector<WrittenCell> cells_;
    std::size_t usedCells_ = 0;
    std::optional<double> rowHeight_;
    std::size_t nextOwnRow_ = 0;
    // The package being written: finished rows go to the sheet's stream in large pieces.
    const std::atomic<bool>* cancel_ = nullptr;
    QString destination_;
    std::unique_ptr<OutputFile> output_;
    int fd_ = -1;
    std::unique_ptr<PackageWriter> writer_;
    std::unique_ptr<PartStream> stream_;
    std::string head_;                 ///< the sheet's XML before its rows, the used range left open
    std::size_t dimensionOffset_ = 0;  ///< where in the head the used range begins
    std::uint64_t dimensionAt_ = 0;    ///< and where in the file, to be mended at the end
    std::vector<int> columnStyles_;    ///< columns' default styles, as far as rows asked for them
    std::string rowsBuffer_;
    int minColumn_ = -1, maxColumn_ = -1, minRow_ = -1, maxRow_ = -1;
};

} // namespace kartoma
