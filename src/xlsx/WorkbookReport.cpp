#include "WorkbookReport.h"

#include "NativePath.h"
#include "OutputFile.h"
#include "SystemError.h"
#include "PackageParts.h"
#include "PrintParts.h"
#include "WorkbookError.h"
#include "XmlText.h"

#include "PackageWriter.h"
#include "PartStream.h"

#include <zip.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <initializer_list>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

namespace kartoma {

namespace {

/// The largest part read whole (the styles, the workbook); the sheet is streamed. Real ones hold a
/// few megabytes at most; the bound keeps what a template can cost in memory small.
constexpr std::uint64_t kMaxPartBytes = 16u << 20;

void appendNumber(std::int64_t value, std::string& out) {
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void appendRowHeight(double points, std::string& out) {
    char digits[32];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, points).ptr);
}

/// Appends "<" and `name` with the sheet's element prefix: the start of a tag, its attributes to follow.
void appendTagOpen(const std::string& prefix, const char* name, std::string& out) {
    out += '<';
    out += prefix;
    out += name;
}

/// Appends the end tags of `names`, in order, each with the sheet's element prefix.
void appendEndTags(const std::string& prefix, std::initializer_list<const char*> names, std::string& out) {
    for (const char* name : names) {
        out += "</";
        out += prefix;
        out += name;
        out += '>';
    }
}

std::string withStyle(const std::string& cellXml, int style) {
    const std::size_t tagEnd = cellXml.find('>');
    const std::size_t s = cellXml.find(" s=\"");
    std::string out = cellXml;
    if (s != std::string::npos && s < tagEnd) {
        const std::size_t close = out.find('"', s + 4);
        out.replace(s + 4, close - (s + 4), std::to_string(style));
    } else {
        insertAttribute(out, " s=\"" + std::to_string(style) + "\"");
    }
    return out;
}

} // namespace


WorkbookReport::WorkbookReport(WorkbookPresenter& presenter) : presenter_(presenter) {}

WorkbookReport::~WorkbookReport() {
    discardOutput();
}

void WorkbookReport::fail(WorkbookErrorCode code, const QString& subject, const QString& detail) {
    const WorkbookError error(code, subject, detail);
    errorCode_ = static_cast<int>(code);
    errorText_ = error.diagnostic();
    if (errorText_.isEmpty()) {
        errorText_ = QStringLiteral("error %1").arg(errorCode_);
    }
    throw error;
}

void WorkbookReport::require(State least, const char* operation) {
    if (state_ == State::Aborted) {
        fail(WorkbookErrorCode::JobAborted, QString());
    }
    const auto rank = [](State s) { return static_cast<int>(s); };
    // Cells may be written only while the sheet is selected; the rest needs at least `least`.
    const bool ok =
        least == State::SheetSelected ? state_ == State::SheetSelected : rank(state_) >= rank(least);
    if (!ok) {
        fail(WorkbookErrorCode::JobNotOpen, QString::fromLatin1(operation));
    }
}

void WorkbookReport::dropJob() {
    package_.reset();
    sheet_.reset();
    styles_.reset();
    discardOutput();
    rowsBuffer_.clear();
    rowsBuffer_.shrink_to_fit();
    head_.clear();
    columnStyles_.clear();
    rowWritten_ = false;
    lastRow_ = -1;
    usedCells_ = 0;
    rowHeight_.reset();
    footer_.reset();
    titleStyles_.clear();
    rowBreaks_.clear();
    currentRow_ = -1;
    nextOwnRow_ = 0;
    keepFirst_ = 0;
    keepLast_ = kMaxRows - 1;
    minColumn_ = maxColumn_ = minRow_ = maxRow_ = -1;
    workbookPart_.clear();
    sheetPart_.clear();
    stylesPart_.clear();
}

void WorkbookReport::setBookFile(const QString& path) {
    dropJob();
    errorCode_ = 0;
    errorText_.clear();
    bookFile_ = path;
    state_ = State::Named;
}

