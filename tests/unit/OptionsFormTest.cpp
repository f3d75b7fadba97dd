#include "OptionsForm.h"
#include "EraDate.h"
#include "SettingsStore.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QStringList>

#include <tuple>

namespace kartoma {
namespace {

using Boxes = std::tuple<bool, bool, bool>; // every-page title, first-page title, CSV

Boxes boxes(const OptionsForm& f) {
    return {f.checked(OptionsForm::AllTitle), f.checked(OptionsForm::OneTitle), f.checked(OptionsForm::Csv)};
}

/// A form whose three output boxes are in `state`, reached through the loading path.
OptionsForm formIn(Boxes state) {
    Settings s;
    s.allTitle = std::get<0>(state) && !std::get<1>(state);
    s.oneTitle = std::get<1>(state);
    s.csv = std::get<2>(state);
    if (state == Boxes{false, false, false}) {
        s.allTitle = s.oneTitle = s.csv = false;
    }
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
                         ::testing::Values(ClickCase{{T, F, F}, OptionsForm::AllTitle, {F, T, F}},
                                           ClickCase{{T, F, F}, OptionsForm::OneTitle, {F, T, F}},
                                           ClickCase{{T, F, F}, OptionsForm::Csv, {F, T, T}},
                                           ClickCase{{F, T, F}, OptionsForm::AllTitle, {T, F, F}},
                                           ClickCase{{F, T, F}, OptionsForm::OneTitle, {T, F, F}},
                                           ClickCase{{F, T, F}, OptionsForm::Csv, {F, T, T}},
                                           ClickCase{{F, T, T}, OptionsForm::AllTitle, {T, F, F}},
                                           ClickCase{{F, T, T}, OptionsForm::OneTitle, {T, F, F}},
                                           ClickCase{{F, T, T}, OptionsForm::Csv, {F, T, F}},
                                           ClickCase{{F, F, F}, OptionsForm::AllTitle, {T, F, F}},
                                           ClickCase{{F, F, F}, OptionsForm::OneTitle, {F, T, F}},
                                           ClickCase{{F, F, F}, OptionsForm::Csv, {F, T, T}}));

struct LoadCase {
    bool allTitle, oneTitle, csv;
    Boxes shown;
};

class LoadingShows : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadingShows, TheBoxesAfterLoading) {
    const LoadCase& c = GetParam();
    Settings s;
    s.allTitle = c.allTitle;
    s.oneTitle = c.oneTitle;
    s.csv = c.csv;
    EXPECT_EQ(boxes(OptionsForm(s, QString())), c.shown);
}

INSTANTIATE_TEST_SUITE_P(Table, LoadingShows,
                         ::testing::Values(LoadCase{T, F, F, {T, F, F}}, LoadCase{F, T, F, {F, T, F}},
                                           LoadCase{F, F, T, {F, T, T}}, LoadCase{T, F, T, {F, T, T}},
                                           LoadCase{T, T, T, {F, T, T}}, LoadCase{T, T, F, {F, T, F}},
                                           LoadCase{F, F, F, {F, F, F}}));

class WritesStore final : public SettingsStore {
public:
    QString getSetting(const QString&, const QString&, const QString&, const QString& d) override {
        return d;
    }
    void saveSetting(const QString&, const QString&, const QString& key, const QString& value) override {
        writes.append(key + QLatin1Char('=') + value);
    }
    QStringList writes;
};

TEST(OptionsForm, OkAppliesTheFormAndWritesTheEightKeysInOrder) {
    Settings s;
    s.pageLN = 45; // outside the box's range: handed over as it is
    QString filter = QStringLiteral("*.*");
    OptionsForm form(s, filter);
    EXPECT_EQ(form.pageLines(), 45);
    form.setFilter(QStringLiteral("  *.Txt  "));
    form.setPageLines(60.5);
    form.setDepth(2.5);
    form.click(OptionsForm::Csv);
    WritesStore store;
    form.apply(s, filter, store);
    EXPECT_EQ(filter, QStringLiteral("*.Txt"));
    EXPECT_TRUE(s.csv);
    EXPECT_FALSE(s.oneTitle);
    EXPECT_FALSE(s.allTitle);
    EXPECT_EQ(s.pageLN, 60); // half to even
    EXPECT_EQ(s.nest, 2);
    EXPECT_EQ(store.writes, (QStringList{QStringLiteral("splash=True"), QStringLiteral("PageLN=60"),
                                         QStringLiteral("Nest=2"), QStringLiteral("csv=True"),
                                         QStringLiteral("oneTitle=False"), QStringLiteral("allTitle=False"),
                                         QStringLiteral("label=True"), QStringLiteral("Folder=True")}));

    // Blanks only: the default pattern. No output box checked: the three options stay as they were.
    Settings none;
    none.allTitle = none.oneTitle = none.csv = false;
    OptionsForm empty(none, QString());
    empty.setFilter(QStringLiteral("   "));
    none.csv = true; // what it was "before"
    empty.apply(none, filter, store);
    EXPECT_EQ(filter, QStringLiteral("*.*"));
    EXPECT_TRUE(none.csv);
}

TEST(OptionsForm, TheLibraryFolderIsSavedOnlyWhenEdited) {
    const struct {
        QString typed;
        QString written; ///< the ninth write; empty: none
    } cases[] = {
        {QStringLiteral("/data/カタログ"), QString()}, // as shown: nothing written
        {QStringLiteral("  /data/new/ "), QStringLiteral("library=/data/new")},
        {QStringLiteral("Catalogues"),
         QStringLiteral("library=") + QDir::homePath() + QStringLiteral("/Catalogues")},
        {QStringLiteral("~/目録"), QStringLiteral("library=") + QDir::homePath() + QStringLiteral("/目録")},
        {QStringLiteral("   "), QStringLiteral("library=")}, // back to the default
    };
    for (const auto& k : cases) {
        Settings s;
        QString filter;
        OptionsForm form(s, filter);
        form.showLibraryFolder(QStringLiteral("/data/カタログ"));
        form.setLibraryFolder(k.typed);
        WritesStore store;
        form.apply(s, filter, store);
        EXPECT_EQ(store.writes.size(), k.written.isEmpty() ? 8 : 9) << k.typed.toStdString();
        EXPECT_EQ(store.writes.value(8), k.written) << k.typed.toStdString();
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
