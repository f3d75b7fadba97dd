#include "SearchWindow.h"

#include "Failure.h"
#include "FileSystem.h"
#include "JapaneseMessages.h"
#include "Launcher.h"
#include "NameText.h"
#include "SearchPattern.h"
#include "SettingsStore.h"
#include "Walk.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>

namespace kartoma {

namespace {

const QString kApp = QStringLiteral("Kartoma");
const QString kSection = QStringLiteral("search");
const QString kFolderKey = QStringLiteral("folder");

enum Column { VolumeColumn, FolderColumn, NameColumn, SizeColumn, DateColumn, CatalogueColumn, ColumnCount };
/// Where a hit keeps its full path (folder and name joined) and its catalogue's path.
constexpr int kPathRole = Qt::UserRole;
constexpr int kCatalogueRole = Qt::UserRole + 1;

/// A count as the window shows it, with thousands separators: 302,295.
QString grouped(std::uint64_t count) {
    QLocale locale(QLocale::Japanese, QLocale::Japan);
    locale.setNumberOptions(QLocale::DefaultNumberOptions);
    return locale.toString(static_cast<qulonglong>(count));
}

/// The status line after a search.
QString summaryText(const SearchSummary& summary, bool anyCatalogue, int maxShown) {
    if (!anyCatalogue) {
        return QStringLiteral("カタログ（.xlsx、.csv）がありません。");
    }
    QString text = summary.stopped
                       ? QStringLiteral("中止しました。%1件見つかりました（カタログ%3個、%2行を検索）。")
                       : QStringLiteral("%1件見つかりました（カタログ%3個、%2行を検索）。");
    text = text.arg(grouped(summary.hits), grouped(summary.rows), grouped(summary.catalogues));
    if (summary.hits > static_cast<std::uint64_t>(maxShown)) {
        text += QStringLiteral("最初の%1件を表示しています。").arg(grouped(static_cast<std::uint64_t>(maxShown)));
    }
    if (summary.unreadable > 0) {
        text += QStringLiteral("読めなかったファイルが%1個あります。").arg(grouped(summary.unreadable));
    }
    return text;
}

/// The local files and folders a drop carries; empty when it carries anything else.
QStringList droppedPaths(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr || !data->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) {
            return {};
        }
        paths.append(url.toLocalFile());
    }
    return paths;
}

/// A table cell that sorts by number where the column holds sizes.
class SizeItem final : public QTableWidgetItem {
public:
    explicit SizeItem(const QString& text) : QTableWidgetItem(text) {
        setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    bool operator<(const QTableWidgetItem& other) const override {
        return text().toLongLong() < other.text().toLongLong();
    }
};

} // namespace

