#pragma once

#include "Utf8.h"

#include <QString>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kartoma {

/// A pattern with the rules of the filter box, read into one element per character of a name (a
/// star: any number of them). Both name patterns are read by it, each after its own folding of
/// letters; see LikePattern for the rules.
struct LikeTokens {
    enum class Kind { Literal, AnyChar, Digit, Star, Set };
    struct Token {
        Kind kind;
        char32_t literal = 0;
        bool negated = false;
        std::size_t firstRange = 0;
        std::size_t rangeCount = 0;
    };

    /// Reads `pattern` (already folded as the names it is matched against); consecutive stars are one.
    explicit LikeTokens(std::u32string_view pattern);
    /// True when the one-character element `token` (not a star) takes the character `c`.
    bool takes(const Token& token, char32_t c) const;

    std::vector<Token> tokens;
    std::vector<std::pair<char32_t, char32_t>> ranges; ///< the lists' ranges, inclusive
};

/// A file-name pattern with the rules of the filter box, compiled once and matched against many names:
///
///   ?        any single character          #        any single digit 0-9
///   *        zero or more characters       [list]   any character in the list (a-z is a range)
///   [!list]  any character not in the list; anything else matches itself
///
/// The whole name must match the whole pattern; letter case is ignored (both sides are upper-cased).
/// A special character is matched literally by enclosing it in brackets: [*], [?], [#], [[].
/// A "[" without its "]" stands for itself. Matching takes time proportional to at most the name's
/// length times the pattern's, whatever the number of stars: there is no exponential backtracking.
class LikePattern {
public:
    explicit LikePattern(const QString& pattern);

    /// Matches a name that is already upper-cased and given as UTF-8 (the walk's sort key).
    bool matchesUpperUtf8(std::string_view upperName) const;
    /// Matches a name as it is; upper-cases it first.
    bool matches(const QString& name) const;

private:
    LikeTokens like_;
    bool matchesEverything_ = false;
};

} // namespace kartoma
