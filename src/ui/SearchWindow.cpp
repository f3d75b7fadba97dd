#include "SearchWindow.h"

#include "Dialogs.h"
#include "Failure.h"
#include "JapaneseMessages.h"
#include "Launcher.h"
#include "SettingsStore.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>

namespace kartoma {

namespace {

const QString kApp = QStringLiteral("Kartoma");
const QString kSection = QStringLiteral("search");
const QString kFolderKey = QStringLiteral("folder");

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

    grid->addWidget(new QLabel(QStringLiteral("ファイル名(&N):"), this), 0, 0);
    pattern_ = new QLineEdit(QStringLiteral("*"), this);
    pattern_->setObjectName(QStringLiteral("txtPattern"));
    pattern_->setToolTip(QStringLiteral(
        "? 任意の1文字、* 任意の文字列、# 数字1文字、[a-z] 文字の範囲（大文字と小文字は区別しません）"));
    grid->addWidget(pattern_, 0, 1, 1, 2);
    matchPath_ = new QCheckBox(QStringLiteral("ディレクトリも含めて照合(&D)"), this);
    matchPath_->setObjectName(QStringLiteral("chkPath"));
    grid->addWidget(matchPath_, 0, 3);

    grid->addWidget(new QLabel(QStringLiteral("カタログのフォルダ(&F):"), this), 1, 0);
    folder_ = new QLineEdit(services_.store.getSetting(kApp, kSection, kFolderKey, QDir::homePath()), this);
    folder_->setObjectName(QStringLiteral("txtFolder"));
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

    table_ = new QTableWidget(0, 5, this);
    table_->setObjectName(QStringLiteral("tblHits"));
    table_->setHorizontalHeaderLabels({QStringLiteral("ボリューム"), QStringLiteral("ディレクトリ"),
                                       QStringLiteral("ファイル名"), QStringLiteral("サイズ"),
                                       QStringLiteral("日付")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideMiddle);
    const int widths[] = {130, 230, 170, 90};
    for (int c = 0; c < 4; ++c) {
        table_->setColumnWidth(c, widths[c]);
    }
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setSortingEnabled(true);
    table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    table_->setToolTip(QStringLiteral("ダブルクリックで、その行のカタログを開きます。"));
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { openCatalogueOf(row); });
    grid->addWidget(table_, 2, 0, 1, 4);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("prgSearch"));
    progress_->setVisible(false);
    grid->addWidget(progress_, 3, 0, 1, 2);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("lblStatus"));
    grid->addWidget(status_, 3, 2, 1, 2);
    grid->setColumnStretch(1, 1);
    resize(820, 440);
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
    if (pattern_->text().isEmpty()) {
        status_->setText(QStringLiteral("検索するファイル名を入力してください。"));
        return;
    }
    if (folder.isEmpty() || !QDir(folder).exists()) {
        status_->setText(QStringLiteral("カタログのフォルダが見つかりません。"));
        return;
    }
    services_.store.saveSetting(kApp, kSection, kFolderKey, folder);
    table_->setRowCount(0);
    unreadable_.clear();
    hitsFound_ = 0;
    stopRequested_ = false;
    catalogues_ = catalogueFiles({folder});
    catalogueIndex_ = 0;
    currentCatalogue_.clear();
    progress_->setRange(0, static_cast<int>(catalogues_.size()));
    progress_->setValue(0);
    setSearching(true);
    status_->setText(QStringLiteral("検索中です。"));
    sinceYield_.start();
    const SearchSummary summary =
        searchCatalogues(catalogues_, SearchQuery{pattern_->text(), matchPath_->isChecked()}, *this);
    setSearching(false);
    if (closeWhenDone_) {
        closeWhenDone_ = false;
        close();
        return;
    }
    QString text = summary.stopped
                       ? QStringLiteral("中止しました。%1件見つかりました（カタログ%3個、%2行を検索）。")
                       : QStringLiteral("%1件見つかりました（カタログ%3個、%2行を検索）。");
    text = text.arg(summary.hits).arg(summary.rows).arg(summary.catalogues);
    if (summary.hits > static_cast<std::uint64_t>(kMaxShown)) {
        text += QStringLiteral("最初の%1件を表示しています。").arg(kMaxShown);
    }
    if (catalogues_.isEmpty()) {
        text = QStringLiteral("このフォルダにはカタログ（.xlsx、.csv）がありません。");
    }
    status_->setText(text);
    if (!unreadable_.empty()) {
        QString list;
        for (const QString& line : unreadable_) {
            list += line + QLatin1Char('\n');
        }
        services_.dialogs.inform(QStringLiteral("カタログ検索"),
                                 QStringLiteral("読めなかったファイルがあります。\n\n") + list, false);
    }
}

void SearchWindow::hit(const SearchHit& hit) {
    if (++hitsFound_ > static_cast<std::uint64_t>(kMaxShown)) {
        return;
    }
    const int row = table_->rowCount();
    table_->insertRow(row);
    auto* label = new QTableWidgetItem(hit.label);
    label->setData(Qt::UserRole, hit.catalogue);
    label->setToolTip(hit.catalogue);
    table_->setItem(row, 0, label);
    table_->setItem(row, 1, new QTableWidgetItem(hit.folder));
    table_->setItem(row, 2, new QTableWidgetItem(hit.name));
    table_->setItem(row, 3, new SizeItem(hit.size));
    table_->setItem(row, 4, new QTableWidgetItem(hit.date + QLatin1Char(' ') + hit.time));
}

void SearchWindow::unreadable(const Failure& failure) {
    unreadable_.push_back(japaneseText(failure));
}

bool SearchWindow::keepGoing(const QString& catalogue, std::uint64_t rowsRead) {
    if (catalogue != currentCatalogue_) {
        currentCatalogue_ = catalogue;
        progress_->setValue(catalogueIndex_++);
    }
    if (sinceYield_.elapsed() >= services_.yieldIntervalMs) {
        status_->setText(QStringLiteral("検索中です（%1行）: %2").arg(rowsRead).arg(catalogue));
        QCoreApplication::processEvents();
        sinceYield_.restart();
    }
    return !stopRequested_;
}

void SearchWindow::openCatalogueOf(int row) {
    const QTableWidgetItem* item = table_->item(row, 0);
    if (item == nullptr) {
        return;
    }
    const QString catalogue = item->data(Qt::UserRole).toString();
    // The opener may report later that nothing took the file; by then this window may be gone.
    const auto cannotOpen = [window = QPointer<SearchWindow>(this)](const QString& path) {
        if (window) {
            window->services_.dialogs.inform(QStringLiteral("カタログ検索"),
                                             QStringLiteral("%1 を開けませんでした。").arg(path), true);
        }
    };
    if (!services_.launcher.openFile(catalogue, cannotOpen)) {
        cannotOpen(catalogue);
    }
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
