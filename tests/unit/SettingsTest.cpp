#include "Settings.h"
#include "SettingsStore.h"
#include "Startup.h"

#include <gtest/gtest.h>

#include <QMap>
#include <QStringList>

namespace kartoma {
namespace {

/// A store in memory that records which keys were asked for, in order.
class MemoryStore final : public SettingsStore {
public:
    QString getSetting(const QString& app, const QString& section, const QString& key,
                       const QString& defaultValue) override {
        asked.append(app + QLatin1Char('/') + section + QLatin1Char('/') + key);
        return values.value(key, defaultValue);
    }
    void saveSetting(const QString&, const QString&, const QString& key, const QString& value) override {
        values.insert(key, value);
    }

    QMap<QString, QString> values;
    QStringList asked;
};

TEST(Settings, FirstRunGivesTheDefaultsAndReadsTheKeysInOrder) {
    MemoryStore store;
    const Settings s = loadSettings(store);
    EXPECT_EQ(s, Settings{});
    EXPECT_TRUE(s.splash);
    EXPECT_FALSE(s.allTitle);
    EXPECT_TRUE(s.oneTitle);
    EXPECT_TRUE(s.label);
    EXPECT_FALSE(s.csv);
    EXPECT_EQ(s.pageLN, 60);
    EXPECT_EQ(s.nest, 8);
    EXPECT_TRUE(s.folder);
    EXPECT_EQ(store.asked,
              (QStringList{QStringLiteral("Kartoma/option/splash"), QStringLiteral("Kartoma/option/allTitle"),
                           QStringLiteral("Kartoma/option/oneTitle"), QStringLiteral("Kartoma/option/label"),
                           QStringLiteral("Kartoma/option/csv"), QStringLiteral("Kartoma/option/PageLN"),
                           QStringLiteral("Kartoma/option/Nest"), QStringLiteral("Kartoma/option/Folder")}));
}

TEST(Settings, StoredValuesAreTakenAsStoredWithoutRangeChecks) {
    MemoryStore store;
    store.values = {{QStringLiteral("splash"), QStringLiteral("False")},
                    {QStringLiteral("allTitle"), QStringLiteral("true")},
                    {QStringLiteral("oneTitle"), QStringLiteral("TRUE")},
                    {QStringLiteral("label"), QStringLiteral("0")},
                    {QStringLiteral("csv"), QStringLiteral("-1")},
                    {QStringLiteral("PageLN"), QStringLiteral("45")},
                    {QStringLiteral("Nest"), QStringLiteral("0")},
                    {QStringLiteral("Folder"), QStringLiteral("False")}};
    const Settings s = loadSettings(store);
    EXPECT_FALSE(s.splash);
    EXPECT_TRUE(s.allTitle);
    EXPECT_TRUE(s.oneTitle);
    EXPECT_FALSE(s.label);
    EXPECT_TRUE(s.csv);
    EXPECT_EQ(s.pageLN, 45);
    EXPECT_EQ(s.nest, 0);
    EXPECT_FALSE(s.folder);
}

TEST(Settings, TextsThatDoNotConvertTakeTheDefault) {
    MemoryStore store;
    store.values = {{QStringLiteral("splash"), QStringLiteral("yes")},
                    {QStringLiteral("csv"), QString()},
                    {QStringLiteral("PageLN"), QStringLiteral("40000")},
                    {QStringLiteral("Nest"), QStringLiteral("8x")},
                    {QStringLiteral("Folder"), QStringLiteral("1e999")},
                    {QStringLiteral("label"), QStringLiteral("NaN")}};
    EXPECT_EQ(loadSettings(store), Settings{});
}

TEST(Settings, Conversions) {
    EXPECT_EQ(textToBoolean(QStringLiteral(" fAlSe ")), false);
    EXPECT_EQ(textToBoolean(QStringLiteral("2.5")), true);
    EXPECT_EQ(textToBoolean(QStringLiteral("0.0")), false);
    EXPECT_EQ(textToBoolean(QStringLiteral("Truth")), std::nullopt);
    EXPECT_EQ(textToInt16(QStringLiteral("60")), 60);
    EXPECT_EQ(textToInt16(QStringLiteral(" -7 ")), -7);
    EXPECT_EQ(textToInt16(QStringLiteral("60.5")), 60);
    EXPECT_EQ(textToInt16(QStringLiteral("61.5")), 62);
    EXPECT_EQ(textToInt16(QStringLiteral("32767")), 32767);
    EXPECT_EQ(textToInt16(QStringLiteral("-32768")), -32768);
    EXPECT_EQ(textToInt16(QStringLiteral("32768")), std::nullopt);
    EXPECT_EQ(textToInt16(QStringLiteral("0x10")), std::nullopt);
    EXPECT_EQ(textToInt16(QStringLiteral("+")), std::nullopt);
    EXPECT_EQ(booleanText(true), QStringLiteral("True"));
    EXPECT_EQ(booleanText(false), QStringLiteral("False"));
}

class RecordingWindows final : public StartupWindows {
public:
    void showSplash(const Settings&) override { shown.append(QStringLiteral("splash")); }
    void showMainWindow(const Settings&) override { shown.append(QStringLiteral("main")); }
    QStringList shown;
};

TEST(Startup, ShowsTheSplashOnlyWhenTheOptionIsOn) {
    MemoryStore first;
    RecordingWindows a;
    startUp(first, a);
    EXPECT_EQ(a.shown, QStringList{QStringLiteral("splash")});

    MemoryStore off;
    off.values.insert(QStringLiteral("splash"), QStringLiteral("False"));
    RecordingWindows b;
    startUp(off, b);
    EXPECT_EQ(b.shown, QStringList{QStringLiteral("main")});
}

TEST(Startup, SavedValuesAreReadBackUnderTheSameKeys) {
    MemoryStore store;
    store.saveSetting(kSettingsApp, kSettingsSection, QStringLiteral("Folder"), booleanText(false));
    store.saveSetting(kSettingsApp, kSettingsSection, QStringLiteral("Nest"), QString::number(3));
    const Settings s = loadSettings(store);
    EXPECT_FALSE(s.folder);
    EXPECT_EQ(s.nest, 3);
}

TEST(Settings, LibraryFolderIsTheStoredPathElseKartomaUnderDocuments) {
    MemoryStore store;
    EXPECT_TRUE(libraryFolder(store).endsWith(QStringLiteral("/Kartoma")));
    EXPECT_EQ(libraryFolder(store), defaultLibraryFolder());
    saveLibraryFolder(store, QStringLiteral(" /media/catalogues/ "));
    EXPECT_EQ(libraryFolder(store), QStringLiteral("/media/catalogues"));
    saveLibraryFolder(store, QStringLiteral("  "));
    EXPECT_EQ(libraryFolder(store), defaultLibraryFolder());
}

} // namespace
} // namespace kartoma

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

