#include "WorkbookReport.h"

#include "NativePath.h"
#include "OutputFile.h"
#include "SystemError.h"
#include "PackageParts.h"
#include "PrintParts.h"
#include "WorkbookError.h"
#include "XmlText.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <zip.h>

#include <algorithm>
#include <initializer_list>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>

namespace kartoma {

namespace {

constexpr std::size_t kSpillBytes = 1 << 20;
/// The largest part read whole (the styles, the workbook); the sheet is streamed. Real ones hold a
/// few megabytes at most; the bound keeps what a template can cost in memory small.
constexpr std::uint64_t kMaxPartBytes = 16u << 20;

/// Reads the sheet part to libzip: the head, the spilled rows, the tail.
class SheetStream {
public:
    SheetStream(std::string head, QFile& rows, std::string tail)
        : head_(std::move(head)), rows_(rows), tail_(std::move(tail)) {
        zip_error_init(&error_);
    }
    ~SheetStream() { zip_error_fini(&error_); }

    static zip_int64_t callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
        return static_cast<SheetStream*>(state)->handle(data, length, command);
    }

private:
    zip_int64_t handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
        switch (command) {
        case ZIP_SOURCE_OPEN:
            stage_ = 0;
            offset_ = 0;
            if (!rows_.seek(0)) {
                zip_error_set(&error_, ZIP_ER_READ, 0);
                return -1;
            }
            return 0;
        case ZIP_SOURCE_READ:
            return read(static_cast<char*>(data), length);
        case ZIP_SOURCE_CLOSE:
            return 0;
        case ZIP_SOURCE_STAT: {
            zip_stat_t* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error_);
            if (st == nullptr) {
                return -1;
            }
            zip_stat_init(st);
            st->size = head_.size() + static_cast<zip_uint64_t>(rows_.size()) + tail_.size();
            st->mtime = std::time(nullptr);
            st->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
            return sizeof(*st);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error_, data, length);
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                                  ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default:
            zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }

    zip_int64_t read(char* out, zip_uint64_t length) {
        zip_uint64_t done = 0;
        while (done < length && stage_ < 3) {
            if (stage_ == 1) {
                const qint64 n = rows_.read(out + done, static_cast<qint64>(length - done));
                if (n < 0) {
                    zip_error_set(&error_, ZIP_ER_READ, 0);
                    return -1;
                }
                if (n == 0) {
                    ++stage_;
                    offset_ = 0;
                }
                done += static_cast<zip_uint64_t>(n);
                continue;
            }
            const std::string& piece = stage_ == 0 ? head_ : tail_;
            const std::size_t n = std::min<std::size_t>(piece.size() - offset_, length - done);
            std::memcpy(out + done, piece.data() + offset_, n);
            offset_ += n;
            done += n;
            if (offset_ == piece.size()) {
                ++stage_;
                offset_ = 0;
            }
        }
        return static_cast<zip_int64_t>(done);
    }

    std::string head_;
    QFile& rows_;
    std::string tail_;
    int stage_ = 0;
    std::size_t offset_ = 0;
    zip_error_t error_;
};

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

