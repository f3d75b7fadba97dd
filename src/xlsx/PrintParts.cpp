#include "PrintParts.h"

#include "XmlScanner.h"
#include "XmlText.h"

#include <QString>

#include <algorithm>
#include <vector>

namespace kartoma {

namespace {

/// Workbook elements that follow <calcPr>.
const char* const kAfterCalcPr[] = {"oleSize",       "customWorkbookViews", "pivotCaches",
                                    "smartTagPr",    "smartTagTypes",       "webPublishing",
                                    "fileRecoveryPr", "webPublishObjects",  "extLst"};

struct Break {
    int id;
    bool manual;
    std::string xml;
};

struct Element {
    std::string name; ///< local name
    std::size_t begin = 0, end = 0;
    std::string qualifiedName;
    std::vector<std::pair<std::string, std::string>> attributes; ///< namespace declarations among them
    std::vector<Break> breaks; ///< the <brk> elements within, as written
};

/// The children of a document's root element, with where each lies in `text`.
struct Outline {
    std::string prefix;                       ///< the root's namespace prefix, "" for none
    std::size_t rootEnd = std::string::npos;  ///< where the root's end tag begins
    std::vector<Element> children;
};

/// The <brk> element being read within a child: its depth (-1 when none) and where it begins.
struct BreakScan {
    int depth = -1;
    std::size_t begin = 0;
};

/// Notes a <brk> element at `depth` that begins (`end` false) or ends where `reader` stands.
void noteBreak(const XmlScanner& reader, const std::string& text, bool end, int depth, Element& child,
               BreakScan& scan) {
    if (!end && scan.depth < 0 && reader.name() == "brk") {
        const std::string man = XmlScanner::attributeValue(reader.rawAttribute("man"));
        const QString id = QString::fromStdString(XmlScanner::attributeValue(reader.rawAttribute("id")));
        child.breaks.push_back(Break{id.toInt(), man == "1" || man == "true", {}});
        scan = BreakScan{depth, static_cast<std::size_t>(reader.tokenStart())};
    }
    if (end && scan.depth == depth) {
        child.breaks.back().xml = text.substr(scan.begin, static_cast<std::size_t>(reader.offset()) - scan.begin);
        scan.depth = -1;
    }
}

std::optional<Outline> outline(const std::string& text) {
    Outline o;
    XmlScanner reader(XmlScanner::Checking::WellFormed);
    reader.addData(text);
    reader.finish();
    BreakScan scan;
    for (;;) {
        using Token = XmlScanner::Token;
        const Token token = reader.next();
        if (token == Token::Invalid) {
            return std::nullopt;
        }
        if (token == Token::EndOfDocument) {
            break;
        }
        // The depth counts the element just started, as for an end tag it still counts the one that ends.
        const int depth = reader.depth() + (token == Token::EndElement ? 1 : token == Token::EmptyElement ? 1 : 0);
        if ((token == Token::StartElement || token == Token::EmptyElement) && depth == 1) {
            o.prefix = std::string(reader.prefix());
        } else if ((token == Token::StartElement || token == Token::EmptyElement) && depth == 2) {
            Element e{std::string(reader.name()), static_cast<std::size_t>(reader.tokenStart()), 0,
                      std::string(reader.qualifiedName()), {}, {}};
            for (const XmlScanner::Attribute& a : reader.attributes()) {
                e.attributes.emplace_back(std::string(a.qualifiedName), XmlScanner::attributeValue(a.rawValue));
            }
            o.children.push_back(std::move(e));
        } else if (depth > 2 && !o.children.empty() && o.children.back().name == "rowBreaks" && token != Token::Text) {
            if (token != Token::EndElement) {
                noteBreak(reader, text, false, depth, o.children.back(), scan);
            }
            if (token != Token::StartElement) {
                noteBreak(reader, text, true, depth, o.children.back(), scan);
            }
        }
        if ((token == Token::EndElement || token == Token::EmptyElement) && depth == 2) {
            o.children.back().end = static_cast<std::size_t>(reader.offset());
        } else if ((token == Token::EndElement || token == Token::EmptyElement) && depth == 1) {
            o.rootEnd = static_cast<std::size_t>(reader.tokenStart());
        }
    }
    if (o.rootEnd == std::string::npos) {
        return std::nullopt;
    }
    return o;
}

bool isOneOf(std::string_view name, std::span<const char* const> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
}

/// Where a new child goes: before the first child (at or after `from`) that the schema puts after it
/// (`follows` says which), else before the root's end tag.
template <typename Follows> std::size_t insertionPoint(const Outline& o, std::size_t from, Follows follows) {
    for (std::size_t i = from; i < o.children.size(); ++i) {
        if (follows(o.children[i].name)) {
            return o.children[i].begin;
        }
    }
    return o.rootEnd;
}

std::string qualified(const std::string& prefix, const char* name) {
    return prefix.empty() ? std::string(name) : prefix + ':' + name;
}

} // namespace

std::optional<std::string> tailWithRowBreaks(const std::string& head, const std::string& tail,
                                             std::span<const int> breaks) {
    std::string text = head + tail;
    const std::optional<Outline> o = outline(text);
    if (!o) {
        return std::nullopt;
    }
    const auto own = std::find_if(o->children.begin(), o->children.end(), [&](const Element& e) {
        return e.name == "rowBreaks" && e.begin >= head.size();
    });
    std::vector<Break> all;
    if (own != o->children.end()) {
        all = own->breaks;
    }
    const std::string brk = qualified(o->prefix, "brk");
    const std::size_t ownCount = all.size();
    for (const int row : breaks) {
        const bool taken = std::any_of(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(ownCount),
                                       [&](const Break& b) { return b.id == row; });
        if (!taken) {
            all.push_back(Break{row, true, "<" + brk + " id=\"" + std::to_string(row) + "\" max=\"16383\" man=\"1\"/>"});
        }
        if (all.size() >= ownCount + static_cast<std::size_t>(kMaxRowBreaks)) {
            break;
        }
    }
    std::stable_sort(all.begin(), all.end(), [](const Break& a, const Break& b) { return a.id < b.id; });
    if (all.size() > static_cast<std::size_t>(kMaxRowBreaks)) {
        all.resize(static_cast<std::size_t>(kMaxRowBreaks));
    }
    const std::string name = qualified(o->prefix, "rowBreaks");
    std::string element = "<" + name + " count=\"" + std::to_string(all.size()) + "\" manualBreakCount=\"" +
                          std::to_string(std::count_if(all.begin(), all.end(), [](const Break& b) { return b.manual; })) +
                          "\">";
    for (const Break& b : all) {
        element += b.xml;
    }
    element += "</" + name + ">";

    if (own != o->children.end()) {
        text.replace(own->begin, own->end - own->begin, element);
    } else {
        const auto firstInTail = std::find_if(o->children.begin(), o->children.end(),
                                              [&](const Element& e) { return e.begin >= head.size(); });
        text.insert(insertionPoint(*o, static_cast<std::size_t>(firstInTail - o->children.begin()),
                                   [](std::string_view name) { return worksheetChildAfter(name, "rowBreaks"); }),
                    element);
    }
    return text.substr(head.size());
}

std::optional<QByteArray> workbookWithFullCalcOnLoad(const QByteArray& workbook) {
    // Bytes that are not UTF-8 read as U+FFFD.
    const QByteArray utf8 = QString::fromUtf8(workbook).toUtf8();
    std::string text(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    const std::optional<Outline> o = outline(text);
    if (!o) {
        return std::nullopt;
    }
    const auto own =
        std::find_if(o->children.begin(), o->children.end(), [](const Element& e) { return e.name == "calcPr"; });
    if (own == o->children.end()) {
        text.insert(insertionPoint(*o, 0, [](std::string_view name) { return isOneOf(name, kAfterCalcPr); }),
                    "<" + qualified(o->prefix, "calcPr") + " fullCalcOnLoad=\"1\"/>");
    } else {
        // The element rebuilt from what a reader sees of it: its name, namespace declarations and settings.
        std::string tag = "<" + own->qualifiedName;
        for (const auto& [key, value] : own->attributes) {
            if (key != "fullCalcOnLoad") {
                tag += " " + key + "=\"";
                appendXmlEscaped(value, tag);
                tag += '"';
            }
        }
        tag += " fullCalcOnLoad=\"1\"/>";
        text.replace(own->begin, own->end - own->begin, tag);
    }
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace kartoma
