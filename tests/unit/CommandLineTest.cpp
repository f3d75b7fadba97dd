#include "CommandLine.h"

#include <gtest/gtest.h>

using kartoma::fitToColumns;

TEST(CommandLine, TheProgressLineFitsTheTerminalAsItShows) {
    struct Case {
        QString text;
        int width;
        QString fitted;
    };
    const Case cases[] = {
        {QStringLiteral("12 read  /media/disc"), 40, QStringLiteral("12 read  /media/disc")},
        {QStringLiteral("abcdefghij"), 7, QStringLiteral("abc…hij")},
        // Kana and kanji take two columns each: eight of them fill sixteen.
        {QStringLiteral("写真/旅行/京都/寺"), 9, QStringLiteral("写真…/寺")},
        {QStringLiteral("写真写真"), 8, QStringLiteral("写真写真")},
        // A character beyond the first plane is not split.
        {QStringLiteral("😀😀😀😀"), 5, QStringLiteral("😀…😀")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fitToColumns(c.text, c.width), c.fitted) << c.text.toStdString();
    }
}