SearchWindow::SearchWindow(SearchWindowServices services, QWidget* parent)
    : QWidget(parent, Qt::Window), services_(services) {
    setObjectName(QStringLiteral("frmSearch"));
    setWindowTitle(QStringLiteral("カタログ検索"));
    auto* grid = new QGridLayout(this);

    auto* patternLabel = new QLabel(QStringLiteral("ファイル名(&N):"), this);
    grid->addWidget(patternLabel, 0, 0);
    pattern_ = new QLineEdit(QStringLiteral("*"), this);
    pattern_->setObjectName(QStringLiteral("txtPattern"));
    pattern_->setToolTip(QStringLiteral(
        "入力した文字を含むファイル名を探します。? 任意の1文字、* 任意の文字列、# 数字1文字、"
        "[a-z] 文字の範囲を使うと、ファイル名全体と照合します。\n"
        "大文字と小文字、全角と半角、ひらがなとカタカナは区別しません。"));
    patternLabel->setBuddy(pattern_);
    grid->addWidget(pattern_, 0, 1, 1, 2);
    matchPath_ = new QCheckBox(QStringLiteral("ディレクトリも含めて照合(&D)"), this);
    matchPath_->setObjectName(QStringLiteral("chkPath"));
    grid->addWidget(matchPath_, 0, 3);

    auto* folderLabel = new QLabel(QStringLiteral("カタログのフォルダ(&F):"), this);
    grid->addWidget(folderLabel, 1, 0);
    folder_ = new QLineEdit(services_.store.getSetting(kApp, kSection, kFolderKey, QDir::homePath()), this);
    folder_->setObjectName(QStringLiteral("txtFolder"));
    folderLabel->setBuddy(folder_);
    grid->addWidget(folder_, 1, 1);
    auto* browse = new QPushButton(QStringLiteral("参照(&B)..."), this);
    browse->setObjectName(QStringLiteral("cmdBrowse"));
    connect(browse, &QPushButton::clicked, this, &SearchWindow::browse);
    grid->addWidget(browse, 1, 2);

    auto* buttons = new QHBoxLayout;
    search_ = new QPushButton(QStringLiteral("検索(&S)"), this);
    search_->setObjectName(QStringLiteral("cmdSearch"));
    search_->setDefault(true);
    connect(search_, &QPushButton::clicked, this, &SearchWindow::cmdSearch_Click);
    connect(pattern_, &QLineEdit::returnPressed, this, &SearchWindow::cmdSearch_Click);
    stop_ = new QPushButton(QStringLiteral("中止(&T)"), this);
    stop_->setObjectName(QStringLiteral("cmdStop"));
    stop_->setEnabled(false);
    connect(stop_, &QPushButton::clicked, this, &SearchWindow::cmdStop_Click);
    buttons->addWidget(search_);
    buttons->addWidget(stop_);
    grid->addLayout(buttons, 1, 3);

    table_ = new QTableWidget(0, ColumnCount, this);
    table_->setObjectName(QStringLiteral("tblHits"));
    table_->setHorizontalHeaderLabels({QStringLiteral("ボリューム"), QStringLiteral("ディレクトリ"),
                                       QStringLiteral("ファイル名"), QStringLiteral("サイズ"),
                                       QStringLiteral("日付"), QStringLiteral("カタログ")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideMiddle);
    const int widths[] = {120, 220, 160, 80, 140};
    for (int c = 0; c < CatalogueColumn; ++c) {
        table_->setColumnWidth(c, widths[c]);
    }
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setSortingEnabled(true);
    table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    table_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { openCatalogueOf(row); });
    connect(table_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const int row = table_->rowAt(at.y());
        if (row < 0) {
            return;
        }
        QMenu* menu = contextMenuFor(row);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(table_->viewport()->mapToGlobal(at));
    });
    grid->addWidget(table_, 2, 0, 1, 4);
    failures_ = new QListWidget(this);
    failures_->setObjectName(QStringLiteral("lstFailures"));
    failures_->setVisible(false);
    failures_->setMaximumHeight(fontMetrics().height() * 6);
    failures_->setWordWrap(true);
    grid->addWidget(failures_, 3, 0, 1, 4);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("prgSearch"));
    progress_->setVisible(false);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("lblStatus"));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(progress_);
    bottom->addWidget(status_, 1);
    grid->addLayout(bottom, 4, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    setAcceptDrops(true);
    resize(900, 460);
}

void SearchWindow::browse() {
    const QString chosen =
        QFileDialog::getExistingDirectory(this, QStringLiteral("カタログのフォルダ"), folder_->text());
    if (!chosen.isEmpty()) {
        folder_->setText(chosen);
    }
}

void SearchWindow::setSearching(bool on) {
    searching_ = on;
    search_->setEnabled(!on);
    stop_->setEnabled(on);
    pattern_->setEnabled(!on);
    folder_->setEnabled(!on);
    matchPath_->setEnabled(!on);
    progress_->setVisible(on);
    // Sorting while rows arrive would move them under the user. The hits first show in catalogue
    // order; a click on a column title sorts them.
    if (on) {
        table_->setSortingEnabled(false);
    } else {
        table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
        table_->setSortingEnabled(true);
    }
}

void SearchWindow::cmdSearch_Click() {
    if (searching_) {
        return; // a second search cannot start while one runs
    }
    const QString folder = folder_->text().trimmed();
    if (folder.isEmpty() || !QDir(folder).exists()) {
        status_->setText(QStringLiteral("カタログのフォルダが見つかりません。"));
        return;
    }
    searchPaths({folder});
}

void SearchWindow::searchPaths(const QStringList& paths) {
    if (searching_) {
        return;
    }
    if (pattern_->text().isEmpty()) {
        status_->setText(QStringLiteral("検索するファイル名を入力してください。"));
        return;
    }
    if (SearchPattern::tooLong(pattern_->text())) {
        status_->setText(QStringLiteral("検索するファイル名は%1文字以内で入力してください。")
                             .arg(grouped(SearchPattern::kMaxLength)));
        return;
    }
    if (paths.size() == 1 && paths.front() == folder_->text().trimmed()) {
        services_.store.saveSetting(kApp, kSection, kFolderKey, paths.front());
    }
    table_->setRowCount(0);
    failures_->clear();
    failures_->setVisible(false);
    hitsFound_ = 0;
    stopRequested_ = false;
    PosixFileSystem fileSystem;
    const CatalogueFiles found = findCatalogueFiles(paths, fileSystem);
    catalogues_ = found.files;
    catalogueIndex_ = 0;
    currentCatalogue_.clear();
    progress_->setRange(0, static_cast<int>(catalogues_.size()));
    progress_->setValue(0);
    setSearching(true);
    status_->setText(QStringLiteral("検索中です。"));
    sinceYield_.start();
    // Folders that could not be read are listed with the catalogues that could not.
    for (const Failure& problem : found.problems) {
        unreadable(problem);
    }
    SearchSummary summary =
        searchCatalogues(catalogues_, SearchQuery{pattern_->text(), matchPath_->isChecked()}, *this);
    summary.unreadable += found.problems.size();
    setSearching(false);
    if (closeWhenDone_) {
        closeWhenDone_ = false;
        close();
        return;
    }
    status_->setText(summaryText(summary, !catalogues_.isEmpty(), kMaxShown));
}