namespace kartoma {
namespace {

TEST(QSettingsStore, KeepsOneTextPerKeyInTheUsersIniFile) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
    QSettingsStore store;
    EXPECT_EQ(
        store.getSetting(kSettingsApp, kSettingsSection, QStringLiteral("PageLN"), QStringLiteral("60")),
        QStringLiteral("60"));
    store.saveSetting(kSettingsApp, kSettingsSection, QStringLiteral("PageLN"), QStringLiteral("55"));
    store.saveSetting(kSettingsApp, kSettingsSection, QStringLiteral("Folder"), QStringLiteral("False"));
    EXPECT_EQ(
        store.getSetting(kSettingsApp, kSettingsSection, QStringLiteral("PageLN"), QStringLiteral("60")),
        QStringLiteral("55"));
    // Key names keep their letter case.
    EXPECT_EQ(store.getSetting(kSettingsApp, kSettingsSection, QStringLiteral("folder"), QStringLiteral("x")),
              QStringLiteral("x"));

    QFile ini(home.path() + QStringLiteral("/Kartoma/Kartoma.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QByteArray text = ini.readAll();
    EXPECT_TRUE(text.contains("[option]"));
    EXPECT_TRUE(text.contains("Folder=False"));
    EXPECT_TRUE(text.contains("PageLN=55"));

    // A store reads its file once: every later value comes from that reading, not from the disk.
    QSettingsStore started;
    EXPECT_EQ(started.getSetting(kSettingsApp, kSettingsSection, QStringLiteral("PageLN"), {}),
              QStringLiteral("55"));
    ini.close();
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ini.write("[option]\nPageLN=99\nFolder=True\n");
    ini.close();
    EXPECT_EQ(started.getSetting(kSettingsApp, kSettingsSection, QStringLiteral("Folder"), {}),
              QStringLiteral("False"));
}

} // namespace
} // namespace kartoma
