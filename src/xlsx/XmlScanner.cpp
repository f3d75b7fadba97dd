#include "XmlScanner.h"

#include "Utf8.h"

#include <algorithm>
#include <cstdlib>
#include <cctype>
#include <cstring>

namespace kartoma {

namespace {

// A text is handed out up to an entity that may go on in the next piece; an entity longer than
// this is none, and is handed out to be refused when it is read.
constexpr std::size_t kLongestEntity = 64;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

/// XML's name characters: letters and those that may start a name, then digits, marks and a few more.
bool isNameChar(char32_t c, bool first) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':') {
        return true;
    }
    if ((c >= 0xC0 && c <= 0x2FF && c != 0xD7 && c != 0xF7) || (c >= 0x370 && c <= 0x1FFF && c != 0x37E) ||
        c == 0x200C || c == 0x200D || (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) ||
        (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
        (c >= 0x10000 && c <= 0xEFFFF)) {
        return true;
    }
    return !first && ((c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7 || (c >= 0x300 && c <= 0x36F) ||
                      c == 0x203F || c == 0x2040);
}

bool isName(std::string_view name) {
    std::size_t i = 0;
    while (i < name.size()) {
        const std::size_t at = i;
        if (!isNameChar(decodeUtf8(name, i), at == 0)) {
            return false;
        }
    }
    return !name.empty();
}

/// A name as namespaces allow it: at most one colon, and not at either end.
bool isQualifiedName(std::string_view name) {
    const std::size_t colon = name.find(':');
    return isName(name) && colon != 0 && colon + 1 != name.size() &&
           (colon == std::string_view::npos || name.find(':', colon + 1) == std::string_view::npos);
}

bool isXmlChar(unsigned long c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

/// Undoes the entities and character references of `raw`, appending to `out` when it is given.
/// Nothing on success, else why not. With `strict`, a reference must name a character XML allows.
const char* undoEntities(std::string_view raw, std::string* out, bool strict) {
    std::size_t from = 0;
    while (from < raw.size()) {
        const std::size_t amp = raw.find('&', from);
        const std::size_t stop = amp == std::string_view::npos ? raw.size() : amp;
        if (out != nullptr) {
            out->append(raw.substr(from, stop - from));
        }
        if (stop == raw.size()) {
            return nullptr;
        }
        const std::size_t semicolon = raw.find(';', stop);
        if (semicolon == std::string_view::npos) {
            return "an entity without its end";
        }
        const std::string_view entity = raw.substr(stop + 1, semicolon - stop - 1);
        char c = 0;
        if (entity == "amp") {
            c = '&';
        } else if (entity == "lt") {
            c = '<';
        } else if (entity == "gt") {
            c = '>';
        } else if (entity == "quot") {
            c = '"';
        } else if (entity == "apos") {
            c = '\'';
        } else if (entity.size() >= 2 && entity[0] == '#') {
            const bool hex = entity[1] == 'x' || entity[1] == 'X';
            const std::string digits(entity.substr(hex ? 2 : 1));
            char* end = nullptr;
            const unsigned long code = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
            const bool plain = std::all_of(digits.begin(), digits.end(), [&](char d) {
                return hex ? std::isxdigit(static_cast<unsigned char>(d)) != 0 : d >= '0' && d <= '9';
            });
            if (digits.empty() || *end != '\0' || code == 0 || code > 0x10FFFF ||
                (strict && (!plain || !isXmlChar(code)))) {
                return "a character reference that names no character";
            }
            if (out != nullptr) {
                encodeUtf8(static_cast<char32_t>(code), *out);
            }
        } else {
            return "an unknown entity";
        }
        if (c != 0 && out != nullptr) {
            *out += c;
        }
        from = semicolon + 1;
    }
    return nullptr;
}

/// The ">" that ends the tag whose name starts at `from`; quoted values may hold ">".
std::size_t tagEnd(std::string_view buffer, std::size_t from) {
    char quote = 0;
    for (std::size_t i = from; i < buffer.size(); ++i) {
        const char c = buffer[i];
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
    return std::string_view::npos;
}

std::string_view prefixOf(std::string_view qualifiedName) {
    const std::size_t colon = qualifiedName.find(':');
    return colon == std::string_view::npos ? std::string_view() : qualifiedName.substr(0, colon);
}

} // namespace

XmlScanner::XmlScanner(Checking checking) : checking_(checking) {}

void XmlScanner::addData(std::string_view bytes) {
    std::memcpy(dataSpace(bytes.size()), bytes.data(), bytes.size());
    commitData(bytes.size());
}

char* XmlScanner::dataSpace(std::size_t size) {
    if (pos_ > 0) {
        if (checking_ == Checking::WellFormed) {
            consumedLines_ += static_cast<std::uint64_t>(std::count(buffer_.begin(), buffer_.begin() + pos_, '\n'));
        }
        consumed_ += pos_;
        buffer_.erase(0, pos_);
        pos_ = 0;
    }
    filled_ = buffer_.size();
    buffer_.resize(filled_ + size);
    return buffer_.data() + filled_;
}

void XmlScanner::commitData(std::size_t size) {
    buffer_.resize(filled_ + size);
}

void XmlScanner::finish() {
    finished_ = true;
}

std::uint64_t XmlScanner::lineNumber() const {
    return 1 + consumedLines_ +
           static_cast<std::uint64_t>(std::count(buffer_.begin(), buffer_.begin() + pos_, '\n'));
}

std::string_view XmlScanner::prefix() const {
    return prefixOf(qualifiedName_);
}

XmlScanner::Token XmlScanner::fail(std::string reason) {
    if (error_.empty()) {
        error_ = std::move(reason);
    }
    return Token::Invalid;
}

XmlScanner::Token XmlScanner::needMore(const char* reason) {
    return finished_ ? fail(reason) : Token::NeedData;
}

bool XmlScanner::refuse(std::string reason) {
    fail(std::move(reason));
    return false;
}

std::string_view XmlScanner::namespaceOf(std::string_view prefix) const {
    for (auto p = prefixes_.rbegin(); p != prefixes_.rend(); ++p) {
        if (p->prefix == prefix) {
            return p->uri;
        }
    }
    return prefix == "xml" ? "http://www.w3.org/XML/1998/namespace" : std::string_view();
}

std::string XmlScanner::errorText() const {
    return "broken XML at line " + std::to_string(lineNumber()) + ": " + error_;
}

XmlScanner::Token XmlScanner::next() {
    if (emptyDeclared_) {
        while (!prefixes_.empty() && prefixes_.back().depth > depth_) {
            prefixes_.pop_back();
        }
        emptyDeclared_ = false;
    }
    if (consumed_ == 0 && pos_ == 0 && buffer_.starts_with("\xEF\xBB\xBF")) {
        pos_ = documentStart_ = 3; // a byte order mark
    }
    for (;;) {
        if (!error_.empty()) {
            return Token::Invalid;
        }
        tokenStart_ = pos_;
        if (pos_ == buffer_.size()) {
            if (!finished_) {
                return Token::NeedData;
            }
            if (checking_ == Checking::WellFormed && (!rootSeen_ || depth_ > 0)) {
                return fail("the document ends before its root element does");
            }
            return Token::EndOfDocument;
        }
        if (buffer_[pos_] != '<') {
            return readText();
        }
        if (pos_ + 1 < buffer_.size() && buffer_[pos_ + 1] != '?' && buffer_[pos_ + 1] != '!') {
            return readElement();
        }
        bool skipped = false;
        const Token token = readMarkup(skipped);
        if (!skipped) {
            return token;
        }
    }
}

XmlScanner::Token XmlScanner::readText() {
    const char* data = buffer_.data();
    const void* lt = std::memchr(data + pos_, '<', buffer_.size() - pos_);
    std::size_t end = lt != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lt) - data) : buffer_.size();
    if (lt == nullptr && !finished_) {
        // Well-formed checking stops short of the last two bytes, so that a character or "]]>"
        // that begins before them is checked whole.
        if (checking_ == Checking::WellFormed) {
            end -= std::min<std::size_t>(end, 2);
        }
        // Up to an entity that may go on in the next piece (or past that end).
        const std::size_t amp = end > pos_ ? buffer_.rfind('&', end - 1) : std::string::npos;
        if (amp != std::string::npos && amp >= pos_ && buffer_.size() - amp < kLongestEntity &&
            buffer_.find(';', amp) >= end) {
            end = amp;
        }
        if (end <= pos_) {
            return Token::NeedData;
        }
    }
    text_ = std::string_view(data + pos_, end - pos_);
    cdata_ = false;
    // A character or "]]>" that goes on past the piece is checked with the bytes that follow.
    const std::string_view around(data + pos_, std::min(buffer_.size(), end + 2) - pos_);
    pos_ = end;
    if (checking_ == Checking::WellFormed && !checkText(text_, false, around)) {
        return Token::Invalid;
    }
    return Token::Text;
}

XmlScanner::Token XmlScanner::readMarkup(bool& skipped) {
    const std::string_view rest = std::string_view(buffer_).substr(pos_);
    if (rest.size() < 2) {
        return needMore("the part ends inside a tag");
    }
    if (rest[1] != '?' && rest[1] != '!') {
        return readElement();
    }
    const auto skipTo = [&](std::string_view close, std::size_t openLength) {
        const std::size_t end = rest.find(close, openLength);
        if (end != std::string_view::npos) {
            pos_ += end + close.size();
        }
        return end;
    };
    const char* unfinished = "the part ends inside a comment or declaration";
    if (rest[1] == '?') {
        const std::size_t end = skipTo("?>", 2);
        if (end == std::string_view::npos) {
            return needMore(unfinished);
        }
        skipped = checking_ == Checking::Lenient || checkInstruction(rest.substr(2, end - 2));
        return Token::Invalid;
    }
    const std::string_view comment = "<!--", cdata = "<![CDATA[", doctype = "<!DOCTYPE";
    if (comment.starts_with(rest) || cdata.starts_with(rest) || doctype.starts_with(rest)) {
        return needMore(unfinished);
    }
    if (rest.starts_with(comment)) {
        const std::size_t end = skipTo("-->", 4);
        if (end == std::string_view::npos) {
            return needMore(unfinished);
        }
        if (checking_ == Checking::WellFormed && rest.substr(4, end - 4).find("--") != std::string_view::npos) {
            return fail("a comment that holds \"--\"");
        }
        skipped = true;
        return Token::NeedData;
    }
    if (rest.starts_with(cdata)) {
        const std::size_t end = skipTo("]]>", cdata.size());
        if (end == std::string_view::npos) {
            return needMore(unfinished);
        }
        text_ = rest.substr(cdata.size(), end - cdata.size());
        cdata_ = true;
        return checking_ == Checking::WellFormed && !checkText(text_, true, text_) ? Token::Invalid : Token::Text;
    }
    return fail(rest.starts_with(doctype) ? "a document type declaration, which workbook parts do not have"
                                              : "a declaration a part does not have");
}

XmlScanner::Token XmlScanner::readElement() {
    const std::size_t gt = tagEnd(buffer_, pos_ + 1);
    if (gt == std::string::npos) {
        return needMore("the part ends inside a tag");
    }
    std::string_view inside(buffer_.data() + pos_ + 1, gt - pos_ - 1);
    if (inside.empty() || inside == "/") {
        return fail("an empty tag");
    }
    Token token = Token::StartElement;
    if (inside.front() == '/') {
        token = Token::EndElement;
        inside.remove_prefix(1);
    } else if (inside.back() == '/') {
        token = Token::EmptyElement;
        inside.remove_suffix(1);
    }
    std::size_t nameEnd = 0;
    while (nameEnd < inside.size() && !isBlank(inside[nameEnd])) {
        ++nameEnd;
    }
    qualifiedName_ = inside.substr(0, nameEnd);
    name_ = qualifiedName_;
    for (std::size_t i = 0; i < nameEnd; ++i) {
        if (inside[i] == ':') {
            name_.remove_prefix(i + 1);
            break;
        }
    }
    attributeText_ = inside.substr(nameEnd);
    pos_ = gt + 1;
    if (checking_ == Checking::WellFormed &&
        !checkElement(token == Token::EndElement, token == Token::EmptyElement)) {
        return Token::Invalid;
    }
    depth_ += token == Token::StartElement ? 1 : token == Token::EndElement ? -1 : 0;
    return token;
}

std::string_view XmlScanner::rawAttribute(std::string_view localName) const {
    const std::string_view text = attributeText_;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
        const std::size_t nameStart = i;
        while (i < text.size() && text[i] != '=' && text[i] != ' ') {
            ++i;
        }
        std::string_view attribute = text.substr(nameStart, i - nameStart);
        while (i < text.size() && text[i] != '"' && text[i] != '\'') {
            ++i;
        }
        if (i >= text.size()) {
            break;
        }
        const char quote = text[i++];
        const std::size_t valueStart = i;
        while (i < text.size() && text[i] != quote) {
            ++i;
        }
        const std::string_view value = text.substr(valueStart, i - valueStart);
        ++i;
        if (const std::size_t colon = attribute.find(':'); colon != std::string_view::npos) {
            attribute.remove_prefix(colon + 1);
        }
        if (attribute == localName) {
            return value;
        }
    }
    return {};
}

