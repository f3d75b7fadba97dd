#include "MemorySettingsStore.h"
#include "Startup.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace kartoma {
namespace {

using testing::MemorySettingsStore;

TEST(Settings, FirstRunGivesTheDefaultsAndReadsTheKeysInOrder) {
    MemorySettingsStore store;
    EXPECT_EQ(loadSettings(store), Settings{});
    EXPECT_EQ(store.asked,
              (QStringList{QStringLiteral("Kartoma/option/splash"), QStringLiteral("Kartoma/option/allTitle"),
                           QStringLiteral("Kartoma/option/oneTitle"), QStringLiteral("Kartoma/option/label"),
                           QStringLiteral("Kartoma/option/csv"), QStringLiteral("Kartoma/option/PageLN"),
                           QStringLiteral("Kartoma/option/Nest"), QStringLiteral("Kartoma/option/Folder")}));
}

TEST(Settings, StoredValuesAreTakenAsStoredWithoutRangeChecks) {
    MemorySettingsStore store;
    store.option(QStringLiteral("splash")) = QStringLiteral("False");
    store.option(QStringLiteral("allTitle")) = QStringLiteral("true");
    store.option(QStringLiteral("oneTitle")) = QStringLiteral("TRUE");
    store.option(QStringLiteral("label")) = QStringLiteral("0");
    store.option(QStringLiteral("csv")) = QStringLiteral("-1");
    store.option(QStringLiteral("PageLN")) = QStringLiteral("45");
    store.option(QStringLiteral("Nest")) = QStringLiteral("0");
    store.option(QStringLiteral("Folder")) = QStringLiteral("False");
    EXPECT_EQ(loadSettings(store), (Settings{.showSplash = false,
                                             .titleOnEveryPage = true,
                                             .titleOnFirstPage = true,
                                             .askForLabel = false,
                                             .saveAsCsv = true,
                                             .linesPerPage = 45,
                                             .depth = 0,
                                             .listFolders = true}));
}

TEST(Settings, TextsThatDoNotConvertTakeTheDefault) {
    MemorySettingsStore store;
    store.option(QStringLiteral("splash")) = QStringLiteral("yes");
    store.option(QStringLiteral("csv")) = QString();
    store.option(QStringLiteral("PageLN")) = QStringLiteral("40000");
    store.option(QStringLiteral("Nest")) = QStringLiteral("8x");
    store.option(QStringLiteral("Folder")) = QStringLiteral("1e999");
    store.option(QStringLiteral("label")) = QStringLiteral("NaN");
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
    MemorySettingsStore first;
    RecordingWindows a;
    startUp(first, a);
    EXPECT_EQ(a.shown, QStringList{QStringLiteral("splash")});

    MemorySettingsStore off;
    off.option(QStringLiteral("splash")) = QStringLiteral("False");
    RecordingWindows b;
    startUp(off, b);
    EXPECT_EQ(b.shown, QStringList{QStringLiteral("main")});
}

TEST(Settings, LibraryFolderIsTheStoredPathElseKartomaUnderDocuments) {
    MemorySettingsStore store;
    EXPECT_TRUE(libraryFolder(store).endsWith(QStringLiteral("/Kartoma")));
    EXPECT_EQ(libraryFolder(store), defaultLibraryFolder());
    saveLibraryFolder(store, QStringLiteral(" /media/catalogues/ "));
    EXPECT_EQ(libraryFolder(store), QStringLiteral("/media/catalogues"));
    saveLibraryFolder(store, QStringLiteral("  "));
    EXPECT_EQ(libraryFolder(store), defaultLibraryFolder());
}

} // namespace
} // namespace kartoma

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

namespace kartoma {
namespace {

TEST(QSettingsStore, TheSettingsFileIsReadOnceAndWrittenUnderItsOwnKeys) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral("Kartoma")));
    QFile ini(home.path() + QStringLiteral("/Kartoma/Kartoma.ini"));
    // A settings file as the program writes it; "Folder" means "leave folders out".
    const QByteArray written = "[option]\nFolder=False\nNest=3\nPageLN=55\nallTitle=True\ncsv=False\n"
                               "label=False\nlibrary=/media/catalogues\noneTitle=False\nsplash=False\n";
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(written);
    ini.close();
    const auto fileText = [&ini] {
        EXPECT_TRUE(ini.open(QIODevice::ReadOnly));
        const QByteArray text = ini.readAll();
        ini.close();
        return text;
    };

    QSettingsStore store;
    Settings s = loadSettings(store);
    EXPECT_EQ(s, (Settings{.showSplash = false,
                           .titleOnEveryPage = true,
                           .titleOnFirstPage = false,
                           .askForLabel = false,
                           .saveAsCsv = false,
                           .linesPerPage = 55,
                           .depth = 3,
                           .listFolders = true}));
    EXPECT_EQ(libraryFolder(store), QStringLiteral("/media/catalogues"));
    saveSettings(store, s);
    EXPECT_EQ(fileText(), written);
    s.listFolders = false;
    s.linesPerPage = 60;
    saveSettings(store, s);
    const QByteArray changed =
        QByteArray(written).replace("Folder=False", "Folder=True").replace("PageLN=55", "PageLN=60");
    EXPECT_EQ(fileText(), changed);
    // Key names keep their letter case.
    EXPECT_EQ(store.getSetting(kSettingsApp, kSettingsSection, QStringLiteral("folder"), QStringLiteral("x")),
              QStringLiteral("x"));

    // A store reads its file once: every later value comes from that reading, not from the disk.
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ini.write("[option]\nPageLN=99\nFolder=False\n");
    ini.close();
    EXPECT_EQ(loadSettings(store), s);
}

} // namespace
} // namespace kartoma