template <typename Step> auto WorkbookReport::recorded(Step&& step) {
    try {
        return step();
    } catch (const WorkbookError& error) {
        fail(error.code(), error.subject(), error.detail());
    }
}

QByteArray WorkbookReport::readPart(const std::string& name, bool required) {
    return recorded([&] { return package_->readPart(name, required, kMaxPartBytes); });
}

void WorkbookReport::openBook() {
    require(State::Named, "OpenBook");
    if (state_ != State::Named) {
        fail(WorkbookErrorCode::JobNotOpen, QStringLiteral("OpenBook"));
    }
    package_ = recorded([&] { return std::make_unique<Package>(bookFile_, true); });
    state_ = State::Open;
}

void WorkbookReport::setStartOption(int option) {
    require(State::Named, "StartOption");
    (void)option; // 0: fill the workbook as it is; there is no other start
}

void WorkbookReport::selectSheet(const QString& name, const QString& range) {
    require(State::Open, "SelectSheet");
    if (state_ != State::Open) {
        fail(WorkbookErrorCode::JobNotOpen, QStringLiteral("SelectSheet"));
    }
    // The range: "first-last", both sheet row numbers.
    const QStringList bounds = range.split(QLatin1Char('-'));
    bool okFirst = false, okLast = false;
    const int first = bounds.size() == 2 ? bounds[0].trimmed().toInt(&okFirst) : 0;
    const int last = bounds.size() == 2 ? bounds[1].trimmed().toInt(&okLast) : 0;
    if (!okFirst || !okLast || first < 1 || last < first) {
        fail(WorkbookErrorCode::BadCellReference, range);
    }
    keepFirst_ = first - 1;
    keepLast_ = std::min(last, kMaxRows) - 1;

    const SheetLocation where = recorded([&] { return locateSheet(*package_, name, false, kMaxPartBytes); });
    workbookPart_ = where.workbookPart;
    sheetPart_ = where.sheetPart;
    stylesPart_ = where.stylesPart;
    // The sheet is read when the first thing is written to it: a job that only opens a saved list
    // and hands it over copies the sheet as it is, however large it is.
    state_ = State::SheetSelected;
}

void WorkbookReport::loadSheet() {
    if (sheet_) {
        return;
    }
    QString error;
    // The sheet is read as it inflates, never whole: its size says nothing of what a fill needs.
    const zip_int64_t index = zip_name_locate(package_->handle(), sheetPart_.c_str(), 0);
    zip_file_t* file =
        index < 0 ? nullptr : zip_fopen_index(package_->handle(), static_cast<zip_uint64_t>(index), 0);
    if (file == nullptr) {
        fail(WorkbookErrorCode::BookInvalid, bookFile_,
             QStringLiteral("%1 missing").arg(QString::fromStdString(sheetPart_)));
    }
    sheet_ = SheetTemplate::parse(
        [file](char* data, qint64 size) {
            return static_cast<qint64>(zip_fread(file, data, static_cast<zip_uint64_t>(size)));
        },
        error);
    zip_fclose(file);
    if (!sheet_) {
        fail(WorkbookErrorCode::BookInvalid, bookFile_,
             QString::fromStdString(sheetPart_) + QStringLiteral(": ") + error);
    }
    // Later title rows look like the first: its cell styles are kept (one row's worth).
    const std::vector<SheetTemplate::Row>& own = sheet_->rows();
    if (!own.empty() && own.front().row == 0) {
        for (const SheetTemplate::Cell& c : own.front().cells) {
            titleStyles_.emplace_back(c.column, c.style);
        }
    }
    rowsBuffer_.reserve(PartStream::kPieceBytes + 64 * 1024);
}

void WorkbookReport::loadStyles() {
    if (styles_) {
        return;
    }
    QString error;
    styles_ = stylesPart_.empty() ? std::nullopt : StylePart::parse(readPart(stylesPart_, true), error);
    if (!styles_) {
        fail(WorkbookErrorCode::BookInvalid, bookFile_,
             QStringLiteral("styles: %1").arg(error.isEmpty() ? QStringLiteral("missing") : error));
    }
}

