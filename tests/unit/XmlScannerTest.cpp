#include "XmlScanner.h"

#include <gtest/gtest.h>

#include <string>

using kartoma::XmlScanner;

namespace {

/// The tokens of `xml` in short ("<a" start, "</a" end, "<a/" empty, "'text'" text as it reads), or
/// "refused: why"; fed in pieces of `piece` bytes.
std::string outline(std::string_view xml, XmlScanner::Checking checking, std::size_t piece) {
    XmlScanner scanner(checking);
    std::string out, text;
    std::size_t fed = 0;
    const auto flushText = [&] {
        if (!text.empty()) {
            out += "'" + text + "' ";
            text.clear();
        }
    };
    for (;;) {
        using Token = XmlScanner::Token;
        const Token token = scanner.next();
        if (token == Token::NeedData) {
            if (fed == xml.size()) {
                scanner.finish();
            } else {
                scanner.addData(xml.substr(fed, piece));
                fed = std::min(xml.size(), fed + piece);
            }
            continue;
        }
        if (token == Token::Text) {
            if (!scanner.appendText(text)) {
                return "refused: " + scanner.errorString();
            }
            continue;
        }
        flushText();
        if (token == Token::Invalid) {
            return "refused: " + scanner.errorString();
        }
        if (token == Token::EndOfDocument) {
            return out;
        }
        const std::string name(scanner.qualifiedName());
        out += token == Token::StartElement ? "<" + name : token == Token::EndElement ? "</" + name : "<" + name + "/";
        out += " ";
    }
}

struct Case {
    const char* xml;
    const char* wellFormed; ///< the outline with well-formed checking; a leading "!" only says it is refused
    const char* lenient;    ///< the same, lenient; nullptr when it is the same as well-formed
};

const Case kCases[] = {
    {"<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<a x=\"1\"><!-- c --><b/>t&amp;&lt;&#x41;&#66;"
     "<![CDATA[<&>]]><?pi x?></a>",
     "'\n' <a <b/ 't&<AB<&>' </a ", "'\n' <a <b/ 't&<AB<&>' </a "},
    {"<x:a xmlns:x=\"u\"><x:b y:c=\"1\" xmlns:y=\"v\"/></x:a>", "<x:a <x:b/ </x:a ", nullptr},
    {"<a>\xE3\x81\x82</a>", "<a '\xE3\x81\x82' </a ", nullptr},
    // Refused by either.
    {"<!DOCTYPE a><a/>", "!", "!"},
    {"<a>&foo;</a>", "!", "!"},
    {"<a>&#0;</a>", "!", "!"},
    {"<a", "!", "!"},
    {"<a><!-- open", "!", "!"},
    // Refused only where the XML must be well formed.
    {"<a></b>", "!", "<a </b "},
    {"<a><b></a>", "!", "<a <b </a "},
    {"<a>", "!", "<a "},
    {"<a/><b/>", "!", "<a/ <b/ "},
    {"text<a/>", "!", "'text' <a/ "},
    {"<a b=\"1\"c=\"2\"/>", "!", "<a/ "},
    {"<a b=\"1\" b=\"2\"/>", "!", "<a/ "},
    {"<a b=1/>", "!", "<a/ "},
    {"<a $b=\"1\"/>", "!", "<a/ "},
    {"<a b=\"<\"/>", "!", "<a/ "},
    {"<a>\x01</a>", "!", "<a '\x01' </a "},
    {"<a>\xEF\xBF\xBE</a>", "!", "<a '\xEF\xBF\xBE' </a "},
    {"<a>&#xFFFE;</a>", "!", "<a '\xEF\xBF\xBE' </a "},
    {"<a>]]></a>", "!", "<a ']]>' </a "},
    {"<x:a/>", "!", "<x:a/ "},
    {"<a><!-- a -- b --></a>", "!", "<a </a "},
    {"<a/><?xml version=\"1.0\"?>", "!", "<a/ "},
    {"<?xml version=\"2\"?><a/>", "!", "<a/ "},
    {"<?xml encoding=\"UTF-8\" version=\"1.0\"?><a/>", "!", "<a/ "},
    {"<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>", "!", "<a/ "},
    {"<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>", "<a/ ", nullptr},
};

TEST(XmlScanner, TokensAndRefusalsFedWholeOrByteByByte) {
    for (const Case& c : kCases) {
        for (const bool wellFormed : {true, false}) {
            const char* expected = wellFormed || c.lenient == nullptr ? c.wellFormed : c.lenient;
            const auto checking = wellFormed ? XmlScanner::Checking::WellFormed : XmlScanner::Checking::Lenient;
            for (const std::size_t piece : {std::size_t{1}, std::size_t{4096}}) {
                const std::string got = outline(c.xml, checking, piece);
                if (expected[0] == '!') {
                    EXPECT_TRUE(got.starts_with("refused: ")) << c.xml << " (" << wellFormed << ", " << piece << ") " << got;
                } else {
                    EXPECT_EQ(got, expected) << c.xml << " (" << wellFormed << ", " << piece << ")";
                }
            }
        }
    }
}

TEST(XmlScanner, AnAttributeValueReadsWithItsEntitiesUndoneAndItsLineBreaksAsBlanks) {
    EXPECT_EQ(XmlScanner::attributeValue("a&amp;b\r\n\tc&#10;&#x3042;"), "a&b  c\n\xE3\x81\x82");
}

TEST(XmlScanner, NestingAndAttributesBeyondAnyPartAreRefused) {
    std::string deep;
    for (int i = 0; i <= XmlScanner::kMaxDepth; ++i) {
        deep += "<a>";
    }
    std::string wide = "<a";
    for (int i = 0; i <= XmlScanner::kMaxAttributes; ++i) {
        wide += " a" + std::to_string(i) + "=\"\"";
    }
    wide += "/>";
    for (const std::string& xml : {deep, wide}) {
        EXPECT_TRUE(outline(xml, XmlScanner::Checking::WellFormed, 4096).starts_with("refused: ")) << xml.substr(0, 20);
    }
}

} // namespace
