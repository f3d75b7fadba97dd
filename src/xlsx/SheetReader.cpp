#include "SheetReader.h"

#include "PackageParts.h"
#include "Utf8.h"
#include "WorkbookError.h"


#include <zip.h>

#include <cstring>

namespace kartoma {

namespace {

constexpr std::size_t kChunk = 256 * 1024;
// A single tag or text longer than this is not a sheet anyone wrote; refusing it bounds memory.
constexpr std::size_t kMaxPending = 64u << 20;
// The workbook part and relationships are small; a larger one is not read whole.
constexpr zip_uint64_t kMaxSmallPart = 16u << 20;

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

/// Undoes the package's "_xHHHH_" escapes of a text value in place.
void undoCellEscapes(std::string& text, std::size_t from) {
    if (text.find("_x", from) == std::string::npos) {
        return;
    }
    std::string out = text.substr(0, from);
    for (std::size_t i = from; i < text.size();) {
        if (text[i] == '_' && i + 7 <= text.size() && text[i + 1] == 'x' && isHex(text[i + 2]) &&
            isHex(text[i + 3]) && isHex(text[i + 4]) && isHex(text[i + 5]) && text[i + 6] == '_') {
            encodeUtf8(static_cast<char32_t>(std::stoul(text.substr(i + 2, 4), nullptr, 16)), out);
            i += 7;
        } else {
            out += text[i++];
        }
    }
    text.swap(out);
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

    Scanner(zip_t* zip, const std::string& part, const QString& book) : book_(book), part_(part) {
        file_ = zip_fopen(zip, part.c_str(), 0);
        if (file_ == nullptr) {
            throw WorkbookError(WorkbookErrorCode::BookInvalid, book_,
                                QStringLiteral("%1: %2").arg(QString::fromStdString(part),
                                                             QString::fromUtf8(zip_strerror(zip))));
        }
    }
    ~Scanner() { zip_fclose(file_); }

    /// The next tag; the text before it is appended (entities undone) to `text` when `keep` is set.
    /// False at the end of the part.
    bool next(Tag& tag, bool keep, std::string& text) {
        const std::size_t textBefore = text.size();
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
                    appendText(pos_, end, text);
                    pos_ = end;
                    if (text.size() - textBefore > kMaxPending) {
                        broken("a tag or text too long");
                    }
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

    [[noreturn]] void broken(const char* reason) const {
        throw WorkbookError(
            WorkbookErrorCode::BookInvalid, book_,
            QStringLiteral("%1: %2").arg(QString::fromStdString(part_), QString::fromLatin1(reason)));
    }

private:
    /// Reads the next piece behind what is still unread; false at the end of the part.
    bool fill() {
        if (eof_) {
            return false;
        }
        buffer_.erase(0, pos_);
        pos_ = 0;
        if (buffer_.size() > kMaxPending) {
            broken("a tag or text too long");
        }
        const std::size_t kept = buffer_.size();
        buffer_.resize(kept + kChunk);
        const zip_int64_t n = zip_fread(file_, buffer_.data() + kept, kChunk);
        if (n < 0) {
            throw WorkbookError(WorkbookErrorCode::BookInvalid, book_,
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
    zip_file_t* file_ = nullptr;
    std::string buffer_;
    std::size_t pos_ = 0;
    bool eof_ = false;
    std::uint64_t inflated_ = 0;
};

std::string_view SheetRow::cell(int column) const {
    for (const Cell& c : cells_) {
        if (c.column == column) {
            return std::string_view(text_).substr(c.begin, c.length);
        }
    }
    return {};
}

namespace {

} // namespace

SheetReader::SheetReader(const QString& path, const QString& preferredSheet) : path_(path) {
    package_ = std::make_unique<Package>(path, false);
    const SheetLocation where = locateSheet(*package_, preferredSheet, true, kMaxSmallPart);
    sheetName_ = where.sheetName;
    if (!where.sharedStrings.empty()) {
        readSharedStrings(where.sharedStrings);
    }
    sheet_ = std::make_unique<Scanner>(package_->handle(), where.sheetPart, path_);
}

SheetReader::~SheetReader() {
    // The scanners close their files before the package goes.
    sheet_.reset();
}

std::uint64_t SheetReader::bytesRead() const {
    return sheet_->bytesRead();
}

void SheetReader::readSharedStrings(const std::string& part) {
    Scanner scanner(package_->handle(), part, path_);
    Scanner::Tag tag;
    bool inItem = false;
    bool phonetic = false;
    bool capture = false;
    std::size_t start = 0;
    sharedStart_.clear();
    while (scanner.next(tag, capture, sharedText_)) {
        if (tag.name == "si") {
            if (tag.kind != Scanner::Kind::End) {
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
    sharedStart_.push_back(sharedText_.size());
    sharedText_.shrink_to_fit();
    sharedStart_.shrink_to_fit();
}

void SheetReader::finishCell(SheetRow& row) {
    inCell_ = false;
    capture_ = false;
    std::string_view value = cellText_;
    if (cellType_ == "s") {
        const std::int64_t index = wholeNumber(cellText_, -1);
        if (index < 0 || static_cast<std::size_t>(index) + 1 >= sharedStart_.size()) {
            sheet_->broken("a shared string the table does not have");
        }
        const std::size_t i = static_cast<std::size_t>(index);
        value = std::string_view(sharedText_).substr(sharedStart_[i], sharedStart_[i + 1] - sharedStart_[i]);
    } else if (cellType_ == "inlineStr") {
        undoCellEscapes(cellText_, 0);
        value = cellText_;
    }
    if (value.empty() || cellColumn_ < 0) {
        return;
    }
    row.cells_.push_back(SheetRow::Cell{cellColumn_, row.text_.size(), value.size()});
    row.text_.append(value);
}

bool SheetReader::next(SheetRow& row) {
    row.text_.clear();
    row.cells_.clear();
    std::int64_t previousRow = row.number_;
    Scanner::Tag tag;
    while (sheet_->next(tag, capture_, cellText_)) {
        const std::string_view name = tag.name;
        if (name == "c") {
            if (tag.kind == Scanner::Kind::End) {
                if (inCell_) {
                    finishCell(row);
                }
                continue;
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
            }
            if (tag.kind != Scanner::Kind::Start && !row.cells_.empty()) {
                return true;
            }
        }
    }
    return false;
}

} // namespace kartoma
