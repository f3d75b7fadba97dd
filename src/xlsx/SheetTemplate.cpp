#include "SheetTemplate.h"

#include "CellReference.h"
#include "XmlScanner.h"
#include "XmlText.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>

namespace kartoma {

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
    using Token = XmlScanner::Token;

    /// Where offset `at` of the part lies in the text kept.
    std::size_t toIndex(std::uint64_t at) const {
        return static_cast<std::size_t>(at >= t_.rowsStart_ + dropped_ ? at - dropped_ : at);
    }
    std::string_view textOf(std::uint64_t from, std::uint64_t to) const {
        return std::string_view(t_.text_).substr(toIndex(from), static_cast<std::size_t>(to - from));
    }
    /// Where the element whose tag was just read begins, and where its tag ends.
    std::size_t startOf() const { return static_cast<std::size_t>(xml_.tokenStart()); }
    std::size_t endOf() const { return static_cast<std::size_t>(xml_.offset()); }
    /// The value of the element's attribute written `name`; empty when it has none.
    QString attribute(std::string_view name) const;
    bool failed(const QString& why) {
        error_ = why;
        return false;
    }
    bool feed();
    bool startElement();
    void startTopLevel(std::string_view name);
    bool startRow();
    bool startCell();
    bool endElement();
    bool endCell();
    /// Between cells of the rows, what was read is no longer needed.
    void dropReadRows();

    const PartReader& read_;
    QString& error_;
    SheetTemplate t_;
    XmlScanner xml_{XmlScanner::Checking::WellFormed};
    // Bytes that are not UTF-8 read as U+FFFD, and a byte order mark is dropped, as an XML reader does.
    QStringDecoder decoder_{QStringDecoder::Utf8};
    std::vector<char> chunk_;
    // The text of the part is kept but for the rows already taken apart: only the head and tail of
    // the sheet are written back, so the rows between are dropped as the reading goes (`dropped_`
    // bytes from where <sheetData> begins), and memory stays bounded whatever the rows hold.
    std::size_t dropped_ = 0;
    std::size_t keptBytes_ = 0;
    bool cellKept_ = false;
    std::uint64_t cells_ = 0;
    std::size_t headerStart_ = kNone;
    int depth_ = 0;
    bool inRows_ = false;
    bool sawRows_ = false;
    std::size_t cellStart_ = kNone;
    bool cellHasReference_ = false;
    Row* row_ = nullptr;
    int nextRow_ = 0;
    int nextColumn_ = 0;
};

QString SheetTemplate::Reader::attribute(std::string_view name) const {
    for (const XmlScanner::Attribute& a : xml_.attributes()) {
        if (a.qualifiedName == name) {
            return QString::fromStdString(XmlScanner::attributeValue(a.rawValue));
        }
    }
    return {};
}

bool SheetTemplate::Reader::feed() {
    const qint64 n = read_(chunk_.data(), static_cast<qint64>(chunk_.size()));
    if (n < 0) {
        return failed(QStringLiteral("cannot be read"));
    }
    if (n == 0) {
        xml_.finish();
        return true;
    }
    // The tokenizer goes over an unfinished tag again with every piece that comes: one that never
    // ends (a comment of megabytes) would take time that grows with its square. Texts come in pieces.
    if (xml_.pendingBytes() > kMaxTokenBytes) {
        return failed(QStringLiteral("one XML token longer than %1 MB").arg(kMaxTokenBytes >> 20));
    }
    const QByteArray text = QString(decoder_(QByteArrayView(chunk_.data(), static_cast<qsizetype>(n)))).toUtf8();
    if (t_.text_.size() + static_cast<std::size_t>(text.size()) > kMaxKeptBytes) {
        return failed(QStringLiteral("more than %1 MB outside the rows").arg(kMaxKeptBytes >> 20));
    }
    const std::string_view bytes(text.constData(), static_cast<std::size_t>(text.size()));
    t_.text_ += bytes;
    xml_.addData(bytes);
    return true;
}

