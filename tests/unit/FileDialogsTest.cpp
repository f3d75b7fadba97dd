#include "FileDialogs.h"
#include "Failure.h"
#include "Launcher.h"
#include "Presenters.h"
#include "ScriptedDialogs.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

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
    EXPECT_FALSE(askOpenName(dialogs_, path("tmp"), QStringLiteral(".xlsx"), listFileName_));
    EXPECT_EQ(listFileName_, QStringLiteral("kept"));
}

TEST_F(FileDialogsTest, OpenDialogFiltersWorkbooksAndTakesAnyName) {
    dialogs_.fileAnswers.push_back(path("not-there.xlsx"));
    EXPECT_TRUE(
        askOpenName(dialogs_, QStringLiteral("/opt/kartoma/tmp"), QStringLiteral(".xlsx"), listFileName_));
    EXPECT_EQ(listFileName_, path("not-there.xlsx"));
    const FileDialogRequest& r = dialogs_.requests.at(0);
    EXPECT_EQ(r.filter, QStringLiteral("エクセルファイル (*.xlsx)|*.xlsx"));
    EXPECT_EQ(r.initialFolder, QStringLiteral("/opt/kartoma/"));
    EXPECT_EQ(r.fileName, QStringLiteral("tmp.xlsx"));
}

TEST_F(FileDialogsTest, FileExistsOnlyForFilesThatCanBeRead) {
    makeFile("a.csv");
    EXPECT_TRUE(fileExists(path("a.csv")));
    EXPECT_FALSE(fileExists(path("b.csv")));
    EXPECT_FALSE(fileExists(dir_.path()));
}

TEST_F(FileDialogsTest, TheWindowsPresenterSavesNewFilesAndSaysWhereWhenNothingOpensThem) {
    RecordingLauncher launcher;
    OpenInApplicationPresenter presenter(launcher, dir_.path(), {});
    const QString first = presenter.destinationFor(QStringLiteral("/opt/kartoma/Kartoma.xl_"));
    EXPECT_TRUE(first.startsWith(dir_.path() + QStringLiteral("/Kartoma-")));
    EXPECT_TRUE(first.endsWith(QStringLiteral(".xlsx")));
    makeFile("saved.xlsx");
    EXPECT_EQ(presenter.destinationFor(QStringLiteral("/home/u/saved.xlsx")), path("saved-2.xlsx"));

    EXPECT_TRUE(presenter.present(first));
    EXPECT_EQ(launcher.opened, QStringList{first});
    launcher.works = false;
    EXPECT_FALSE(presenter.present(first));
}

} // namespace
} // namespace kartoma
