#include "StylePart.h"

#include "XmlScanner.h"
#include "XmlText.h"

namespace kartoma {

namespace {

QString emptyElement(const QString& name, const std::vector<std::pair<QString, QString>>& attributes) {
    QString out = QLatin1Char('<') + name;
    for (const auto& [key, value] : attributes) {
        out += QLatin1Char(' ') + key + QStringLiteral("=\"") + xmlEscaped(value) + QLatin1Char('"');
    }
    return out + QStringLiteral("/>");
}

void setAttribute(std::vector<std::pair<QString, QString>>& attributes, const QString& key,
                  const QString& value) {
    for (auto& [k, v] : attributes) {
        if (k == key) {
            v = value;
            return;
        }
    }
    attributes.emplace_back(key, value);
}

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

/// The attributes of the element just read, but for namespace declarations.
std::vector<std::pair<QString, QString>> attributesOf(const XmlScanner& reader) {
    std::vector<std::pair<QString, QString>> list;
    for (const XmlScanner::Attribute& a : reader.attributes()) {
        if (a.qualifiedName != "xmlns" && !a.qualifiedName.starts_with("xmlns:")) {
            list.emplace_back(fromUtf8(a.qualifiedName), QString::fromStdString(XmlScanner::attributeValue(a.rawValue)));
        }
    }
    return list;
}

} // namespace

StylePart::Section* StylePart::sectionNamed(QStringView name) {
    return name == QLatin1String("fonts")     ? &fonts_
           : name == QLatin1String("fills")   ? &fills_
           : name == QLatin1String("borders") ? &borders_
           : name == QLatin1String("cellXfs") ? &xfs_
                                              : nullptr;
}

QString StylePart::Xf::attribute(const char* name) const {
    for (const auto& [key, value] : attributes) {
        if (key == QLatin1String(name)) {
            return value;
        }
    }
    return {};
}

QString StylePart::startTag(const QString& name, const Attributes& attributes) {
    QString out = emptyElement(name, attributes);
    out.chop(2);
    return out + QLatin1Char('>');
}

std::optional<StylePart> StylePart::parse(const QByteArray& xml, QString& error) {
    StylePart part;
    // Bytes that are not UTF-8 read as U+FFFD.
    part.text_ = QString::fromUtf8(xml).toUtf8();
    XmlScanner reader(XmlScanner::Checking::WellFormed);
    reader.addData(std::string_view(part.text_.constData(), static_cast<std::size_t>(part.text_.size())));
    reader.finish();
    const auto startOf = [&]() { return static_cast<qsizetype>(reader.tokenStart()); };
    const auto endOf = [&]() { return static_cast<qsizetype>(reader.offset()); };
    Section* section = nullptr;
    std::vector<Element>* font = nullptr;
    Xf* xf = nullptr;
    qsizetype xfInner = -1;
    int depth = 0;
    std::size_t kept = 0;
    using Token = XmlScanner::Token;
    Token token = Token::NeedData;
    while ((token = reader.next()) != Token::EndOfDocument && token != Token::Invalid) {
        if (token == Token::StartElement || token == Token::EmptyElement) {
            ++depth;
            const std::string_view name = reader.name();
            if (depth == 1 && name != "styleSheet") {
                error = QStringLiteral("not a style sheet");
                return std::nullopt;
            }
            if (depth == 2) {
                section = part.sectionNamed(fromUtf8(name));
                if (section != nullptr) {
                    section->name = fromUtf8(reader.qualifiedName());
                    section->attributes = attributesOf(reader);
                    section->begin = startOf();
                    section->childrenBegin = endOf();
                }
            } else if (((depth == 3 && section != nullptr) || (depth == 4 && font != nullptr)) &&
                       ++kept > kMaxKeptElements) {
                // Spreadsheet applications stop at some 65,000 cell styles; a part beyond them
                // would only cost memory.
                error = QStringLiteral("more than %1 style entries").arg(kMaxKeptElements);
                return std::nullopt;
            }
            if (depth == 3 && section != nullptr) {
                ++section->count;
                if (section == &part.fonts_) {
                    part.fontChildren_.emplace_back();
                    font = &part.fontChildren_.back();
                } else if (section == &part.xfs_) {
                    part.xfList_.push_back(Xf{attributesOf(reader), {}});
                    xf = &part.xfList_.back();
                    xfInner = endOf();
                }
            } else if (depth == 4 && font != nullptr) {
                font->push_back(Element{fromUtf8(reader.qualifiedName()), attributesOf(reader)});
            }
        }
        if (token == Token::EndElement || token == Token::EmptyElement) {
            if (depth == 2 && section != nullptr) {
                section->end = endOf();
                // A self-closing section has no end tag of its own.
                section->childrenEnd = std::max(startOf(), section->childrenBegin);
                section = nullptr;
            } else if (depth == 3) {
                if (xf != nullptr && startOf() >= xfInner) {
                    xf->inner = QString::fromUtf8(part.text_.mid(xfInner, startOf() - xfInner));
                }
                font = nullptr;
                xf = nullptr;
            }
            --depth;
        }
    }
    const bool complete = part.fonts_.begin >= 0 && part.fills_.begin >= 0 && part.borders_.begin >= 0 &&
                          part.xfs_.begin >= 0 && !part.xfList_.empty() && !part.fontChildren_.empty();
    if (token == Token::Invalid || !complete) {
        error = token == Token::Invalid ? QString::fromStdString(reader.errorText())
                                        : QStringLiteral("fonts, fills, borders or cell styles missing");
        return std::nullopt;
    }
    return part;
}

int StylePart::derive(int base, const Look& look) {
    if (base < 0 || base >= static_cast<int>(xfList_.size())) {
        base = 0;
    }
    if (look.plain()) {
        return base;
    }
    const auto key = std::make_pair(base, look);
    if (const auto it = derived_.find(key); it != derived_.end()) {
        return it->second;
    }
    Xf xf = xfList_[static_cast<std::size_t>(base)];

    if (look.fontSize >= 0 || look.flags >= 0) {
        int fontId = xf.attribute("fontId").toInt();
        if (fontId < 0 || fontId >= static_cast<int>(fontChildren_.size())) {
            fontId = 0;
        }
        QString font = QStringLiteral("<font>");
        const bool setStyle = look.flags >= 0;
        if (setStyle && (look.flags & 1)) {
            font += QStringLiteral("<b/>");
        }
        if (setStyle && (look.flags & 2)) {
            font += QStringLiteral("<i/>");
        }
        if (setStyle && (look.flags & 4)) {
            font += QStringLiteral("<u/>");
        }
        if (look.fontSize >= 0) {
            font += QStringLiteral("<sz val=\"%1\"/>").arg(look.fontSize);
        }
        for (const Element& child : fontChildren_[static_cast<std::size_t>(fontId)]) {
            const bool styleChild = child.name == QLatin1String("b") || child.name == QLatin1String("i") ||
                                    child.name == QLatin1String("u");
            if ((styleChild && setStyle) || (child.name == QLatin1String("sz") && look.fontSize >= 0)) {
                continue;
            }
            font += emptyElement(child.name, child.attributes);
        }
        fonts_.added += font + QStringLiteral("</font>");
        setAttribute(xf.attributes, QStringLiteral("fontId"), QString::number(fonts_.count + addedFonts_++));
        setAttribute(xf.attributes, QStringLiteral("applyFont"), QStringLiteral("1"));
    }
    if (look.fill > 0) {
        fills_.added += QStringLiteral("<fill><patternFill patternType=\"solid\"><fgColor indexed=\"%1\"/>"
                                       "<bgColor indexed=\"64\"/></patternFill></fill>")
                            .arg(look.fill);
        setAttribute(xf.attributes, QStringLiteral("fillId"), QString::number(fills_.count + addedFills_++));
        setAttribute(xf.attributes, QStringLiteral("applyFill"), QStringLiteral("1"));
    } else if (look.fill == 0) {
        setAttribute(xf.attributes, QStringLiteral("fillId"), QStringLiteral("0"));
    }
    if (look.flags >= 0 && (look.flags & 8)) {
        QString border = QStringLiteral("<border>");
        for (const char* side : {"left", "right", "top", "bottom"}) {
            border +=
                QStringLiteral("<%1 style=\"thin\"><color indexed=\"64\"/></%1>").arg(QLatin1String(side));
        }
        borders_.added += border + QStringLiteral("<diagonal/></border>");
        setAttribute(xf.attributes, QStringLiteral("borderId"),
                     QString::number(borders_.count + addedBorders_++));
        setAttribute(xf.attributes, QStringLiteral("applyBorder"), QStringLiteral("1"));
    }
    xfs_.added += startTag(QStringLiteral("xf"), xf.attributes) + xf.inner + QStringLiteral("</xf>");
    const int index = xfs_.count + addedXfs_++;
    derived_.emplace(key, index);
    return index;
}

QByteArray StylePart::text() const {
    if (!changed()) {
        return text_;
    }
    struct Piece {
        const Section* section;
        int added;
    };
    Piece pieces[] = {
        {&fonts_, addedFonts_}, {&fills_, addedFills_}, {&borders_, addedBorders_}, {&xfs_, addedXfs_}};
    std::sort(std::begin(pieces), std::end(pieces),
              [](const Piece& a, const Piece& b) { return a.section->begin < b.section->begin; });
    QByteArray out;
    qsizetype at = 0;
    for (const Piece& p : pieces) {
        const Section& s = *p.section;
        Attributes attributes = s.attributes;
        setAttribute(attributes, QStringLiteral("count"), QString::number(s.count + p.added));
        out += text_.mid(at, s.begin - at);
        out += startTag(s.name, attributes).toUtf8();
        out += text_.mid(s.childrenBegin, s.childrenEnd - s.childrenBegin);
        out += s.added.toUtf8();
        out += (QStringLiteral("</") + s.name + QLatin1Char('>')).toUtf8();
        at = s.end;
    }
    out += text_.mid(at);
    return out;
}

} // namespace kartoma
