#include "SearchWindow.h"
// GCC 12 takes the scripted dialogs' copy of an optional QString for maybe uninitialised here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include "Fakes.h"
#pragma GCC diagnostic pop
#include "FileSystem.h"
#include "MainWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace kartoma {
namespace {

using namespace kartoma::testing;

/// A UTF-8 catalogue of `rows` entries named name0.txt... in `folder` under `label`, a photo among them.
void writeCatalogue(const QString& path, const QString& label, int rows,
                    const QString& folder = QStringLiteral("/m/d")) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QString text = QStringLiteral(
        "\xFEFF\"ファイル名\",\"ディレクトリ\",\"サイズ\",\"日付\",\"時間\",\"ボリューム\",\"TYPE\"\r\n");
    for (int i = 0; i < rows; ++i) {
        text += QStringLiteral("\"name%1.txt\",\"%4\",%2,\"2026/12/08\",\"09:00:00\",\"%3\",\"F\"\r\n")
                    .arg(i)
                    .arg(i * 100)
                    .arg(label, folder);
    }
    text +=
        QStringLiteral("\"写真.jpg\",\"/m/写真\",5,\"2026/12/08\",\"09:00:00\",\"%1\",\"F\"\r\n").arg(label);
    file.write(text.toUtf8());
}

/// Lets the event loop run until the window has no search due or running; false after 20 s.
bool settle(SearchWindow& w) {
    QDeadlineTimer deadline(20000);
    while (w.searching() && !deadline.hasExpired()) {
        QTest::qWait(5);
    }
    return !w.searching();
}

class SearchWindowTest : public ::testing::Test {
protected:
    SearchWindowTest() { store_.option(kLibraryKey) = library_.path(); }

    SearchWindow& open() {
        Settings settings;
        settings.showSplash = false;
        settings_ = settings;
        MainWindowServices services{dialogs_, launcher_, labels_,        fileSystem_,
                                    store_,   QString(), folder_.path(), [] { return QDate(2026, 12, 8); },
                                    0};
        main_ = std::make_unique<MainWindow>(settings_, std::move(services));
        main_->show();
        QMenu* file = main_->findChild<QMenu*>(QStringLiteral("fileMenu"));
        QStringList names;
        for (QAction* a : file->actions()) {
            names.append(a->objectName());
        }
        // The search sits before 終了 and answers Ctrl+F.
        EXPECT_EQ(names, (QStringList{QStringLiteral("createListAction"), QStringLiteral("openListAction"),
                                      QStringLiteral("searchAction"), QStringLiteral("quitAction")}));
        QAction* search = file->actions().at(2);
        EXPECT_EQ(search->text(), QStringLiteral("カタログ検索(&S)..."));
        EXPECT_EQ(search->shortcut(), QKeySequence(QStringLiteral("Ctrl+F")));
        search->trigger();
        SearchWindow* window = main_->searchWindow();
        EXPECT_TRUE(window->isVisible());
        window->findChild<QLineEdit*>(QStringLiteral("folderEdit"))->setText(folder_.path());
        return *window;
    }
    template <typename T> T* child(SearchWindow& w, const char* name) {
        return w.findChild<T*>(QString::fromLatin1(name));
    }

    QTemporaryDir folder_;
    QTemporaryDir library_;
    Settings settings_;
    ScriptedDialogs dialogs_;
    RecordingLauncher launcher_;
    FixedLabels labels_;
    PosixFileSystem fileSystem_;
    MemorySettingsStore store_;
    std::unique_ptr<MainWindow> main_;
};

