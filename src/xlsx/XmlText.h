#pragma once

#include <QString>
#include <QXmlStreamReader>

#include <string>
#include <string_view>

namespace kartoma {

/// Appends `utf8` as XML character data of a workbook cell, so that it reads back as itself:
/// & < > are escaped; CR is written as a character reference (a parser would fold a raw CR into LF);
/// characters XML 1.0 cannot carry (C0 controls but tab, LF and CR; U+FFFE, U+FFFF) are written in
/// the package's _xHHHH_ form, and an underscore that would read as such an escape is written as
/// _x005F_. Bytes that are not UTF-8 become U+FFFD.
void appendXmlCellText(std::string_view utf8, std::string& out);

/// Appends `text` escaped for an attribute value or element content (& < > " only).
void appendXmlEscaped(std::string_view text, std::string& out);
/// The same, as a string of its own.
QString xmlEscaped(QStringView text);

/// Inserts ` name="value"` (`attribute`, with its leading blank) after the tag name of the element that
/// `element` starts with, whatever prefix the name carries.
void insertAttribute(std::string& element, std::string_view attribute);

/// The code unit of the package's escape "_xHHHH_" at `text[i]`, or -1 when there is none. With
/// `capitalX`, "_XHHHH_" is taken for one too (a writer escapes what any reader might take for one).
int cellEscapeAt(std::string_view text, std::size_t i, bool capitalX = false);

/// The schema's order of a worksheet's children: true when an element named `name` comes after
/// (`worksheetChildAfter`) or before (`worksheetChildBefore`) the element `element`. Unknown names
/// come neither before nor after anything.
bool worksheetChildAfter(std::string_view name, std::string_view element);
bool worksheetChildBefore(std::string_view name, std::string_view element);

/// True when the text needs xml:space="preserve" to keep its blanks (leading or trailing white space).
bool needsSpacePreserve(std::string_view utf8);

/// Where the element whose start (or end) tag `reader` just read begins in `text`, the document it
/// reads: the last "<" before the reader's position (a tag holds no other "<").
qsizetype tagStart(const QString& text, const QXmlStreamReader& reader);

/// The reader every part of a package is read with. Parts are written by programs and never need a
/// document type: one is refused, since its entities could make a small part expand and other
/// applications would not read what is filled from it. Nesting deeper than any real part would only
/// cost memory, and an element with thousands of attributes time (each is compared with the ones
/// before it), so both are refused too.
class XmlReader : public QXmlStreamReader {
public:
    static constexpr int kMaxDepth = 256;
    static constexpr int kMaxAttributes = 1024;

    XmlReader() = default;
    explicit XmlReader(const QByteArray& data);
    explicit XmlReader(const QString& data);
    /// Hands the reader more of the document.
    void addData(const QString& data);
    TokenType readNext();

private:
    /// Counts the attributes of the tags in `text`, carrying over what a piece leaves open.
    template <typename Char> void scan(const Char* text, qsizetype size);

    /// Where the scan is: in text, just after "<", in a tag, after "<!", or in a comment, a CDATA
    /// section, a processing instruction or a declaration (which hold no attributes).
    enum class Scan { Text, Open, Tag, Bang, Comment, CData, Instruction, Declaration };

    int depth_ = 0;
    Scan scan_ = Scan::Text;
    char16_t quote_ = 0;
    char16_t last_[2] = {0, 0}; // the two characters before, to see where a comment or section ends
    int attributes_ = 0;
    bool tooManyAttributes_ = false;
};

/// The reader's error as "broken XML at line N: reason".
QString xmlErrorText(const QXmlStreamReader& reader);

} // namespace kartoma