void WorkbookReport::checkBook(const QString& path, const QString& sheetName) {
    setBookFile(path);
    openBook();
    selectSheet(sheetName, QStringLiteral("1-9999"));
    // Everything a fill reads, read now: the sheet and the style part.
    loadSheet();
    loadStyles();
    dropJob();
    state_ = State::Idle;
}

CellRange WorkbookReport::resolveReference(QStringView reference) {
    require(State::SheetSelected, "Cell");
    const std::optional<CellRange> cell = parseCellReference(reference);
    if (!cell) {
        fail(WorkbookErrorCode::BadCellReference, reference.toString());
    }
    return *cell;
}

CellRange WorkbookReport::resolvePosition(int x1, int y1, int x2, int y2) {
    require(State::SheetSelected, "Pos");
    if (x1 > x2) {
        std::swap(x1, x2);
    }
    if (y1 > y2) {
        std::swap(y1, y2);
    }
    if (y2 >= kMaxRows) {
        fail(WorkbookErrorCode::TooManyRows, QString::number(static_cast<qint64>(y2) + 1));
    }
    if (x1 < 0 || y1 < 0 || x2 >= kMaxColumns) {
        fail(WorkbookErrorCode::BadCellReference,
             QStringLiteral("Pos(%1, %2, %3, %4)").arg(x1).arg(y1).arg(x2).arg(y2));
    }
    return CellRange{x1, y1, x2, y2};
}

void WorkbookReport::moveToRow(int row) {
    if (row == currentRow_ && !rowWritten_) {
        return;
    }
    if (row <= currentRow_) {
        fail(WorkbookErrorCode::RowOutOfOrder, QString::number(row + 1));
    }
    flushRow();
    currentRow_ = row;
}

WorkbookReport::WrittenCell& WorkbookReport::cellAt(int column, int row) {
    moveToRow(row);
    for (std::size_t i = 0; i < usedCells_; ++i) {
        if (cells_[i].column == column) {
            return cells_[i];
        }
    }
    // Cells are reused from row to row, so their text buffers are allocated once.
    if (usedCells_ == cells_.size()) {
        cells_.emplace_back();
    }
    WrittenCell& cell = cells_[usedCells_++];
    cell.column = column;
    cell.kind = WrittenCell::Kind::None;
    cell.value.clear();
    cell.preserveSpace = false;
    cell.titleLook = false;
    cell.look = StylePart::Look{};
    return cell;
}

template <typename Write>
void WorkbookReport::forEachCell(const CellRange& range, const char* operation, Write write) {
    require(State::SheetSelected, operation);
    checkCancel();
    loadSheet();
    for (int y = range.y1; y <= range.y2; ++y) {
        for (int x = range.x1; x <= range.x2; ++x) {
            write(cellAt(x, y));
        }
    }
}

void WorkbookReport::setText(const CellRange& range, std::string_view utf8) {
    forEachCell(range, "Value", [&](WrittenCell& cell) {
        cell.kind = WrittenCell::Kind::Text;
        cell.value.clear();
        appendXmlCellText(utf8, cell.value);
        cell.preserveSpace = needsSpacePreserve(utf8);
    });
}

void WorkbookReport::setNumber(const CellRange& range, std::int64_t number) {
    forEachCell(range, "Value", [&](WrittenCell& cell) {
        cell.kind = WrittenCell::Kind::Number;
        cell.value.clear();
        appendNumber(number, cell.value);
    });
}

void WorkbookReport::setRowHeight(const CellRange& range, double points) {
    require(State::SheetSelected, "RowHeight");
    loadSheet();
    if (!(points >= 0 && points <= 409)) {
        fail(WorkbookErrorCode::BadCellReference, QStringLiteral("RowHeight %1").arg(points));
    }
    for (int y = range.y1; y <= range.y2; ++y) {
        moveToRow(y);
        rowHeight_ = points;
    }
}

