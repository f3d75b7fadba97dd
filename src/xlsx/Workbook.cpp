#include "Workbook.h"

#include "PackageOutput.h"
#include "PartStream.h"
#include "PrintParts.h"
#include "XmlText.h"

#include <zip.h>

#include <algorithm>
#include <charconv>
#include <initializer_list>

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

bool validLook(const StylePart::Look& look) {
    return (look.fontSize == -1 || (look.fontSize >= 1 && look.fontSize <= 409)) &&
           (look.flags == -1 || (look.flags >= 0 && look.flags <= 15)) &&
           (look.fill == -1 || look.fill == 0 || (look.fill >= 8 && look.fill <= 63));
}

} // namespace

Workbook::Workbook(const QString& templatePath, const QString& sheetName, Options options)
    : bookFile_(templatePath), options_(std::move(options)), package_(templatePath, true),
      parts_(locateSheet(package_, sheetName, false, kMaxPartBytes)) {
    // Copied as it is, and without it no reader opens the workbook.
    checkXmlPart(package_, "[Content_Types].xml", kMaxPartBytes);
    loadSheet();
}

Workbook::~Workbook() = default;

void Workbook::check(const QString& templatePath, const QString& sheetName) {
    Workbook book(templatePath, sheetName, Options{});
    book.loadStyles();
}

void Workbook::fail(FailureCode code, const QString& subject, const QString& detail) const {
    throw Failure(code, subject, detail);
}

void Workbook::checkStop() const {
    if (options_.stop != nullptr && options_.stop->load(std::memory_order_relaxed)) {
        throw Failure(FailureCode::Cancelled, QString());
    }
}

