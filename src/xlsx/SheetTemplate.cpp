#include "SheetTemplate.h"

#include "CellReference.h"
#include "XmlText.h"

#include <QStringDecoder>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstring>

namespace kartoma {

namespace {

std::string utf8(QStringView text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

/// The zero-based column of a cell reference such as "AB12".
std::optional<int> referenceColumn(QStringView reference) {
    const std::optional<CellRange> cell = parseCellReference(utf8(reference));
    if (!cell) {
        return std::nullopt;
    }
    return cell->x1;
}

} // namespace

int SheetTemplate::columnStyle(int column) const {
    for (const ColumnStyle& c : columns_) {
        if (column >= c.first && column <= c.last) {
            return c.style;
        }
    }
    return 0;
}

std::optional<SheetTemplate> SheetTemplate::parse(const QByteArray& xml, QString& error) {
    qsizetype at = 0;
    return parse(
        [&](char* data, qint64 size) {
            const qint64 n = std::min<qint64>(size, xml.size() - at);
            std::memcpy(data, xml.constData() + at, static_cast<std::size_t>(n));
            at += n;
            return n;
        },
        error);
}

/// Takes a sheet part apart as it comes in pieces: one reading of one part.
class SheetTemplate::Reader {
public:
    Reader(const PartReader& read, QString& error) : read_(read), error_(error), chunk_(kChunkBytes) {}

    std::optional<SheetTemplate> run();

private:
    /// Where offset `at` of the part lies in the text kept.
    qsizetype toIndex(qsizetype at) const { return at >= t_.rowsStart_ + dropped_ ? at - dropped_ : at; }
    qsizetype toOffset(qsizetype index) const {
        return dropped_ > 0 && index >= t_.rowsStart_ ? index + dropped_ : index;
    }
    QStringView textOf(qsizetype from, qsizetype to) const {
        return QStringView(t_.text_).mid(toIndex(from), to - from);
    }
    /// Where the element whose start tag was just read begins: its "<" is the last one before here.
    qsizetype startOf() const {
        return toOffset(t_.text_.lastIndexOf(QLatin1Char('<'), toIndex(reader_.characterOffset()) - 1));
    }
    bool failed(const QString& why) {
        error_ = why;
        return false;
    }
    bool feed();
    bool startElement();
    void startTopLevel(QStringView name);
    bool startRow();
    bool startCell();
    bool endElement();
    bool endCell();
    /// Between cells of the rows, what was read is no longer needed.
    void dropReadRows();

