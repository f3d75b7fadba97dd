// Shows each window of the program as a user sees it and saves a picture of it, for review and for
// the README, in the user's locale (LANG). Usage: kartoma_screenshots OUTPUT_FOLDER

#include "AboutBox.h"
#include "FileDialogs.h"
#include "Failure.h"
#include "FileSystem.h"
#include "JapaneseMessages.h"
#include "MainWindow.h"
#include "OptionsDialog.h"
#include "QtDialogs.h"
#include "SearchWindow.h"
#include "MemorySettingsStore.h"
#include "SplashWindow.h"
#include "VolumeLabelDialog.h"
#include "VolumeLabels.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

void save(QWidget& widget, const QString& path) {
    widget.show();
    widget.raise();
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "kartoma_screenshots: cannot write %s\n", qPrintable(path));
    }
}

/// Collapses the folder tree to the path of the folder shown and leaves out the top-level folders a
/// standard system does not have, so that the picture looks the same on any machine it is taken on.
void showOnlyTheDemoFolder(kartoma::MainWindow& window) {
    auto* tree = window.findChild<QTreeView*>(QStringLiteral("folderTree"));
    tree->collapseAll();
    window.setFolderPath(window.folderPath());
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    const QStringList standard = {
        QStringLiteral("bin"),  QStringLiteral("boot"), QStringLiteral("dev"),   QStringLiteral("etc"),
        QStringLiteral("home"), QStringLiteral("lib"),  QStringLiteral("lib64"), QStringLiteral("media"),
        QStringLiteral("mnt"),  QStringLiteral("opt"),  QStringLiteral("proc"),  QStringLiteral("root"),
        QStringLiteral("run"),  QStringLiteral("sbin"), QStringLiteral("srv"),   QStringLiteral("sys"),
        QStringLiteral("tmp"),  QStringLiteral("usr"),  QStringLiteral("var")};
    const QModelIndex root = tree->rootIndex();
    for (int row = 0; row < tree->model()->rowCount(root); ++row) {
        const QString name = tree->model()->index(row, 0, root).data().toString();
        tree->setRowHidden(row, root, !standard.contains(name));
    }
}

/// Saves a picture of the screen where `widgets` are (a window and its popup menu).
void saveScreen(std::initializer_list<QWidget*> widgets, const QString& path) {
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    QRect area;
    for (QWidget* widget : widgets) {
        area |= widget->frameGeometry();
    }
    if (!QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).save(path)) {
        std::fprintf(stderr, "kartoma_screenshots: cannot write %s\n", qPrintable(path));
    }
}

/// Saves a picture of each modal dialog that opens, once it has settled, then answers it with
/// `answer`; stops after `count` dialogs.
void grabModals(const QStringList& paths, std::function<void(QWidget*)> answer) {
    auto* timer = new QTimer;
    timer->setInterval(50);
    auto seen = std::make_shared<int>(0);
    auto settled = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            *settled = 0;
            return;
        }
        // The file dialog reads its folder in the background: let it show what it found.
        if (++*settled < 10) {
            return;
        }
        *settled = 0;
        if (!modal->grab().save(paths[*seen])) {
            std::fprintf(stderr, "kartoma_screenshots: cannot write %s\n", qPrintable(paths[*seen]));
        }
        if (++*seen == paths.size()) {
            timer->stop();
            timer->deleteLater();
        }
        answer(modal);
    });
    timer->start();
}