bool XmlScanner::appendText(std::string& out) {
    if (cdata_) {
        out.append(text_);
        return true;
    }
    if (const char* why = undoEntities(text_, &out, checking_ == Checking::WellFormed)) {
        fail(why);
        return false;
    }
    return true;
}

std::string XmlScanner::attributeValue(std::string_view raw) {
    // Blanks written as such read as spaces (CR LF as one); those written as references stay.
    std::string value;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '&') {
            const std::size_t semicolon = raw.find(';', i);
            if (semicolon == std::string_view::npos) {
                break;
            }
            undoEntities(raw.substr(i, semicolon + 1 - i), &value, true);
            i = semicolon;
        } else if (raw[i] != '\r' || i + 1 == raw.size() || raw[i + 1] != '\n') {
            value += isBlank(raw[i]) ? ' ' : raw[i];
        }
    }
    return value;
}

bool XmlScanner::checkCharacters(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && !isBlank(static_cast<char>(c))) ||
            (c == 0xEF && i + 2 < text.size() && text[i + 1] == '\xBF' && (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE)) {
            return refuse("a character XML does not allow");
        }
    }
    return true;
}

bool XmlScanner::checkText(std::string_view text, bool cdata, std::string_view around) {
    if (depth_ == 0 && (cdata || !std::all_of(text.begin(), text.end(), isBlank))) {
        return refuse(rootSeen_ ? "text after the root element" : "text before the root element");
    }
    if (!checkCharacters(around)) {
        return false;
    }
    if (!cdata && around.find("]]>") != std::string_view::npos) {
        return refuse("\"]]>\" in a text");
    }
    if (const char* why = cdata ? nullptr : undoEntities(text, nullptr, true)) {
        return refuse(why);
    }
    return true;
}

