#include "SheetReader.h"

#include "Failure.h"
#include "PackageParts.h"
#include "Utf8.h"
#include "CellReference.h"
#include "XmlScanner.h"
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


/// Reads one part of the package token by token, inflating it in pieces as the tokenizer asks.
class SheetReader::Scanner {
public:
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

    /// The next token, never NeedData nor Invalid (broken XML throws).
    XmlScanner::Token next() {
        for (;;) {
            const XmlScanner::Token token = xml_.next();
            if (token == XmlScanner::Token::NeedData) {
                fill();
            } else if (token == XmlScanner::Token::Invalid) {
                broken(xml_.errorString().c_str());
            } else {
                return token;
            }
        }
    }

    /// Appends the text just read to `text` (entities undone); `tooLong` is thrown when `text` would
    /// grow beyond `limit` bytes.
    template <typename TooLong> void appendText(std::string& text, std::size_t limit, const TooLong& tooLong) {
        // Undoing entities only shrinks a text: checked before, it never outgrows the limit.
        if (text.size() + xml_.rawText().size() > limit) {
            tooLong();
        }
        if (!xml_.appendText(text)) {
            broken(xml_.errorString().c_str());
        }
    }

    const XmlScanner& xml() const { return xml_; }
    std::uint64_t bytesRead() const { return inflated_; }

    [[noreturn]] void broken(const char* reason, FailureCode code = FailureCode::TemplateInvalid) const {
        throw Failure(code, book_,
                            QStringLiteral("%1: %2").arg(QString::fromStdString(part_), QString::fromUtf8(reason)));
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
    /// Hands the tokenizer the next piece, or tells it the part has ended.
    void fill() {
        if (keepGoing_ && !keepGoing_()) {
            broken("stopped", FailureCode::Cancelled);
        }
        const std::size_t kept = xml_.pendingBytes();
        if (kept > kMaxPending) {
            broken("a tag longer than 16 MiB", FailureCode::CatalogueTooLarge);
        }
        // What is still unread is a tag that goes on: reading at least as much again keeps the
        // rescans of it linear in its length.
        const std::size_t piece = std::max(kChunk, kept);
        const zip_int64_t n = zip_fread(file_, xml_.dataSpace(piece), piece);
        if (n < 0) {
            throw Failure(FailureCode::TemplateInvalid, book_,
                                QStringLiteral("%1: %2").arg(QString::fromStdString(part_),
                                                             QString::fromUtf8(zip_file_strerror(file_))));
        }
        xml_.commitData(n > 0 ? static_cast<std::size_t>(n) : 0);
        inflated_ += static_cast<std::uint64_t>(n);
        if (n == 0) {
            xml_.finish();
        }
    }

    const QString& book_;
    std::string part_;
    const std::function<bool()>& keepGoing_;
    zip_file_t* file_ = nullptr;
    XmlScanner xml_{XmlScanner::Checking::Lenient};
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
    using Token = XmlScanner::Token;
    const XmlScanner& xml = scanner.xml();
    bool inItem = false;
    bool phonetic = false;
    bool capture = false;
    std::size_t start = 0;
    sharedStart_.clear();
    for (Token token = scanner.next(); token != Token::EndOfDocument; token = scanner.next()) {
        if (token == Token::Text) {
            if (capture) {
                scanner.appendText(sharedText_, static_cast<std::size_t>(limit), tooLong);
            }
        } else if (xml.name() == "si") {
            if (token != Token::EndElement) {
                if (sharedStart_.size() >= budget_.sharedCount) {
                    tooLarge(QStringLiteral("it has more than %1 shared strings").arg(budget_.sharedCount));
                }
                inItem = true;
                start = sharedText_.size();
                sharedStart_.push_back(start);
            }
            if (token != Token::StartElement) {
                inItem = false;
                undoCellEscapes(sharedText_, start);
            }
        } else if (xml.name() == "rPh") {
            phonetic = token == Token::StartElement;
        } else if (xml.name() == "t") {
            capture = inItem && !phonetic && token == Token::StartElement;
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
    const auto tooLong = [&] {
        tooLarge(QStringLiteral("a row holds more than %1 KiB").arg(budget_.rowBytes >> 10));
    };
    using Token = XmlScanner::Token;
    const XmlScanner& xml = sheet_->xml();
    for (Token token = sheet_->next(); token != Token::EndOfDocument; token = sheet_->next()) {
        if (token == Token::Text) {
            if (capture_) {
                sheet_->appendText(cellText_, budget_.rowBytes, tooLong);
            }
            continue;
        }
        const std::string_view name = xml.name();
        if (name == "c") {
            if (token == Token::EndElement) {
                if (inCell_) {
                    finishCell(row);
                }
                continue;
            }
            if (++cellsInRow_ > budget_.rowCells) {
                tooLarge(QStringLiteral("a row has more than %1 cells").arg(budget_.rowCells));
            }
            const int column = leadingColumn(xml.rawAttribute("r"));
            cellColumn_ = column >= 0 ? column : cellColumn_ + 1;
            if (token == Token::EmptyElement) {
                continue;
            }
            cellType_ = xml.rawAttribute("t");
            cellText_.clear();
            inCell_ = true;
            inPhonetic_ = false;
        } else if (name == "v") {
            capture_ = inCell_ && token == Token::StartElement;
        } else if (name == "t") {
            capture_ = inCell_ && !inPhonetic_ && token == Token::StartElement;
        } else if (name == "rPh") {
            inPhonetic_ = token == Token::StartElement;
        } else if (name == "row") {
            if (token != Token::EndElement) {
                row.number_ = wholeNumber(xml.rawAttribute("r"), previousRow + 1);
                previousRow = row.number_;
                cellColumn_ = -1;
                cellsInRow_ = 0;
            }
            if (token != Token::StartElement && !row.cells_.empty()) {
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
