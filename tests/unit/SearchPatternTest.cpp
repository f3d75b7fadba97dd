#include "SearchPattern.h"
#include "Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace kartoma {
namespace {

struct SearchCase {
    const char* pattern;
    const char* name;
    bool matches;
};

class SearchTable : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SearchTable, FindsWhatTheUserTyped) {
    const SearchCase& c = GetParam();
    const SearchPattern pattern(QString::fromUtf8(c.pattern));
    EXPECT_EQ(pattern.matches(QString::fromUtf8(c.name)), c.matches) << c.pattern << " ~ " << c.name;
    // The catalogue's UTF-8 names fold to the same form as text does.
    std::u32string folded;
    appendSearchFold(c.name, folded);
    EXPECT_EQ(folded, foldForSearch(QString::fromUtf8(c.name))) << c.name;
    EXPECT_EQ(pattern.matchesFolded(folded), c.matches) << c.pattern << " ~ " << c.name;
    // Plain text (stars at its ends aside) is matched by looking for its UTF-8 in the name's, as the
    // index does.
    if (pattern.isPlainText()) {
        std::string needle;
        std::string haystack;
        for (const char32_t ch : foldForSearch(QString::fromUtf8(c.pattern))) {
            if (ch != U'*') {
                encodeUtf8(ch, needle);
            }
        }
        for (const char32_t ch : folded) {
            encodeUtf8(ch, haystack);
        }
        EXPECT_EQ(haystack.find(needle) != std::string::npos, c.matches) << c.pattern << " ~ " << c.name;
    }
}

TEST(SearchPattern, OnlyTextWithoutWildcardsIsPlain) {
    for (const char* plain : {"交響曲", "", "ﾊﾝｶｸ", "*abc*"}) {
        EXPECT_TRUE(SearchPattern(QString::fromUtf8(plain)).isPlainText()) << plain;
    }
    for (const char* wild : {"*.txt", "a?c", "report#", "[a]", "a*b", "*ab"}) {
        EXPECT_FALSE(SearchPattern(QString::fromUtf8(wild)).isPlainText()) << wild;
    }
    EXPECT_FALSE(SearchPattern(QString(SearchPattern::kMaxLength + 1, QLatin1Char('a'))).isPlainText());
}

INSTANTIATE_TEST_SUITE_P(
    Folding, SearchTable,
    ::testing::Values(
        // A word without wildcards is found anywhere in the name.
        SearchCase{"交響曲", "交響曲第9番.mp3", true}, SearchCase{"第9", "交響曲第9番.mp3", true},
        SearchCase{"第8", "交響曲第9番.mp3", false}, SearchCase{"", "a.txt", true},
        // Width, kana and letter case, on either side.
        SearchCase{"ﾊﾝｶｸ", "ハンカク名.txt", true}, SearchCase{"はんかく", "ハンカク名.txt", true},
        SearchCase{"ハンカクカナ", "ﾊﾝｶｸｶﾅ.txt", true}, SearchCase{"１", "report1.txt", true},
        SearchCase{"1", "report１.txt", true}, SearchCase{"abc", "ABC.doc", true},
        SearchCase{"ａｂｃ", "Abc.doc", true}, SearchCase{"*.TXT", "a.txt", true},
        // What a CP932 catalogue stores for a character finds that character.
        SearchCase{"a〜b", "a～b.txt", true}, SearchCase{"a～b", "a〜b.txt", true}, SearchCase{"−1", "－1.txt", true},
        SearchCase{"‖", "∥.txt", true}, SearchCase{"—", "―.txt", true},
        SearchCase{"ΣΟΦΙΑ", "σοφια.txt", true}, SearchCase{"ゔぁ", "ヴァ.txt", true},
        SearchCase{"ｰ", "データ", true}, SearchCase{"a b", "a　b.txt", true},
        // Voiced marks join the kana before them, half-width or combining.
        SearchCase{"データ", "ﾃﾞｰﾀ.csv", true}, SearchCase{"ﾊﾟｿｺﾝ", "パソコン", true},
        SearchCase{"ガ", "カ\u3099イド", true}, SearchCase{"ﾞ", "ﾞ.txt", true},
        // Names that must not fold together: small kana, voicing, circled digits, spacing marks.
        SearchCase{"ア", "ァ.txt", false}, SearchCase{"ｧ", "ァ.txt", true}, SearchCase{"ア", "ｧ.txt", false},
        SearchCase{"ガ", "カ.txt", false}, SearchCase{"バ", "パ.txt", false}, SearchCase{"1", "①.txt", false},
        SearchCase{"テ゛", "デ.txt", false}, SearchCase{"ss", "ß.txt", false},
        // Wildcards, typed in either width, take the whole name.
        SearchCase{"*.txt", "a.txt.bak", false}, SearchCase{"＊.txt", "a.txt", true},
        SearchCase{"report#.txt", "report１.txt", true}, SearchCase{"[あ-ん]*", "カナ.txt", true},
        SearchCase{"[!a-c]*", "B.txt", false}, SearchCase{"a?c", "abc", true}, SearchCase{"a?c", "abcd", false},
        // Runs between stars: leftmost first, never overlapping the fixed ends.
        SearchCase{"a*b*c", "aXbYc", true}, SearchCase{"a*b*c", "aXbYcZ", false},
        SearchCase{"*ab", "aab", true}, SearchCase{"ab*ab", "ab", false}, SearchCase{"ab*ba", "aba", false},
        SearchCase{"ab*ba", "abba", true}, SearchCase{"*a?b*", "xaxxab", false},
        SearchCase{"*a?b*", "xaxbx", true}, SearchCase{"*", "", true}, SearchCase{"?*", "", false}));

TEST(SearchPattern, LongRunsAndLongNamesMatchInOneScan) {
    // Runs longer than one machine word carry their state across words.
    const QString run = QString(100, QLatin1Char('a')) + QLatin1Char('b');
    const QString name = QString(5000, QLatin1Char('a')) + QStringLiteral("b") + QString(5000, QLatin1Char('c'));
    EXPECT_TRUE(SearchPattern(run).matches(name));
    EXPECT_TRUE(SearchPattern(QStringLiteral("*") + run + QStringLiteral("c*")).matches(name));
    EXPECT_FALSE(SearchPattern(QStringLiteral("*") + run + QStringLiteral("b*")).matches(name));
    EXPECT_TRUE(SearchPattern(QStringLiteral("*") + QString(200, QLatin1Char('?')) + QStringLiteral("b*"))
                    .matches(name));
    // A pattern of the longest length is taken; one character more is refused and matches nothing.
    const QString longest(static_cast<qsizetype>(SearchPattern::kMaxLength), QChar(0x3042));
    EXPECT_FALSE(SearchPattern::tooLong(longest));
    EXPECT_TRUE(SearchPattern(longest).matches(QString(1500, QChar(0x30A2))));
    EXPECT_TRUE(SearchPattern::tooLong(longest + QLatin1Char('*')));
    EXPECT_FALSE(SearchPattern(longest + QLatin1Char('*')).matches(longest));
    // Characters beyond the first plane count once.
    EXPECT_FALSE(SearchPattern::tooLong(QString(1000, QLatin1Char('x')) + QString::fromUtf8("😀").repeated(24)));
}

} // namespace
} // namespace kartoma
