#include "SearchWindow.h"

#include "Failure.h"
#include "FileSystem.h"
#include "JapaneseMessages.h"
#include "Launcher.h"
#include "NameText.h"
#include "SearchPattern.h"
#include "Settings.h"
#include "SettingsStore.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
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
#include <QTimer>

namespace kartoma {

namespace {

const QString kApp = QStringLiteral("Kartoma");
const QString kSection = QStringLiteral("search");
const QString kFolderKey = QStringLiteral("folder");

enum Column {
    VolumeColumn,
    FolderColumn,
    NameColumn,
    SizeColumn,
    DateColumn,
    MediaColumn,
    CatalogueColumn,
    ColumnCount
};
/// How long the pattern must rest before a search starts: a fast typist's pause between keys.
constexpr int kDebounceMs = 120;
/// How long the window adds rows at one go before it lets the event loop run.
constexpr int kRowsSliceMs = 8;
/// Where a hit keeps its full path (folder and name joined) and its catalogue's path.
constexpr int kPathRole = Qt::UserRole;
constexpr int kCatalogueRole = Qt::UserRole + 1;

/// A count as the window shows it, with thousands separators: 302,295.
QString grouped(std::uint64_t count) {
    QLocale locale(QLocale::Japanese, QLocale::Japan);
    locale.setNumberOptions(QLocale::DefaultNumberOptions);
    return locale.toString(static_cast<qulonglong>(count));
}

/// The status line after a search. The lines an index looked at say nothing to the user: they are
/// counted only when the catalogues were read.
QString summaryText(const SearchOutcome& outcome, int maxShown) {
    if (!outcome.anyCatalogue) {
        return QStringLiteral("カタログ（.xlsx、.csv）がありません。");
    }
    const SearchSummary& summary = outcome.summary;
    QString text = outcome.fromIndex ? QStringLiteral("%1件見つかりました（カタログ%2個）。")
                                          .arg(grouped(summary.hits), grouped(summary.catalogues))
                                    : QStringLiteral("%1件見つかりました（カタログ%3個、%2行を検索）。")
                                          .arg(grouped(summary.hits), grouped(summary.rows),
                                               grouped(summary.catalogues));
    if (summary.stopped) {
        text.prepend(QStringLiteral("中止しました。"));
    }
    if (summary.hits > static_cast<std::uint64_t>(maxShown)) {
        text += QStringLiteral("最初の%1件を表示しています。").arg(grouped(static_cast<std::uint64_t>(maxShown)));
    }
    if (summary.unreadable > 0) {
        text += QStringLiteral("読めなかったファイルが%1個あります。").arg(grouped(summary.unreadable));
    }
    return text;
}

/// The status line after a list of the entries held by one medium only.
QString singleCopiesText(const SearchOutcome& outcome, int maxShown) {
    if (!outcome.anyCatalogue) {
        return QStringLiteral("カタログ（.xlsx、.csv）がありません。");
    }
    const SearchSummary& summary = outcome.summary;
    QString text = summary.stopped ? QStringLiteral("中止しました。1つの媒体にしかないファイルが%1件あります。")
                                   : QStringLiteral("1つの媒体にしかないファイルが%1件あります。");
    text = text.arg(grouped(summary.hits));
    if (outcome.indexUnusable) {
        text.prepend(QStringLiteral("索引を使えないため、カタログを直接読みました。"));
    }
    if (summary.hits > static_cast<std::uint64_t>(maxShown)) {
        text += QStringLiteral("最初の%1件を表示しています。").arg(grouped(static_cast<std::uint64_t>(maxShown)));
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

/// A table cell that sorts by number where the column holds sizes or counts.
class NumberItem final : public QTableWidgetItem {
public:
    explicit NumberItem(const QString& text) : QTableWidgetItem(text) {
        setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    bool operator<(const QTableWidgetItem& other) const override {
        return text().toLongLong() < other.text().toLongLong();
    }
};

} // namespace

SearchWindow::SearchWindow(SearchWindowServices services, QWidget* parent)
    : QWidget(parent, Qt::Window), services_(services) {
    setObjectName(QStringLiteral("searchWindow"));
    setWindowTitle(QStringLiteral("カタログ検索"));
    auto* grid = new QGridLayout(this);
    buildQueryRows(grid);
    buildHitTable();
    grid->addWidget(table_, 3, 0, 1, 4);
    failures_ = new QListWidget(this);
    failures_->setObjectName(QStringLiteral("failureList"));
    failures_->setVisible(false);
    failures_->setMaximumHeight(fontMetrics().height() * 6);
    failures_->setWordWrap(true);
    grid->addWidget(failures_, 4, 0, 1, 4);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("searchProgress"));
    progress_->setVisible(false);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("statusLabel"));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(progress_);
    bottom->addWidget(status_, 1);
    grid->addLayout(bottom, 5, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    setAcceptDrops(true);
    resize(960, 480);

    connectQueryRows();
    startRunner();
    showSources();
}

void SearchWindow::buildQueryRows(QGridLayout* grid) {
    auto* patternLabel = new QLabel(QStringLiteral("ファイル名(&N):"), this);
    grid->addWidget(patternLabel, 0, 0);
    pattern_ = new QLineEdit(this);
    pattern_->setObjectName(QStringLiteral("patternEdit"));
    pattern_->setToolTip(QStringLiteral(
        "入力した文字を含むファイル名を探します。? 任意の1文字、* 任意の文字列、# 数字1文字、"
        "[a-z] 文字の範囲を使うと、ファイル名全体と照合します。\n"
        "大文字と小文字、全角と半角、ひらがなとカタカナは区別しません。"));
    pattern_->setClearButtonEnabled(true);
    patternLabel->setBuddy(pattern_);
    grid->addWidget(pattern_, 0, 1, 1, 2);
    matchPath_ = new QCheckBox(QStringLiteral("ディレクトリも含めて照合(&D)"), this);
    matchPath_->setObjectName(QStringLiteral("matchPathCheck"));
    grid->addWidget(matchPath_, 0, 3);

    auto* folderLabel = new QLabel(QStringLiteral("カタログのフォルダ(&F):"), this);
    grid->addWidget(folderLabel, 1, 0);
    savedFolder_ = services_.store.getSetting(kApp, kSection, kFolderKey, QString());
    folder_ = new QLineEdit(savedFolder_, this);
    folder_->setObjectName(QStringLiteral("folderEdit"));
    folder_->setPlaceholderText(QStringLiteral("ライブラリのほかに検索するフォルダ"));
    folder_->setClearButtonEnabled(true);
    folderLabel->setBuddy(folder_);
    grid->addWidget(folder_, 1, 1);
    auto* browse = new QPushButton(QStringLiteral("参照(&B)..."), this);
    browse->setObjectName(QStringLiteral("browseButton"));
    connect(browse, &QPushButton::clicked, this, &SearchWindow::browse);
    grid->addWidget(browse, 1, 2);

    auto* buttons = new QHBoxLayout;
    search_ = new QPushButton(QStringLiteral("検索(&S)"), this);
    search_->setObjectName(QStringLiteral("searchButton"));
    search_->setDefault(true);
    connect(search_, &QPushButton::clicked, this, &SearchWindow::startSearch);
    connect(pattern_, &QLineEdit::returnPressed, this, &SearchWindow::startSearch);
    stop_ = new QPushButton(QStringLiteral("中止(&T)"), this);
    stop_->setObjectName(QStringLiteral("stopButton"));
    stop_->setEnabled(false);
    connect(stop_, &QPushButton::clicked, this, &SearchWindow::stopSearch);
    buttons->addWidget(search_);
    buttons->addWidget(stop_);
    grid->addLayout(buttons, 1, 3);

    auto* choices = new QHBoxLayout;
    library_ = new QCheckBox(QStringLiteral("ライブラリを検索(&L)"), this);
    library_->setObjectName(QStringLiteral("libraryCheck"));
    library_->setChecked(true);
    singleCopies_ = new QCheckBox(QStringLiteral("1つの媒体にしかないファイル(&O)"), this);
    singleCopies_->setObjectName(QStringLiteral("singleCopiesCheck"));
    singleCopies_->setToolTip(QStringLiteral(
        "同じ名前・サイズ・日時のファイルがほかのボリュームにないファイルを表示します（フォルダと空のファイルを除く）。"
        "ファイル名を入力すると、それに合うものだけを表示します。"));
    sources_ = new QLabel(this);
    sources_->setObjectName(QStringLiteral("sourcesLabel"));
    sources_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    choices->addWidget(library_);
    choices->addWidget(singleCopies_);
    choices->addWidget(sources_, 1);
    grid->addLayout(choices, 2, 0, 1, 4);
}

void SearchWindow::buildHitTable() {
    table_ = new QTableWidget(0, ColumnCount, this);
    table_->setObjectName(QStringLiteral("hitTable"));
    table_->setHorizontalHeaderLabels({QStringLiteral("ボリューム"), QStringLiteral("ディレクトリ"),
                                       QStringLiteral("ファイル名"), QStringLiteral("サイズ"),
                                       QStringLiteral("日付"), QStringLiteral("媒体数"),
                                       QStringLiteral("カタログ")});
    table_->horizontalHeaderItem(MediaColumn)
        ->setToolTip(QStringLiteral("同じ名前・サイズ・日時のファイルを持つボリュームの数"));
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideMiddle);
    const int widths[] = {120, 220, 160, 80, 140, 60};
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
}

void SearchWindow::connectQueryRows() {
    debounce_ = new QTimer(this);
    debounce_->setSingleShot(true);
    debounce_->setInterval(kDebounceMs);
    connect(debounce_, &QTimer::timeout, this, &SearchWindow::startSearch);
    showMore_ = new QTimer(this);
    showMore_->setSingleShot(true);
    showMore_->setInterval(0);
    connect(showMore_, &QTimer::timeout, this, &SearchWindow::showQueuedHits);
    connect(pattern_, &QLineEdit::textChanged, this, &SearchWindow::patternChanged);
    connect(matchPath_, &QCheckBox::toggled, this, &SearchWindow::patternChanged);
    connect(singleCopies_, &QCheckBox::toggled, this, &SearchWindow::patternChanged);
    connect(library_, &QCheckBox::toggled, this, &SearchWindow::sourcesChanged);
    // A folder typed letter by letter names other folders on the way: it is searched once typed.
    connect(folder_, &QLineEdit::textEdited, this, [this] {
        dropped_.clear();
        showSources();
    });
    connect(folder_, &QLineEdit::editingFinished, this, [this] {
        if (folder_->isModified()) {
            folder_->setModified(false);
            sourcesChanged();
        }
    });
}

void SearchWindow::startRunner() {
    SearchRunnerCallbacks callbacks;
    callbacks.indexing = [this](int done, int total, const QString&) {
        progress_->setRange(0, total);
        progress_->setValue(done);
        status_->setText(QStringLiteral("索引を作成中: %1 / %2").arg(grouped(done), grouped(total)));
    };
    callbacks.reading = [this](int done, int total, std::uint64_t rows, const QString& catalogue) {
        progress_->setRange(0, total);
        progress_->setValue(done);
        status_->setText(QStringLiteral("検索中です（%1行）: %2").arg(grouped(rows), readablePath(catalogue)));
    };
    callbacks.hits = [this](const QList<SearchHit>& hits) { addHits(hits); };
    callbacks.unreadable = [this](const Failure& failure) { unreadable(failure); };
    callbacks.finished = [this](const SearchOutcome& outcome) { finished(outcome); };
    runner_ = new SearchRunner({services_.indexPath, services_.yieldIntervalMs, kMaxShown},
                               std::move(callbacks), this);
}

SearchWindow::~SearchWindow() = default;

bool SearchWindow::searching() const {
    return searching_ || debounce_->isActive();
}

void SearchWindow::browse() {
    const QString chosen =
        QFileDialog::getExistingDirectory(this, QStringLiteral("カタログのフォルダ"), folder_->text());
    if (!chosen.isEmpty()) {
        folder_->setText(chosen);
        sourcesChanged();
    }
}

void SearchWindow::patternChanged() {
    debounce_->start();
}

void SearchWindow::sourcesChanged() {
    dropped_.clear();
    showSources();
    debounce_->start();
}

void SearchWindow::showSources() {
    QStringList parts;
    if (!dropped_.isEmpty()) {
        parts.append(dropped_.size() == 1 ? readablePath(dropped_.front())
                                          : QStringLiteral("ドロップした%1個").arg(grouped(dropped_.size())));
    } else {
        const QString library = library_->isChecked() ? libraryFolder(services_.store) : QString();
        if (!library.isEmpty()) {
            parts.append(QDir(library).exists()
                             ? QStringLiteral("ライブラリ（%1）").arg(readablePath(library))
                             : QStringLiteral("ライブラリ（%1、まだありません）").arg(readablePath(library)));
        }
        const QString folder = folder_->text().trimmed();
        if (!folder.isEmpty() && QDir::cleanPath(folder) != library) {
            parts.append(readablePath(folder));
        }
    }
    sources_->setText(parts.isEmpty() ? QStringLiteral("検索対象: なし")
                                      : QStringLiteral("検索対象: ") + parts.join(QStringLiteral("、")));
    sources_->setToolTip(sources_->text());
}

QStringList SearchWindow::searchedPaths(QString* problem) const {
    if (!dropped_.isEmpty()) {
        return dropped_;
    }
    QStringList paths;
    if (library_->isChecked()) {
        // The library is made on first use: until then there is nothing in it to search.
        const QString library = libraryFolder(services_.store);
        if (QDir(library).exists()) {
            paths.append(library);
        }
    }
    const QString folder = folder_->text().trimmed();
    if (!folder.isEmpty()) {
        if (!QDir(folder).exists()) {
            *problem = QStringLiteral("カタログのフォルダが見つかりません。");
            return {};
        }
        if (!paths.contains(QDir::cleanPath(folder))) {
            paths.append(folder);
        }
    }
    return paths;
}

void SearchWindow::setSearching(bool on) {
    searching_ = on;
    stop_->setEnabled(on);
    progress_->setVisible(on);
    // Sorting while rows arrive would move them under the user: the hits first show in catalogue
    // order; once all are in, a click on a column title sorts them.
    table_->horizontalHeader()->setSectionsClickable(!on);
}

void SearchWindow::tableEmptied() {
    // Rows set while a column is the sorted one would go to their sorted places. Turning sorting
    // off and on sorts the whole table: done here, while the table is empty, it costs nothing.
    table_->viewport()->setVisible(true);
    if (table_->horizontalHeader()->sortIndicatorSection() != -1) {
        table_->setSortingEnabled(false);
        table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
        table_->setSortingEnabled(true);
    }
}

void SearchWindow::startSearch() {
    QString problem;
    const QStringList paths = searchedPaths(&problem);
    if (!problem.isEmpty()) {
        abandon(problem);
        return;
    }
    const QString folder = folder_->text().trimmed();
    if (dropped_.isEmpty() && folder != savedFolder_) {
        services_.store.saveSetting(kApp, kSection, kFolderKey, folder);
        savedFolder_ = folder;
    }
    start(paths);
}

void SearchWindow::abandon(const QString& reason) {
    // The hits shown stay; nothing more of the search that ran comes in, and its end is not told.
    debounce_->stop();
    runner_->cancel();
    dropQueuedHits();
    outcome_.reset();
    setSearching(false);
    status_->setText(reason);
}

void SearchWindow::stopSearch() {
    debounce_->stop();
    runner_->stop();
}

void SearchWindow::searchPaths(const QStringList& paths) {
    dropped_ = paths;
    showSources();
    start(paths);
}

void SearchWindow::start(const QStringList& paths) {
    debounce_->stop();
    const QString pattern = pattern_->text();
    SearchRequest request{SearchRequest::Kind::Search, paths, SearchQuery{pattern, matchPath_->isChecked()}};
    if (singleCopies_->isChecked()) {
        request.kind = SearchRequest::Kind::SingleCopies;
    } else if (pattern.isEmpty()) {
        // Nothing to look for yet: the index is made ready for the first letter.
        request.kind = SearchRequest::Kind::Refresh;
    }
    if (SearchPattern::tooLong(pattern)) {
        abandon(QStringLiteral("検索するファイル名は%1文字以内で入力してください。")
                    .arg(grouped(SearchPattern::kMaxLength)));
        return;
    }
    kind_ = request.kind;
    dropQueuedHits();
    outcome_.reset();
    clearHits();
    failures_->clear();
    failures_->setVisible(false);
    progress_->setRange(0, 0);
    setSearching(true);
    status_->setText(kind_ == SearchRequest::Kind::Refresh ? QStringLiteral("カタログを確認しています。")
                                                           : QStringLiteral("検索中です。"));
    runner_->start(std::move(request));
}

void SearchWindow::clearHits() {
    showMore_->stop();
    staleRows_ = table_->rowCount();
    if (staleRows_ <= 4096) {
        table_->setRowCount(0);
        staleRows_ = 0;
        tableEmptied();
        return;
    }
    table_->viewport()->setVisible(false);
    showMore_->start();
}

void SearchWindow::dropQueuedHits() {
    // Freed a batch at a time while the window shows the next search: a hundred thousand hits take
    // a while to free.
    for (QList<SearchHit>& batch : queue_) {
        discarded_.push_back(std::move(batch));
    }
    queue_.clear();
    queueHead_ = 0;
    if (!discarded_.empty()) {
        showMore_->start();
    }
}

void SearchWindow::addHits(const QList<SearchHit>& hits) {
    queue_.push_back(hits);
    if (!showMore_->isActive()) {
        showQueuedHits();
    }
}

void SearchWindow::showQueuedHits() {
    // A batch of tens of thousands of rows would hold the event loop far longer than a keystroke
    // may wait: rows go in a slice at a time, the rest after the loop has run.
    QElapsedTimer slice;
    slice.start();
    // Tens of thousands of rows take longer to delete than a keystroke may wait too: the last
    // search's rows go a slice at a time from the end, out of sight, before the new ones come in.
    while (staleRows_ > 0 && slice.elapsed() < kRowsSliceMs) {
        const int count = std::min(staleRows_, 4096);
        table_->setRowCount(table_->rowCount() - count);
        staleRows_ -= count;
    }
    if (staleRows_ > 0) {
        showMore_->start();
        return;
    }
    if (table_->rowCount() == 0) {
        tableEmptied();
    }
    while (!discarded_.empty() && slice.elapsed() < kRowsSliceMs) {
        discarded_.pop_back();
    }
    while (!queue_.empty() && slice.elapsed() < kRowsSliceMs) {
        const QList<SearchHit>& batch = queue_.front();
        const qsizetype count = std::min<qsizetype>(64, batch.size() - queueHead_);
        int row = table_->rowCount();
        table_->setRowCount(row + static_cast<int>(count));
        for (qsizetype i = 0; i < count; ++i, ++row) {
            const SearchHit& hit = batch.at(queueHead_ + i);
            const QString path = joinPath(hit.folder, hit.name);
            const auto item = [&](int column, QTableWidgetItem* cell, const QString& tip) {
                cell->setToolTip(tip);
                table_->setItem(row, column, cell);
                return cell;
            };
            const QString catalogue = readablePath(hit.catalogue);
            item(VolumeColumn, new QTableWidgetItem(hit.label), path);
            item(FolderColumn, new QTableWidgetItem(hit.folder), path);
            QTableWidgetItem* name = item(NameColumn, new QTableWidgetItem(hit.name), path);
            name->setData(kPathRole, path);
            name->setData(kCatalogueRole, hit.catalogue);
            item(SizeColumn, new NumberItem(hit.size), path);
            item(DateColumn, new QTableWidgetItem(hit.date + QLatin1Char(' ') + hit.time), path);
            item(MediaColumn, new NumberItem(hit.media > 0 ? QString::number(hit.media) : QString()), path);
            item(CatalogueColumn, new QTableWidgetItem(QFileInfo(catalogue).fileName()), catalogue)
                ->setData(kCatalogueRole, hit.catalogue);
        }
        queueHead_ += count;
        if (queueHead_ == batch.size()) {
            queue_.pop_front();
            queueHead_ = 0;
        }
    }
    if (!queue_.empty() || !discarded_.empty()) {
        showMore_->start();
        return;
    }
    if (outcome_) {
        showOutcome();
    }
}

void SearchWindow::unreadable(const Failure& failure) {
    const QString text = japaneseText(failure).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    auto* item = new QListWidgetItem(text, failures_);
    item->setToolTip(text);
    failures_->setVisible(true);
}

void SearchWindow::finished(const SearchOutcome& outcome) {
    outcome_ = outcome;
    if (!showMore_->isActive()) {
        showOutcome();
    }
}

void SearchWindow::showOutcome() {
    const SearchOutcome outcome = *outcome_;
    outcome_.reset();
    setSearching(false);
    switch (kind_) {
    case SearchRequest::Kind::Refresh:
        status_->setText(outcome.indexUnusable ? QStringLiteral("索引を使えないため、カタログを直接読んで検索します。")
                                               : QStringLiteral("検索するファイル名を入力してください。"));
        return;
    case SearchRequest::Kind::SingleCopies:
        status_->setText(singleCopiesText(outcome, kMaxShown));
        return;
    case SearchRequest::Kind::Search:
        break;
    }
    QString text = summaryText(outcome, kMaxShown);
    if (outcome.indexUnusable) {
        text = QStringLiteral("索引を使えないため、カタログを直接読みました。") + text;
    }
    status_->setText(text);
}

void SearchWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shownOnce_) {
        // The index is brought up to date as the window opens, so the first letters find it ready.
        shownOnce_ = true;
        debounce_->start();
    }
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
    menu->setObjectName(QStringLiteral("hitMenu"));
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
        if (searching()) {
            stopSearch();
        } else {
            close();
        }
        return;
    }
    QWidget::keyPressEvent(event);
}

void SearchWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedPaths(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void SearchWindow::dropEvent(QDropEvent* event) {
    const QStringList paths = droppedPaths(event->mimeData());
    if (paths.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    // A folder dropped alone becomes the folder to search beside the library; anything else is
    // searched as it is.
    if (paths.size() == 1 && QFileInfo(paths.front()).isDir()) {
        folder_->setText(paths.front());
        dropped_.clear();
        showSources();
        startSearch();
        return;
    }
    searchPaths(paths);
}

void SearchWindow::closeEvent(QCloseEvent* event) {
    // Closing stops the search; whatever it still finds is dropped.
    if (searching()) {
        abandon(QStringLiteral("中止しました。"));
    }
    QWidget::closeEvent(event);
}

} // namespace kartoma
