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
#include <QHash>
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
using testing::Phase;
using testing::RecordingLauncher;
using testing::RecordingStore;
using testing::ScriptedDialogs;
using testing::whenDialogOpens;

const QString kBuildDir = QStringLiteral(KARTOMA_BUILD_DIR);

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tree_.isValid());
        ASSERT_TRUE(out_.isValid());
        settings_.splash = false;
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
        action("toExcel")->trigger();
        awaitIdle(*window_);
    }

    QAction* action(const char* name) { return window_->findChild<QAction*>(QString::fromUtf8(name)); }
    QProgressBar* progress() { return window_->findChild<QProgressBar*>(QStringLiteral("ProgressBar1")); }
    QLabel* animation() { return window_->findChild<QLabel*>(QStringLiteral("Animation1")); }

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
    RecordingStore store_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, StartsWithItsControlsInTheirStartState) {
    MainWindow& w = window();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Kartoma for Excel97"));
    const QToolBar* toolbar = w.findChild<QToolBar*>(QStringLiteral("tbrToolbar1"));
    ASSERT_NE(toolbar, nullptr);
    QStringList keys;
    QStringList tips;
    for (QAction* a : toolbar->actions()) {
        keys.append(a->isSeparator() ? QStringLiteral("|") : a->data().toString());
        if (!a->isSeparator()) {
            tips.append(a->toolTip());
        }
    }
    EXPECT_EQ(keys, (QStringList{QStringLiteral("toExcel"), QStringLiteral("開く"), QStringLiteral("|"),
                                 QStringLiteral("option"), QStringLiteral("|"), QStringLiteral("ﾍﾙﾌﾟ"),
                                 QStringLiteral("|"), QStringLiteral("bye"), QStringLiteral("|"),
                                 QStringLiteral("stop")}));
    EXPECT_EQ(tips,
              (QStringList{QStringLiteral("エクセルファイル作成"), QStringLiteral("エクセルファイル表示"),
                           QStringLiteral("オプション"), QStringLiteral("バージョン情報"),
                           QStringLiteral("終了"), QStringLiteral("中断")}));
    EXPECT_FALSE(action("stop")->isVisible());
    EXPECT_TRUE(action("bye")->isEnabled());
    const struct {
        const char* name;
        const char* caption;
        const char* keys;
    } menus[] = {{"mnuFileNew", "ｴｸｾﾙﾌｧｲﾙ作成(&N)", "Ctrl+N"}, {"mnuFileOpen", "ｴｸｾﾙﾌｧｲﾙを開く(&O)", "Ctrl+O"},
                 {"mnuFileExit", "終了(&X)", "Ctrl+Q"},        {"mnuOPT", "オプション(&S)", ""},
                 {"mnuHelpContents", "目次(&C)", "F1"},       {"mnuHelpAbout", "ﾊﾞｰｼﾞｮﾝ情報(&A)", ""}};
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

TEST_F(MainWindowTest, ToExcelMakesAWorkbookAndHandsItOver) {
    makeFiles(700);
    labels_.label = QStringLiteral("DISK");
    MainWindow& w = window();
    // The closing steps: the stop button is still offered while the workbook is made.
    QString statusAtOpen;
    bool stopShownAtOpen = false;
    launcher_.onOpen = [&] {
        statusAtOpen = w.statusText();
        stopShownAtOpen = w.findChild<QToolBar*>()->widgetForAction(action("stop"))->isVisible();
    };
    runList();
    ASSERT_EQ(launcher_.opened.size(), 1);
    EXPECT_EQ(statusAtOpen, QStringLiteral("エクセルシートを作成中です。"));
    EXPECT_TRUE(stopShownAtOpen);
    EXPECT_TRUE(launcher_.opened[0].startsWith(out_.path()));
    EXPECT_TRUE(readAll(launcher_.opened[0]).startsWith("PK"));
    EXPECT_EQ(w.statusText(), QStringLiteral("保存しました：") + launcher_.opened[0]);
    EXPECT_FALSE(action("stop")->isVisible());
    EXPECT_TRUE(action("bye")->isEnabled());
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
    action("toExcel")->trigger();
    ASSERT_TRUE(gate_.awaitReached());
    while (!w.statusText().endsWith(QStringLiteral("を検索中です。"))) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    settings_.csv = true;
    const QString shown = w.findChild<QLabel*>(QStringLiteral("sbrStatusBar1Text"))->text();
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

TEST_F(MainWindowTest, EveryPhaseStopsByButtonEscOrClosingAndLeavesNoFile) {
    makeFiles(700);
    enum class How { Close, Button, Esc };
    const std::pair<Phase, How> cases[] = {{Phase::Walk, How::Close}, {Phase::Writing, How::Button},
                                           {Phase::Finish, How::Esc}};
    for (const auto& [phase, how] : cases) {
        MainWindow& w = window();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        gate_.arm(phase);
        action("toExcel")->trigger();
        ASSERT_TRUE(gate_.awaitReached());
        // Whatever the phase, the stop is offered and exit refused.
        EXPECT_TRUE(action("stop")->isVisible());
        EXPECT_FALSE(action("bye")->isEnabled());
        if (how == How::Close) {
            w.close();
            EXPECT_TRUE(w.isVisible()); // not before the command has ended
        } else if (how == How::Button) {
            action("stop")->trigger();
        } else {
            QTest::keyClick(&w, Qt::Key_Escape);
        }
        gate_.release();
        awaitIdle(w);
        const int at = static_cast<int>(phase);
        EXPECT_EQ(w.isVisible(), how != How::Close) << at;
        if (how != How::Close) {
            EXPECT_EQ(w.statusText(), QStringLiteral("処理が中断されました。")) << at;
        }
        EXPECT_FALSE(action("stop")->isVisible());
        EXPECT_TRUE(action("bye")->isEnabled());
        EXPECT_FALSE(progress()->isVisible());
        EXPECT_FALSE(animation()->isVisible());
        EXPECT_FALSE(isWaitPointer());
        EXPECT_TRUE(launcher_.opened.isEmpty()) << at;
        EXPECT_EQ(QDir(out_.path()).entryList(QDir::Files), QStringList()) << at;
        EXPECT_TRUE(dialogs_.messages.isEmpty());
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
    EXPECT_TRUE(action("bye")->isEnabled());
    EXPECT_FALSE(action("stop")->isVisible());
    EXPECT_FALSE(isWaitPointer());
    EXPECT_TRUE(w.isVisible());
}

TEST_F(MainWindowTest, HelpButtonShowsTheAboutBoxAndOpenEmptiesTheList) {
    makeFiles(4);
    settings_.csv = true;
    dialogs_.fileAnswers = {out_.path() + QStringLiteral("/x.csv")};
    MainWindow& w = window();
    runList();
    ASSERT_EQ(w.controller().entries().count(), 4u);

    QString shown;
    whenDialogOpens([&](QDialog* d) {
        shown = d->objectName();
        d->accept();
    });
    action("ﾍﾙﾌﾟ")->trigger();
    EXPECT_EQ(shown, QStringLiteral("frmAbout"));

    // The menu's open leaves the list; the toolbar's empties it first. Both cancelled here.
    action("mnuFileOpen")->trigger();
    EXPECT_EQ(w.controller().entries().count(), 4u);
    action("開く")->trigger();
    EXPECT_EQ(w.controller().entries().count(), 0u);
    EXPECT_TRUE(w.isVisible());
}

TEST_F(MainWindowTest, WhatTheWalkCouldNotReadIsCountedForTheUser) {
    testing::FakeFileSystem fake;
    fake.folder("/").entries = {{"locked", EntryKind::Folder}, {"a.txt", EntryKind::File, 3}};
    fake.folder("/").vanished = {"gone.txt"};
    fake.folder("/locked").openError = 13;
    settings_.csv = true;
    settings_.label = false;
    dialogs_.fileAnswers = {out_.path() + QStringLiteral("/s.csv")};
    MainWindowServices services{dialogs_, launcher_, labels_,     fake,
                                store_,   kBuildDir, out_.path(), [] { return QDate(2026, 12, 8); },
                                0};
    MainWindow w(settings_, std::move(services));
    w.setFolderPath(QStringLiteral("/"));
    w.findChild<QAction*>(QStringLiteral("toExcel"))->trigger();
    awaitIdle(w);
    EXPECT_EQ(w.controller().entries().count(), 1u);
    EXPECT_EQ(dialogs_.messages,
              QStringList{QStringLiteral(
                  "Kartoma|読み取れなかったフォルダまたはファイルが2件あり、リストに含まれていません。")});
}

/// A store that gives back what was saved in it.
class MemoryStore final : public SettingsStore {
public:
    QString getSetting(const QString&, const QString&, const QString& key,
                       const QString& defaultValue) override {
        return values.value(key, defaultValue);
    }
    void saveSetting(const QString&, const QString&, const QString& key, const QString& value) override {
        values.insert(key, value);
    }
    QHash<QString, QString> values;
};

TEST_F(MainWindowTest, TheLibraryFolderChosenInTheOptionsTakesTheNextWorkbook) {
    makeFiles(3);
    labels_.label = QStringLiteral("DISK");
    MemoryStore store;
    MainWindowServices services{dialogs_, launcher_, labels_, fileSystem_, store, kBuildDir, QString()};
    MainWindow w(settings_, std::move(services));
    w.setFolderPath(tree_.path());
    const QString library = out_.path() + QStringLiteral("/カタログ");
    whenDialogOpens([&](QDialog* dialog) {
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("libraryFolderEdit"));
        EXPECT_EQ(edit->text(), defaultLibraryFolder()); // none stored yet
        edit->setText(library);
        dialog->findChild<QPushButton*>(QStringLiteral("cmdOK1"))->click();
    });
    w.mnuOPT_Click();
    EXPECT_EQ(store.values.value(kLibraryKey), library);
    w.findChild<QAction*>(QStringLiteral("toExcel"))->trigger();
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
    w.findChild<QAction*>(QStringLiteral("toExcel"))->trigger();
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
    w.findChild<QAction*>(QStringLiteral("mnuFileOpen"))->trigger();
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
    auto* drives = w.findChild<QComboBox*>(QStringLiteral("drvDrive1"));
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
    auto* drives = window().findChild<QComboBox*>(QStringLiteral("drvDrive1"));
    ASSERT_NE(drives, nullptr);
    const QString root = QStorageInfo(kBuildDir).rootPath();
    EXPECT_EQ(drives->itemText(drives->findData(root)), root + QStringLiteral(" ［USB01］"));
}

TEST_F(MainWindowTest, AMissingClockOnlySkipsTheAnimationAndHelpOpensTheDocument) {
    QTemporaryDir program;
    ASSERT_TRUE(QFile::copy(kBuildDir + QStringLiteral("/Kartoma.xl_"),
                            program.path() + QStringLiteral("/Kartoma.xl_")));
    makeFiles(601);
    MainWindow& w = window(program.path());
    runList();
    EXPECT_EQ(launcher_.opened.size(), 1);
    EXPECT_TRUE(dialogs_.messages.isEmpty());
    w.showBusy(true);
    EXPECT_FALSE(animation()->isVisible());

    action("mnuHelpContents")->trigger();
    EXPECT_EQ(launcher_.opened.last(), program.path() + QStringLiteral("/Kartoma.html"));
}

} // namespace
} // namespace kartoma
