#include "PrintParts.h"

#include "XmlText.h"

#include <QString>
#include <QXmlStreamReader>

#include <algorithm>
#include <vector>

namespace kartoma {

namespace {

/// Workbook elements that follow <calcPr>.
const char* const kAfterCalcPr[] = {"oleSize",       "customWorkbookViews", "pivotCaches",
                                    "smartTagPr",    "smartTagTypes",       "webPublishing",
                                    "fileRecoveryPr", "webPublishObjects",  "extLst"};

struct Element {
    QString name; ///< local name
    qsizetype begin = 0, end = 0;
};

/// The children of a document's root element, with where each lies in `text`.
struct Outline {
    QString prefix;          ///< the root's namespace prefix, "" for none
    qsizetype rootEnd = -1;  ///< where the root's end tag begins
    std::vector<Element> children;
};

std::optional<Outline> outline(const QString& text) {
    Outline o;
    XmlReader reader(text);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            if (depth == 1) {
                o.prefix = reader.prefix().toString();
            } else if (depth == 2) {
                o.children.push_back(Element{reader.name().toString(), tagStart(text, reader), 0});
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (depth == 2) {
                o.children.back().end = reader.characterOffset();
            } else if (depth == 1) {
                o.rootEnd = tagStart(text, reader);
            }
            --depth;
        }
    }
    if (reader.hasError() || o.rootEnd < 0) {
        return std::nullopt;
    }
    return o;
}

bool isOneOf(const QString& name, std::span<const char* const> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == QLatin1String(n); });
}

/// Where a new child goes: before the first child (at or after `from`) that the schema puts after it
/// (`follows` says which), else before the root's end tag.
template <typename Follows> qsizetype insertionPoint(const Outline& o, std::size_t from, Follows follows) {
    for (std::size_t i = from; i < o.children.size(); ++i) {
        if (follows(o.children[i].name)) {
            return o.children[i].begin;
        }
    }
    return o.rootEnd;
}

QString qualified(const QString& prefix, const char* name) {
    return prefix.isEmpty() ? QLatin1String(name) : prefix + QLatin1Char(':') + QLatin1String(name);
}

struct Break {
    int id;
    bool manual;
    QString xml;
};

/// The <brk> children of a <rowBreaks> element, as written.
std::vector<Break> breaksIn(QStringView element) {
    std::vector<Break> list;
    const QString text = element.toString();
    XmlReader reader(text);
    // The element is read out of its document, so its prefix is not declared here.
    reader.setNamespaceProcessing(false);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement) {
            continue;
        }
        const QStringView name = reader.name();
        if (name != QLatin1String("brk") && !name.endsWith(QLatin1String(":brk"))) {
            continue;
        }
        const qsizetype begin = tagStart(text, reader);
        const QXmlStreamAttributes a = reader.attributes();
        const QStringView man = a.value(QLatin1String("man"));
        Break b{a.value(QLatin1String("id")).toInt(), man == QLatin1String("1") || man == QLatin1String("true"),
                QString()};
        reader.skipCurrentElement();
        b.xml = text.mid(begin, reader.characterOffset() - begin);
        list.push_back(std::move(b));
    }
    return list;
}

} // namespace

std::optional<std::string> tailWithRowBreaks(const std::string& head, const std::string& tail,
                                             std::span<const int> breaks) {
    const QString headText = QString::fromStdString(head);
    QString text = headText + QString::fromStdString(tail);
    const std::optional<Outline> o = outline(text);
    if (!o) {
        return std::nullopt;
    }
    const auto own = std::find_if(o->children.begin(), o->children.end(), [&](const Element& e) {
        return e.name == QLatin1String("rowBreaks") && e.begin >= headText.size();
    });
    std::vector<Break> all;
    if (own != o->children.end()) {
        all = breaksIn(QStringView(text).mid(own->begin, own->end - own->begin));
    }
    const QString brk = qualified(o->prefix, "brk");
    const std::size_t ownCount = all.size();
    for (const int row : breaks) {
        const bool taken = std::any_of(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(ownCount),
                                       [&](const Break& b) { return b.id == row; });
        if (!taken) {
            all.push_back(Break{row, true,
                                QStringLiteral("<%1 id=\"%2\" max=\"16383\" man=\"1\"/>").arg(brk).arg(row)});
        }
        if (all.size() >= ownCount + static_cast<std::size_t>(kMaxRowBreaks)) {
            break;
        }
    }
    std::stable_sort(all.begin(), all.end(), [](const Break& a, const Break& b) { return a.id < b.id; });
    if (all.size() > static_cast<std::size_t>(kMaxRowBreaks)) {
        all.resize(static_cast<std::size_t>(kMaxRowBreaks));
    }
    const QString name = qualified(o->prefix, "rowBreaks");
    QString element = QStringLiteral("<%1 count=\"%2\" manualBreakCount=\"%3\">")
                          .arg(name)
                          .arg(all.size())
                          .arg(std::count_if(all.begin(), all.end(), [](const Break& b) { return b.manual; }));
    for (const Break& b : all) {
        element += b.xml;
    }
    element += QStringLiteral("</%1>").arg(name);

    if (own != o->children.end()) {
        text.replace(own->begin, own->end - own->begin, element);
    } else {
        const auto firstInTail = std::find_if(o->children.begin(), o->children.end(),
                                              [&](const Element& e) { return e.begin >= headText.size(); });
        text.insert(insertionPoint(*o, static_cast<std::size_t>(firstInTail - o->children.begin()),
                                   [](const QString& name) { return worksheetChildAfter(name.toStdString(), "rowBreaks"); }),
                    element);
    }
    return QStringView(text).mid(headText.size()).toUtf8().toStdString();
}

std::optional<QByteArray> workbookWithFullCalcOnLoad(const QByteArray& workbook) {
    QString text = QString::fromUtf8(workbook);
    const std::optional<Outline> o = outline(text);
    if (!o) {
        return std::nullopt;
    }
    const auto own = std::find_if(o->children.begin(), o->children.end(),
                                  [](const Element& e) { return e.name == QLatin1String("calcPr"); });
    if (own == o->children.end()) {
        text.insert(insertionPoint(*o, 0, [](const QString& name) { return isOneOf(name, kAfterCalcPr); }),
                    QStringLiteral("<%1 fullCalcOnLoad=\"1\"/>").arg(qualified(o->prefix, "calcPr")));
        return text.toUtf8();
    }
    // The element rebuilt from what a reader sees of it: its name, namespace declarations and settings.
    const QString element = text.mid(own->begin, own->end - own->begin);
    XmlReader reader(element);
    reader.setNamespaceProcessing(false);
    while (reader.readNext() != QXmlStreamReader::StartElement && !reader.atEnd()) {
    }
    QString tag = QLatin1Char('<') + reader.qualifiedName().toString();
    for (const QXmlStreamAttribute& a : reader.attributes()) {
        if (a.qualifiedName() != QLatin1String("fullCalcOnLoad")) {
            tag += QStringLiteral(" %1=\"%2\"").arg(a.qualifiedName(), xmlEscaped(a.value()));
        }
    }
    tag += QStringLiteral(" fullCalcOnLoad=\"1\"/>");
    text.replace(own->begin, own->end - own->begin, tag);
    return text.toUtf8();
}

} // namespace kartoma