/// Lets the search window's search run to its end.
void settle(kartoma::SearchWindow& search) {
    for (int i = 0; i < 1000 && search.searching(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::unique_ptr<QTranslator> qtTexts = kartoma::qtTranslatorFor(QLocale());
    if (qtTexts) {
        QCoreApplication::installTranslator(qtTexts.get());
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: kartoma_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    const QString programFolder = QCoreApplication::applicationDirPath() + QStringLiteral("/..");

    kartoma::QtDialogs dialogs;
    kartoma::DesktopLauncher launcher;
    kartoma::SystemVolumeLabels labels;
    kartoma::PosixFileSystem fileSystem;
    // A store in memory: the pictures never touch the user's options.
    kartoma::testing::MemorySettingsStore store;
    kartoma::Settings settings;
    kartoma::MainWindowServices services{dialogs,
                                         launcher,
                                         labels,
                                         fileSystem,
                                         store,
                                         QDir(programFolder).absolutePath(),
                                         QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
    // A small folder of the user's to show, made for the picture and removed after it.
    const QString demo = QDir::homePath() + QStringLiteral("/Kartoma サンプル");
    for (const char* sub : {"写真/2026", "資料", "音楽"}) {
        QDir().mkpath(demo + QLatin1Char('/') + QString::fromUtf8(sub));
    }
    for (const char* file :
         {"目録メモ.txt", "見積書.xlsx", "議事録 12月.docx", "photo-0001.jpg", "README.txt"}) {
        QFile f(demo + QLatin1Char('/') + QString::fromUtf8(file));
        f.open(QIODevice::WriteOnly);
    }
    kartoma::MainWindow window(settings, services);
    window.setFolderPath(demo);
    save(window, out + QStringLiteral("/main-window.png"));
    // Grown, the folder tree and the file list take the room.
    const QSize defaultSize = window.size();
    window.resize(1400, 1000);
    showOnlyTheDemoFolder(window);
    save(window, out + QStringLiteral("/main-window-large.png"));
    window.resize(defaultSize);

    // The CSV file's name, proposed where a list of that name already lies: the save dialog, then the
    // overwrite question (answered with Cancel).
    QFile(demo + QStringLiteral("/R081208.csv")).open(QIODevice::WriteOnly);
    dialogs.setParent(&window);
    grabModals({out + QStringLiteral("/save-dialog.png"), out + QStringLiteral("/overwrite.png")},
               [](QWidget* modal) {
                   if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                       box->button(QMessageBox::Cancel)->click();
                   } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                       dialog->accept();
                   }
               });
    QString chosen;
    kartoma::askSaveName(dialogs, demo + QStringLiteral("/R081208"), QStringLiteral(".csv"), chosen);

    // A finished workbook that no application opened: its folder or its path offered.
    grabModals({out + QStringLiteral("/saved-file.png")}, [](QWidget* modal) { modal->close(); });
    dialogs.offerSavedFile(QStringLiteral("Kartoma"),
                           kartoma::japaneseText(kartoma::Failure(kartoma::FailureCode::PresentFailed,
                                                                  demo + QStringLiteral("/DISK01_20261208-101500.xlsx"))));

    kartoma::OptionsDialog options(settings, const_cast<QString&>(window.filterPattern()), store);
    save(options, out + QStringLiteral("/options.png"));

    kartoma::AboutBox about;
    save(about, out + QStringLiteral("/about.png"));

    QString label;
    kartoma::VolumeLabelDialog labelDialog(label);
    labelDialog.labelEdit()->setText(QStringLiteral("/media/usb/写真"));
    save(labelDialog, out + QStringLiteral("/volume-label.png"));

    kartoma::SplashWindow splash([] {});
    splash.setAttribute(Qt::WA_DeleteOnClose, false); // it lives on this stack, not on its own
    for (int i = 0; i < 20; ++i) {
        splash.tick();
    }
    save(splash, out + QStringLiteral("/splash-middle.png"));
    while (!splash.finished()) {
        splash.tick();
    }
    save(splash, out + QStringLiteral("/splash-last.png"));

    // Three media's catalogues to search, written as the CSV writer writes them (UTF-8).
    const QString books = QDir::tempPath() + QStringLiteral("/カタログ");
    QDir().mkpath(books);
    const char* media[][2] = {{"写真DVD-2019", "/media/dvd/2019/夏"},
                              {"BACKUP-USB", "/media/usb/写真/旅行"},
                              {"資料ディスク", "/media/cd/資料/画像"}};
    for (int m = 0; m < 3; ++m) {
        QFile f(books + QStringLiteral("/medium%1.csv").arg(m + 1));
        f.open(QIODevice::WriteOnly);
        QString text = QStringLiteral(
            "\xFEFF\"ファイル名\",\"ディレクトリ\",\"サイズ\",\"日付\",\"時間\",\"ボリューム\",\"TYPE\"\r\n");
        for (int i = 1; i <= 4; ++i) {
            // The USB disk also holds the first two photos of the DVD: two media hold each.
            const int from = m == 1 && i <= 2 ? 0 : m;
            text +=
                QStringLiteral("\"IMG_%1%2.jpg\",\"%3\",%4,\"20%5/08/1%2\",\"10:2%2:00\",\"%6\",\"F\"\r\n")
                    .arg(from + 1)
                    .arg(i)
                    .arg(QString::fromUtf8(media[m][1]))
                    .arg(1843200 + 104729 * (i + 4 * from))
                    .arg(19 + from)
                    .arg(QString::fromUtf8(media[m][0]));
        }
        f.write(text.toUtf8());
    }
    // The three are the library; the index is the picture's own.
    kartoma::testing::MemorySettingsStore library;
    library.option(kartoma::kLibraryKey) = books;
    const QString index = QDir::tempPath() + QStringLiteral("/kartoma-screenshots-index.sqlite");
    kartoma::SearchWindow search({dialogs, launcher, library, 15, index});
    search.show();
    search.findChild<QLineEdit*>(QStringLiteral("patternEdit"))->setText(QStringLiteral("img_"));
    settle(search);
    save(search, out + QStringLiteral("/search.png"));

    // A hit's menu, a window of its own: the picture is taken from the screen.
    auto* table = search.findChild<QTableWidget*>(QStringLiteral("hitTable"));
    table->selectRow(4);
    QMenu* menu = search.contextMenuFor(4);
    const QRect cell = table->visualItemRect(table->item(4, 2));
    menu->popup(table->viewport()->mapToGlobal(cell.center()));
    saveScreen({&search, menu}, out + QStringLiteral("/search-menu.png"));
    menu->close();
    delete menu;

    // Files that are no catalogue, named in the window itself.
    QFile broken(books + QStringLiteral("/古いディスク.xlsx"));
    broken.open(QIODevice::WriteOnly);
    broken.write("PK\x03\x04 not a workbook");
    broken.close();
    QFile notes(books + QStringLiteral("/メモ.csv"));
    notes.open(QIODevice::WriteOnly);
    notes.write("date,amount\r\n2024/01/01,300\r\n");
    notes.close();
    search.findChild<QPushButton*>(QStringLiteral("searchButton"))->click();
    settle(search);
    save(search, out + QStringLiteral("/search-error.png"));

    // A library of new catalogues: the window brings the index up to date before it searches.
    const QString shelf = QDir::tempPath() + QStringLiteral("/ライブラリ");
    QDir().mkpath(shelf);
    for (int m = 0; m < 400; ++m) {
        QFile f(shelf + QStringLiteral("/DISC%1.csv").arg(m, 3, 10, QLatin1Char('0')));
        f.open(QIODevice::WriteOnly);
        QString text = QStringLiteral(
            "\xFEFF\"ファイル名\",\"ディレクトリ\",\"サイズ\",\"日付\",\"時間\",\"ボリューム\",\"TYPE\"\r\n");
        for (int i = 0; i < 500; ++i) {
            text += QStringLiteral("\"写真%1.jpg\",\"/media/dvd/%2\",%3,\"2024/05/01\",\"10:00:00\",\"DISC%2\",\"F\"\r\n")
                        .arg(i)
                        .arg(m)
                        .arg(1000 + i);
        }
        f.write(text.toUtf8());
    }
    kartoma::testing::MemorySettingsStore shelfStore;
    shelfStore.option(kartoma::kLibraryKey) = shelf;
    const QString shelfIndex = QDir::tempPath() + QStringLiteral("/kartoma-screenshots-index2.sqlite");
    {
        kartoma::SearchWindow indexing({dialogs, launcher, shelfStore, 15, shelfIndex});
        indexing.findChild<QLineEdit*>(QStringLiteral("patternEdit"))->setText(QStringLiteral("写真1"));
        indexing.show();
        auto* status = indexing.findChild<QLabel*>(QStringLiteral("statusLabel"));
        for (int i = 0; i < 3000 && indexing.searching(); ++i) {
            QCoreApplication::processEvents();
            if (status->text().startsWith(QStringLiteral("索引を作成中")) && status->text().contains(QStringLiteral("5"))) {
                break;
            }
            QThread::msleep(2);
        }
        indexing.grab().save(out + QStringLiteral("/search-indexing.png"));
        indexing.close();
    }
    QDir(shelf).removeRecursively();

    QDir(demo).removeRecursively();
    QDir(books).removeRecursively();
    for (const QString& file : QDir(QDir::tempPath()).entryList({QStringLiteral("kartoma-screenshots-index*.sqlite*")})) {
        QFile::remove(QDir::tempPath() + QLatin1Char('/') + file);
    }
    return 0;
}
