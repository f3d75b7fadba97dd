#include "MainWindow.h"
#include "FakeFileSystem.h"
#include "Fakes.h"
#include "GatedServices.h"
#include "Pointer.h"
#include "QtDialogs.h"
#include "ScriptedDialogs.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <memory>

namespace kartoma {
namespace {

using testing::FixedLabels;
using testing::Gate;
using testing::GatedFileSystem;
using testing::GatedOpener;
using testing::MemorySettingsStore;
using testing::Phase;
using testing::RecordingLauncher;
using testing::ScriptedDialogs;
using testing::whenDialogOpens;

const QString kBuildDir = QStringLiteral(KARTOMA_BUILD_DIR);

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tree_.isValid());
        ASSERT_TRUE(out_.isValid());
        settings_.showSplash = false;
    }
    void TearDown() override { kartoma::setDefaultPointer(); }

    void makeFiles(int count) {
        for (int i = 0; i < count; ++i) {
            QFile f(tree_.path() + QStringLiteral("/file%1.txt").arg(i, 5, 10, QLatin1Char('0')));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
    }

    MainWindow& window(const QString& programFolder = kBuildDir) {
        MainWindowServices services{dialogs_,      launcher_,
                                    labels_,       gatedFileSystem_,
                                    store_,        programFolder,
                                    out_.path(),   [] { return QDate(2026, 12, 8); },
                                    0,             GatedOpener::factory(gate_)};
        window_ = std::make_unique<MainWindow>(settings_, std::move(services));
        window_->setFolderPath(tree_.path());
        window_->show();
        return *window_;
    }

    /// Runs the event loop until the window's command has ended.
    static void awaitIdle(const MainWindow& w) {
        while (w.busy()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
    void runList() {
        action("createListToolAction")->trigger();
        awaitIdle(*window_);
    }

    QAction* action(const char* name) { return window_->findChild<QAction*>(QString::fromUtf8(name)); }
    QProgressBar* progress() { return window_->findChild<QProgressBar*>(QStringLiteral("progressBar")); }
    QLabel* animation() { return window_->findChild<QLabel*>(QStringLiteral("busyAnimation")); }

    QByteArray readAll(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir tree_;
    QTemporaryDir out_;
    Settings settings_;
    ScriptedDialogs dialogs_;
    RecordingLauncher launcher_;
    FixedLabels labels_;
    PosixFileSystem fileSystem_;
    Gate gate_;
    GatedFileSystem gatedFileSystem_{fileSystem_, gate_};
    MemorySettingsStore store_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, StartsWithItsControlsInTheirStartState) {
    MainWindow& w = window();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Kartoma for Excel97"));
    const QToolBar* toolbar = w.findChild<QToolBar*>(QStringLiteral("toolbar"));
    ASSERT_NE(toolbar, nullptr);
    QStringList buttons;
    QStringList tips;
    for (QAction* a : toolbar->actions()) {
        buttons.append(a->isSeparator() ? QStringLiteral("|") : a->objectName());
        if (!a->isSeparator()) {
            tips.append(a->toolTip());
        }
    }
    EXPECT_EQ(
        buttons,
        (QStringList{QStringLiteral("createListToolAction"), QStringLiteral("emptyAndOpenToolAction"),
                     QStringLiteral("|"), QStringLiteral("optionsToolAction"), QStringLiteral("|"),
                     QStringLiteral("aboutToolAction"), QStringLiteral("|"), QStringLiteral("quitToolAction"),
                     QStringLiteral("|"), QStringLiteral("stopAction")}));
    EXPECT_EQ(tips,
              (QStringList{QStringLiteral("エクセルファイル作成"), QStringLiteral("エクセルファイル表示"),
                           QStringLiteral("オプション"), QStringLiteral("バージョン情報"),
                           QStringLiteral("終了"), QStringLiteral("中断")}));
    EXPECT_FALSE(action("stopAction")->isVisible());
    EXPECT_TRUE(action("quitToolAction")->isEnabled());
    const struct {
        const char* name;
        const char* caption;
        const char* keys;
    } menus[] = {{"createListAction", "ｴｸｾﾙﾌｧｲﾙ作成(&N)", "Ctrl+N"},
                 {"openListAction", "ｴｸｾﾙﾌｧｲﾙを開く(&O)", "Ctrl+O"},
                 {"quitAction", "終了(&X)", "Ctrl+Q"},
                 {"optionsAction", "オプション(&S)", ""},
                 {"helpContentsAction", "目次(&C)", "F1"},
                 {"aboutAction", "ﾊﾞｰｼﾞｮﾝ情報(&A)", ""}};
    for (const auto& [name, caption, keys] : menus) {
        ASSERT_NE(action(name), nullptr) << name;
        EXPECT_EQ(action(name)->text(), QString::fromUtf8(caption));
        EXPECT_EQ(action(name)->shortcut(), QKeySequence::fromString(QString::fromLatin1(keys))) << name;
    }
    // A key reaches its command: F1 opens the help document.
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_F1);
    EXPECT_EQ(launcher_.opened, QStringList{kBuildDir + QStringLiteral("/Kartoma.html")});
    QStringList top;
    for (QAction* a : w.menuBar()->actions()) {
        top.append(a->text());
    }
    EXPECT_EQ(top, (QStringList{QStringLiteral("ファイル(&F)"), QStringLiteral("オプション(&S)"),
                                QStringLiteral("ﾍﾙﾌﾟ(&H)"), QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)")}));
    EXPECT_TRUE(w.statusText().isEmpty());
    EXPECT_FALSE(progress()->isVisible());
    EXPECT_FALSE(animation()->isVisible());
    EXPECT_EQ(w.filterPattern(), QStringLiteral("*.*"));
    EXPECT_EQ(w.folderPath(), tree_.path());
}

TEST(RequestFromOptions, TheStoredOptionsBecomeTheCommandsRequest) {
    Settings s{.titleOnEveryPage = true,
               .titleOnFirstPage = false,
               .askForLabel = false,
               .linesPerPage = 55,
               .depth = 3,
               .listFolders = true};
    CatalogueRequest r =
        requestFromOptions(s, QStringLiteral("*.txt"), QStringLiteral("/data"), QStringLiteral("/opt/k"));
    EXPECT_EQ(r.folder, QStringLiteral("/data"));
    EXPECT_EQ(r.scan.walk.depth, 3);
    EXPECT_TRUE(r.scan.record.listFolders);
    EXPECT_EQ(r.scan.record.filterPattern, QStringLiteral("*.txt"));
    EXPECT_EQ(r.labelPolicy, LabelPolicy::FolderWhenMissing);
    const auto& book = std::get<WorkbookTarget>(r.output);
    EXPECT_EQ(book.templatePath, defaultTemplatePath(QStringLiteral("/opt/k")));
    EXPECT_TRUE(book.titleOnEveryPage);
    EXPECT_FALSE(book.titleOnFirstPage);
    EXPECT_EQ(book.linesPerPage, 55);

    r = requestFromOptions(Settings{.saveAsCsv = true}, QString(), QString(), QString());
    EXPECT_FALSE(r.scan.record.listFolders);
    EXPECT_EQ(r.labelPolicy, LabelPolicy::AskWhenMissing);
    EXPECT_TRUE(std::holds_alternative<CsvTarget>(r.output));
}

TEST_F(MainWindowTest, GrowingTheWindowGivesTheRoomToTheFolderTreeAndTheFileList) {
    MainWindow& w = window();
    const auto size = [&w](const char* name) {
        return w.findChild<QWidget*>(QString::fromLatin1(name))->size();
    };
    const QSize tree = size("folderTree");
    const QSize files = size("fileList");
    const QSize drives = size("driveList");
    w.resize(w.width() + 1000, w.height() + 600);
    QCoreApplication::processEvents();
    // The two columns share the new width; the drive list keeps its height, the tree takes the rest.
    EXPECT_NEAR(size("folderTree").width() - tree.width() + size("fileList").width() - files.width(), 1000,
                2);
    EXPECT_GT(size("fileList").width() - files.width(), 400);
    EXPECT_EQ(size("folderTree").height() - tree.height(), 600);
    EXPECT_EQ(size("fileList").height() - files.height(), 600);
    EXPECT_EQ(size("driveList").height(), drives.height());
    EXPECT_EQ(size("statusLine").width(), w.width());
}

TEST_F(MainWindowTest, TheToolbarsCreateButtonMakesAWorkbookAndHandsItOver) {
    makeFiles(700);
    labels_.label = QStringLiteral("DISK");
    MainWindow& w = window();
    // The closing steps: the stop button is still offered while the workbook is made.
    QString statusAtOpen;
    bool stopShownAtOpen = false;
    bool animationAtOpen = false;
    launcher_.onOpen = [&] {
        statusAtOpen = w.statusText();
        stopShownAtOpen = w.findChild<QToolBar*>()->widgetForAction(action("stopAction"))->isVisible();
        animationAtOpen = animation()->isVisible();
    };
    runList();
    ASSERT_EQ(launcher_.opened.size(), 1);
    EXPECT_EQ(statusAtOpen, QStringLiteral("エクセルシートを作成中です。"));
    EXPECT_TRUE(stopShownAtOpen);
    EXPECT_TRUE(animationAtOpen);
    EXPECT_TRUE(launcher_.opened[0].startsWith(out_.path()));
    EXPECT_TRUE(readAll(launcher_.opened[0]).startsWith("PK"));
    EXPECT_EQ(w.statusText(), QStringLiteral("保存しました：") + launcher_.opened[0]);
    EXPECT_FALSE(action("stopAction")->isVisible());
    EXPECT_TRUE(action("quitToolAction")->isEnabled());
    EXPECT_FALSE(animation()->isVisible());
    EXPECT_TRUE(dialogs_.messages.isEmpty());
    EXPECT_EQ(w.controller().entries().count(), 700u);
    // The opener gives up (no application for the file): a message names the file and offers its
    // path for the clipboard.
    dialogs_.fileChoice = Dialogs::FileChoice::CopyPath;
    launcher_.failLater();
    ASSERT_EQ(dialogs_.messages.size(), 1);
    EXPECT_TRUE(dialogs_.messages[0].contains(launcher_.opened[0]));
    EXPECT_TRUE(dialogs_.messages[0].endsWith(QStringLiteral("|offered")));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), launcher_.opened[0]);
}

TEST_F(MainWindowTest, OptionsSwitchedToCsvDuringTheWalkAskTheNameAfterIt) {
    // A folder whose path is far wider than the status bar.
    const QString name = QStringLiteral("長いフォルダの名前").repeated(8);
    const QString deep = tree_.path() + QLatin1Char('/') + name + QLatin1Char('/') + name;
    ASSERT_TRUE(QDir().mkpath(deep));
    for (int i = 0; i < 50; ++i) {
        QFile(deep + QStringLiteral("/%1.txt").arg(i)).open(QIODevice::WriteOnly);
    }
    const QString csv = out_.path() + QStringLiteral("/late.csv");
    dialogs_.fileAnswers = {csv};
    MainWindow& w = window();
    w.setFolderPath(tree_.path() + QLatin1Char('/') + name);
    // Held at the listing of the second folder, whose search text is on its way to the window.
    gate_.arm(Phase::Walk, 1);
    action("createListToolAction")->trigger();
    ASSERT_TRUE(gate_.awaitReached());
    while (!w.statusText().endsWith(QStringLiteral("を検索中です。"))) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    settings_.saveAsCsv = true;
    const QString shown = w.findChild<QLabel*>(QStringLiteral("statusText"))->text();
    gate_.release();
    awaitIdle(w);
    ASSERT_EQ(dialogs_.requests.size(), 1u);
    EXPECT_EQ(launcher_.opened, QStringList{csv});
    EXPECT_EQ(w.statusText(), QStringLiteral("保存しました：") + csv);
    EXPECT_TRUE(readAll(csv).startsWith("\"")) << readAll(csv).left(20).toStdString();
    // The path gave way in its middle; what was being done stayed readable.
    EXPECT_TRUE(shown.endsWith(QStringLiteral("を検索中です。"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
}

TEST_F(MainWindowTest, TheStopButtonEscAndClosingReachTheRunningCommand) {
    // What a stop or a quit does to the command is the controller's; here, that the window's ways in
    // reach it and that its controls return to their rest state.
    makeFiles(700);
    enum class How { Close, Button, Esc };
    for (const How how : {How::Close, How::Button, How::Esc}) {
        MainWindow& w = window();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        gate_.arm(Phase::Walk);
        action("createListToolAction")->trigger();
        ASSERT_TRUE(gate_.awaitReached());
        EXPECT_TRUE(action("stopAction")->isVisible());
        EXPECT_FALSE(action("quitToolAction")->isEnabled());
        if (how == How::Close) {
            w.close();
            EXPECT_TRUE(w.isVisible()); // not before the command has ended
        } else if (how == How::Button) {
            action("stopAction")->trigger();
        } else {
            QTest::keyClick(&w, Qt::Key_Escape);
        }
        gate_.release();
        awaitIdle(w);
        const int at = static_cast<int>(how);
        EXPECT_EQ(w.isVisible(), how != How::Close) << at;
        if (how != How::Close) {
            EXPECT_EQ(w.statusText(), QStringLiteral("処理が中断されました。")) << at;
        }
        EXPECT_FALSE(action("stopAction")->isVisible());
        EXPECT_TRUE(action("quitToolAction")->isEnabled());
        EXPECT_FALSE(progress()->isVisible());
        EXPECT_FALSE(animation()->isVisible());
        EXPECT_FALSE(isWaitPointer());
        EXPECT_TRUE(launcher_.opened.isEmpty()) << at;
    }
}

TEST_F(MainWindowTest, ARealFailureIsShownWithItsCause) {
    makeFiles(3);
    QTemporaryDir noTemplate;
    MainWindow& w = window(noTemplate.path());
    runList();
    ASSERT_EQ(dialogs_.messages.size(), 1);
    EXPECT_TRUE(dialogs_.messages[0].contains(QStringLiteral("ブックが見つかりません。")));
    EXPECT_TRUE(dialogs_.messages[0].contains(noTemplate.path() + QStringLiteral("/Kartoma.xl_")));
    EXPECT_TRUE(dialogs_.messages[0].endsWith(QStringLiteral("|critical")));
    EXPECT_TRUE(action("quitToolAction")->isEnabled());
    EXPECT_FALSE(action("stopAction")->isVisible());
    EXPECT_FALSE(isWaitPointer());
    EXPECT_TRUE(w.isVisible());
}

TEST_F(MainWindowTest, HelpButtonShowsTheAboutBoxAndOpenEmptiesTheList) {
    makeFiles(4);
    settings_.saveAsCsv = true;
    dialogs_.fileAnswers = {out_.path() + QStringLiteral("/x.csv")};
    MainWindow& w = window();
    runList();
    ASSERT_EQ(w.controller().entries().count(), 4u);

    QString shown;
    whenDialogOpens([&](QDialog* d) {
        shown = d->objectName();
        d->accept();
    });
    action("aboutToolAction")->trigger();
    EXPECT_EQ(shown, QStringLiteral("aboutBox"));

    // The menu's open leaves the list; the toolbar's empties it first. Both cancelled here.
    action("openListAction")->trigger();
    EXPECT_EQ(w.controller().entries().count(), 4u);
    action("emptyAndOpenToolAction")->trigger();
    EXPECT_EQ(w.controller().entries().count(), 0u);
    EXPECT_TRUE(w.isVisible());
}

TEST_F(MainWindowTest, WhatTheWalkCouldNotReadIsCountedForTheUser) {
    testing::FakeFileSystem fake;
    fake.folder("/").entries = {{"locked", EntryKind::Folder}, {"a.txt", EntryKind::File, 3}};
    fake.folder("/").vanished = {"gone.txt"};
    fake.folder("/locked").openError = 13;
    settings_.saveAsCsv = true;
    settings_.askForLabel = false;
    dialogs_.fileAnswers = {out_.path() + QStringLiteral("/s.csv")};
    MainWindowServices services{dialogs_, launcher_, labels_,     fake,
                                store_,   kBuildDir, out_.path(), [] { return QDate(2026, 12, 8); },
                                0};
    MainWindow w(settings_, std::move(services));
    w.setFolderPath(QStringLiteral("/"));
    w.findChild<QAction*>(QStringLiteral("createListToolAction"))->trigger();
    awaitIdle(w);
    EXPECT_EQ(w.controller().entries().count(), 1u);
    EXPECT_EQ(dialogs_.messages,
              QStringList{QStringLiteral(
                  "Kartoma|読み取れなかったフォルダまたはファイルが2件あり、リストに含まれていません。")});
}

TEST_F(MainWindowTest, TheLibraryFolderChosenInTheOptionsTakesTheNextWorkbook) {
    makeFiles(3);
    labels_.label = QStringLiteral("DISK");
    MainWindowServices services{dialogs_, launcher_, labels_, fileSystem_, store_, kBuildDir, QString()};
    MainWindow w(settings_, std::move(services));
    w.setFolderPath(tree_.path());
    const QString library = out_.path() + QStringLiteral("/カタログ");
    whenDialogOpens([&](QDialog* dialog) {
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("libraryFolderEdit"));
        EXPECT_EQ(edit->text(), defaultLibraryFolder()); // none stored yet
        edit->setText(library);
        dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    });
    w.onOptions();
    EXPECT_EQ(store_.option(kLibraryKey), library);
    w.findChild<QAction*>(QStringLiteral("createListToolAction"))->trigger();
    awaitIdle(w);
    ASSERT_EQ(launcher_.opened.size(), 1);
    EXPECT_EQ(QFileInfo(launcher_.opened[0]).absolutePath(), library);
    EXPECT_TRUE(QFileInfo(launcher_.opened[0]).fileName().startsWith(QStringLiteral("DISK_")));
}

TEST_F(MainWindowTest, TheOpenDialogRefusesAMissingNameAndASavedListOpensInPlace) {
    makeFiles(3);
    labels_.label = QStringLiteral("DISK");
    QtDialogs dialogs;
    MainWindowServices services{dialogs, launcher_, labels_, fileSystem_, store_, kBuildDir, out_.path()};
    MainWindow w(settings_, std::move(services));
    w.setFolderPath(tree_.path());
    w.show();
    w.findChild<QAction*>(QStringLiteral("createListToolAction"))->trigger();
    awaitIdle(w);
    ASSERT_EQ(launcher_.opened.size(), 1);
    const QString book = launcher_.opened[0];

    QString startFolder, proposed, refusal;
    bool stayedOpen = false;
    whenDialogOpens([&](QDialog* dialog) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        ASSERT_NE(files, nullptr);
        startFolder = files->directory().absolutePath();
        auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        proposed = name->text();
        // Enter on a name that is not there: the dialog says so and stays.
        whenDialogOpens([&](QDialog* message) {
            refusal = qobject_cast<QMessageBox*>(message) != nullptr ? message->windowTitle() : QString();
            message->reject();
        });
        name->setText(QStringLiteral("tmp.xlsx"));
        QTest::keyClick(name, Qt::Key_Return);
        stayedOpen = files->isVisible();
        name->setText(QFileInfo(book).fileName());
        QTest::keyClick(name, Qt::Key_Return);
    });
    w.findChild<QAction*>(QStringLiteral("openListAction"))->trigger();
    EXPECT_EQ(startFolder, out_.path());
    EXPECT_TRUE(proposed.isEmpty());
    EXPECT_FALSE(refusal.isNull());
    EXPECT_TRUE(stayedOpen);
    // The chosen list is opened itself; nothing new lands in the library, and the window stays.
    EXPECT_EQ(launcher_.opened, (QStringList{book, book}));
    EXPECT_EQ(QDir(out_.path()).entryList(QDir::Files).size(), 1);
    EXPECT_TRUE(w.isVisible());
}

TEST_F(MainWindowTest, ADriveWithoutAMediumFallsBackToTheProgramsDrive) {
    MainWindow& w = window();
    auto* drives = w.findChild<QComboBox*>(QStringLiteral("driveList"));
    ASSERT_NE(drives, nullptr);
    drives->addItem(QStringLiteral("/no/such/medium"), QStringLiteral("/no/such/medium"));
    drives->setCurrentIndex(drives->count() - 1);
    Q_EMIT drives->activated(drives->count() - 1);
    EXPECT_EQ(dialogs_.messages,
              QStringList{QStringLiteral("ドライブエラー|正しいドライブを選択してください|critical")});
    EXPECT_EQ(drives->currentData().toString(), QStorageInfo(kBuildDir).rootPath());
    EXPECT_TRUE(w.folderPath().startsWith(QStorageInfo(kBuildDir).rootPath()));
}

TEST_F(MainWindowTest, TheDriveListNamesTheMediumInEachDrive) {
    labels_.label = QStringLiteral("USB01");
    auto* drives = window().findChild<QComboBox*>(QStringLiteral("driveList"));
    ASSERT_NE(drives, nullptr);
    const QString root = QStorageInfo(kBuildDir).rootPath();
    EXPECT_EQ(drives->itemText(drives->findData(root)), root + QStringLiteral(" ［USB01］"));
}

TEST_F(MainWindowTest, AMissingClockOnlySkipsTheAnimationAndHelpOpensTheDocument) {
    QTemporaryDir program;
    ASSERT_TRUE(QFile::copy(kBuildDir + QStringLiteral("/Kartoma.xl_"),
                            program.path() + QStringLiteral("/Kartoma.xl_")));
    makeFiles(601);
    window(program.path());
    bool animationAtOpen = true;
    launcher_.onOpen = [&] { animationAtOpen = animation()->isVisible(); };
    runList();
    EXPECT_EQ(launcher_.opened.size(), 1);
    EXPECT_TRUE(dialogs_.messages.isEmpty());
    EXPECT_FALSE(animationAtOpen);

    action("helpContentsAction")->trigger();
    EXPECT_EQ(launcher_.opened.last(), program.path() + QStringLiteral("/Kartoma.html"));
}

} // namespace
} // namespace kartoma
