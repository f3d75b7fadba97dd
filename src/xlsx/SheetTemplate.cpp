#include "SheetTemplate.h"

#include "CellReference.h"
#include "XmlText.h"

#include <QStringDecoder>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstring>

namespace kartoma {

namespace {

/// Elements that follow <headerFooter> in a worksheet: a new one goes before the first of them.
const char* const kAfterFooter[] = {"rowBreaks",       "colBreaks",       "customProperties", "cellWatches",
                                    "ignoredErrors",   "smartTags",       "drawing",          "legacyDrawing",
                                    "legacyDrawingHF", "drawingHF",       "picture",          "oleObjects",
                                    "controls",        "webPublishItems", "tableParts",       "extLst"};
/// Elements that precede <dimension>.
const char* const kBeforeDimension[] = {"sheetPr"};

bool isOneOf(QStringView name, const char* const* names, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (name == QLatin1String(names[i])) {
            return true;
        }
    }
    return false;
}

std::string utf8(QStringView text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

/// The zero-based column of a cell reference such as "AB12".
std::optional<int> referenceColumn(QStringView reference) {
    const std::optional<CellRange> cell = parseCellReference(reference);
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

std::optional<SheetTemplate> SheetTemplate::parse(const PartReader& read, QString& error) {
    SheetTemplate t;
    XmlReader reader;
    QStringDecoder decoder(QStringDecoder::Utf8);
    std::vector<char> chunk(kChunkBytes);
    bool ended = false;
    // The text of the part is kept but for the rows already taken apart: only the head and tail of
    // the sheet are written back, so the rows between are dropped as the reading goes (`dropped`
    // characters from where <sheetData> begins), and memory stays bounded whatever the rows hold.
    qsizetype dropped = 0;
    std::size_t keptBytes = 0;
    qsizetype tokenEnd = 0; // where the last whole token read ends
    const auto toIndex = [&](qsizetype at) { return at >= t.rowsStart_ + dropped ? at - dropped : at; };
    const auto toOffset = [&](qsizetype index) {
        return dropped > 0 && index >= t.rowsStart_ ? index + dropped : index;
    };
    const auto textOf = [&](qsizetype from, qsizetype to) {
        return QStringView(t.text_).mid(toIndex(from), to - from);
    };
    // Where the element whose start tag was just read begins: its "<" is the last one before here.
    const auto startOf = [&]() {
        return toOffset(t.text_.lastIndexOf(QLatin1Char('<'), toIndex(reader.characterOffset()) - 1));
    };
    const auto feed = [&]() {
        const qint64 n = read(chunk.data(), static_cast<qint64>(chunk.size()));
        if (n < 0) {
            error = QStringLiteral("cannot be read");
            return false;
        }
        ended = n == 0;
        // The reader goes over an unfinished token again with every piece that comes: one token that
        // never ends (a comment, a text of megabytes) would take time that grows with its square.
        if (dropped + t.text_.size() - tokenEnd > kMaxTokenCharacters) {
            error = QStringLiteral("one XML token longer than %1 MB").arg(kMaxTokenCharacters >> 20);
            return false;
        }
        const QString text = decoder(QByteArrayView(chunk.data(), static_cast<qsizetype>(n)));
        if (t.text_.size() + text.size() > kMaxKeptCharacters) {
            error = QStringLiteral("more than %1 MB outside the rows").arg(kMaxKeptCharacters >> 20);
            return false;
        }
        t.text_ += text;
        reader.addData(text);
        return true;
    };
    bool cellKept = false;
    std::uint64_t cells = 0;
    qsizetype headerStart = -1;

    int depth = 0;
    bool inRows = false;
    bool sawRows = false;
    qsizetype cellStart = -1;
    bool cellHasReference = false;
    Row* row = nullptr;
    int nextRow = 0;
    int nextColumn = 0;
    for (;;) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::Invalid &&
            reader.error() == QXmlStreamReader::PrematureEndOfDocumentError && !ended) {
            if (!feed()) {
                return std::nullopt;
            }
            continue;
        }
        if (token == QXmlStreamReader::Invalid || token == QXmlStreamReader::EndDocument) {
            break;
        }
        tokenEnd = reader.characterOffset();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            const QStringView name = reader.name();
            if (depth == 1) {
                if (name != QLatin1String("worksheet")) {
                    error = QStringLiteral("not a worksheet");
                    return std::nullopt;
                }
                if (!reader.prefix().isEmpty()) {
                    // Rows written in without it would be in no namespace, and nothing would show them.
                    t.prefix_ = utf8(reader.prefix()) + ':';
                }
                t.dimensionInsert_ = reader.characterOffset();
            } else if (depth == 2) {
                const qsizetype start = startOf();
                if (name == QLatin1String("dimension")) {
                    t.dimensionStart_ = start;
                } else if (name == QLatin1String("sheetFormatPr")) {
                    bool ok = false;
                    const double height =
                        reader.attributes().value(QLatin1String("defaultRowHeight")).toDouble(&ok);
                    if (ok) {
                        t.defaultRowHeight_ = height;
                    }
                } else if (name == QLatin1String("sheetData")) {
                    t.rowsStart_ = start;
                    inRows = true;
                    sawRows = true;
                } else if (name == QLatin1String("headerFooter")) {
                    t.footerStart_ = start;
                } else if (sawRows && t.footerInsert_ < 0 && t.footerStart_ < 0 &&
                           isOneOf(name, kAfterFooter, std::size(kAfterFooter))) {
                    t.footerInsert_ = start;
                }
            } else if (depth == 3 && inRows && name == QLatin1String("row")) {
                Row r;
                const QXmlStreamAttributes attributes = reader.attributes();
                r.row = nextRow;
                bool numbered = false;
                for (const QXmlStreamAttribute& a : attributes) {
                    if (a.qualifiedName() == QLatin1String("r")) {
                        bool ok = false;
                        const int number = a.value().toInt(&ok);
                        if (!ok || number < 1 || number > kMaxRows) {
                            error = QStringLiteral("bad row number");
                            return std::nullopt;
                        }
                        r.row = number - 1;
                        numbered = true;
                    } else if (a.qualifiedName() != QLatin1String("spans")) {
                        r.attributes.emplace_back(a.qualifiedName().toString(), a.value().toString());
                    }
                }
                if (r.row >= kMaxRows) {
                    error = QStringLiteral("bad row number");
                    return std::nullopt;
                }
                if (!t.rows_.empty() && r.row <= t.rows_.back().row) {
                    error = numbered ? QStringLiteral("rows out of order") : QStringLiteral("bad row number");
                    return std::nullopt;
                }
                nextRow = r.row + 1;
                nextColumn = 0;
                t.rows_.push_back(std::move(r));
                row = &t.rows_.back();
            } else if (depth == 4 && row != nullptr && name == QLatin1String("c")) {
                if (++cells > kMaxCells) {
                    error = QStringLiteral("more than %1 cells").arg(kMaxCells);
                    return std::nullopt;
                }
                cellStart = startOf();
                Cell cell{nextColumn, 0, {}};
                const QStringView ref = reader.attributes().value(QLatin1String("r"));
                cellHasReference = !ref.isEmpty();
                if (cellHasReference) {
                    const std::optional<int> column = referenceColumn(ref);
                    if (!column) {
                        error = QStringLiteral("bad cell reference");
                        return std::nullopt;
                    }
                    cell.column = *column;
                }
                cell.style = reader.attributes().value(QLatin1String("s")).toInt();
                // A cell with nothing but its place shows nothing: it is not kept.
                cellKept = reader.attributes().size() > (cellHasReference ? 1 : 0);

                nextColumn = std::min(cell.column + 1, kMaxColumns);
                row->cells.push_back(std::move(cell));
            } else if (depth == 3 && name == QLatin1String("col")) {
                const QXmlStreamAttributes a = reader.attributes();
                t.columns_.push_back(ColumnStyle{a.value(QLatin1String("min")).toInt() - 1,
                                                 a.value(QLatin1String("max")).toInt() - 1,
                                                 a.value(QLatin1String("style")).toInt()});
            } else if (depth == 3 && t.footerStart_ >= 0 && t.footerEnd_ < 0 &&
                       name == QLatin1String("oddHeader")) {
                headerStart = startOf();
            } else if (depth >= 5 && cellStart >= 0) {
                cellKept = true;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            const QStringView name = reader.name();
            if (depth == 2) {
                if (name == QLatin1String("dimension")) {
                    t.dimensionEnd_ = reader.characterOffset();
                } else if (name == QLatin1String("sheetData")) {
                    t.rowsEnd_ = reader.characterOffset();
                    inRows = false;
                } else if (name == QLatin1String("headerFooter")) {
                    t.footerEnd_ = reader.characterOffset();
                }
                if (isOneOf(name, kBeforeDimension, std::size(kBeforeDimension))) {
                    t.dimensionInsert_ = reader.characterOffset();
                }
            } else if (depth == 1) {
                if (t.footerInsert_ < 0) {
                    t.footerInsert_ = startOf();
                }
            } else if (depth == 3 && headerStart >= 0 && name == QLatin1String("oddHeader")) {
                t.oddHeader_ = textOf(headerStart, reader.characterOffset()).toString();
                headerStart = -1;
            } else if (depth == 4 && cellStart >= 0 && row != nullptr && !cellKept) {
                row->cells.pop_back();
                cellStart = -1;
            } else if (depth == 4 && cellStart >= 0 && row != nullptr) {
                if (row->cells.back().column >= kMaxColumns) {
                    error = QStringLiteral("bad cell reference");
                    return std::nullopt;
                }
                std::string cellXml = utf8(textOf(cellStart, reader.characterOffset()));
                Cell& cell = row->cells.back();
                if (!cellHasReference) {
                    // Written cells may stand between template cells: give this one its place.
                    std::string ref;
                    appendCellReference(cell.column, row->row, ref);
                    insertAttribute(cellXml, " r=\"" + ref + "\"");
                }
                keptBytes += cellXml.size() + sizeof(Cell);
                cell.xml = std::move(cellXml);
                cellStart = -1;
            } else if (depth == 3 && row != nullptr && name == QLatin1String("row")) {
                std::stable_sort(row->cells.begin(), row->cells.end(),
                                 [](const Cell& a, const Cell& b) { return a.column < b.column; });
                keptBytes += sizeof(Row);
                row = nullptr;
            }
            --depth;
            if (keptBytes > kMaxKeptRowBytes) {
                error = QStringLiteral("its own rows hold more than %1 MB").arg(kMaxKeptRowBytes >> 20);
                return std::nullopt;
            }
            // Between cells of the rows, what was read is no longer needed.
            const qsizetype readTo = toIndex(reader.characterOffset());
            if (inRows && cellStart < 0 && readTo - t.rowsStart_ > kDropCharacters) {
                t.text_.remove(t.rowsStart_, readTo - t.rowsStart_);
                dropped += readTo - t.rowsStart_;
            }
        }
    }
    if (reader.hasError()) {
        error = xmlErrorText(reader);
        return std::nullopt;
    }
    if (!sawRows) {
        error = QStringLiteral("no sheetData");
        return std::nullopt;
    }
    // From here on the offsets past the rows index the text as it was kept.
    for (qsizetype* at : {&t.rowsEnd_, &t.footerStart_, &t.footerEnd_, &t.footerInsert_}) {
        if (*at >= 0) {
            *at = toIndex(*at);
        }
    }
    t.text_.squeeze();
    return t;
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