void WorkbookReport::setAttr(const CellRange& range, AttrMember member, int value) {
    require(State::SheetSelected, "Attr");
    loadSheet();
    const bool valid = member == AttrMember::A   ? value >= 1 && value <= 409
                       : member == AttrMember::B ? value >= 0 && value <= 15
                                                 : value == 0 || (value >= 8 && value <= 63);
    if (!valid) {
        fail(WorkbookErrorCode::BadCellReference, QStringLiteral("Attr %1").arg(value));
    }
    loadStyles();
    forEachCell(range, "Attr", [&](WrittenCell& cell) {
        StylePart::Look& look = cell.look;
        (member == AttrMember::A ? look.fontSize : member == AttrMember::B ? look.flags : look.fill) = value;
    });
}

void WorkbookReport::setPageText(const QString& left, const QString& centre, const QString& right) {
    require(State::SheetSelected, "SetPageText");
    loadSheet();
    QString footer;
    if (!left.isEmpty()) {
        footer += QStringLiteral("&L") + left;
    }
    if (!centre.isEmpty()) {
        footer += QStringLiteral("&C") + centre;
    }
    if (!right.isEmpty()) {
        footer += QStringLiteral("&R") + right;
    }
    footer_ = footer;
}

void WorkbookReport::setTitleLook(const CellRange& range) {
    forEachCell(range, "TitleLook", [](WrittenCell& cell) { cell.titleLook = true; });
}

void WorkbookReport::addRowBreak(int row) {
    require(State::SheetSelected, "PageBreak");
    loadSheet();
    if (row <= 0 || row >= kMaxRows) {
        fail(WorkbookErrorCode::BadCellReference, QStringLiteral("PageBreak %1").arg(row));
    }
    // Breaks come in ascending order; beyond what a sheet may carry they are not kept.
    if (rowBreaks_.empty() || row > rowBreaks_.back()) {
        if (rowBreaks_.size() < static_cast<std::size_t>(kMaxRowBreaks)) {
            rowBreaks_.push_back(row);
        }
        return;
    }
    const auto at = std::lower_bound(rowBreaks_.begin(), rowBreaks_.end(), row);
    if (*at != row) {
        rowBreaks_.insert(at, row);
        if (rowBreaks_.size() > static_cast<std::size_t>(kMaxRowBreaks)) {
            rowBreaks_.pop_back();
        }
    }
}

int WorkbookReport::baseStyle(const WrittenCell& cell) const {
    if (cell.titleLook) {
        for (const auto& [column, style] : titleStyles_) {
            if (column == cell.column) {
                return style;
            }
        }
    }
    return sheet_->columnStyle(cell.column);
}

int WorkbookReport::styleFor(int base, const StylePart::Look& look) {
    if (look.plain() || !styles_) {
        return base;
    }
    return styles_->derive(base, look);
}

void WorkbookReport::noteUsed(int column, int row) {
    if (minRow_ < 0) {
        minRow_ = maxRow_ = row;
        minColumn_ = maxColumn_ = column;
        return;
    }
    minRow_ = std::min(minRow_, row);
    maxRow_ = std::max(maxRow_, row);
    minColumn_ = std::min(minColumn_, column);
    maxColumn_ = std::max(maxColumn_, column);
}

