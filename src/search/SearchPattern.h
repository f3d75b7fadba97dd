#pragma once

#include "LikePattern.h"

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kartoma {

/// Appends the search form of `name` (UTF-8; a byte that is no UTF-8 reads as U+FFFD) to `out`: the
/// form under which names and search patterns are compared. It folds only what a reader takes for
/// the same text, one rule after the other:
///
///   - width: full-width ASCII and the ideographic space become ASCII (ＡＢＣ１ → ABC1), half-width
///     katakana and their signs become full-width (ﾊﾝｶｸ → ハンカク, ｰ → ー, ｧ → ァ), the other
///     half-width and full-width forms their ordinary characters (￥ → ¥);
///   - voiced marks: a kana followed by a voiced or semi-voiced mark (half-width ﾞ ﾟ, or combining
///     U+3099 U+309A) becomes the one voiced kana (ﾃﾞ → デ, ﾊﾟ → パ, カ + U+3099 → ガ); a mark with
///     no kana to join stays as it is;
///   - kana: hiragana become katakana (はんかく → ハンカク);
///   - letter case: each character's simple case folding (one character to one).
///
/// Nothing else is folded: small kana stay small (ア ≠ ァ), ① is not 1, ㈱ is not (株), ゛ is not
/// ﾞ, so names that differ for their reader never fold together. The form is a plain function of
/// the name; an index may store it and compare it with patterns folded the same way.
void appendSearchFold(std::string_view name, std::u32string& out);

/// The search form of `text` (see appendSearchFold).
std::u32string foldForSearch(QStringView text);

/// A search pattern, compiled once and matched against many folded names (appendSearchFold).
///
/// The pattern is folded as names are, then read with the filter box's rules (LikePattern): ?, *, #,
/// [list], [!list]. A pattern with none of * ? # [ (after folding: ＊ typed in full width is a star)
/// matches anywhere in the name, as *pattern* does. A pattern with any of them must match the whole
/// name.
///
/// Cost: the pattern is split at its stars; each run between two stars is looked for once, left to
/// right, by a bit-parallel scan, so matching takes time linear in the name times one machine word
/// per 64 characters of a run, whatever the pattern holds. A pattern longer than kMaxLength
/// characters is refused by the front ends (tooLong); given one anyway, it matches nothing.
class SearchPattern {
public:
    static constexpr std::size_t kMaxLength = 1024;
    /// True when `pattern` has more than kMaxLength characters.
    static bool tooLong(QStringView pattern);

    explicit SearchPattern(const QString& pattern);

    /// Matches a name already in its search form.
    bool matchesFolded(std::u32string_view folded) const;
    /// Matches a name as it is (folds it first).
    bool matches(QStringView name) const;
    /// True when the pattern is plain text (its search form holds none of * ? # [ but at its ends):
    /// it then matches exactly the names whose search form holds that text, in UTF-8 byte for byte.
    bool isPlainText() const;

private:
    /// The one-character elements between two stars, with Shift-And masks: bit i of a character's
    /// mask is set when element i takes it.
    struct Run {
        std::vector<LikeTokens::Token> tokens;
        std::size_t words = 0;                   ///< 64-bit words per mask
        std::vector<std::uint64_t> asciiMasks;   ///< the masks of the 128 ASCII characters
        std::vector<char32_t> literals;          ///< the other characters named in the run, sorted
        std::vector<std::uint64_t> literalMasks; ///< their masks, in that order
        std::vector<std::uint64_t> anyMask;      ///< the elements that take every character (?)
        std::vector<std::size_t> sets;           ///< where the lists are
    };
    Run makeRun(std::size_t first, std::size_t last) const;
    void maskOf(const Run& run, char32_t c, std::uint64_t* mask) const;
    bool matchesAt(const Run& run, std::u32string_view text, std::size_t at) const;
    /// The end of the leftmost place in text[from, limit) that `run` matches, or npos.
    std::size_t find(const Run& run, std::u32string_view text, std::size_t from, std::size_t limit) const;

    LikeTokens like_;
    std::vector<Run> runs_;
    bool anchoredStart_ = true; ///< the pattern does not start with a star
    bool anchoredEnd_ = true;   ///< the pattern does not end with a star
    bool refused_ = false;
    bool bracket_ = false; ///< the search form holds a [
};

} // namespace kartoma