std::optional<SheetTemplate> SheetTemplate::Reader::run() {
    for (Token token = xml_.next(); token != Token::EndOfDocument; token = xml_.next()) {
        if (token == Token::NeedData) {
            if (!feed()) {
                return std::nullopt;
            }
            continue;
        }
        if (token == Token::Invalid) {
            error_ = QString::fromStdString(xml_.errorText());
            return std::nullopt;
        }
        if ((token != Token::EndElement && token != Token::Text && !startElement()) ||
            (token != Token::StartElement && token != Token::Text && !endElement())) {
            return std::nullopt;
        }
    }
    if (!sawRows_) {
        error_ = QStringLiteral("no sheetData");
        return std::nullopt;
    }
    // From here on the offsets past the rows index the text as it was kept.
    for (std::size_t* at : {&t_.rowsEnd_, &t_.footerStart_, &t_.footerEnd_, &t_.footerInsert_}) {
        if (*at != kNone) {
            *at = toIndex(*at);
        }
    }
    t_.text_.shrink_to_fit();
    return std::move(t_);
}

bool SheetTemplate::Reader::startElement() {
    ++depth_;
    const std::string_view name = xml_.name();
    if (depth_ == 1) {
        // One in another namespace would be filled with rows no reader sees.
        if (name != "worksheet" ||
            xml_.namespaceOf(xml_.prefix()) != "http://schemas.openxmlformats.org/spreadsheetml/2006/main") {
            return failed(QStringLiteral("not a worksheet"));
        }
        if (!xml_.prefix().empty()) {
            // Rows written in without it would be in no namespace, and nothing would show them.
            t_.prefix_ = std::string(xml_.prefix()) + ':';
        }
        t_.dimensionInsert_ = endOf();
    } else if (depth_ == 2) {
        startTopLevel(name);
    } else if (depth_ == 3 && inRows_ && name == "row") {
        return startRow();
    } else if (depth_ == 4 && row_ != nullptr && name == "c") {
        return startCell();
    } else if (depth_ == 3 && name == "col") {
        t_.columns_.push_back(ColumnStyle{attribute("min").toInt() - 1, attribute("max").toInt() - 1,
                                          attribute("style").toInt()});
    } else if (depth_ == 3 && t_.footerStart_ != kNone && t_.footerEnd_ == kNone && name == "oddHeader") {
        headerStart_ = startOf();
    } else if (depth_ >= 5 && cellStart_ != kNone) {
        cellKept_ = true;
    }
    return true;
}

void SheetTemplate::Reader::startTopLevel(std::string_view name) {
    const std::size_t start = startOf();
    if (name == "dimension") {
        t_.dimensionStart_ = start;
    } else if (name == "sheetFormatPr") {
        bool ok = false;
        const double height = attribute("defaultRowHeight").toDouble(&ok);
        if (ok) {
            t_.defaultRowHeight_ = height;
        }
    } else if (name == "sheetData") {
        t_.rowsStart_ = start;
        inRows_ = true;
        sawRows_ = true;
    } else if (name == "headerFooter") {
        t_.footerStart_ = start;
    } else if (sawRows_ && t_.footerInsert_ == kNone && t_.footerStart_ == kNone &&
               worksheetChildAfter(name, "headerFooter")) {
        t_.footerInsert_ = start;
    }
}