bool XmlScanner::checkInstruction(std::string_view body) {
    std::size_t targetEnd = 0;
    while (targetEnd < body.size() && !isBlank(body[targetEnd])) {
        ++targetEnd;
    }
    const std::string_view target = body.substr(0, targetEnd);
    if (!isName(target) || target.find(':') != std::string_view::npos || !checkCharacters(body)) {
        return refuse("a processing instruction without a proper name");
    }
    if (target.size() != 3 || (target[0] | 0x20) != 'x' || (target[1] | 0x20) != 'm' || (target[2] | 0x20) != 'l') {
        return true;
    }
    if (tokenStart() > documentStart_ || target != "xml") {
        return refuse("an XML declaration after the start of the document");
    }
    // version="1.x", then perhaps encoding="name" and standalone="yes|no", in that order.
    attributeText_ = body.substr(targetEnd);
    if (!parseAttributes()) {
        return false;
    }
    const auto valueIs = [](std::string_view value, auto&& rule) { return !value.empty() && rule(value); };
    std::size_t next = 0;
    const auto take = [&](std::string_view name, auto&& rule) {
        if (next < attributes_.size() && attributes_[next].qualifiedName == name) {
            return valueIs(attributes_[next++].rawValue, rule);
        }
        return name != "version";
    };
    if (next == 0 && attributes_.size() > 1 && attributes_[1].qualifiedName == "encoding") {
        encoding_ = attributeValue(attributes_[1].rawValue);
    }
    const bool valid =
        take("version",
             [](std::string_view v) {
                 return v.size() > 2 && v.starts_with("1.") &&
                        std::all_of(v.begin() + 2, v.end(), [](char c) { return c >= '0' && c <= '9'; });
             }) &&
        take("encoding",
             [](std::string_view v) {
                 return std::isalpha(static_cast<unsigned char>(v[0])) != 0 &&
                        std::all_of(v.begin(), v.end(), [](char c) {
                            return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_' || c == '-';
                        });
             }) &&
        take("standalone", [](std::string_view v) { return v == "yes" || v == "no"; });
    if (!valid || next != attributes_.size()) {
        return refuse("an XML declaration that is not written as one");
    }
    // The bytes are read as UTF-8: a part that says otherwise would be copied on with a declaration
    // that no longer describes it.
    constexpr std::string_view utf8 = "utf-8";
    if (!encoding_.empty() && !std::equal(encoding_.begin(), encoding_.end(), utf8.begin(), utf8.end(),
                                          [](char a, char b) { return (a | 0x20) == b; })) {
        return refuse("an encoding other than UTF-8");
    }
    return true;
}

