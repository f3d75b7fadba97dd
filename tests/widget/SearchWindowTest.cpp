#include "SearchWindow.h"
// GCC 12 takes the scripted dialogs' copy of an optional QString for maybe uninitialised here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include "Fakes.h"
#pragma GCC diagnostic pop
#include "FileSystem.h"
#include "MainWindow.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

namespace kartoma {
namespace {

using namespace kartoma::testing;

/// A UTF-8 catalogue of `rows` entries named name0.txt... under `label`, a photo among them.
void writeCatalogue(const QString& path, const QString& label, int rows) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QString text = QStringLiteral(
        "\xFEFF\"ファイル名\",\"ディレクトリ\",\"サイズ\",\"日付\",\"時間\",\"ボリューム\",\"TYPE\"\r\n");
    for (int i = 0; i < rows; ++i) {
        text += QStringLiteral("\"name%1.txt\",\"/m/d\",%2,\"2026/12/08\",\"09:00:00\",\"%3\",\"F\"\r\n")
                    .arg(i)
                    .arg(i * 100)
                    .arg(label);
    }
    text +=
        QStringLiteral("\"写真.jpg\",\"/m/写真\",5,\"2026/12/08\",\"09:00:00\",\"%1\",\"F\"\r\n").arg(label);
    file.write(text.toUtf8());
}

class SearchWindowTest : public ::testing::Test {
protected:
    SearchWindow& open() {
        Settings settings;
        settings.splash = false;
        settings_ = settings;
        MainWindowServices services{dialogs_, launcher_, labels_,        fileSystem_,
                                    store_,   QString(), folder_.path(), [] { return QDate(2026, 12, 8); },
                                    0};
        main_ = std::make_unique<MainWindow>(settings_, std::move(services));
        main_->show();
        QMenu* file = main_->findChild<QMenu*>(QStringLiteral("mnuFile"));
        QStringList names;
        for (QAction* a : file->actions()) {
            names.append(a->objectName());
        }
        // The new item comes after every item that was there before.
        EXPECT_EQ(names, (QStringList{QStringLiteral("mnuFileNew"), QStringLiteral("mnuFileOpen"),
                                      QStringLiteral("mnuFileExit"), QStringLiteral("mnuFileSearch")}));
        file->actions().back()->trigger();
        EXPECT_EQ(file->actions().back()->text(), QStringLiteral("カタログ検索(&S)..."));
        SearchWindow* window = main_->searchWindow();
        EXPECT_TRUE(window->isVisible());
        window->findChild<QLineEdit*>(QStringLiteral("txtFolder"))->setText(folder_.path());
        return *window;
    }
    template <typename T> T* child(SearchWindow& w, const char* name) {
        return w.findChild<T*>(QString::fromLatin1(name));
    }

    QTemporaryDir folder_;
    Settings settings_;
    ScriptedDialogs dialogs_;
    RecordingLauncher launcher_;
    FixedLabels labels_;
    PosixFileSystem fileSystem_;
    RecordingStore store_;
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
    child<QLineEdit>(w, "txtPattern")->setText(QStringLiteral("NAME1*"));
    child<QPushButton>(w, "cmdSearch")->click();

    auto* table = child<QTableWidget>(w, "tblHits");
    ASSERT_EQ(table->rowCount(), 4); // name1, name10, name11 of A, name1 of B
    EXPECT_EQ(table->horizontalHeaderItem(4)->text(), QStringLiteral("日付"));
    EXPECT_EQ(table->item(3, 0)->text(), QStringLiteral("ディスクB")); // first in catalogue order
    table->sortItems(3, Qt::DescendingOrder);                          // then by size, as numbers
    EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("name11.txt"));
    EXPECT_EQ(table->item(0, 0)->text(), QStringLiteral("ディスクA"));
    EXPECT_EQ(table->item(3, 3)->text(), QStringLiteral("100"));
    EXPECT_EQ(table->item(0, 4)->text(), QStringLiteral("2026/12/08 09:00:00"));
    EXPECT_EQ(child<QLabel>(w, "lblStatus")->text(),
              QStringLiteral("4件見つかりました（カタログ2個、17行を検索）。"));
    EXPECT_EQ(store_.writes, QStringList{QStringLiteral("Kartoma/search/folder=") + folder_.path()});
    ASSERT_EQ(dialogs_.messages.size(), 1);
    EXPECT_TRUE(dialogs_.messages[0].contains(QStringLiteral("notes.csv はカタログではありません")));

    const int rowOfB = table->findItems(QStringLiteral("ディスクB"), Qt::MatchExactly).front()->row();
    Q_EMIT table->cellDoubleClicked(rowOfB, 2);
    EXPECT_EQ(launcher_.opened, QStringList{folder_.filePath(QStringLiteral("b.csv"))});
}

TEST_F(SearchWindowTest, ClosingDuringALargeSearchStopsItThenCloses) {
    for (int i = 0; i < 4; ++i) {
        writeCatalogue(folder_.filePath(QStringLiteral("big%1.csv").arg(i)), QStringLiteral("L%1").arg(i),
                       20000);
    }
    SearchWindow& w = open();
    // Closing the main window during the search stops it first; the window closes after it.
    QTimer::singleShot(0, &w, [&] { main_->close(); });
    child<QPushButton>(w, "cmdSearch")->click();
    EXPECT_TRUE(child<QLabel>(w, "lblStatus")->text().startsWith(QStringLiteral("中止しました。")));
    EXPECT_LT(child<QTableWidget>(w, "tblHits")->rowCount(), 80004);
    EXPECT_FALSE(w.searching());
    EXPECT_TRUE(child<QPushButton>(w, "cmdSearch")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(w, "cmdStop")->isEnabled());
    for (int i = 0; i < 200 && main_->isVisible(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    EXPECT_FALSE(main_->isVisible());
}

} // namespace
} // namespace kartoma