void WorkbookReport::emitRow(int row, const SheetTemplate::Row* own, std::span<const WrittenCell> newCells,
                             std::optional<double> height) {
    std::string& out = rowsBuffer_;
    // A template whose elements carry a prefix gets the written ones with it too.
    const std::string& p = sheet_->elementPrefix();
    openRow(row, out);
    // A height given replaces the row's own; one equal to the sheet's default needs no mention.
    const bool heightGiven = height.has_value();
    const double points = height.value_or(0);
    const bool writeHeight = heightGiven && height != sheet_->defaultRowHeight();
    if (own != nullptr) {
        for (const auto& [key, value] : own->attributes) {
            if (heightGiven && (key == QLatin1String("ht") || key == QLatin1String("customHeight"))) {
                continue;
            }
            const QByteArray k = key.toUtf8();
            const QByteArray v = value.toUtf8();
            out += ' ';
            out.append(k.constData(), static_cast<std::size_t>(k.size()));
            out += "=\"";
            appendXmlEscaped(std::string_view(v.constData(), static_cast<std::size_t>(v.size())), out);
            out += '"';
        }
    }
    if (writeHeight) {
        out += " ht=\"";
        appendRowHeight(points, out);
        out += "\" customHeight=\"1\"";
    }
    out += '>';

    static const std::vector<SheetTemplate::Cell> kNoCells;
    const std::vector<SheetTemplate::Cell>& ownCells = own != nullptr ? own->cells : kNoCells;
    std::size_t a = 0, b = 0;
    while (a < ownCells.size() || b < newCells.size()) {
        const SheetTemplate::Cell* mine = a < ownCells.size() ? &ownCells[a] : nullptr;
        const WrittenCell* cell = b < newCells.size() ? &newCells[b] : nullptr;
        if (mine != nullptr && (cell == nullptr || mine->column < cell->column)) {
            out += mine->xml;
            noteUsed(mine->column, row);
            ++a;
            continue;
        }
        const bool replacesOwn = mine != nullptr && mine->column == cell->column;
        const int base = replacesOwn ? mine->style : baseStyle(*cell);
        const int style = styleFor(base, cell->look);
        noteUsed(cell->column, row);
        if (cell->kind == WrittenCell::Kind::None && replacesOwn) {
            out += style == base ? mine->xml : withStyle(mine->xml, style);
        } else {
            appendTagOpen(p, "c", out);
            appendCellPlace(cell->column, row, out);
            if (cell->kind == WrittenCell::Kind::None) {
                // A look without a value: the style is written even when it is the default one.
                out += " s=\"";
                appendNumber(style, out);
                out += "\"/>";
            } else {
                if (style != 0) {
                    out += " s=\"";
                    appendNumber(style, out);
                    out += '"';
                }
                if (cell->kind == WrittenCell::Kind::Text) {
                    out += " t=\"inlineStr\">";
                    appendTagOpen(p, "is", out);
                    out += '>';
                    appendTagOpen(p, "t", out);
                    out += cell->preserveSpace ? " xml:space=\"preserve\">" : ">";
                    out += cell->value;
                    appendEndTags(p, {"t", "is", "c"}, out);
                } else {
                    out += '>';
                    appendTagOpen(p, "v", out);
                    out += '>';
                    out += cell->value;
                    appendEndTags(p, {"v", "c"}, out);
                }
            }
        }
        a += replacesOwn ? 1 : 0;
        ++b;
    }
    appendEndTags(p, {"row"}, out);
    if (own == nullptr && newCells.empty()) {
        // A row that only got a height still counts as used.
        noteUsed(0, row);
    }
    spillRows();
}

void WorkbookReport::openRow(int row, std::string& out) {
    appendTagOpen(sheet_->elementPrefix(), "row", out);
    // The first row is numbered all the same: a reader may have counted a stray row outside the rows.
    if (lastRow_ < 0 || row != lastRow_ + 1) {
        out += " r=\"";
        appendNumber(row + 1, out);
        out += '"';
    }
    lastRow_ = row;
}

void WorkbookReport::appendCellPlace(int column, int row, std::string& out) {
    // Always given: the schema makes it optional, but Gnumeric, for one, reads no cell without it.
    out += " r=\"";
    appendCellReference(column, row, out);
    out += '"';
}

