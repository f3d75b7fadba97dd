#include "NativePath.h"
#include "NameText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kartoma {
namespace {

std::string allBytes() {
    std::string bytes;
    for (int b = 1; b < 256; ++b) {
        bytes += static_cast<char>(b);
    }
    return bytes;
}

TEST(NativePath, EveryByteStringComesBackExactly) {
    const std::vector<std::string> inputs = {
        "",
        "/",
        "/home/user/list.csv",
        "caf\xC3\xA9",
        "emoji\xF0\x9F\x98\x80",
        "caf\xE9",                // Latin-1
        "\x93\xFA\x96{/\x83\x65", // CP932
        "bad\xFF\xFE",            // neither
        "\xED\xB2\x80",           // U+DC80 written as UTF-8: not UTF-8, must not pass for an escape
        "\xC0\xAF",               // overlong "/"
        "\xE3\x81",               // a character cut short
        "\xF0\x9F\x98\x80\x80",   // a whole character, then a stray continuation byte
        "\xF4\x90\x80\x80",       // above U+10FFFF
        "\xEF\xBF\xBD",           // U+FFFD itself stays one character
        allBytes(),
    };
    for (const std::string& bytes : inputs) {
        const QString path = fromNativePath(bytes);
        EXPECT_EQ(toNativePath(path), bytes) << bytes;
    }
    // Text that is UTF-8 reads as itself.
    EXPECT_EQ(fromNativePath("/tmp/\xE6\x97\xA5\xE6\x9C\xAC"), QStringLiteral("/tmp/日本"));
}

TEST(NativePath, APathIsShownAsItsNamesReadAndCountedOneByOne) {
    struct Case {
        std::string bytes;
        QString shown;
        std::uint64_t undecodable;
    };
    const std::vector<Case> cases = {
        {"/media/\xE6\x97\xA5\xE6\x9C\xAC", QStringLiteral("/media/日本"), 0},
        {"/media/caf\xE9/x", QStringLiteral("/media/caf\uFFFD/x"), 1},
        // A UTF-8 name beside a CP932 one: each is read as what it is.
        {"/\xE6\x97\xA5\xE6\x9C\xAC/\x93\xFA\x96{", QStringLiteral("/日本/日本"), 0},
        {"/\xFF/\x83\x65/\xFE", QStringLiteral("/\uFFFD/テ/\uFFFD"), 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pathText(c.bytes), c.shown) << c.bytes;
        EXPECT_EQ(readablePath(fromNativePath(c.bytes)), c.shown) << c.bytes;
        EXPECT_EQ(undecodableNamesIn(c.bytes), c.undecodable) << c.bytes;
    }
}

} // namespace
} // namespace kartoma