    const PartReader& read_;
    QString& error_;
    SheetTemplate t_;
    XmlReader reader_;
    QStringDecoder decoder_{QStringDecoder::Utf8};
    std::vector<char> chunk_;
    bool ended_ = false;
    // The text of the part is kept but for the rows already taken apart: only the head and tail of
    // the sheet are written back, so the rows between are dropped as the reading goes (`dropped_`
    // characters from where <sheetData> begins), and memory stays bounded whatever the rows hold.
    qsizetype dropped_ = 0;
    std::size_t keptBytes_ = 0;
    qsizetype tokenEnd_ = 0; // where the last whole token read ends
    bool cellKept_ = false;
    std::uint64_t cells_ = 0;
    qsizetype headerStart_ = -1;
    int depth_ = 0;
    bool inRows_ = false;
    bool sawRows_ = false;
    qsizetype cellStart_ = -1;
    bool cellHasReference_ = false;
    Row* row_ = nullptr;
    int nextRow_ = 0;
    int nextColumn_ = 0;
};

bool SheetTemplate::Reader::feed() {
    const qint64 n = read_(chunk_.data(), static_cast<qint64>(chunk_.size()));
    if (n < 0) {
        return failed(QStringLiteral("cannot be read"));
    }
    ended_ = n == 0;
    // The reader goes over an unfinished token again with every piece that comes: one token that
    // never ends (a comment, a text of megabytes) would take time that grows with its square.
    if (dropped_ + t_.text_.size() - tokenEnd_ > kMaxTokenCharacters) {
        return failed(QStringLiteral("one XML token longer than %1 MB").arg(kMaxTokenCharacters >> 20));
    }
    const QString text = decoder_(QByteArrayView(chunk_.data(), static_cast<qsizetype>(n)));
    if (t_.text_.size() + text.size() > kMaxKeptCharacters) {
        return failed(QStringLiteral("more than %1 MB outside the rows").arg(kMaxKeptCharacters >> 20));
    }
    t_.text_ += text;
    reader_.addData(text);
    return true;
}

std::optional<SheetTemplate> SheetTemplate::Reader::run() {
    for (;;) {
        const QXmlStreamReader::TokenType token = reader_.readNext();
        if (token == QXmlStreamReader::Invalid &&
            reader_.error() == QXmlStreamReader::PrematureEndOfDocumentError && !ended_) {
            if (!feed()) {
                return std::nullopt;
            }
            continue;
        }
        if (token == QXmlStreamReader::Invalid || token == QXmlStreamReader::EndDocument) {
            break;
        }
        tokenEnd_ = reader_.characterOffset();
        if ((token == QXmlStreamReader::StartElement && !startElement()) ||
            (token == QXmlStreamReader::EndElement && !endElement())) {
            return std::nullopt;
        }
    }
    if (reader_.hasError()) {
        error_ = xmlErrorText(reader_);
        return std::nullopt;
    }
    if (!sawRows_) {
        error_ = QStringLiteral("no sheetData");
        return std::nullopt;
    }
    // From here on the offsets past the rows index the text as it was kept.
    for (qsizetype* at : {&t_.rowsEnd_, &t_.footerStart_, &t_.footerEnd_, &t_.footerInsert_}) {
        if (*at >= 0) {
            *at = toIndex(*at);
        }
    }
    t_.text_.squeeze();
    return std::move(t_);
}

bool SheetTemplate::Reader::startElement() {
    ++depth_;
    const QStringView name = reader_.name();
    if (depth_ == 1) {
        if (name != QLatin1String("worksheet")) {
            return failed(QStringLiteral("not a worksheet"));
        }
        if (!reader_.prefix().isEmpty()) {
            // Rows written in without it would be in no namespace, and nothing would show them.
            t_.prefix_ = utf8(reader_.prefix()) + ':';
        }
        t_.dimensionInsert_ = reader_.characterOffset();
    } else if (depth_ == 2) {
        startTopLevel(name);
    } else if (depth_ == 3 && inRows_ && name == QLatin1String("row")) {
        return startRow();
    } else if (depth_ == 4 && row_ != nullptr && name == QLatin1String("c")) {
        return startCell();
    } else if (depth_ == 3 && name == QLatin1String("col")) {
        const QXmlStreamAttributes a = reader_.attributes();
        t_.columns_.push_back(ColumnStyle{a.value(QLatin1String("min")).toInt() - 1,
                                          a.value(QLatin1String("max")).toInt() - 1,
                                          a.value(QLatin1String("style")).toInt()});
    } else if (depth_ == 3 && t_.footerStart_ >= 0 && t_.footerEnd_ < 0 && name == QLatin1String("oddHeader")) {
        headerStart_ = startOf();
    } else if (depth_ >= 5 && cellStart_ >= 0) {
        cellKept_ = true;
    }
    return true;
}

void SheetTemplate::Reader::startTopLevel(QStringView name) {
    const qsizetype start = startOf();
    if (name == QLatin1String("dimension")) {
        t_.dimensionStart_ = start;
    } else if (name == QLatin1String("sheetFormatPr")) {
        bool ok = false;
        const double height = reader_.attributes().value(QLatin1String("defaultRowHeight")).toDouble(&ok);
        if (ok) {
            t_.defaultRowHeight_ = height;
        }
    } else if (name == QLatin1String("sheetData")) {
        t_.rowsStart_ = start;
        inRows_ = true;
        sawRows_ = true;
    } else if (name == QLatin1String("headerFooter")) {
        t_.footerStart_ = start;
    } else if (sawRows_ && t_.footerInsert_ < 0 && t_.footerStart_ < 0 &&
               worksheetChildAfter(name, "headerFooter")) {
        t_.footerInsert_ = start;
    }
}

bool SheetTemplate::Reader::startRow() {
    Row r;
    r.row = nextRow_;
    bool numbered = false;
    for (const QXmlStreamAttribute& a : reader_.attributes()) {
        if (a.qualifiedName() == QLatin1String("r")) {
            bool ok = false;
            const int number = a.value().toInt(&ok);
            if (!ok || number < 1 || number > kMaxRows) {
                return failed(QStringLiteral("bad row number"));
            }
            r.row = number - 1;
            numbered = true;
        } else if (a.qualifiedName() != QLatin1String("spans")) {
            r.attributes.emplace_back(a.qualifiedName().toString(), a.value().toString());
        }
    }
    if (r.row >= kMaxRows) {
        return failed(QStringLiteral("bad row number"));
    }
    if (!t_.rows_.empty() && r.row <= t_.rows_.back().row) {
        return failed(numbered ? QStringLiteral("rows out of order") : QStringLiteral("bad row number"));
    }
    nextRow_ = r.row + 1;
    nextColumn_ = 0;
    t_.rows_.push_back(std::move(r));
    row_ = &t_.rows_.back();
    return true;
}

bool SheetTemplate::Reader::startCell() {
    if (++cells_ > kMaxCells) {
        return failed(QStringLiteral("more than %1 cells").arg(kMaxCells));
    }
    cellStart_ = startOf();
    Cell cell{nextColumn_, 0, {}};
    const QStringView ref = reader_.attributes().value(QLatin1String("r"));
    cellHasReference_ = !ref.isEmpty();
    if (cellHasReference_) {
        const std::optional<int> column = referenceColumn(ref);
        if (!column) {
            return failed(QStringLiteral("bad cell reference"));
        }
        cell.column = *column;
    }
    cell.style = reader_.attributes().value(QLatin1String("s")).toInt();
    // A cell with nothing but its place shows nothing: it is not kept.
    cellKept_ = reader_.attributes().size() > (cellHasReference_ ? 1 : 0);
    nextColumn_ = std::min(cell.column + 1, kMaxColumns);
    row_->cells.push_back(std::move(cell));
    return true;
}

bool SheetTemplate::Reader::endElement() {
    const QStringView name = reader_.name();
    if (depth_ == 2) {
        if (name == QLatin1String("dimension")) {
            t_.dimensionEnd_ = reader_.characterOffset();
        } else if (name == QLatin1String("sheetData")) {
            t_.rowsEnd_ = reader_.characterOffset();
            inRows_ = false;
        } else if (name == QLatin1String("headerFooter")) {
            t_.footerEnd_ = reader_.characterOffset();
        }
        if (worksheetChildBefore(name, "dimension")) {
            t_.dimensionInsert_ = reader_.characterOffset();
        }
    } else if (depth_ == 1) {
        if (t_.footerInsert_ < 0) {
            t_.footerInsert_ = startOf();
        }
    } else if (depth_ == 3 && headerStart_ >= 0 && name == QLatin1String("oddHeader")) {
        t_.oddHeader_ = textOf(headerStart_, reader_.characterOffset()).toString();
        headerStart_ = -1;
    } else if (depth_ == 4 && cellStart_ >= 0 && row_ != nullptr) {
        if (!endCell()) {
            return false;
        }
    } else if (depth_ == 3 && row_ != nullptr && name == QLatin1String("row")) {
        std::stable_sort(row_->cells.begin(), row_->cells.end(),
                         [](const Cell& a, const Cell& b) { return a.column < b.column; });
        keptBytes_ += sizeof(Row);
        row_ = nullptr;
    }
    --depth_;
    if (keptBytes_ > kMaxKeptRowBytes) {
        return failed(QStringLiteral("its own rows hold more than %1 MB").arg(kMaxKeptRowBytes >> 20));
    }
    dropReadRows();
    return true;
}

bool SheetTemplate::Reader::endCell() {
    if (!cellKept_) {
        row_->cells.pop_back();
        cellStart_ = -1;
        return true;
    }
    if (row_->cells.back().column >= kMaxColumns) {
        return failed(QStringLiteral("bad cell reference"));
    }
    std::string cellXml = utf8(textOf(cellStart_, reader_.characterOffset()));
    Cell& cell = row_->cells.back();
    if (!cellHasReference_) {
        // Written cells may stand between template cells: give this one its place.
        std::string ref;
        appendCellReference(cell.column, row_->row, ref);
        insertAttribute(cellXml, " r=\"" + ref + "\"");
    }
    keptBytes_ += cellXml.size() + sizeof(Cell);
    cell.xml = std::move(cellXml);
    cellStart_ = -1;
    return true;
}

void SheetTemplate::Reader::dropReadRows() {
    const qsizetype readTo = toIndex(reader_.characterOffset());
    if (inRows_ && cellStart_ < 0 && readTo - t_.rowsStart_ > kDropCharacters) {
        t_.text_.remove(t_.rowsStart_, readTo - t_.rowsStart_);
        dropped_ += readTo - t_.rowsStart_;
    }
}

std::optional<SheetTemplate> SheetTemplate::parse(const PartReader& read, QString& error) {
    return Reader(read, error).run();
}

std::string SheetTemplate::dimensionElement(const std::string& dimension) const {
    std::string element = "<" + prefix_ + "dimension ref=\"" + dimension + "\"/>";
    // The widest range there is: "A1:XFD1048576".
    element.resize(std::max<std::size_t>(element.size(), prefix_.size() + 32), ' ');
    return element;
}

std::string SheetTemplate::head(const std::string& dimension, std::size_t* dimensionAt) const {
    const std::string element = dimensionAt != nullptr
                                    ? dimensionElement(dimension)
                                    : "<" + prefix_ + "dimension ref=\"" + dimension + "\"/>";
    const QStringView text(text_);
    const qsizetype before = dimensionStart_ >= 0 ? dimensionStart_ : dimensionInsert_;
    const qsizetype after = dimensionStart_ >= 0 ? dimensionEnd_ : dimensionInsert_;
    std::string head = utf8(text.left(before));
    if (dimensionAt != nullptr) {
        *dimensionAt = head.size();
    }
    return head + element + utf8(text.mid(after, rowsStart_ - after)) + "<" + prefix_ + "sheetData>";
}

std::string SheetTemplate::tail(const std::optional<QString>& footer) const {
    const QStringView text(text_);
    const std::string rowsEnd = "</" + prefix_ + "sheetData>";
    if (!footer) {
        return rowsEnd + utf8(text.mid(rowsEnd_));
    }
    std::string element = "<" + prefix_ + "headerFooter>" + utf8(oddHeader_) + "<" + prefix_ + "oddFooter>";
    const QByteArray footerUtf8 = footer->toUtf8();
    std::string escaped;
    appendXmlEscaped(std::string_view(footerUtf8.constData(), static_cast<std::size_t>(footerUtf8.size())),
                     escaped);
    element += escaped + "</" + prefix_ + "oddFooter></" + prefix_ + "headerFooter>";
    if (footerStart_ >= 0) {
        return rowsEnd + utf8(text.mid(rowsEnd_, footerStart_ - rowsEnd_)) + element +
               utf8(text.mid(footerEnd_));
    }
    return rowsEnd + utf8(text.mid(rowsEnd_, footerInsert_ - rowsEnd_)) + element +
           utf8(text.mid(footerInsert_));
}

} // namespace kartoma
