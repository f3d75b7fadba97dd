#include "SheetReader.h"

#include "Failure.h"
#include "PackageParts.h"
#include "Utf8.h"
#include "XmlText.h"


#include <zip.h>

#include <algorithm>
#include <cstring>

namespace kartoma {

namespace {

constexpr std::size_t kChunk = 256 * 1024;
// A single tag, comment or CDATA section longer than this is not a sheet anyone wrote; refusing it
// bounds memory.
constexpr std::size_t kMaxPending = 16u << 20;
// The workbook part and relationships are small; a larger one is not read whole.
constexpr zip_uint64_t kMaxSmallPart = 16u << 20;

/// Undoes the package's "_xHHHH_" escapes of the text from `from` on, in place and in one pass (the
/// text only shrinks). An escaped surrogate pair is one character; a lone surrogate is U+FFFD.
void undoCellEscapes(std::string& text, std::size_t from) {
    std::size_t read = text.find("_x", from);
    if (read == std::string::npos) {
        return;
    }
    std::size_t write = read;
    std::string utf8;
    while (read < text.size()) {
        const int unit = text[read] == '_' ? cellEscapeAt(text, read) : -1;
        if (unit < 0) {
            text[write++] = text[read++];
            continue;
        }
        read += 7;
        char32_t c = static_cast<char32_t>(unit);
        if (c >= 0xD800 && c <= 0xDBFF) {
            const int low = cellEscapeAt(text, read);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + static_cast<char32_t>(low - 0xDC00);
                read += 7;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        utf8.clear();
        encodeUtf8(c, utf8);
        text.replace(write, utf8.size(), utf8);
        write += utf8.size();
    }
    text.resize(write);
}

/// The column of a cell reference ("C12" -> 2); -1 when it does not start with letters.
int columnOf(std::string_view reference) {
    int column = 0;
    std::size_t i = 0;
    for (; i < reference.size() && i < 3; ++i) {
        const char c = reference[i];
        if (c >= 'A' && c <= 'Z') {
            column = column * 26 + (c - 'A' + 1);
        } else if (c >= 'a' && c <= 'z') {
            column = column * 26 + (c - 'a' + 1);
        } else {
            break;
        }
    }
    return i == 0 ? -1 : column - 1;
}

/// The value of attribute `name` within the attribute text of a tag; empty when it is missing.
std::string_view attributeOf(std::string_view attributes, std::string_view name) {
    std::size_t i = 0;
    while (i < attributes.size()) {
        while (i < attributes.size() && (attributes[i] == ' ' || attributes[i] == '\t' ||
                                         attributes[i] == '\n' || attributes[i] == '\r')) {
            ++i;
        }
        const std::size_t nameStart = i;
        while (i < attributes.size() && attributes[i] != '=' && attributes[i] != ' ') {
            ++i;
        }
        std::string_view attribute = attributes.substr(nameStart, i - nameStart);
        while (i < attributes.size() && attributes[i] != '"' && attributes[i] != '\'') {
            ++i;
        }
        if (i >= attributes.size()) {
            break;
        }
        const char quote = attributes[i++];
        const std::size_t valueStart = i;
        while (i < attributes.size() && attributes[i] != quote) {
            ++i;
        }
        const std::string_view value = attributes.substr(valueStart, i - valueStart);
        ++i;
        if (const std::size_t colon = attribute.find(':'); colon != std::string_view::npos) {
            attribute.remove_prefix(colon + 1);
        }
        if (attribute == name) {
            return value;
        }
    }
    return {};
}

std::int64_t wholeNumber(std::string_view text, std::int64_t fallback) {
    std::int64_t value = 0;
    if (text.empty() || text.size() > 18) {
        return fallback;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return fallback;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace


/// Scans one part of the package tag by tag, inflating it in pieces. It knows just enough XML for
/// what spreadsheet applications write: tags, text with entities, comments, CDATA, processing
/// instructions. A document type declaration is refused (a sheet has none, and entities it could
/// declare are not expanded).
class SheetReader::Scanner {
public:
    enum class Kind { Start, End, Empty };
    struct Tag {
        Kind kind;
        std::string_view name;       ///< the local name, without its prefix
        std::string_view attributes; ///< the text after the name, up to the tag's end
    };

    Scanner(zip_t* zip, const std::string& part, const QString& book, const std::function<bool()>& keepGoing)
        : book_(book), part_(part), keepGoing_(keepGoing) {
        file_ = zip_fopen(zip, part.c_str(), 0);
        if (file_ == nullptr) {
            throw Failure(FailureCode::TemplateInvalid, book_,
                                QStringLiteral("%1: %2").arg(QString::fromStdString(part),
                                                             QString::fromUtf8(zip_strerror(zip))));
        }
    }
    ~Scanner() { zip_fclose(file_); }

    /// The next tag; the text before it is appended (entities undone) to `text` when `keep` is set.
    /// False at the end of the part. `tooLong` is thrown when `text` grows beyond `limit` bytes.
    template <typename TooLong>
    bool next(Tag& tag, bool keep, std::string& text, std::size_t limit, const TooLong& tooLong) {
        for (;;) {
            const char* data = buffer_.data();
            const std::size_t size = buffer_.size();
            const void* found = std::memchr(data + pos_, '<', size - pos_);
            if (found == nullptr) {
                if (keep) {
                    // Text up to an entity that may continue in the next piece.
                    const std::size_t amp = buffer_.rfind('&');
                    const std::size_t end =
                        amp != std::string::npos && amp >= pos_ && buffer_.find(';', amp) == std::string::npos
                            ? amp
                            : size;
                    // Undoing entities only shrinks a text: checked before, it never outgrows the limit.
                    if (text.size() + (end - pos_) > limit) {
                        tooLong();
                    }
                    appendText(pos_, end, text);
                    pos_ = end;
                } else {
                    pos_ = size;
                }
                if (!fill()) {
                    return false;
                }
                continue;
            }
            const std::size_t lt = static_cast<std::size_t>(static_cast<const char*>(found) - data);
            if (keep) {
                if (text.size() + (lt - pos_) > limit) {
                    tooLong();
                }
                appendText(pos_, lt, text);
            }
            pos_ = lt;
            if (lt + 1 >= size) {
                if (!fill()) {
                    broken("the part ends inside a tag");
                }
                continue;
            }
            const char second = data[lt + 1];
            if (second == '?' || second == '!') {
                const std::size_t before = pos_;
                if (!skipSpecial(keep, text)) {
                    pos_ = before;
                    if (!fill()) {
                        broken("the part ends inside a comment or declaration");
                    }
                }
                continue;
            }
            const std::size_t gt = tagEnd(lt + 1);
            if (gt == std::string::npos) {
                if (!fill()) {
                    broken("the part ends inside a tag");
                }
                continue;
            }
            std::string_view inside(data + lt + 1, gt - lt - 1);
            if (inside.empty() || inside == "/") {
                broken("an empty tag");
            }
            tag.kind = Kind::Start;
            if (inside.front() == '/') {
                tag.kind = Kind::End;
                inside.remove_prefix(1);
            } else if (inside.back() == '/') {
                tag.kind = Kind::Empty;
                inside.remove_suffix(1);
            }
            std::size_t nameEnd = 0;
            while (nameEnd < inside.size() && inside[nameEnd] != ' ' && inside[nameEnd] != '\t' &&
                   inside[nameEnd] != '\n' && inside[nameEnd] != '\r') {
                ++nameEnd;
            }
            tag.name = inside.substr(0, nameEnd);
            if (const std::size_t colon = tag.name.find(':'); colon != std::string_view::npos) {
                tag.name.remove_prefix(colon + 1);
            }
            tag.attributes = inside.substr(nameEnd);
            pos_ = gt + 1;
            return true;
        }
    }

    std::uint64_t bytesRead() const { return inflated_; }

    [[noreturn]] void broken(const char* reason, FailureCode code = FailureCode::TemplateInvalid) const {
        throw Failure(code, book_,
                            QStringLiteral("%1: %2").arg(QString::fromStdString(part_), QString::fromLatin1(reason)));
    }

    /// The sizes of a part, compressed and inflated, as the package's directory gives them (0 when
    /// it does not).
    static std::pair<std::uint64_t, std::uint64_t> sizesOf(zip_t* zip, const std::string& part) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat(zip, part.c_str(), 0, &st) != 0) {
            return {0, 0};
        }
        return {(st.valid & ZIP_STAT_COMP_SIZE) != 0 ? st.comp_size : 0, (st.valid & ZIP_STAT_SIZE) != 0 ? st.size : 0};
    }

private:
    /// Reads the next piece behind what is still unread; false at the end of the part.
    bool fill() {
        if (eof_) {
            return false;
        }
        if (keepGoing_ && !keepGoing_()) {
            broken("stopped", FailureCode::Cancelled);
        }
        buffer_.erase(0, pos_);
        pos_ = 0;
        if (buffer_.size() > kMaxPending) {
            broken("a tag longer than 16 MiB", FailureCode::CatalogueTooLarge);
        }
        // What is still unread is a tag that goes on: reading at least as much again keeps the
        // rescans of it linear in its length.
        const std::size_t kept = buffer_.size();
        const std::size_t piece = std::max(kChunk, kept);
        buffer_.resize(kept + piece);
        const zip_int64_t n = zip_fread(file_, buffer_.data() + kept, piece);
        if (n < 0) {
            throw Failure(FailureCode::TemplateInvalid, book_,
                                QStringLiteral("%1: %2").arg(QString::fromStdString(part_),
                                                             QString::fromUtf8(zip_file_strerror(file_))));
        }
        buffer_.resize(kept + static_cast<std::size_t>(n));
        inflated_ += static_cast<std::uint64_t>(n);
        if (n == 0) {
            eof_ = true;
            return false;
        }
        return true;
    }

    /// The ">" that ends the tag whose name starts at `from`; quoted values may hold ">".
    std::size_t tagEnd(std::size_t from) const {
        char quote = 0;
        for (std::size_t i = from; i < buffer_.size(); ++i) {
            const char c = buffer_[i];
            if (quote != 0) {
                if (c == quote) {
                    quote = 0;
                }
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                return i;
            }
        }
        return std::string::npos;
    }

    /// A comment, CDATA section or processing instruction at pos_; false when it is not complete yet.
    bool skipSpecial(bool keep, std::string& text) {
        const std::string_view rest = std::string_view(buffer_).substr(pos_);
        const auto skipTo = [&](std::string_view close, std::size_t openLength) {
            const std::size_t end = rest.find(close, openLength);
            if (end == std::string_view::npos) {
                return std::string_view::npos;
            }
            pos_ += end + close.size();
            return end;
        };
        if (rest.size() < 9) {
            return false;
        }
        if (rest.substr(0, 2) == "<?") {
            return skipTo("?>", 2) != std::string_view::npos;
        }
        if (rest.substr(0, 4) == "<!--") {
            return skipTo("-->", 4) != std::string_view::npos;
        }
        if (rest.substr(0, 9) == "<![CDATA[") {
            const std::size_t start = pos_ + 9;
            const std::size_t end = skipTo("]]>", 9);
            if (end == std::string_view::npos) {
                return false;
            }
            if (keep) {
                text.append(buffer_, start, pos_ - 3 - start);
            }
            return true;
        }
        broken("a declaration a sheet does not have");
    }

    void appendText(std::size_t from, std::size_t to, std::string& text) {
        while (from < to) {
            const void* amp = std::memchr(buffer_.data() + from, '&', to - from);
            const std::size_t stop =
                amp == nullptr ? to
                               : static_cast<std::size_t>(static_cast<const char*>(amp) - buffer_.data());
            text.append(buffer_, from, stop - from);
            if (stop == to) {
                return;
            }
            const std::size_t semicolon = buffer_.find(';', stop);
            if (semicolon == std::string::npos || semicolon >= to) {
                broken("an entity without its end");
            }
            const std::string_view entity(buffer_.data() + stop + 1, semicolon - stop - 1);
            if (entity == "amp") {
                text += '&';
            } else if (entity == "lt") {
                text += '<';
            } else if (entity == "gt") {
                text += '>';
            } else if (entity == "quot") {
                text += '"';
            } else if (entity == "apos") {
                text += '\'';
            } else if (entity.size() >= 2 && entity[0] == '#') {
                const bool hex = entity[1] == 'x' || entity[1] == 'X';
                const std::string digits(entity.substr(hex ? 2 : 1));
                char* end = nullptr;
                const unsigned long c = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
                if (digits.empty() || *end != '\0' || c == 0 || c > 0x10FFFF) {
                    broken("a character reference that names no character");
                }
                encodeUtf8(static_cast<char32_t>(c), text);
            } else {
                broken("an unknown entity");
            }
            from = semicolon + 1;
        }
    }

    const QString& book_;
    std::string part_;
    const std::function<bool()>& keepGoing_;
    zip_file_t* file_ = nullptr;
    std::string buffer_;
    std::size_t pos_ = 0;
    bool eof_ = false;
    std::uint64_t inflated_ = 0;
};

std::string_view SheetRow::value(std::size_t i) const {
    const Cell& c = cells_[i];
    return std::string_view(c.shared ? *shared_ : text_).substr(c.begin, c.length);
}

std::string_view SheetRow::cell(int column) const {
    for (std::size_t i = 0; i < cells_.size(); ++i) {
        if (cells_[i].column == column) {
            return value(i);
        }
    }
    return {};
}

SheetReader::SheetReader(const QString& path, const QString& preferredSheet, const SheetBudget& budget,
                         std::function<bool()> keepGoing)
    : path_(path), budget_(budget), keepGoing_(std::move(keepGoing)) {
    package_ = std::make_unique<Package>(path, false);
    const SheetLocation where = locateSheet(*package_, preferredSheet, true, kMaxSmallPart);
    sheetName_ = where.sheetName;
    if (!where.sharedStrings.empty()) {
        readSharedStrings(where.sharedStrings);
    }
    sharedStart_.push_back(sharedText_.size());
    sheet_ = std::make_unique<Scanner>(package_->handle(), where.sheetPart, path_, keepGoing_);
}

SheetReader::~SheetReader() {
    // The scanners close their files before the package goes.
    sheet_.reset();
}

std::uint64_t SheetReader::bytesRead() const {
    return sheet_->bytesRead();
}

void SheetReader::tooLarge(const QString& reason) const {
    throw Failure(FailureCode::CatalogueTooLarge, path_, reason);
}

void SheetReader::readSharedStrings(const std::string& part) {
    Scanner scanner(package_->handle(), part, path_, keepGoing_);
    const auto [packed, inflated] = Scanner::sizesOf(package_->handle(), part);
    const std::uint64_t limit =
        std::min(budget_.sharedTextMax, std::max(budget_.sharedText, budget_.sharedTextPerPackedByte * packed));
    // Reserved whole, the table is never copied as it grows: twice its size would be in use then.
    // Pages reserved but never written cost nothing.
    sharedText_.reserve(static_cast<std::size_t>(std::min(limit + kMaxPending, inflated)));
    const auto tooLong = [&] {
        tooLarge(QStringLiteral("its shared strings hold more than %1 MiB of text").arg(limit >> 20));
    };
    Scanner::Tag tag;
    bool inItem = false;
    bool phonetic = false;
    bool capture = false;
    std::size_t start = 0;
    sharedStart_.clear();
    while (scanner.next(tag, capture, sharedText_, static_cast<std::size_t>(limit), tooLong)) {
        if (tag.name == "si") {
            if (tag.kind != Scanner::Kind::End) {
                if (sharedStart_.size() >= budget_.sharedCount) {
                    tooLarge(QStringLiteral("it has more than %1 shared strings").arg(budget_.sharedCount));
                }
                inItem = true;
                start = sharedText_.size();
                sharedStart_.push_back(start);
            }
            if (tag.kind != Scanner::Kind::Start) {
                inItem = false;
                undoCellEscapes(sharedText_, start);
            }
        } else if (tag.name == "rPh") {
            phonetic = tag.kind == Scanner::Kind::Start;
        } else if (tag.name == "t") {
            capture = inItem && !phonetic && tag.kind == Scanner::Kind::Start;
        }
    }
}

void SheetReader::finishCell(SheetRow& row) {
    inCell_ = false;
    capture_ = false;
    std::string_view value = cellText_;
    bool shared = false;
    std::size_t begin = 0;
    if (cellType_ == "s") {
        const std::int64_t index = wholeNumber(cellText_, -1);
        if (index < 0 || static_cast<std::size_t>(index) + 1 >= sharedStart_.size()) {
            sheet_->broken("a shared string the table does not have");
        }
        const std::size_t i = static_cast<std::size_t>(index);
        shared = true;
        begin = static_cast<std::size_t>(sharedStart_[i]);
        value = std::string_view(sharedText_).substr(begin, static_cast<std::size_t>(sharedStart_[i + 1]) - begin);
    } else if (cellType_ == "inlineStr") {
        undoCellEscapes(cellText_, 0);
        value = cellText_;
    }
    if (value.empty() || cellColumn_ < 0) {
        return;
    }
    rowBytes_ += value.size();
    if (rowBytes_ > budget_.rowBytes) {
        tooLarge(QStringLiteral("a row holds more than %1 KiB").arg(budget_.rowBytes >> 10));
    }
    if (!shared) {
        begin = row.text_.size();
        row.text_.append(value);
    }
    row.cells_.push_back(SheetRow::Cell{cellColumn_, shared, begin, value.size()});
}

bool SheetReader::next(SheetRow& row) {
    row.text_.clear();
    row.cells_.clear();
    row.shared_ = &sharedText_;
    rowBytes_ = 0;
    std::int64_t previousRow = row.number_;
    Scanner::Tag tag;
    const auto tooLong = [&] {
        tooLarge(QStringLiteral("a row holds more than %1 KiB").arg(budget_.rowBytes >> 10));
    };
    while (sheet_->next(tag, capture_, cellText_, budget_.rowBytes, tooLong)) {
        const std::string_view name = tag.name;
        if (name == "c") {
            if (tag.kind == Scanner::Kind::End) {
                if (inCell_) {
                    finishCell(row);
                }
                continue;
            }
            if (++cellsInRow_ > budget_.rowCells) {
                tooLarge(QStringLiteral("a row has more than %1 cells").arg(budget_.rowCells));
            }
            const int column = columnOf(attributeOf(tag.attributes, "r"));
            cellColumn_ = column >= 0 ? column : cellColumn_ + 1;
            if (tag.kind == Scanner::Kind::Empty) {
                continue;
            }
            cellType_ = attributeOf(tag.attributes, "t");
            cellText_.clear();
            inCell_ = true;
            inPhonetic_ = false;
        } else if (name == "v") {
            capture_ = inCell_ && tag.kind == Scanner::Kind::Start;
        } else if (name == "t") {
            capture_ = inCell_ && !inPhonetic_ && tag.kind == Scanner::Kind::Start;
        } else if (name == "rPh") {
            inPhonetic_ = tag.kind == Scanner::Kind::Start;
        } else if (name == "row") {
            if (tag.kind != Scanner::Kind::End) {
                row.number_ = wholeNumber(attributeOf(tag.attributes, "r"), previousRow + 1);
                previousRow = row.number_;
                cellColumn_ = -1;
                cellsInRow_ = 0;
            }
            if (tag.kind != Scanner::Kind::Start && !row.cells_.empty()) {
                // Rows that repeat long shared strings may hand out no more than the file is large.
                rowBytesGiven_ += rowBytes_;
                if (rowBytesGiven_ > budget_.rowBytesFree + budget_.rowBytesPerInflatedByte *
                                                                (sheet_->bytesRead() + sharedText_.size())) {
                    tooLarge(QStringLiteral("its rows repeat shared strings far beyond the size of the file"));
                }
                return true;
            }
        }
    }
    return false;
}

} // namespace kartoma