void SearchWindow::hit(const SearchHit& hit) {
    if (++hitsFound_ > static_cast<std::uint64_t>(kMaxShown)) {
        return;
    }
    const int row = table_->rowCount();
    table_->insertRow(row);
    const QString path = joinPath(hit.folder, hit.name);
    const auto item = [&](int column, QTableWidgetItem* cell, const QString& tip) {
        cell->setData(kPathRole, path);
        cell->setData(kCatalogueRole, hit.catalogue);
        cell->setToolTip(tip);
        table_->setItem(row, column, cell);
    };
    const QString catalogue = readablePath(hit.catalogue);
    item(VolumeColumn, new QTableWidgetItem(hit.label), path);
    item(FolderColumn, new QTableWidgetItem(hit.folder), path);
    item(NameColumn, new QTableWidgetItem(hit.name), path);
    item(SizeColumn, new SizeItem(hit.size), path);
    item(DateColumn, new QTableWidgetItem(hit.date + QLatin1Char(' ') + hit.time), path);
    item(CatalogueColumn, new QTableWidgetItem(QFileInfo(catalogue).fileName()), catalogue);
}

void SearchWindow::unreadable(const Failure& failure) {
    const QString text = japaneseText(failure).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    auto* item = new QListWidgetItem(text, failures_);
    item->setToolTip(text);
    failures_->setVisible(true);
}

bool SearchWindow::keepGoing(const QString& catalogue, std::uint64_t rowsRead) {
    if (catalogue != currentCatalogue_) {
        currentCatalogue_ = catalogue;
        progress_->setValue(catalogueIndex_++);
    }
    if (sinceYield_.elapsed() >= services_.yieldIntervalMs) {
        status_->setText(QStringLiteral("検索中です（%1行）: %2").arg(grouped(rowsRead), readablePath(catalogue)));
        QCoreApplication::processEvents();
        sinceYield_.restart();
    }
    return !stopRequested_;
}

void SearchWindow::openCatalogueOf(int row) {
    if (const QTableWidgetItem* item = table_->item(row, CatalogueColumn)) {
        open(item->data(kCatalogueRole).toString());
    }
}

void SearchWindow::open(const QString& path) {
    // The opener may report later that nothing took the file; by then this window may be gone.
    const auto cannotOpen = [window = QPointer<SearchWindow>(this)](const QString& failed) {
        if (window) {
            window->status_->setText(QStringLiteral("%1 を開けませんでした。").arg(readablePath(failed)));
        }
    };
    if (!services_.launcher.openFile(path, cannotOpen)) {
        cannotOpen(path);
    }
}

QMenu* SearchWindow::contextMenuFor(int row) {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("mnuHit"));
    const QTableWidgetItem* item = table_->item(row, NameColumn);
    if (item == nullptr) {
        return menu;
    }
    const QString path = item->data(kPathRole).toString();
    const QString folder = table_->item(row, FolderColumn)->text();
    const QString catalogue = item->data(kCatalogueRole).toString();
    const auto add = [&](const char* name, const QString& text, auto action) {
        QAction* a = menu->addAction(text, this, action);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    add("copyPathAction", QStringLiteral("フルパスをコピー(&C)"),
        [path] { QApplication::clipboard()->setText(path); });
    add("copyFolderAction", QStringLiteral("フォルダのパスをコピー(&F)"),
        [folder] { QApplication::clipboard()->setText(folder); });
    menu->addSeparator();
    add("openCatalogueAction", QStringLiteral("カタログを開く(&O)"), [this, catalogue] { open(catalogue); });
    add("openFolderAction", QStringLiteral("フォルダを開く(&D)"), [this, folder] { open(folder); })
        ->setEnabled(QFileInfo(folder).isDir());
    return menu;
}

void SearchWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (searching_) {
            stopRequested_ = true;
        } else {
            close();
        }
        return;
    }
    QWidget::keyPressEvent(event);
}

void SearchWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!searching_ && !droppedPaths(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void SearchWindow::dropEvent(QDropEvent* event) {
    const QStringList paths = droppedPaths(event->mimeData());
    if (searching_ || paths.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    // A folder dropped alone becomes the folder to search; anything else is searched as it is.
    if (paths.size() == 1 && QFileInfo(paths.front()).isDir()) {
        folder_->setText(paths.front());
    }
    searchPaths(paths);
}

void SearchWindow::closeEvent(QCloseEvent* event) {
    // Closing while the search runs stops it; the window closes once the search has returned.
    if (searching_) {
        stopRequested_ = true;
        closeWhenDone_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace kartoma
