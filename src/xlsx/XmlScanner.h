#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kartoma {

/// A pull tokenizer of XML in UTF-8, fed in pieces: the one reader of every XML part of a package.
/// It hands out start, end and empty elements with the text of their attributes, and text (in
/// pieces, when a text goes on beyond what was fed); comments and processing instructions are
/// skipped, a CDATA section is text. A document type declaration is refused: parts never have one,
/// and the entities it could declare would let a small part expand.
///
/// Lenient checking knows just enough XML for reading rows fast: tags, entities and character
/// references in the texts asked for. Well-formed checking refuses what an XML parser refuses: end
/// tags that do not match, elements left open, a second root, undeclared namespace prefixes, bad or
/// repeated attributes, unknown entities, characters XML does not allow, and nesting or attributes
/// beyond what any part holds (`kMaxDepth`, `kMaxAttributes`).
///
/// Names, attribute texts and texts are views into the scanner's buffer: valid until the next call
/// of next() or addData().
class XmlScanner {
public:
    enum class Token {
        StartElement,
        EndElement,
        EmptyElement, ///< <a/>: a start and an end at once
        Text,
        NeedData,      ///< the buffer ends inside a token: addData() or finish(), then next() again
        EndOfDocument,
        Invalid        ///< errorString() says why; next() returns it from now on
    };
    enum class Checking { Lenient, WellFormed };

    static constexpr int kMaxDepth = 256;
    static constexpr int kMaxAttributes = 1024;

    explicit XmlScanner(Checking checking);

    /// Hands the scanner the next bytes of the document.
    void addData(std::string_view bytes);
    /// The same without a copy: room for `size` more bytes, to be written and then committed with
    /// commitData() (at most `size`; 0 adds nothing).
    char* dataSpace(std::size_t size);
    void commitData(std::size_t size);
    /// Says that nothing follows what was added: a token left open is then an error.
    void finish();
    /// The next token.
    Token next();

    /// The element just read: its name as written ("x:c"), without its prefix ("c"), its prefix ("x",
    /// empty when none), and the text of its attributes as written.
    std::string_view qualifiedName() const { return qualifiedName_; }
    std::string_view name() const { return name_; }
    std::string_view prefix() const;
    std::string_view attributeText() const { return attributeText_; }
    /// The value of the element's attribute called `localName` (whatever its prefix) as written, its
    /// entities not undone; empty when there is none.
    std::string_view rawAttribute(std::string_view localName) const;

    /// The attributes of the element just read, with their values as written. Only with
    /// well-formed checking; empty otherwise.
    struct Attribute {
        std::string_view qualifiedName, rawValue;
    };
    const std::vector<Attribute>& attributes() const { return attributes_; }
    /// An attribute value as it reads: entities undone, line breaks and tabs written as such become
    /// blanks. `raw` must have passed well-formed checking.
    static std::string attributeValue(std::string_view raw);

    /// The text (or text piece) just read, as written.
    std::string_view rawText() const { return text_; }
    /// Appends the text just read to `out` as it reads (entities undone); false on an entity that
    /// names nothing, and then errorString() says why.
    bool appendText(std::string& out);

    /// Where in the document the token just read begins and ends (bytes from the start).
    std::uint64_t tokenStart() const { return consumed_ + tokenStart_; }
    std::uint64_t offset() const { return consumed_ + pos_; }
    /// Bytes fed but not yet read: a token that goes on beyond them.
    std::size_t pendingBytes() const { return buffer_.size() - pos_; }
    /// The encoding the XML declaration names, empty when it names none. The scanner reads UTF-8
    /// whatever it says; well-formed checking refuses a declaration of any other.
    const std::string& declaredEncoding() const { return encoding_; }
    /// Elements open around the position read.
    int depth() const { return depth_; }

    /// With well-formed checking, the namespace that `prefix` names where the scanner stands (on the
    /// element just read, its own declarations included), the default one for an empty prefix;
    /// empty when none.
    std::string_view namespaceOf(std::string_view prefix) const;

    const std::string& errorString() const { return error_; }
    /// The error as "broken XML at line N: why".
    std::string errorText() const;
    /// The line of the document where reading stopped, from 1.
    std::uint64_t lineNumber() const;

private:
    Token readText();
    Token readMarkup(bool& skipped);
    Token readElement();
    Token needMore(const char* reason);
    Token fail(std::string reason);
    bool refuse(std::string reason);
    bool checkCharacters(std::string_view text);
    bool checkInstruction(std::string_view body);
    bool checkElement(bool end, bool empty);
    bool parseAttributes();
    bool checkNamespaces();
    bool checkText(std::string_view text, bool cdata, std::string_view around);

    Checking checking_;
    std::string buffer_;
    std::size_t pos_ = 0;
    std::size_t filled_ = 0;
    std::size_t tokenStart_ = 0;
    std::uint64_t consumed_ = 0; // bytes dropped from the front of the buffer
    std::uint64_t consumedLines_ = 0;
    bool finished_ = false;
    std::string error_;
    std::string encoding_;

    std::string_view qualifiedName_, name_, attributeText_, text_;
    bool cdata_ = false;
    std::vector<Attribute> attributes_;

    // Well-formed checking: the names of the open elements, one after another, where each begins,
    // and the namespace prefixes declared with the depth that declared them.
    int depth_ = 0;
    std::string openNames_;
    std::vector<std::size_t> openStarts_;
    struct Prefix {
        std::string prefix, uri;
        int depth;
    };
    std::vector<Prefix> prefixes_;
    bool emptyDeclared_ = false;
    std::uint64_t documentStart_ = 0; // past a byte order mark
    bool rootSeen_ = false;
    bool rootClosed_ = false;
};

} // namespace kartoma
