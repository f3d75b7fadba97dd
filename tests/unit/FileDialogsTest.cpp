#include "FileDialogs.h"
#include "Failure.h"
#include "Launcher.h"
#include "Presenters.h"
#include "ScriptedDialogs.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace kartoma {
namespace {

using testing::RecordingLauncher;
using testing::ScriptedDialogs;

struct SplitCase {
    const char* path;
    const char* drive;
    const char* folder;
    const char* base;
};

class SplitPathTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitPathTable, CutsDriveFolderAndBaseName) {
    const SplitCase& c = GetParam();
    const PathParts parts = splitPath(QString::fromUtf8(c.path));
    EXPECT_EQ(parts.drive, QString::fromUtf8(c.drive));
    EXPECT_EQ(parts.folder, QString::fromUtf8(c.folder));
    EXPECT_EQ(parts.baseName, QString::fromUtf8(c.base));
}

INSTANTIATE_TEST_SUITE_P(Paths, SplitPathTable,
                         ::testing::Values(SplitCase{"/app/H110520", "", "/app/", "H110520"},
                                           SplitCase{"/Tools 1.0/tmp", "", "/Tools 1.0/", "tmp"},
                                           SplitCase{"C:name.ext", "C:", "", "name"},
                                           SplitCase{"C:/APP/R081208", "C:", "/APP/", "R081208"},
                                           SplitCase{"//server/share/x", "", "//server/share/", "x"},
                                           SplitCase{"/data/list.backup.csv", "", "/data/", "list"},
                                           SplitCase{"plain", "", "", "plain"}, SplitCase{"/", "", "/", ""},
                                           SplitCase{"/フォルダ/日付.csv", "", "/フォルダ/", "日付"}));

class FileDialogsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString path(const char* name) const { return dir_.path() + QLatin1Char('/') + QLatin1String(name); }
    void makeFile(const char* name) {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QTemporaryDir dir_;
    ScriptedDialogs dialogs_;
    QString listFileName_ = QStringLiteral("previous");
};

TEST_F(FileDialogsTest, SaveDialogOpensWhereTheDefaultPathSays) {
    dialogs_.fileAnswers.push_back(path("new.csv"));
    EXPECT_TRUE(askSaveName(dialogs_, QStringLiteral("/app/H110520"), QStringLiteral(".csv"), listFileName_));
    EXPECT_EQ(listFileName_, path("new.csv"));
    ASSERT_EQ(dialogs_.requests.size(), 1u);
    const FileDialogRequest& r = dialogs_.requests[0];
    EXPECT_EQ(r.initialFolder, QStringLiteral("/app/"));
    EXPECT_EQ(r.fileName, QStringLiteral("H110520.csv"));
    EXPECT_EQ(r.defaultExt, QStringLiteral(".csv"));
    EXPECT_EQ(r.filter, QStringLiteral("CSV ファイル (*.csv)|*.csv|すべてのファイル (*.*)|*.*|"));
    EXPECT_EQ(r.filterIndex, 1);
    EXPECT_EQ(qtFileFilter(r.filter), QStringLiteral("CSV ファイル (*.csv);;すべてのファイル (*)"));
    EXPECT_TRUE(dialogs_.questions.isEmpty());
}

TEST_F(FileDialogsTest, OverwritingAnExistingFileIsConfirmedFirst) {
    makeFile("old.csv");
    dialogs_.fileAnswers = {path("old.csv"), path("old.csv")};
    dialogs_.confirmations = {true, false};
    EXPECT_TRUE(askSaveName(dialogs_, path("x"), QStringLiteral(".csv"), listFileName_));
    EXPECT_EQ(listFileName_, path("old.csv"));
    EXPECT_EQ(dialogs_.questions.at(0), QStringLiteral("同名のファイルが存在します。\r\n") + path("old.csv") +
                                            QStringLiteral("\r\n上書きしてよろしいですか？"));
    EXPECT_FALSE(askSaveName(dialogs_, path("x"), QStringLiteral(".csv"), listFileName_));
    EXPECT_TRUE(listFileName_.isEmpty());
}

TEST_F(FileDialogsTest, CancelGivesFalse) {
    EXPECT_FALSE(askSaveName(dialogs_, path("x"), QStringLiteral(".csv"), listFileName_));
    EXPECT_TRUE(listFileName_.isEmpty());

    listFileName_ = QStringLiteral("kept");
    EXPECT_FALSE(askOpenName(dialogs_, dir_.path(), QStringLiteral(".xlsx"), listFileName_));
    EXPECT_EQ(listFileName_, QStringLiteral("kept"));
}

