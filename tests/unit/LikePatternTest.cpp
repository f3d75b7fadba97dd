#include "LikePattern.h"

#include <gtest/gtest.h>

#include <string>

namespace kartoma {
namespace {

struct LikeCase {
    const char* pattern;
    const char* name;
    bool matches;
};

class LikeTable : public ::testing::TestWithParam<LikeCase> {};

TEST_P(LikeTable, MatchesAsTheFilterBoxRulesSay) {
    const LikeCase& c = GetParam();
    const LikePattern pattern(QString::fromUtf8(c.pattern));
    EXPECT_EQ(pattern.matches(QString::fromUtf8(c.name)), c.matches) << c.pattern << " ~ " << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, LikeTable,
    ::testing::Values(
        // The default pattern needs a dot; a single star takes everything.
        LikeCase{"*.*", "a.txt", true}, LikeCase{"*.*", "README", false}, LikeCase{"*.*", ".profile", true},
        LikeCase{"*.*", "", false}, LikeCase{"*", "README", true}, LikeCase{"*", "", true},
        // Letter case is ignored on both sides, for Japanese-page letters too.
        LikeCase{"*.TXT", "a.txt", true}, LikeCase{"*.txt", "B.TXT", true},
        LikeCase{"ｆｏｏ*", "ＦＯＯ.doc", true},
        // One character upper-cases to one: ß stays itself, so ? and [..] still take it.
        LikeCase{"STRAßE", "straße", true}, LikeCase{"straße", "STRASSE", false},
        LikeCase{"?.txt", "ß.txt", true}, LikeCase{"[ß]?", "ßx", true},
        // ? and # take exactly one character; # only a digit.
        LikeCase{"?.txt", "a.txt", true}, LikeCase{"?.txt", "ab.txt", false},
        LikeCase{"?.txt", ".txt", false}, LikeCase{"IMG####.jpg", "img0042.JPG", true},
        LikeCase{"IMG####.jpg", "img004x.jpg", false}, LikeCase{"?", "日", true}, LikeCase{"??", "😀", false},
        LikeCase{"?", "😀", true},
        // Lists, ranges and negation.
        LikeCase{"[abc]*", "b1", true}, LikeCase{"[abc]*", "d1", false}, LikeCase{"[a-c]x", "Bx", true},
        LikeCase{"[!a-c]x", "bx", false}, LikeCase{"[!a-c]x", "dx", true}, LikeCase{"[a-cx-z]", "y", true},
        LikeCase{"[-a]", "-", true}, LikeCase{"[a-]", "-", true}, LikeCase{"[z-a]", "m", false},
        LikeCase{"[あ-お]*", "いろは", true},
        // Special characters in brackets stand for themselves.
        LikeCase{"[*]", "*", true}, LikeCase{"[*]", "a", false}, LikeCase{"a[?]", "a?", true},
        LikeCase{"a[?]", "ab", false}, LikeCase{"[#]1", "#1", true}, LikeCase{"[[]x]", "[x]", true},
        // An unclosed bracket is itself; an empty list matches no character at all.
        LikeCase{"[abc", "[abc", true}, LikeCase{"a[]b", "ab", true},
        // The whole name must match the whole pattern.
        LikeCase{"a*", "ba", false}, LikeCase{"*a", "ab", false}, LikeCase{"a*b*c", "aXbYc", true},
        LikeCase{"a*b*c", "aXbYcZ", false}, LikeCase{"**a**", "xax", true}, LikeCase{"*ab", "aab", true},
        LikeCase{"*a?c*", "abxabc", true}));

TEST(LikePattern, ManyStarsAgainstALongNameDoNotBacktrackExponentially) {
    QString pattern;
    for (int i = 0; i < 30; ++i) {
        pattern += QStringLiteral("*a");
    }
    pattern += QStringLiteral("*b");
    const LikePattern like(pattern);
    const QString name(255, QLatin1Char('a'));
    // An exponential matcher would not finish this within the test's lifetime.
    EXPECT_FALSE(like.matches(name));
    EXPECT_TRUE(like.matches(name + QStringLiteral("b")));
}

TEST(LikePattern, InvalidUtf8DecodesAsReplacementCharacters) {
    const LikePattern one(QStringLiteral("a?b"));
    EXPECT_TRUE(one.matchesUpperUtf8("A\xFF"
                                     "B"));
    EXPECT_FALSE(one.matchesUpperUtf8("A\xFF\xFE"
                                      "B"));
    EXPECT_TRUE(LikePattern(QStringLiteral("*")).matchesUpperUtf8("\xFF\xFE"));
    EXPECT_FALSE(LikePattern(QStringLiteral("*.*")).matchesUpperUtf8("\xFF\xFE"));
}

} // namespace
} // namespace kartoma
