#include "XmlText.h"

#include "Utf8.h"



namespace kartoma {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void appendEscapeCode(char32_t c, std::string& out) {
    out += "_x";
    out += kHex[(c >> 12) & 0xF];
    out += kHex[(c >> 8) & 0xF];
    out += kHex[(c >> 4) & 0xF];
    out += kHex[c & 0xF];
    out += '_';
}

/// A worksheet's children in the schema's order.
const char* const kWorksheetChildren[] = {
    "sheetPr",         "dimension",       "sheetViews",       "sheetFormatPr",   "cols",
    "sheetData",       "sheetCalcPr",     "sheetProtection",  "protectedRanges", "scenarios",
    "autoFilter",      "sortState",       "dataConsolidate",  "customSheetViews", "mergeCells",
    "phoneticPr",      "conditionalFormatting", "dataValidations", "hyperlinks", "printOptions",
    "pageMargins",     "pageSetup",       "headerFooter",     "rowBreaks",       "colBreaks",
    "customProperties", "cellWatches",    "ignoredErrors",    "smartTags",       "drawing",
    "legacyDrawing",   "legacyDrawingHF", "drawingHF",        "picture",         "oleObjects",
    "controls",        "webPublishItems", "tableParts",       "extLst"};

/// The place of `name` among a worksheet's children; -1 when it is none of them.
int worksheetPlace(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kWorksheetChildren); ++i) {
        if (name == kWorksheetChildren[i]) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char lower = static_cast<char>(c | 0x20);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

/// Appends the entity of a character that markup reserves; false for any other character.
bool appendEntity(char c, std::string& out) {
    switch (c) {
    case '&':
        out += "&amp;";
        return true;
    case '<':
        out += "&lt;";
        return true;
    case '>':
        out += "&gt;";
        return true;
    default:
        return false;
    }
}

} // namespace

int cellEscapeAt(std::string_view text, std::size_t i, bool capitalX) {
    if (i + 7 > text.size() || text[i] != '_' || !(text[i + 1] == 'x' || (capitalX && text[i + 1] == 'X')) ||
        text[i + 6] != '_') {
        return -1;
    }
    int unit = 0;
    for (std::size_t k = i + 2; k < i + 6; ++k) {
        const int digit = hexValue(text[k]);
        if (digit < 0) {
            return -1;
        }
        unit = unit * 16 + digit;
    }
    return unit;
}

bool worksheetChildAfter(std::string_view name, std::string_view element) {
    const int place = worksheetPlace(name);
    return place >= 0 && place > worksheetPlace(element);
}

bool worksheetChildBefore(std::string_view name, std::string_view element) {
    const int place = worksheetPlace(name);
    return place >= 0 && place < worksheetPlace(element);
}

void appendXmlCellText(std::string_view text, std::string& out) {
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b >= 0x80) {
            const std::size_t start = i;
            const char32_t c = decodeUtf8(text, i);
            if (c == 0xFFFD && !(i - start == 3 && static_cast<unsigned char>(text[start]) == 0xEF)) {
                out += "\xEF\xBF\xBD";
            } else if (c == 0xFFFE || c == 0xFFFF) {
                appendEscapeCode(c, out);
            } else {
                out.append(text.substr(start, i - start));
            }
            continue;
        }
        ++i;
        if (appendEntity(static_cast<char>(b), out)) {
            continue;
        }
        switch (b) {
        case '\r':
            out += "&#13;";
            break;
        case '\t':
        case '\n':
            out += static_cast<char>(b);
            break;
        case '_':
            if (cellEscapeAt(text, i - 1, true) >= 0) {
                appendEscapeCode(U'_', out);
            } else {
                out += '_';
            }
            break;
        default:
            if (b < 0x20) {
                appendEscapeCode(b, out);
            } else {
                out += static_cast<char>(b);
            }
        }
    }
}

void appendXmlEscaped(std::string_view text, std::string& out) {
    for (const char c : text) {
        if (appendEntity(c, out)) {
            continue;
        }
        if (c == '"') {
            out += "&quot;";
        } else {
            out += c;
        }
    }
}

QString xmlEscaped(QStringView text) {
    const QByteArray utf8 = text.toUtf8();
    std::string out;
    appendXmlEscaped(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), out);
    return QString::fromStdString(out);
}

void insertAttribute(std::string& element, std::string_view attribute) {
    const std::size_t nameEnd = element.find_first_of(" \t\r\n/>", 1);
    element.insert(nameEnd == std::string::npos ? element.size() : nameEnd, attribute);
}

bool needsSpacePreserve(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    return blank(text.front()) || blank(text.back());
}

} // namespace kartoma
