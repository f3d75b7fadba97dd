#include "OptionsForm.h"
#include "EraDate.h"
#include "MemorySettingsStore.h"

#include <gtest/gtest.h>

#include <QDir>

#include <tuple>

namespace kartoma {
namespace {

using Boxes = std::tuple<bool, bool, bool>; // every-page title, first-page title, CSV

Boxes boxes(const OptionsForm& f) {
    return {f.checked(OptionsForm::TitleOnEveryPage), f.checked(OptionsForm::TitleOnFirstPage),
            f.checked(OptionsForm::Csv)};
}

/// A form whose three output boxes are in `state`, reached through the loading path.
OptionsForm formIn(Boxes state) {
    Settings s;
    s.titleOnEveryPage = std::get<0>(state) && !std::get<1>(state);
    s.titleOnFirstPage = std::get<1>(state);
    s.saveAsCsv = std::get<2>(state);
    OptionsForm f(s, QStringLiteral("*.*"));
    EXPECT_EQ(boxes(f), state);
    return f;
}

struct ClickCase {
    Boxes before;
    OptionsForm::Box clicked;
    Boxes after;
};

class OutputBoxClicks : public ::testing::TestWithParam<ClickCase> {};

TEST_P(OutputBoxClicks, OneClickHasTheNetEffectOfTheTable) {
    const ClickCase& c = GetParam();
    OptionsForm form = formIn(c.before);
    form.click(c.clicked);
    EXPECT_EQ(boxes(form), c.after);
}

constexpr bool T = true, F = false;
INSTANTIATE_TEST_SUITE_P(NetEffect, OutputBoxClicks,
                         ::testing::Values(ClickCase{{T, F, F}, OptionsForm::TitleOnEveryPage, {F, T, F}},
                                           ClickCase{{T, F, F}, OptionsForm::TitleOnFirstPage, {F, T, F}},
                                           ClickCase{{T, F, F}, OptionsForm::Csv, {F, T, T}},
                                           ClickCase{{F, T, F}, OptionsForm::TitleOnEveryPage, {T, F, F}},
                                           ClickCase{{F, T, F}, OptionsForm::TitleOnFirstPage, {T, F, F}},
                                           ClickCase{{F, T, F}, OptionsForm::Csv, {F, T, T}},
                                           ClickCase{{F, T, T}, OptionsForm::TitleOnEveryPage, {T, F, F}},
                                           ClickCase{{F, T, T}, OptionsForm::TitleOnFirstPage, {T, F, F}},
                                           ClickCase{{F, T, T}, OptionsForm::Csv, {F, T, F}},
                                           ClickCase{{F, F, F}, OptionsForm::TitleOnEveryPage, {T, F, F}},
                                           ClickCase{{F, F, F}, OptionsForm::TitleOnFirstPage, {F, T, F}},
                                           ClickCase{{F, F, F}, OptionsForm::Csv, {F, T, T}}));

struct LoadCase {
    bool titleOnEveryPage, titleOnFirstPage, csv;
    Boxes shown;
};

class LoadingShows : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadingShows, TheBoxesAfterLoading) {
    const LoadCase& c = GetParam();
    Settings s;
    s.titleOnEveryPage = c.titleOnEveryPage;
    s.titleOnFirstPage = c.titleOnFirstPage;
    s.saveAsCsv = c.csv;
    EXPECT_EQ(boxes(OptionsForm(s, QString())), c.shown);
}

INSTANTIATE_TEST_SUITE_P(Table, LoadingShows,
                         ::testing::Values(LoadCase{T, F, F, {T, F, F}}, LoadCase{F, T, F, {F, T, F}},
                                           LoadCase{F, F, T, {F, T, T}}, LoadCase{T, F, T, {F, T, T}},
                                           LoadCase{T, T, T, {F, T, T}}, LoadCase{T, T, F, {F, T, F}},
                                           LoadCase{F, F, F, {F, F, F}}));

using testing::MemorySettingsStore;

TEST(OptionsForm, OkAppliesTheFormAndStoresTheEightOptions) {
    Settings s;
    s.linesPerPage = 45; // outside the box's range: handed over as it is
    QString filter = QStringLiteral("*.*");
    OptionsForm form(s, filter);
    EXPECT_EQ(form.pageLines(), 45);
    EXPECT_TRUE(form.checked(OptionsForm::HideFolders));
    form.setFilter(QStringLiteral("  *.Txt  "));
    form.setPageLines(60.5);
    form.setDepth(2.5);
    form.click(OptionsForm::Csv);
    form.click(OptionsForm::HideFolders);
    MemorySettingsStore store;
    form.apply(s, filter, store);
    EXPECT_EQ(filter, QStringLiteral("*.Txt"));
    EXPECT_EQ(s, (Settings{.titleOnFirstPage = false,
                           .saveAsCsv = true,
                           .linesPerPage = 60, // half to even
                           .depth = 2,
                           .listFolders = true}));
    EXPECT_EQ(loadSettings(store), s);
    EXPECT_EQ(store.option(QStringLiteral("Folder")), QStringLiteral("False"));
    EXPECT_EQ(store.values.size(), 8); // the library folder was not edited

    // Blanks only: the default pattern. No output box checked: the three options stay as they were.
    Settings none;
    none.titleOnEveryPage = none.titleOnFirstPage = none.saveAsCsv = false;
    OptionsForm empty(none, QString());
    empty.setFilter(QStringLiteral("   "));
    none.saveAsCsv = true; // what it was "before"
    empty.apply(none, filter, store);
    EXPECT_EQ(filter, QStringLiteral("*.*"));
    EXPECT_TRUE(none.saveAsCsv);
}

TEST(OptionsForm, TheLibraryFolderIsSavedOnlyWhenEdited) {
    const struct {
        QString typed;
        QString stored; ///< what the library key holds after OK; null: not written
    } cases[] = {
        {QStringLiteral("/data/カタログ"), QString()}, // as shown: nothing written
        {QStringLiteral("  /data/new/ "), QStringLiteral("/data/new")},
        {QStringLiteral("Catalogues"), QDir::homePath() + QStringLiteral("/Catalogues")},
        {QStringLiteral("~/目録"), QDir::homePath() + QStringLiteral("/目録")},
        {QStringLiteral("   "), QStringLiteral("")}, // back to the default
    };
    for (const auto& k : cases) {
        Settings s;
        QString filter;
        OptionsForm form(s, filter);
        form.showLibraryFolder(QStringLiteral("/data/カタログ"));
        form.setLibraryFolder(k.typed);
        MemorySettingsStore store;
        form.apply(s, filter, store);
        const QString key = MemorySettingsStore::path(kSettingsApp, kSettingsSection, kLibraryKey);
        EXPECT_EQ(store.values.contains(key), !k.stored.isNull()) << k.typed.toStdString();
        EXPECT_EQ(store.values.value(key), k.stored) << k.typed.toStdString();
    }
}

TEST(EraDate, NamesTheDayInTheJapaneseCalendar) {
    EXPECT_EQ(eraDateText(QDate(2026, 12, 8)), QStringLiteral("R081208"));
    EXPECT_EQ(eraDateText(QDate(2019, 5, 1)), QStringLiteral("R010501"));
    EXPECT_EQ(eraDateText(QDate(2019, 4, 30)), QStringLiteral("H310430"));
    EXPECT_EQ(eraDateText(QDate(1999, 5, 20)), QStringLiteral("H110520"));
    EXPECT_EQ(eraDateText(QDate(1989, 1, 8)), QStringLiteral("H010108"));
    EXPECT_EQ(eraDateText(QDate(1989, 1, 7)), QStringLiteral("S640107"));
    EXPECT_EQ(eraDateText(QDate(1926, 12, 25)), QStringLiteral("S011225"));
    EXPECT_EQ(eraDateText(QDate(1920, 1, 1)), QStringLiteral("T090101"));
    EXPECT_EQ(eraDateText(QDate(1900, 1, 1)), QStringLiteral("M330101"));
}

} // namespace
} // namespace kartoma