TEST_F(SearchWindowTest, FindsHitsSortsThemAndOpensTheirCatalogue) {
    writeCatalogue(folder_.filePath(QStringLiteral("a.csv")), QStringLiteral("ディスクA"), 12);
    writeCatalogue(folder_.filePath(QStringLiteral("b.csv")), QStringLiteral("ディスクB"), 3);
    QFile other(folder_.filePath(QStringLiteral("notes.csv")));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("a,b\n");
    other.close();
    SearchWindow& w = open();
    child<QLineEdit>(w, "patternEdit")->setText(QStringLiteral("NAME1*"));
    child<QPushButton>(w, "searchButton")->click();
    ASSERT_TRUE(settle(w));

    auto* table = child<QTableWidget>(w, "hitTable");
    ASSERT_EQ(table->rowCount(), 4); // name1, name10, name11 of A, name1 of B
    EXPECT_EQ(table->horizontalHeaderItem(6)->text(), QStringLiteral("カタログ"));
    EXPECT_EQ(table->item(3, 6)->text(), QStringLiteral("b.csv"));
    EXPECT_EQ(table->item(3, 6)->toolTip(), folder_.filePath(QStringLiteral("b.csv")));
    EXPECT_EQ(table->item(3, 1)->toolTip(), QStringLiteral("/m/d/name1.txt"));
    EXPECT_EQ(table->item(3, 0)->text(), QStringLiteral("ディスクB")); // first in catalogue order
    table->sortItems(3, Qt::DescendingOrder);                          // then by size, as numbers
    EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("name11.txt"));
    EXPECT_EQ(table->item(0, 0)->text(), QStringLiteral("ディスクA"));
    EXPECT_EQ(table->item(3, 3)->text(), QStringLiteral("100"));
    EXPECT_EQ(table->item(0, 4)->text(), QStringLiteral("2026/12/08 09:00:00"));
    EXPECT_EQ(child<QLabel>(w, "statusLabel")->text(),
              QStringLiteral("4件見つかりました（カタログ2個）。読めなかったファイルが1個あります。"));
    EXPECT_EQ(store_.writes, QStringList{QStringLiteral("Kartoma/search/folder=") + folder_.path()});
    // The file that is no catalogue is named in the window itself, in Japanese, over no other window.
    EXPECT_TRUE(dialogs_.messages.isEmpty());
    auto* failures = child<QListWidget>(w, "failureList");
    EXPECT_TRUE(failures->isVisible());
    ASSERT_EQ(failures->count(), 1);
    EXPECT_TRUE(failures->item(0)->text().contains(QStringLiteral("notes.csv はカタログではありません")));

    const int rowOfB = table->findItems(QStringLiteral("ディスクB"), Qt::MatchExactly).front()->row();
    Q_EMIT table->cellDoubleClicked(rowOfB, 2);
    EXPECT_EQ(launcher_.opened, QStringList{folder_.filePath(QStringLiteral("b.csv"))});
    launcher_.failLater();
    EXPECT_EQ(child<QLabel>(w, "statusLabel")->text(),
              folder_.filePath(QStringLiteral("b.csv")) + QStringLiteral(" を開けませんでした。"));
}

