#pragma once

#include <QByteArray>
#include <QString>

#include <compare>
#include <cstddef>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace kartoma {

/// The workbook's style part, read so that new cell styles can be derived from existing ones and
/// appended; everything the template defines stays as it is.
class StylePart {
public:
    /// What a range's attributes ask for; -1 leaves that side of the base style alone.
    /// Look::flags bits, and the palette index of light grey.
    static constexpr int Bold = 1, Italic = 2, Underline = 4, Border = 8;
    static constexpr int LightGrey = 22;

    struct Look {
        int fontSize = -1; ///< points
        int flags = -1;    ///< 1 bold, 2 italic, 4 underline, 8 thin border on every side
        int fill = -1;     ///< palette index (8 to 63), 0 none
        bool plain() const { return fontSize < 0 && flags < 0 && fill < 0; }
        friend auto operator<=>(const Look&, const Look&) = default;
    };

    /// Reads the part; nothing when it is not a well-formed style sheet with fonts, fills, borders
    /// and cell styles. `error` says why.
    static std::optional<StylePart> parse(const QByteArray& xml, QString& error);

    /// The index of a cell style that is `base` with `look` applied; made on first use.
    int derive(int base, const Look& look);
    /// True once a style was derived: the part must then be written anew.
    bool changed() const { return addedXfs_ > 0; }
    /// The part with the derived styles appended.
    QByteArray text() const;

private:
    /// The most fonts, font properties and cell styles one part may hold.
    static constexpr std::size_t kMaxKeptElements = 1u << 18;

    using Attributes = std::vector<std::pair<QString, QString>>;
    struct Element {
        QString name;
        Attributes attributes;
    };
    struct Section {
        QString name;
        Attributes attributes;
        qsizetype begin = -1; ///< "<" of the start tag (bytes into the part, as all four)
        qsizetype childrenBegin = -1;
        qsizetype childrenEnd = -1; ///< "<" of the end tag (== childrenBegin when self-closing)
        qsizetype end = -1;         ///< after the end tag
        int count = 0;
        QString added;
    };
    struct Xf {
        Attributes attributes;
        QString inner;
        QString attribute(const char* name) const;
    };

    static QString startTag(const QString& name, const Attributes& attributes);
    /// The section a top-level element of that name is, if it is one this part rewrites.
    Section* sectionNamed(QStringView name);

    QByteArray text_; // the part as UTF-8
    Section fonts_, fills_, borders_, xfs_;
    std::vector<std::vector<Element>> fontChildren_;
    std::vector<Xf> xfList_;
    std::map<std::pair<int, Look>, int> derived_;
    int addedFonts_ = 0, addedFills_ = 0, addedBorders_ = 0, addedXfs_ = 0;
};

} // namespace kartoma