void Workbook::loadSheet() {
    QString error;
    // The sheet is read as it inflates, never whole: its size says nothing of what a fill needs.
    const zip_int64_t index = zip_name_locate(package_.handle(), parts_.sheetPart.c_str(), 0);
    zip_file_t* file =
        index < 0 ? nullptr : zip_fopen_index(package_.handle(), static_cast<zip_uint64_t>(index), 0);
    if (file == nullptr) {
        fail(FailureCode::TemplateInvalid, bookFile_,
             QStringLiteral("%1 missing").arg(QString::fromStdString(parts_.sheetPart)));
    }
    sheet_ = SheetTemplate::parse(
        [file](char* data, qint64 size) {
            return static_cast<qint64>(zip_fread(file, data, static_cast<zip_uint64_t>(size)));
        },
        error);
    zip_fclose(file);
    if (!sheet_) {
        fail(FailureCode::TemplateInvalid, bookFile_,
             QString::fromStdString(parts_.sheetPart) + QStringLiteral(": ") + error);
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

void Workbook::loadStyles() {
    if (styles_) {
        return;
    }
    QString error;
    styles_ = parts_.stylesPart.empty()
                  ? std::nullopt
                  : StylePart::parse(package_.readPart(parts_.stylesPart, true, kMaxPartBytes), error);
    if (!styles_) {
        fail(FailureCode::TemplateInvalid, bookFile_,
             QStringLiteral("styles: %1").arg(error.isEmpty() ? QStringLiteral("missing") : error));
    }
}

void Workbook::appendRow(int row, std::span<const CellValue> cells, double height, const RowLook& look) {
    checkStop();
    if (row < 0 || row >= kMaxRows || !(height >= 0 && height <= 409) || !validLook(look.style)) {
        fail(FailureCode::BadCellReference, QStringLiteral("Row %1").arg(static_cast<qint64>(row) + 1));
    }
    int previous = -1;
    for (const CellValue& cell : cells) {
        if (cell.column <= previous || cell.column >= kMaxColumns) {
            fail(FailureCode::BadCellReference, QStringLiteral("Row %1").arg(row + 1));
        }
        previous = cell.column;
    }
    if (row <= lastRow_) {
        fail(FailureCode::RowOutOfOrder, QString::number(row + 1));
    }
    if (!look.style.plain()) {
        loadStyles();
    }
    emitOwnRowsBefore(row);
    const std::vector<SheetTemplate::Row>& own = sheet_->rows();
    const SheetTemplate::Row* mine =
        nextOwnRow_ < own.size() && own[nextOwnRow_].row == row ? &own[nextOwnRow_++] : nullptr;
    emitRow(row, mine, cells, height, look);
}

void Workbook::addRowBreak(int row) {
    if (row <= 0 || row >= kMaxRows) {
        fail(FailureCode::BadCellReference, QStringLiteral("PageBreak %1").arg(row));
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

void Workbook::setFooter(const QString& left, const QString& centre, const QString& right) {
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

int Workbook::columnStyle(int column) {
    if (static_cast<std::size_t>(column) >= columnStyles_.size()) {
        const std::size_t known = columnStyles_.size();
        columnStyles_.resize(static_cast<std::size_t>(column) + 1);
        for (std::size_t c = known; c < columnStyles_.size(); ++c) {
            columnStyles_[c] = sheet_->columnStyle(static_cast<int>(c));
        }
    }
    return columnStyles_[static_cast<std::size_t>(column)];
}

int Workbook::baseStyle(int column, const RowLook& look) {
    if (look.titleRow) {
        for (const auto& [titleColumn, style] : titleStyles_) {
            if (titleColumn == column) {
                return style;
            }
        }
    }
    return columnStyle(column);
}

void Workbook::noteUsed(int column, int row) {
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

void Workbook::emitOwnRowsBefore(int row) {
    const std::vector<SheetTemplate::Row>& own = sheet_->rows();
    while (nextOwnRow_ < own.size() && own[nextOwnRow_].row < row) {
        const SheetTemplate::Row& r = own[nextOwnRow_++];
        if (r.row < options_.ownRowsKept) {
            emitRow(r.row, &r, {}, std::nullopt, RowLook{});
        }
    }
}

void Workbook::emitRowStart(int row, const SheetTemplate::Row* own, std::optional<double> height) {
    std::string& out = rowsBuffer_;
    appendTagOpen(sheet_->elementPrefix(), "row", out);
    // The first row is numbered all the same: a reader may have counted a stray row outside the rows.
    if (lastRow_ < 0 || row != lastRow_ + 1) {
        out += " r=\"";
        appendNumber(row + 1, out);
        out += '"';
    }
    lastRow_ = row;
    // A height given replaces the row's own; one equal to the sheet's default needs no mention.
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
    if (height && height != sheet_->defaultRowHeight()) {
        out += " ht=\"";
        appendRowHeight(*height, out);
        out += "\" customHeight=\"1\"";
    }
    out += '>';
}

void Workbook::emitCell(int row, const CellValue& cell, int style) {
    std::string& out = rowsBuffer_;
    // A template whose elements carry a prefix gets the written ones with it too.
    const std::string& p = sheet_->elementPrefix();
    appendTagOpen(p, "c", out);
    // The reference is always given: the schema makes it optional, but Gnumeric, for one, reads no
    // cell without it.
    out += " r=\"";
    appendCellReference(cell.column, row, out);
    out += '"';
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

void Workbook::emitRow(int row, const SheetTemplate::Row* own, std::span<const CellValue> cells,
                       std::optional<double> height, const RowLook& look) {
    emitRowStart(row, own, height);
    static const std::vector<SheetTemplate::Cell> kNoCells;
    const std::vector<SheetTemplate::Cell>& ownCells = own != nullptr ? own->cells : kNoCells;
    const bool styled = !look.style.plain() && styles_;
    std::size_t a = 0, b = 0;
    // The template's cells and the appended ones by column; an appended one replaces the template's
    // in its column, keeping its style.
    while (a < ownCells.size() || b < cells.size()) {
        const SheetTemplate::Cell* mine = a < ownCells.size() ? &ownCells[a] : nullptr;
        if (mine != nullptr && (b == cells.size() || mine->column < cells[b].column)) {
            rowsBuffer_ += mine->xml;
            noteUsed(mine->column, row);
            ++a;
            continue;
        }
        const CellValue& cell = cells[b++];
        const bool replacesOwn = mine != nullptr && mine->column == cell.column;
        const int base = replacesOwn ? mine->style : baseStyle(cell.column, look);
        emitCell(row, cell, styled ? styles_->derive(base, look.style) : base);
        a += replacesOwn ? 1 : 0;
    }
    appendEndTags(sheet_->elementPrefix(), {"row"}, rowsBuffer_);
    if (!cells.empty()) {
        // In ascending columns: the first and the last are all the used range needs.
        noteUsed(cells.front().column, row);
        noteUsed(cells.back().column, row);
    } else if (own == nullptr) {
        // A row that only got a height still counts as used.
        noteUsed(0, row);
    }
    spillRows();
}

void Workbook::spillRows() {
    if (rowsBuffer_.size() < PartStream::kPieceBytes) {
        return;
    }
    beginSheet();
    output_->streamPiece(rowsBuffer_);
}

void Workbook::copyParts(bool styles) {
    zip_t* source = package_.handle();
    const zip_int64_t count = zip_get_num_entries(source, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(source, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (name == nullptr) {
            fail(FailureCode::TemplateInvalid, bookFile_, QString::fromUtf8(zip_strerror(source)));
        }
        if (parts_.sheetPart == name || styles != (parts_.stylesPart == name)) {
            continue;
        }
        if (styles && styles_ && styles_->changed()) {
            const QByteArray text = styles_->text();
            output_->addPart(name, std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
        } else if (parts_.workbookPart == name) {
            // Formulas of the template (a count, a sum) describe the filled rows only once recalculated.
            const std::optional<QByteArray> text =
                workbookWithFullCalcOnLoad(package_.readPart(parts_.workbookPart, true, kMaxPartBytes));
            if (!text) {
                fail(FailureCode::TemplateInvalid, bookFile_, QString::fromStdString(parts_.workbookPart));
            }
            output_->addPart(name, std::string_view(text->constData(), static_cast<std::size_t>(text->size())));
        } else {
            output_->copyPart(source, static_cast<zip_uint64_t>(i));
        }
    }
}

void Workbook::beginSheet() {
    if (output_) {
        return;
    }
    output_ = std::make_unique<PackageOutput>(options_.destination(), options_.stop);
    copyParts(false);
    head_ = sheet_->head("A1", &dimensionOffset_);
    output_->beginStreamedPart(parts_.sheetPart, head_, dimensionOffset_);
}

std::string Workbook::usedRange() const {
    std::string dimension = "A1";
    if (minRow_ >= 0) {
        dimension.clear();
        appendCellReference(minColumn_, minRow_, dimension);
        if (maxRow_ != minRow_ || maxColumn_ != minColumn_) {
            dimension += ':';
            appendCellReference(maxColumn_, maxRow_, dimension);
        }
    }
    return dimension;
}

QString Workbook::save() {
    checkStop();
    emitOwnRowsBefore(kMaxRows);
    checkStop();
    beginSheet();
    std::string tail = sheet_->tail(footer_);
    if (!rowBreaks_.empty()) {
        std::optional<std::string> withBreaks = tailWithRowBreaks(head_, tail, rowBreaks_);
        if (!withBreaks) {
            fail(FailureCode::TemplateInvalid, bookFile_, QString::fromStdString(parts_.sheetPart));
        }
        tail = std::move(*withBreaks);
    }
    rowsBuffer_ += tail;
    output_->endStreamedPart(rowsBuffer_, sheet_->dimensionElement(usedRange()));
    copyParts(true);
    // The directory lists the parts in the template's order, whatever order they were written in.
    std::vector<std::string> order;
    for (zip_int64_t i = 0; i < zip_get_num_entries(package_.handle(), 0); ++i) {
        const char* name = zip_get_name(package_.handle(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        order.emplace_back(name != nullptr ? name : "");
    }
    output_->commit(order);
    return output_->destination();
}

std::unique_ptr<Workbook> WorkbookOpener::open(const QString& templatePath, const QString& sheetName,
                                               int ownRowsKept, std::function<QString()> destination) {
    return std::make_unique<Workbook>(templatePath, sheetName,
                                      Workbook::Options{ownRowsKept, stop_, std::move(destination)});
}

} // namespace kartoma