void WorkbookReport::appendRow(int row, std::span<const RowCell> cells, double height) {
    require(State::SheetSelected, "Row");
    checkCancel();
    loadSheet();
    if (row < 0 || row >= kMaxRows || !(height >= 0 && height <= 409)) {
        fail(WorkbookErrorCode::BadCellReference, QStringLiteral("Row %1").arg(row + 1));
    }
    // Cells already given to this row through the handles are merged with these.
    const bool pending = row == currentRow_ && !rowWritten_;
    moveToRow(row);
    emitTemplateRowsBefore(row);
    const std::vector<SheetTemplate::Row>& own = sheet_->rows();
    const bool hasOwn = nextOwnRow_ < own.size() && own[nextOwnRow_].row == row;
    if (pending || hasOwn || (!cells.empty() && cells.back().column >= kMaxColumns)) {
        // Merged with the template's row or the cells given before (or refused) cell by cell.
        ReportComponent::appendRow(row, cells, height);
        return;
    }
    // The row goes out as it is formatted: the columns' looks, no reference parsed, no sorting.
    currentRow_ = row;
    rowWritten_ = true;
    std::string& out = rowsBuffer_;
    const std::string& p = sheet_->elementPrefix();
    openRow(row, out);
    if (height != sheet_->defaultRowHeight()) {
        out += " ht=\"";
        appendRowHeight(height, out);
        out += "\" customHeight=\"1\"";
    }
    out += '>';
    int previous = -1;
    for (const RowCell& cell : cells) {
        if (cell.column <= previous || cell.column < 0) {
            fail(WorkbookErrorCode::BadCellReference, QStringLiteral("Row %1").arg(row + 1));
        }
        previous = cell.column;
        if (static_cast<std::size_t>(cell.column) >= columnStyles_.size()) {
            const std::size_t known = columnStyles_.size();
            columnStyles_.resize(static_cast<std::size_t>(cell.column) + 1);
            for (std::size_t c = known; c < columnStyles_.size(); ++c) {
                columnStyles_[c] = sheet_->columnStyle(static_cast<int>(c));
            }
        }
        const int style = columnStyles_[static_cast<std::size_t>(cell.column)];
        appendTagOpen(p, "c", out);
        appendCellPlace(cell.column, row, out);
        if (style != 0) {
            out += " s=\"";
            appendNumber(style, out);
            out += '"';
        }
        if (cell.number) {
            out += '>';
            appendTagOpen(p, "v", out);
            out += '>';
            appendNumber(*cell.number, out);
            appendEndTags(p, {"v", "c"}, out);
        } else {
            out += " t=\"inlineStr\">";
            appendTagOpen(p, "is", out);
            out += '>';
            appendTagOpen(p, "t", out);
            out += needsSpacePreserve(cell.text) ? " xml:space=\"preserve\">" : ">";
            appendXmlCellText(cell.text, out);
            appendEndTags(p, {"t", "is", "c"}, out);
        }
    }
    appendEndTags(p, {"row"}, out);
    if (!cells.empty()) {
        noteUsed(cells.front().column, row);
        noteUsed(cells.back().column, row);
    } else {
        noteUsed(0, row);
    }
    spillRows();
}

void WorkbookReport::emitTemplateRowsBefore(int row) {
    const std::vector<SheetTemplate::Row>& own = sheet_->rows();
    while (nextOwnRow_ < own.size() && own[nextOwnRow_].row < row) {
        const SheetTemplate::Row& r = own[nextOwnRow_++];
        if (r.row >= keepFirst_ && r.row <= keepLast_) {
            emitRow(r.row, &r, {}, std::nullopt);
        }
    }
}

void WorkbookReport::flushRow() {
    if (currentRow_ < 0 || rowWritten_) {
        rowWritten_ = false;
        return;
    }
    emitTemplateRowsBefore(currentRow_);
    const std::vector<SheetTemplate::Row>& own = sheet_->rows();
    const SheetTemplate::Row* mine = nullptr;
    if (nextOwnRow_ < own.size() && own[nextOwnRow_].row == currentRow_) {
        mine = &own[nextOwnRow_++];
    }
    const auto used = cells_.begin() + static_cast<std::ptrdiff_t>(usedCells_);
    std::sort(cells_.begin(), used,
              [](const WrittenCell& a, const WrittenCell& b) { return a.column < b.column; });
    emitRow(currentRow_, mine, std::span<const WrittenCell>(cells_.data(), usedCells_), rowHeight_);
    usedCells_ = 0;
    rowHeight_.reset();
}