bool XmlScanner::checkElement(bool end, bool empty) {
    if (!isQualifiedName(qualifiedName_) || !checkCharacters(qualifiedName_) || !checkCharacters(attributeText_)) {
        fail("a tag without a proper name");
        return false;
    }
    if (end) {
        const std::string_view open =
            openStarts_.empty() ? std::string_view() : std::string_view(openNames_).substr(openStarts_.back());
        if (!std::all_of(attributeText_.begin(), attributeText_.end(), isBlank) || open != qualifiedName_) {
            fail("an end tag that does not match its start tag");
            return false;
        }
        openNames_.resize(openStarts_.back());
        openStarts_.pop_back();
        while (!prefixes_.empty() && prefixes_.back().depth >= depth_) {
            prefixes_.pop_back();
        }
        rootClosed_ = depth_ == 1;
        return true;
    }
    if (rootClosed_ || (depth_ == 0 && rootSeen_)) {
        fail("a second root element");
        return false;
    }
    if (depth_ + 1 > kMaxDepth) {
        fail("elements nested more than " + std::to_string(kMaxDepth) + " deep");
        return false;
    }
    rootSeen_ = true;
    if (!parseAttributes() || !checkNamespaces()) {
        return false;
    }
    if (empty) {
        // Its declarations go when the next token is read: until then they name its attributes.
        emptyDeclared_ = true;
        rootClosed_ = depth_ == 0;
    } else {
        openStarts_.push_back(openNames_.size());
        openNames_.append(qualifiedName_);
    }
    return true;
}