TEST_F(FileDialogsTest, OpenDialogFiltersWorkbooksInTheGivenFolderWithNoNameProposed) {
    dialogs_.fileAnswers.push_back(path("a.xlsx"));
    EXPECT_TRUE(
        askOpenName(dialogs_, QStringLiteral("/home/u/Kartoma"), QStringLiteral(".xlsx"), listFileName_));
    EXPECT_EQ(listFileName_, path("a.xlsx"));
    const FileDialogRequest& r = dialogs_.requests.at(0);
    EXPECT_EQ(r.filter, QStringLiteral("エクセルファイル (*.xlsx)|*.xlsx"));
    EXPECT_EQ(r.initialFolder, QStringLiteral("/home/u/Kartoma"));
    EXPECT_TRUE(r.fileName.isEmpty());
}

TEST_F(FileDialogsTest, FileExistsOnlyForFilesThatCanBeRead) {
    makeFile("a.csv");
    EXPECT_TRUE(fileExists(path("a.csv")));
    EXPECT_FALSE(fileExists(path("b.csv")));
    EXPECT_FALSE(fileExists(dir_.path()));
}

TEST_F(FileDialogsTest, ALibraryFileIsNamedAfterASafeLabelOrTheFolder) {
    QString emoji = QStringLiteral("x");
    for (int i = 0; i < 60; ++i) {
        emoji += QString::fromUcs4(U"\U0001F600"); // four bytes, two UTF-16 units
    }
    struct Case {
        QString label, folder, expected;
    } cases[] = {
        {QStringLiteral("DISC01"), QStringLiteral("/media/u/DISC01"), QStringLiteral("DISC01")},
        {QStringLiteral(" 写真/2024/../a\tb") + QChar(0) + QStringLiteral("c "), QStringLiteral("/m"),
         QStringLiteral("写真_2024_.._a_b_c")},
        {QStringLiteral("..."), QStringLiteral("/home/u/写真"), QStringLiteral("写真")},
        {QStringLiteral(" .. "), QStringLiteral("/home/u/.hidden"), QStringLiteral("hidden")},
        {QString(), QStringLiteral("/home/u/photos/"), QStringLiteral("photos")},
        // A folder without a label stands for it with its path: the file is named after the folder.
        {QStringLiteral("/home/u/photos"), QStringLiteral("/home/u/photos"), QStringLiteral("photos")},
        {QString(), QStringLiteral("/"), QStringLiteral("Kartoma")},
        {QString(150, QChar(0x3042)), QStringLiteral("/m"), QString(66, QChar(0x3042))}, // 3 bytes each
        {emoji, QStringLiteral("/m"), emoji.left(1 + 49 * 2)},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(libraryFileLabel(k.label, k.folder), k.expected) << k.label.toStdString();
    }
}

TEST_F(FileDialogsTest, TheWindowsPresenterSavesNewFilesAndSaysWhereWhenNothingOpensThem) {
    RecordingLauncher launcher;
    const QString library = path("library/sub");
    OpenInApplicationPresenter presenter(
        launcher, [&] { return library; }, [] { return QStringLiteral("DISC"); }, {});
    // The folder is made on first use; an existing file is never proposed.
    const QString first = presenter.destinationFor(QStringLiteral("/opt/kartoma/Kartoma.xl_"));
    EXPECT_TRUE(QFileInfo(library).isDir());
    EXPECT_TRUE(first.startsWith(library + QStringLiteral("/DISC_")));
    EXPECT_TRUE(first.endsWith(QStringLiteral(".xlsx")));
    const QDateTime when(QDate(2026, 12, 8), QTime(14, 5, 9));
    const QString name = library + QStringLiteral("/DISC_20261208-140509");
    EXPECT_EQ(libraryFilePath(library, QStringLiteral("DISC"), when), name + QStringLiteral(".xlsx"));
    makeFile("library/sub/DISC_20261208-140509.xlsx");
    makeFile("library/sub/DISC_20261208-140509-2.xlsx");
    EXPECT_EQ(libraryFilePath(library, QStringLiteral("DISC"), when), name + QStringLiteral("-3.xlsx"));

    EXPECT_TRUE(presenter.present(first));
    EXPECT_EQ(launcher.opened, QStringList{first});
    launcher.works = false;
    EXPECT_FALSE(presenter.present(first));
}

TEST_F(FileDialogsTest, MakeWritableFolderGivesTheSystemsReason) {
    makeFile("file");
    EXPECT_EQ(makeWritableFolder(path("a/b/c")), 0);
    EXPECT_EQ(makeWritableFolder(path("a/b/c")), 0);
    EXPECT_EQ(makeWritableFolder(path("file")), ENOTDIR);
    EXPECT_EQ(makeWritableFolder(path("file/sub")), ENOTDIR);
    if (geteuid() != 0) { // the superuser writes anywhere
        ASSERT_EQ(chmod(path("a/b").toLocal8Bit().constData(), 0555), 0);
        EXPECT_EQ(makeWritableFolder(path("a/b")), EACCES);
        EXPECT_EQ(makeWritableFolder(path("a/b/new")), EACCES);
        chmod(path("a/b").toLocal8Bit().constData(), 0755);
    }
}

} // namespace
} // namespace kartoma