void WorkbookReport::spillRows() {
    if (rowsBuffer_.size() < PartStream::kPieceBytes) {
        return;
    }
    beginSheet();
    if (!stream_->push(rowsBuffer_)) {
        failOutput(stream_->error());
    }
    checkCancel();
}

void WorkbookReport::closeSheet() {
    require(State::SheetSelected, "CloseSheet");
    state_ = State::SheetClosed;
    if (!sheet_) {
        return; // nothing written: the sheet is copied as it is
    }
    flushRow();
    currentRow_ = kMaxRows; // nothing more may be written
    emitTemplateRowsBefore(kMaxRows);
}

void WorkbookReport::setFinishOption(int option) {
    require(State::Open, "FinishOption");
    (void)option; // -2: hand the workbook over through the presenter; there is no other finish
}

void WorkbookReport::checkCancel() {
    if (cancel_ != nullptr && cancel_->load(std::memory_order_relaxed)) {
        cancelJob();
    }
}

void WorkbookReport::cancelJob() {
    dropJob();
    state_ = State::Aborted;
    fail(WorkbookErrorCode::JobAborted, QStringLiteral("stopped"));
}

void WorkbookReport::discardOutput() {
    stream_.reset();
    writer_.reset();
    fd_ = -1;
    output_.reset(); // what was written goes with it
}

void WorkbookReport::failOutput(int error) {
    if (error == ECANCELED) {
        cancelJob();
    }
    discardOutput();
    fail(WorkbookErrorCode::SaveFailed, destination_, systemErrorText(error));
}

void WorkbookReport::beginOutput() {
    if (writer_) {
        return;
    }
    destination_ = presenter_.destinationFor(bookFile_);
    output_ = std::make_unique<OutputFile>();
    if (const int err = output_->open(toNativePath(destination_)); err != 0) {
        output_.reset();
        fail(WorkbookErrorCode::SaveFailed, destination_, outputErrorText(err));
    }
    // The package is made apart and replaces the destination only when complete: a failure leaves no
    // half-written workbook and an existing file intact.
    // The descriptor stays the output file's: it closes it.
    fd_ = output_->descriptor();
    writer_ = std::make_unique<PackageWriter>(fd_);
}