WorkbookReport::~WorkbookReport() = default;

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
    rowsFile_.reset();
    rowsBuffer_.clear();
    rowsBuffer_.shrink_to_fit();
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
    rowsFile_ =
        std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/kartoma-rows-XXXXXX.xml"));
    if (!rowsFile_->open()) {
        fail(WorkbookErrorCode::SaveFailed, rowsFile_->fileTemplate(), rowsFile_->errorString());
    }
    rowsBuffer_.reserve(kSpillBytes + 64 * 1024);
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
    // Everything a fill reads, read now: the sheet, its spill file and the style part.
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
    if (row == currentRow_) {
        return;
    }
    if (row < currentRow_) {
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
    appendTagOpen(p, "row", out);
    out += " r=\"";
    appendNumber(row + 1, out);
    out += '"';
    if (own != nullptr) {
        for (const auto& [key, value] : own->attributes) {
            if (height && (key == QLatin1String("ht") || key == QLatin1String("customHeight"))) {
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
    if (height) {
        out += " ht=\"";
        appendRowHeight(*height, out);
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
            out += " r=\"";
            appendCellReference(cell->column, row, out);
            out += '"';
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
    spillRows(false);
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
    if (currentRow_ < 0) {
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

void WorkbookReport::spillRows(bool force) {
    if (rowsBuffer_.empty() || (!force && rowsBuffer_.size() < kSpillBytes)) {
        return;
    }
    errno = 0;
    const qint64 n = rowsFile_->write(rowsBuffer_.data(), static_cast<qint64>(rowsBuffer_.size()));
    if (n != static_cast<qint64>(rowsBuffer_.size())) {
        // The rows wait in the temporary folder; that is where the room ran out.
        const int err = errno;
        fail(WorkbookErrorCode::SaveFailed, rowsFile_->fileName(),
             err != 0 ? qt_error_string(err) : rowsFile_->errorString());
    }
    rowsBuffer_.clear();
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
    spillRows(true);
    errno = 0;
    if (!rowsFile_->flush()) {
        const int err = errno;
        fail(WorkbookErrorCode::SaveFailed, rowsFile_->fileName(),
             err != 0 ? qt_error_string(err) : rowsFile_->errorString());
    }
}

void WorkbookReport::setFinishOption(int option) {
    require(State::Open, "FinishOption");
    (void)option; // -2: hand the workbook over through the presenter; there is no other finish
}

void WorkbookReport::setCancelFlag(const std::atomic<bool>* flag) {
    cancelFlag_ = flag;
}

void WorkbookReport::finish() {
    require(State::Open, "Finish");
    const auto cancelled = [this] { return cancelFlag_ != nullptr && cancelFlag_->load(std::memory_order_relaxed); };
    // A stop ends the job as abort() does; the package made so far is dropped.
    const auto stopIfCancelled = [&](zip_t* out) {
        if (cancelled()) {
            if (out != nullptr) {
                zip_discard(out);
            }
            abort();
            fail(WorkbookErrorCode::JobAborted, QString());
        }
    };
    stopIfCancelled(nullptr);
    if (state_ == State::SheetSelected) {
        closeSheet();
    }
    std::unique_ptr<SheetStream> stream;
    QByteArray stylesText;
    QByteArray workbookText;
    if (sheet_) {
        std::string dimension = "A1";
        if (minRow_ >= 0) {
            dimension.clear();
            appendCellReference(minColumn_, minRow_, dimension);
            if (maxRow_ != minRow_ || maxColumn_ != minColumn_) {
                dimension += ':';
                appendCellReference(maxColumn_, maxRow_, dimension);
            }
        }
        std::string head = sheet_->head(dimension);
        std::string tail = sheet_->tail(footer_);
        if (!rowBreaks_.empty()) {
            std::optional<std::string> withBreaks = tailWithRowBreaks(head, tail, rowBreaks_);
            if (!withBreaks) {
                fail(WorkbookErrorCode::BookInvalid, bookFile_, QString::fromStdString(sheetPart_));
            }
            tail = std::move(*withBreaks);
        }
        stream = std::make_unique<SheetStream>(std::move(head), *rowsFile_, std::move(tail));
        // Formulas of the template (a count, a sum) describe the filled rows only once recalculated.
        const std::optional<QByteArray> recalculating = workbookWithFullCalcOnLoad(readPart(workbookPart_, true));
        if (!recalculating) {
            fail(WorkbookErrorCode::BookInvalid, bookFile_, QString::fromStdString(workbookPart_));
        }
        workbookText = *recalculating;
    }
    const QString destination = presenter_.destinationFor(bookFile_);
    OutputFile output;
    if (const int err = output.open(toNativePath(destination), OutputAccess::Path); err != 0) {
        fail(WorkbookErrorCode::SaveFailed, destination, outputErrorText(err));
    }
    int error = 0;
    zip_t* out = zip_open(output.workPath().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (out == nullptr) {
        fail(WorkbookErrorCode::SaveFailed, destination, zipErrorText(error));
    }
    const auto discard = [&](const QString& detail) {
        zip_discard(out);
        fail(WorkbookErrorCode::SaveFailed, destination, detail);
    };

    if (styles_ && styles_->changed()) {
        stylesText = styles_->text();
    }

    const zip_int64_t count = zip_get_num_entries(package_->handle(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        stopIfCancelled(out);
        const char* name = zip_get_name(package_->handle(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (name == nullptr) {
            discard(QString::fromUtf8(zip_strerror(package_->handle())));
        }
        zip_source_t* source = nullptr;
        const bool isSheet = stream && sheetPart_ == name;
        if (isSheet) {
            source = zip_source_function(out, &SheetStream::callback, stream.get());
        } else if (!stylesText.isEmpty() && stylesPart_ == name) {
            source = zip_source_buffer(out, stylesText.constData(),
                                       static_cast<zip_uint64_t>(stylesText.size()), 0);
        } else if (!workbookText.isEmpty() && workbookPart_ == name) {
            source = zip_source_buffer(out, workbookText.constData(),
                                       static_cast<zip_uint64_t>(workbookText.size()), 0);
        } else {
            source =
                zip_source_zip(out, package_->handle(), static_cast<zip_uint64_t>(i), ZIP_FL_COMPRESSED, 0, -1);
        }
        if (source == nullptr) {
            discard(QString::fromUtf8(zip_strerror(out)));
        }
        const zip_int64_t index = zip_file_add(out, name, source, ZIP_FL_ENC_RAW);
        if (index < 0) {
            zip_source_free(source);
            discard(QString::fromUtf8(zip_strerror(out)));
        }
        if (isSheet) {
            // Level 1: the sheet is most of the package, and the faster deflate costs few bytes on it.
            zip_set_file_compression(out, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 1);
        }
    }
    // The package is made apart and replaces the destination only when complete: a failure leaves no
    // half-written workbook and an existing file intact.
    // Deflating the parts is the long step: the flag is looked at while it runs.
    if (cancelFlag_ != nullptr) {
        zip_register_cancel_callback_with_state(
            out, [](zip_t*, void* flag) { return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0; },
            nullptr, const_cast<std::atomic<bool>*>(cancelFlag_));
    }
    if (zip_close(out) != 0) {
        stopIfCancelled(out);
        discard(QString::fromUtf8(zip_strerror(out)));
    }
    stopIfCancelled(nullptr);
    if (const int err = output.commit(); err != 0) {
        fail(WorkbookErrorCode::SaveFailed, destination, outputErrorText(err));
    }
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
