#include "PrintParts.h"

#include <gtest/gtest.h>

#include <vector>

namespace kartoma {
namespace {

const std::string kHead = "<worksheet xmlns=\"m\"><sheetData>";

struct BreaksCase {
    const char* name;
    std::string head, tail;
    std::vector<int> breaks;
    std::string expected;
};

class RowBreaks : public ::testing::TestWithParam<BreaksCase> {};

TEST_P(RowBreaks, JoinTheSheetsOwnWhereTheSchemaWantsThem) {
    const BreaksCase& c = GetParam();
    const std::optional<std::string> tail = tailWithRowBreaks(c.head, c.tail, c.breaks);
    ASSERT_TRUE(tail);
    EXPECT_EQ(*tail, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tails, RowBreaks,
    ::testing::Values(
        BreaksCase{"AfterThePageSettings", kHead,
                   "</sheetData><pageMargins left=\"1\"/><headerFooter/></worksheet>", {60, 120},
                   "</sheetData><pageMargins left=\"1\"/><headerFooter/><rowBreaks count=\"2\" "
                   "manualBreakCount=\"2\"><brk id=\"60\" max=\"16383\" man=\"1\"/><brk id=\"120\" "
                   "max=\"16383\" man=\"1\"/></rowBreaks></worksheet>"},
        BreaksCase{"BeforeWhatFollowsThem", kHead,
                   "</sheetData><pageSetup/><colBreaks count=\"0\"/><drawing r:id=\"x\" "
                   "xmlns:r=\"r\"/></worksheet>",
                   {5},
                   "</sheetData><pageSetup/><rowBreaks count=\"1\" manualBreakCount=\"1\"><brk id=\"5\" "
                   "max=\"16383\" man=\"1\"/></rowBreaks><colBreaks count=\"0\"/><drawing r:id=\"x\" "
                   "xmlns:r=\"r\"/></worksheet>"},
        // The user's own breaks stay as written (an automatic one included), ours fill in around them.
        BreaksCase{"MergedWithTheSheetsOwn", kHead,
                   "</sheetData><rowBreaks count=\"2\" manualBreakCount=\"1\"><brk id=\"60\" man=\"1\"/>"
                   "<brk id=\"90\" max=\"255\"/></rowBreaks></worksheet>",
                   {30, 60, 120},
                   "</sheetData><rowBreaks count=\"4\" manualBreakCount=\"3\"><brk id=\"30\" max=\"16383\" "
                   "man=\"1\"/><brk id=\"60\" man=\"1\"/><brk id=\"90\" max=\"255\"/><brk id=\"120\" "
                   "max=\"16383\" man=\"1\"/></rowBreaks></worksheet>"},
        BreaksCase{"WithTheSheetsPrefix",
                   "<x:worksheet xmlns:x=\"m\"><x:sheetData>",
                   "</x:sheetData><x:pageSetup/></x:worksheet>",
                   {2},
                   "</x:sheetData><x:pageSetup/><x:rowBreaks count=\"1\" manualBreakCount=\"1\"><x:brk "
                   "id=\"2\" max=\"16383\" man=\"1\"/></x:rowBreaks></x:worksheet>"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RowBreaks, NoMoreThanASheetMayCarry) {
    std::vector<int> breaks;
    for (int i = 1; i <= 20000; ++i) {
        breaks.push_back(i * 50);
    }
    const std::string tail = *tailWithRowBreaks(kHead, "</sheetData></worksheet>", breaks);
    EXPECT_NE(tail.find("count=\"1023\""), std::string::npos);
    EXPECT_NE(tail.find("<brk id=\"51150\""), std::string::npos);
    EXPECT_EQ(tail.find("<brk id=\"51200\""), std::string::npos);
    EXPECT_FALSE(tailWithRowBreaks(kHead, "</sheetData></worksheet", breaks));
}

TEST(FullCalcOnLoad, IsAskedForKeepingTheOtherCalculationSettings) {
    const struct {
        const char* workbook;
        const char* expected;
    } cases[] = {
        {"<workbook xmlns=\"m\"><sheets/><definedNames/><extLst/></workbook>",
         "<workbook xmlns=\"m\"><sheets/><definedNames/><calcPr fullCalcOnLoad=\"1\"/><extLst/></workbook>"},
        {"<w:workbook xmlns:w=\"m\"><w:sheets/></w:workbook>",
         "<w:workbook xmlns:w=\"m\"><w:sheets/><w:calcPr fullCalcOnLoad=\"1\"/></w:workbook>"},
        {"<workbook xmlns=\"m\"><calcPr calcId=\"191029\" fullCalcOnLoad=\"0\" calcMode=\"manual\"></calcPr>"
         "<oleSize ref=\"A1\"/></workbook>",
         "<workbook xmlns=\"m\"><calcPr calcId=\"191029\" calcMode=\"manual\" fullCalcOnLoad=\"1\"/>"
         "<oleSize ref=\"A1\"/></workbook>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(workbookWithFullCalcOnLoad(c.workbook).value_or("broken").toStdString(), c.expected);
    }
    EXPECT_FALSE(workbookWithFullCalcOnLoad("<workbook><sheets></workbook>"));
}

} // namespace
} // namespace kartoma