void WorkbookReport::copyParts(bool styles) {
    zip_t* source = package_->handle();
    const zip_int64_t count = zip_get_num_entries(source, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(source, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (name == nullptr) {
            discardOutput();
            fail(WorkbookErrorCode::BookInvalid, bookFile_, QString::fromUtf8(zip_strerror(source)));
        }
        if ((sheet_ && sheetPart_ == name) || styles != (stylesPart_ == name)) {
            continue;
        }
        bool ok = true;
        if (styles && styles_ && styles_->changed()) {
            const QByteArray text = styles_->text();
            ok = writer_->addEntry(name, std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
        } else if (sheet_ && workbookPart_ == name) {
            // Formulas of the template (a count, a sum) describe the filled rows only once recalculated.
            const std::optional<QByteArray> text = workbookWithFullCalcOnLoad(readPart(workbookPart_, true));
            if (!text) {
                discardOutput();
                fail(WorkbookErrorCode::BookInvalid, bookFile_, QString::fromStdString(workbookPart_));
            }
            ok = writer_->addEntry(name, std::string_view(text->constData(), static_cast<std::size_t>(text->size())));
        } else {
            ok = writer_->copyEntry(source, static_cast<zip_uint64_t>(i), cancel_);
        }
        if (!ok) {
            failOutput(writer_->error());
        }
    }
}

void WorkbookReport::beginSheet() {
    if (stream_) {
        return;
    }
    beginOutput();
    copyParts(false);
    head_ = sheet_->head("A1", &dimensionOffset_);
    if (!writer_->beginStreamedEntry(sheetPart_)) {
        failOutput(writer_->error());
    }
    // The head goes first as stored blocks, the used range at the start of a block of its own, so
    // that it can be mended in place once the rows are known.
    const auto storeBlocks = [&](std::string_view bytes) {
        do {
            const std::size_t n = std::min<std::size_t>(bytes.size(), 0xFFFF);
            const unsigned char header[5] = {0, static_cast<unsigned char>(n & 0xFF),
                                             static_cast<unsigned char>(n >> 8),
                                             static_cast<unsigned char>(~n & 0xFF),
                                             static_cast<unsigned char>((~n >> 8) & 0xFF)};
            if (!writer_->write(header, sizeof header) || !writer_->write(bytes.data(), n)) {
                failOutput(writer_->error());
            }
            bytes.remove_prefix(n);
        } while (!bytes.empty());
    };
    const std::string_view head(head_);
    storeBlocks(head.substr(0, dimensionOffset_));
    dimensionAt_ = writer_->offset() + 5;
    storeBlocks(head.substr(dimensionOffset_));
    stream_ = std::make_unique<PartStream>(*writer_, cancel_);
}

void WorkbookReport::finish() {
    require(State::Open, "Finish");
    if (state_ == State::SheetSelected) {
        closeSheet();
    }
    checkCancel();
    beginOutput();
    if (sheet_) {
        beginSheet();
        std::string dimension = "A1";
        if (minRow_ >= 0) {
            dimension.clear();
            appendCellReference(minColumn_, minRow_, dimension);
            if (maxRow_ != minRow_ || maxColumn_ != minColumn_) {
                dimension += ':';
                appendCellReference(maxColumn_, maxRow_, dimension);
            }
        }
        std::string tail = sheet_->tail(footer_);
        if (!rowBreaks_.empty()) {
            std::optional<std::string> withBreaks = tailWithRowBreaks(head_, tail, rowBreaks_);
            if (!withBreaks) {
                discardOutput();
                fail(WorkbookErrorCode::BookInvalid, bookFile_, QString::fromStdString(sheetPart_));
            }
            tail = std::move(*withBreaks);
        }
        rowsBuffer_ += tail;
        if (!stream_->finish(rowsBuffer_)) {
            failOutput(stream_->error());
        }
        const std::string element = sheet_->dimensionElement(dimension);
        head_.replace(dimensionOffset_, element.size(), element);
        const std::uint32_t crc = crc32Combine(crc32Of(0, head_), stream_->crc(), stream_->size());
        const std::uint64_t size = head_.size() + stream_->size();
        stream_.reset();
        if (!writer_->endStreamedEntry(crc, size) || !writer_->overwrite(dimensionAt_, element)) {
            failOutput(writer_->error());
        }
    } else {
        copyParts(false);
    }
    copyParts(true);
    checkCancel();
    // The directory lists the parts in the template's order, whatever order they were written in.
    std::vector<std::string> order;
    for (zip_int64_t i = 0; i < zip_get_num_entries(package_->handle(), 0); ++i) {
        const char* name = zip_get_name(package_->handle(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        order.emplace_back(name != nullptr ? name : "");
    }
    if (!writer_->close(order)) {
        failOutput(writer_->error());
    }
    writer_.reset();
    fd_ = -1;
    checkCancel();
    if (const int err = output_->commit(); err != 0) {
        output_.reset();
        fail(WorkbookErrorCode::SaveFailed, destination_, outputErrorText(err));
    }
    const QString destination = destination_;
    dropJob();
    state_ = State::Idle;
    if (!presenter_.present(destination)) {
        fail(WorkbookErrorCode::PresentFailed, destination);
    }
}

void WorkbookReport::abort() {
    dropJob();
    state_ = State::Aborted;
}

} // namespace kartoma