bool SheetTemplate::Reader::startRow() {
    Row r;
    r.row = nextRow_;
    bool numbered = false;
    for (const XmlScanner::Attribute& a : xml_.attributes()) {
        if (a.qualifiedName == "xmlns" || a.qualifiedName.starts_with("xmlns:")) {
            continue;
        }
        const QString value = QString::fromStdString(XmlScanner::attributeValue(a.rawValue));
        if (a.qualifiedName == "r") {
            bool ok = false;
            const int number = value.toInt(&ok);
            if (!ok || number < 1 || number > kMaxRows) {
                return failed(QStringLiteral("bad row number"));
            }
            r.row = number - 1;
            numbered = true;
        } else if (a.qualifiedName != "spans") {
            r.attributes.emplace_back(QString::fromUtf8(a.qualifiedName.data(), static_cast<qsizetype>(a.qualifiedName.size())),
                                      value);
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
    const QString ref = attribute("r");
    cellHasReference_ = !ref.isEmpty();
    if (cellHasReference_) {
        const std::optional<CellRange> place = parseCellReference(ref.toStdString());
        if (!place) {
            return failed(QStringLiteral("bad cell reference"));
        }
        cell.column = place->x1;
    }
    cell.style = attribute("s").toInt();
    // A cell with nothing but its place shows nothing: it is not kept.
    const auto declaration = [](const XmlScanner::Attribute& a) {
        return a.qualifiedName == "xmlns" || a.qualifiedName.starts_with("xmlns:");
    };
    const auto attributes = xml_.attributes().size() -
                            static_cast<std::size_t>(std::count_if(xml_.attributes().begin(), xml_.attributes().end(), declaration));
    cellKept_ = attributes > (cellHasReference_ ? 1u : 0u);
    nextColumn_ = std::min(cell.column + 1, kMaxColumns);
    row_->cells.push_back(std::move(cell));
    return true;
}

bool SheetTemplate::Reader::endElement() {
    const std::string_view name = xml_.name();
    if (depth_ == 2) {
        if (name == "dimension") {
            t_.dimensionEnd_ = endOf();
        } else if (name == "sheetData") {
            t_.rowsEnd_ = endOf();
            inRows_ = false;
        } else if (name == "headerFooter") {
            t_.footerEnd_ = endOf();
        }
        if (worksheetChildBefore(name, "dimension")) {
            t_.dimensionInsert_ = endOf();
        }
    } else if (depth_ == 1) {
        if (t_.footerInsert_ == kNone) {
            t_.footerInsert_ = startOf();
        }
    } else if (depth_ == 3 && headerStart_ != kNone && name == "oddHeader") {
        t_.oddHeader_ = textOf(headerStart_, endOf());
        headerStart_ = kNone;
    } else if (depth_ == 4 && cellStart_ != kNone && row_ != nullptr) {
        if (!endCell()) {
            return false;
        }
    } else if (depth_ == 3 && row_ != nullptr && name == "row") {
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
        cellStart_ = kNone;
        return true;
    }
    if (row_->cells.back().column >= kMaxColumns) {
        return failed(QStringLiteral("bad cell reference"));
    }
    std::string cellXml(textOf(cellStart_, endOf()));
    Cell& cell = row_->cells.back();
    if (!cellHasReference_) {
        // Written cells may stand between template cells: give this one its place.
        std::string ref;
        appendCellReference(cell.column, row_->row, ref);
        insertAttribute(cellXml, " r=\"" + ref + "\"");
    }
    keptBytes_ += cellXml.size() + sizeof(Cell);
    cell.xml = std::move(cellXml);
    cellStart_ = kNone;
    return true;
}

void SheetTemplate::Reader::dropReadRows() {
    const std::size_t readTo = toIndex(xml_.offset());
    if (inRows_ && cellStart_ == kNone && readTo - t_.rowsStart_ > kDropBytes) {
        t_.text_.erase(t_.rowsStart_, readTo - t_.rowsStart_);
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
    const std::string_view text(text_);
    const std::size_t before = dimensionStart_ != kNone ? dimensionStart_ : dimensionInsert_;
    const std::size_t after = dimensionStart_ != kNone ? dimensionEnd_ : dimensionInsert_;
    std::string head(text.substr(0, before));
    if (dimensionAt != nullptr) {
        *dimensionAt = head.size();
    }
    return head + element + std::string(text.substr(after, rowsStart_ - after)) + "<" + prefix_ + "sheetData>";
}

std::string SheetTemplate::tail(const std::optional<QString>& footer) const {
    const std::string_view text(text_);
    std::string tail = "</" + prefix_ + "sheetData>";
    if (!footer) {
        return tail.append(text.substr(rowsEnd_));
    }
    const std::size_t replaced = footerStart_ != kNone ? footerStart_ : footerInsert_;
    const std::size_t rest = footerStart_ != kNone ? footerEnd_ : footerInsert_;
    tail.append(text.substr(rowsEnd_, replaced - rowsEnd_));
    tail += "<" + prefix_ + "headerFooter>" + oddHeader_ + "<" + prefix_ + "oddFooter>";
    const QByteArray footerUtf8 = footer->toUtf8();
    appendXmlEscaped(std::string_view(footerUtf8.constData(), static_cast<std::size_t>(footerUtf8.size())), tail);
    tail += "</" + prefix_ + "oddFooter></" + prefix_ + "headerFooter>";
    return tail.append(text.substr(rest));
}

} // namespace kartoma
