#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kartoma {

/// A template sheet part taken apart for filling: the XML before and after its rows, the rows the
/// template holds itself, and the columns' default styles.
class SheetTemplate {
public:
    struct Cell {
        int column;
        int style;       ///< its s attribute, 0 when none
        std::string xml; ///< the whole <c> element, as the template has it (with its reference)
    };
    struct Row {
        int row;                                             ///< zero-based
        std::vector<std::pair<QString, QString>> attributes; ///< all but r and spans, in order
        std::vector<Cell> cells;                             ///< in column order
    };

    /// Reads up to `size` bytes of the part into `data`: the count, 0 at its end, -1 on failure.
    using PartReader = std::function<qint64(char* data, qint64 size)>;

    /// Takes the sheet apart as it is read, never holding the whole part: the rows between its head
    /// and tail are dropped once taken apart, and what is kept is capped. Nothing when the XML is not
    /// a well-formed worksheet or exceeds the caps; `error` says why.
    static std::optional<SheetTemplate> parse(const PartReader& read, QString& error);
    static std::optional<SheetTemplate> parse(const QByteArray& xml, QString& error);

    const std::vector<Row>& rows() const { return rows_; }
    /// The default style of a zero-based column (from <cols>), 0 when it has none.
    int columnStyle(int column) const;

    /// The prefix of the worksheet's elements with its colon ("x:"), empty when the sheet uses the
    /// default namespace: every element written into the sheet carries it.
    const std::string& elementPrefix() const { return prefix_; }

    /// The height of rows that name none, from <sheetFormatPr>; nothing when the sheet gives none.
    std::optional<double> defaultRowHeight() const { return defaultRowHeight_; }

    /// The XML before the rows, with the used range set to `dimension` ("A1:G100"). With `dimensionAt`,
    /// the used range's element is padded with blanks to the width of the largest one, and
    /// `*dimensionAt` is where it begins: it can be replaced in place once the range is known.
    std::string head(const std::string& dimension, std::size_t* dimensionAt = nullptr) const;
    /// The used range's element, padded as head() pads it with `dimensionAt`.
    std::string dimensionElement(const std::string& dimension) const;
    /// The XML after the rows; with `footer` set, the page footer becomes it (in the package's form,
    /// such as "&R&P/&N"), any page header of the template kept.
    std::string tail(const std::optional<QString>& footer) const;

private:
    class Reader;

    static constexpr qint64 kChunkBytes = 64 * 1024;
    static constexpr std::size_t kDropBytes = 1u << 20;
    static constexpr std::size_t kMaxKeptBytes = 32u << 20;
    static constexpr std::size_t kMaxKeptRowBytes = 64u << 20;
    static constexpr std::size_t kMaxTokenBytes = 2u << 20;
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    /// A template is a page or two of titles and looks; more cells than this (empty ones included,
    /// which cost reading time though nothing is kept of them) is not one.
    static constexpr std::uint64_t kMaxCells = 2'000'000;

    std::string text_; // the part as UTF-8, but for its rows
    std::string prefix_;
    std::size_t dimensionStart_ = kNone, dimensionEnd_ = kNone; // the <dimension> element, if any
    std::size_t dimensionInsert_ = kNone;                       // where one goes when there is none
    std::size_t rowsStart_ = 0, rowsEnd_ = 0;                   // <sheetData>...</sheetData>, replaced whole
    std::size_t footerStart_ = kNone, footerEnd_ = kNone;       // the <headerFooter> element, if any
    std::size_t footerInsert_ = kNone;                          // where one goes when there is none
    std::string oddHeader_;                                     // the template's own page header element
    struct ColumnStyle {
        int first, last, style;
    };
    std::vector<ColumnStyle> columns_;
    std::optional<double> defaultRowHeight_;
    std::vector<Row> rows_;
};

} // namespace kartoma