TEST_F(SearchWindowTest, AHitsMenuCopiesAndOpensWhatExistsHere) {
    writeCatalogue(folder_.filePath(QStringLiteral("here.csv")), QStringLiteral("USB"), 1500, folder_.path());
    writeCatalogue(folder_.filePath(QStringLiteral("away.csv")), QStringLiteral("DVD"), 1);
    SearchWindow& w = open();
    // Each label's mnemonic reaches its box.
    for (const char* box : {"patternEdit", "folderEdit"}) {
        const auto labels = w.findChildren<QLabel*>();
        EXPECT_TRUE(std::any_of(labels.begin(), labels.end(),
                                [&](QLabel* l) { return l->buddy() == child<QLineEdit>(w, box); }))
            << box;
    }
    child<QLineEdit>(w, "patternEdit")->setText(QStringLiteral("ＮＡＭＥ０"));
    child<QPushButton>(w, "searchButton")->click();
    ASSERT_TRUE(settle(w));
    auto* table = child<QTableWidget>(w, "hitTable");
    ASSERT_EQ(table->rowCount(), 2); // name0.txt of away.csv, then of here.csv
    EXPECT_EQ(child<QLabel>(w, "statusLabel")->text(),
              QStringLiteral("2件見つかりました（カタログ2個）。"));

    const auto act = [&](QMenu* menu, const char* name) { return menu->findChild<QAction*>(QLatin1String(name)); };
    std::unique_ptr<QMenu> away(w.contextMenuFor(0));
    std::unique_ptr<QMenu> here(w.contextMenuFor(1));
    EXPECT_FALSE(act(away.get(), "openFolderAction")->isEnabled()); // /m/d is on no disc of this machine
    ASSERT_TRUE(act(here.get(), "openFolderAction")->isEnabled());
    act(away.get(), "copyPathAction")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("/m/d/name0.txt"));
    act(here.get(), "copyFolderAction")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), folder_.path());
    act(here.get(), "openFolderAction")->trigger();
    act(away.get(), "openCatalogueAction")->trigger();
    EXPECT_EQ(launcher_.opened, (QStringList{folder_.path(), folder_.filePath(QStringLiteral("away.csv"))}));

    // A catalogue dropped on the window is searched alone; the folder box keeps its folder.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(folder_.filePath(QStringLiteral("away.csv")))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &drop);
    ASSERT_TRUE(settle(w));
    EXPECT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->item(0, 0)->text(), QStringLiteral("DVD"));
    EXPECT_EQ(child<QLineEdit>(w, "folderEdit")->text(), folder_.path());

    child<QLineEdit>(w, "patternEdit")->setText(QString(1025, QLatin1Char('a')));
    child<QPushButton>(w, "searchButton")->click();
    ASSERT_TRUE(settle(w));
    EXPECT_EQ(child<QLabel>(w, "statusLabel")->text(),
              QStringLiteral("検索するファイル名は1,024文字以内で入力してください。"));
    EXPECT_EQ(table->rowCount(), 1);

    QTest::keyClick(table, Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(SearchWindowTest, ClosingDuringALargeSearchStopsItThenCloses) {
    for (int i = 0; i < 4; ++i) {
        writeCatalogue(library_.filePath(QStringLiteral("big%1.csv").arg(i)), QStringLiteral("L%1").arg(i),
                       20000);
    }
    SearchWindow& w = open();
    auto* table = child<QTableWidget>(w, "hitTable");
    child<QLineEdit>(w, "patternEdit")->setText(QStringLiteral("name"));
    child<QPushButton>(w, "searchButton")->click();
    EXPECT_TRUE(child<QPushButton>(w, "stopButton")->isEnabled());
    // Closing the main window during the search stops it first; the window closes after it.
    main_->close();
    for (int i = 0; i < 200 && main_->isVisible(); ++i) {
        QTest::qWait(10);
    }
    EXPECT_FALSE(main_->isVisible());
    EXPECT_FALSE(w.searching());
    EXPECT_TRUE(child<QLabel>(w, "statusLabel")->text().startsWith(QStringLiteral("中止しました。")));
    EXPECT_FALSE(child<QPushButton>(w, "stopButton")->isEnabled());
    const int shown = table->rowCount();
    QTest::qWait(100);
    EXPECT_EQ(table->rowCount(), shown);
    EXPECT_LT(shown, 80004);
}

TEST_F(SearchWindowTest, TypingSearchesAndNeverShowsAnOlderPatternsHits) {
    for (int i = 0; i < 4; ++i) {
        writeCatalogue(library_.filePath(QStringLiteral("big%1.csv").arg(i)), QStringLiteral("L%1").arg(i),
                       20000);
    }
    QTemporaryDir cache;
    SearchWindow w({dialogs_, launcher_, store_, 15, cache.filePath(QStringLiteral("index.sqlite"))});
    w.show();
    EXPECT_EQ(child<QLabel>(w, "sourcesLabel")->text(), QStringLiteral("検索対象: ライブラリ（%1）").arg(library_.path()));
    auto* pattern = child<QLineEdit>(w, "patternEdit");
    auto* table = child<QTableWidget>(w, "hitTable");
    QTest::keyClicks(pattern, QStringLiteral("name"));
    QDeadlineTimer deadline(20000);
    while (table->rowCount() == 0 && !deadline.hasExpired()) {
        QTest::qWait(2);
    }
    ASSERT_GT(table->rowCount(), 0); // no button pressed
    // Typed on while the hits of "name" (every entry) still come, and through three patterns between.
    QTest::keyClick(pattern, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(pattern, QStringLiteral("1999"));
    ASSERT_TRUE(settle(w));
    ASSERT_EQ(table->rowCount(), 48); // name1999, name11999, name19990 to name19999 of each catalogue
    for (int row = 0; row < table->rowCount(); ++row) {
        EXPECT_TRUE(table->item(row, 2)->text().contains(QStringLiteral("1999"))) << row;
    }
    EXPECT_EQ(child<QLabel>(w, "statusLabel")->text(), QStringLiteral("48件見つかりました（カタログ4個）。"));
}

TEST_F(SearchWindowTest, CountsTheMediaOfEachHitAndListsTheFilesOneMediumAloneHolds) {
    // A holds only.txt and resized.txt alone; B holds both.txt with A and a resized.txt of its own;
    // all.txt is on A, B and C. An empty file is on A alone too: no medium is counted for it.
    const auto medium = [&](const char* label, const QStringList& lines) {
        QFile file(library_.filePath(QString::fromLatin1(label) + QStringLiteral(".csv")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QString text = QStringLiteral(
            "\xFEFF\"ファイル名\",\"ディレクトリ\",\"サイズ\",\"日付\",\"時間\",\"ボリューム\",\"TYPE\"\r\n");
        for (const QString& line : lines) {
            text += line + QStringLiteral(",\"2026/12/08\",\"09:00:00\",\"%1\",\"F\"\r\n").arg(QLatin1String(label));
        }
        file.write(text.toUtf8());
    };
    medium("A", {QStringLiteral("\"only.txt\",\"/a\",10"), QStringLiteral("\"both.txt\",\"/a\",20"),
                 QStringLiteral("\"all.txt\",\"/a\",30"), QStringLiteral("\"resized.txt\",\"/a\",40"),
                 QStringLiteral("\"empty.txt\",\"/a\",0")});
    medium("B", {QStringLiteral("\"both.txt\",\"/b\",20"), QStringLiteral("\"all.txt\",\"/b\",30"),
                 QStringLiteral("\"resized.txt\",\"/b\",41")});
    medium("C", {QStringLiteral("\"all.txt\",\"/c\",30")});
    QTemporaryDir cache;
    SearchWindow w({dialogs_, launcher_, store_, 15, cache.filePath(QStringLiteral("index.sqlite"))});
    w.show();
    auto* table = child<QTableWidget>(w, "hitTable");
    const auto rows = [&] {
        QStringList shown;
        for (int row = 0; row < table->rowCount(); ++row) {
            shown.append(table->item(row, 0)->text() + QLatin1Char(' ') + table->item(row, 2)->text() +
                         QLatin1Char(' ') + table->item(row, 5)->text());
        }
        shown.sort();
        return shown;
    };
    child<QLineEdit>(w, "patternEdit")->setText(QStringLiteral(".txt"));
    ASSERT_TRUE(settle(w));
    EXPECT_EQ(table->horizontalHeaderItem(5)->text(), QStringLiteral("媒体数"));
    EXPECT_EQ(rows(), (QStringList{QStringLiteral("A all.txt 3"), QStringLiteral("A both.txt 2"),
                                   QStringLiteral("A empty.txt "), QStringLiteral("A only.txt 1"),
                                   QStringLiteral("A resized.txt 1"), QStringLiteral("B all.txt 3"),
                                   QStringLiteral("B both.txt 2"), QStringLiteral("B resized.txt 1"),
                                   QStringLiteral("C all.txt 3")}));
    table->sortItems(5, Qt::DescendingOrder); // as numbers
    EXPECT_EQ(table->item(0, 5)->text(), QStringLiteral("3"));

    child<QCheckBox>(w, "singleCopiesCheck")->setChecked(true);
    ASSERT_TRUE(settle(w));
    EXPECT_EQ(rows(), (QStringList{QStringLiteral("A only.txt 1"), QStringLiteral("A resized.txt 1"),
                                   QStringLiteral("B resized.txt 1")}));
    EXPECT_EQ(child<QLabel>(w, "statusLabel")->text(), QStringLiteral("1つの媒体にしかないファイルが3件あります。"));
    child<QLineEdit>(w, "patternEdit")->setText(QStringLiteral("ONLY"));
    ASSERT_TRUE(settle(w));
    EXPECT_EQ(rows(), QStringList{QStringLiteral("A only.txt 1")});
}

TEST_F(SearchWindowTest, AnIndexThatCannotBeMadeLeavesTheFilesReadDirectly) {
    writeCatalogue(library_.filePath(QStringLiteral("a.csv")), QStringLiteral("A"), 3);
    QTemporaryFile blocker; // the index's folder would have to be made beneath a file
    ASSERT_TRUE(blocker.open());
    SearchWindow w({dialogs_, launcher_, store_, 15, blocker.fileName() + QStringLiteral("/index.sqlite")});
    w.show();
    child<QLineEdit>(w, "patternEdit")->setText(QStringLiteral("name"));
    ASSERT_TRUE(settle(w));
    EXPECT_EQ(child<QTableWidget>(w, "hitTable")->rowCount(), 3);
    EXPECT_EQ(child<QLabel>(w, "statusLabel")->text(),
              QStringLiteral("索引を使えないため、カタログを直接読みました。3件見つかりました（カタログ1個、4行を検索）。"));
    child<QCheckBox>(w, "singleCopiesCheck")->setChecked(true);
    ASSERT_TRUE(settle(w));
    // The command line's answer: the list is made from the files (name0.txt is empty).
    EXPECT_EQ(child<QTableWidget>(w, "hitTable")->rowCount(), 2);
    EXPECT_EQ(child<QLabel>(w, "statusLabel")->text(),
              QStringLiteral("索引を使えないため、カタログを直接読みました。1つの媒体にしかないファイルが2件あります。"));
}

} // namespace
} // namespace kartoma