bool XmlScanner::parseAttributes() {
    attributes_.clear();
    const std::string_view text = attributeText_;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t before = i;
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
        if (i == text.size()) {
            break;
        }
        const std::size_t nameStart = i;
        while (i < text.size() && text[i] != '=' && !isBlank(text[i])) {
            ++i;
        }
        const std::string_view name = text.substr(nameStart, i - nameStart);
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
        if (nameStart == before || !isQualifiedName(name) || i + 1 >= text.size() || text[i] != '=') {
            fail("an attribute that is not written name=\"value\"");
            return false;
        }
        ++i;
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
        const char quote = i < text.size() ? text[i] : 0;
        const std::size_t close = quote == '"' || quote == '\'' ? text.find(quote, i + 1) : std::string_view::npos;
        if (close == std::string_view::npos) {
            fail("an attribute that is not written name=\"value\"");
            return false;
        }
        const std::string_view value = text.substr(i + 1, close - i - 1);
        i = close + 1;
        if (value.find('<') != std::string_view::npos) {
            return refuse("a \"<\" in an attribute value");
        }
        if (!checkCharacters(value)) {
            return false;
        }
        if (const char* why = undoEntities(value, nullptr, true)) {
            return refuse(why);
        }
        for (const Attribute& a : attributes_) {
            if (a.qualifiedName == name) {
                return refuse("an attribute given twice");
            }
        }
        if (attributes_.size() >= kMaxAttributes) {
            return refuse("an element with more than " + std::to_string(kMaxAttributes) + " attributes");
        }
        attributes_.push_back(Attribute{name, value});
    }
    return true;
}

bool XmlScanner::checkNamespaces() {
    const int depth = depth_ + 1;
    for (const Attribute& a : attributes_) {
        // The default namespace is kept as the empty prefix's.
        if (a.qualifiedName.starts_with("xmlns:") || a.qualifiedName == "xmlns") {
            const std::string_view prefix = a.qualifiedName.substr(std::min<std::size_t>(6, a.qualifiedName.size()));
            prefixes_.push_back(Prefix{std::string(prefix), attributeValue(a.rawValue), depth});
        }
    }
    const auto declared = [&](std::string_view prefix) {
        return prefix.empty() || prefix == "xml" || prefix == "xmlns" ||
               std::any_of(prefixes_.begin(), prefixes_.end(), [&](const Prefix& p) { return p.prefix == prefix; });
    };
    if (!declared(prefixOf(qualifiedName_))) {
        return refuse("the namespace prefix of an element is not declared");
    }
    for (const Attribute& a : attributes_) {
        if (!declared(prefixOf(a.qualifiedName))) {
            return refuse("the namespace prefix of an attribute is not declared");
        }
    }
    return true;
}

} // namespace kartoma
