#include "MainWindow.h"

#include "AboutBox.h"
#include "Dialogs.h"
#include "Failure.h"
#include "JapaneseMessages.h"
#include "NameText.h"
#include "OptionsDialog.h"
#include "Pointer.h"
#include "SearchWindow.h"
#include "VolumeLabels.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontMetricsF>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QListView>
#include <QMenuBar>
#include <QMovie>
#include <QProgressBar>
#include <QStatusBar>
#include <QStorageInfo>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

#include <cmath>

namespace kartoma {

namespace {

const QString kDriveErrorText = QStringLiteral("正しいドライブを選択してください");
const QString kDriveErrorTitle = QStringLiteral("ドライブエラー");

QString rootOf(const QString& path) {
    const QStorageInfo storage(path);
    return storage.isValid() ? storage.rootPath() : QStringLiteral("/");
}

ControllerServices controllerServices(const MainWindowServices& s) {
    // Read at each use: a folder chosen in the options dialog holds from the next command on.
    auto library = [&store = s.store, fixed = s.libraryFolder] {
        return fixed.isEmpty() ? libraryFolder(store) : fixed;
    };
    return ControllerServices{s.fileSystem,    s.labels, s.dialogs, s.launcher,
                              s.programFolder, library,  s.today,   s.engine};
}

} // namespace

CatalogueRequest requestFromOptions(const Settings& settings, const QString& filterPattern,
                                    const QString& folder, const QString& programFolder) {
    CatalogueRequest request;
    request.folder = folder;
    request.scan.walk.depth = settings.depth;
    request.scan.record.listFolders = settings.listFolders;
    request.scan.record.filterPattern = filterPattern;
    request.labelPolicy = settings.askForLabel ? LabelPolicy::AskWhenMissing : LabelPolicy::FolderWhenMissing;
    if (settings.saveAsCsv) {
        request.output = CsvTarget{};
    } else {
        WorkbookTarget workbook;
        workbook.templatePath = defaultTemplatePath(programFolder);
        workbook.titleOnFirstPage = settings.titleOnFirstPage;
        workbook.titleOnEveryPage = settings.titleOnEveryPage;
        workbook.linesPerPage = settings.linesPerPage;
        request.output = workbook;
    }
    return request;
}

MainWindow::MainWindow(Settings& settings, MainWindowServices services, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                              Qt::CustomizeWindowHint),
      settings_(settings), services_(std::move(services)), controller_(*this, controllerServices(services_)) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Kartoma for Excel97"));
    setWindowIcon(QIcon(QStringLiteral(":/artwork/kartoma.png")));
    buildMenus();
    buildToolbar();
    buildFolderViews();
    buildStatusLine();
    layOut();
    fillDrives();
    connectFolderViews();
    setFolderPath(QDir::currentPath());
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    file->setObjectName(QStringLiteral("fileMenu"));
    createListAction_ = file->addAction(QStringLiteral("ｴｸｾﾙﾌｧｲﾙ作成(&N)"), this, &MainWindow::onCreateList);
    createListAction_->setObjectName(QStringLiteral("createListAction"));
    // The keys named outright: the platform's standard bindings leave Quit without one on some.
    createListAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    QAction* open = file->addAction(QStringLiteral("ｴｸｾﾙﾌｧｲﾙを開く(&O)"), this, &MainWindow::onOpenList);
    open->setObjectName(QStringLiteral("openListAction"));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    QAction* search = file->addAction(QStringLiteral("カタログ検索(&S)..."), this, &MainWindow::onSearch);
    search->setObjectName(QStringLiteral("searchAction"));
    search->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    QAction* exit = file->addAction(QStringLiteral("終了(&X)"), this, &MainWindow::quitApp);
    exit->setObjectName(QStringLiteral("quitAction"));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QAction* options = menuBar()->addAction(QStringLiteral("オプション(&S)"), this, &MainWindow::onOptions);
    options->setObjectName(QStringLiteral("optionsAction"));
    QMenu* help = menuBar()->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    help->setObjectName(QStringLiteral("helpMenu"));
    QAction* contents = help->addAction(QStringLiteral("目次(&C)"), this, &MainWindow::onHelpContents);
    contents->setObjectName(QStringLiteral("helpContentsAction"));
    contents->setShortcut(QKeySequence(Qt::Key_F1));
    QAction* about = menuBar()->addAction(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)"), this, &MainWindow::onAbout);
    about->setObjectName(QStringLiteral("aboutAction"));
}

QAction* MainWindow::addToolAction(const char* name, const char* icon, const QString& tip,
                                   void (MainWindow::*slot)()) {
    QAction* action = toolbar_->addAction(QIcon(QString::fromLatin1(icon)), QString());
    action->setObjectName(QString::fromLatin1(name));
    action->setToolTip(tip);
    connect(action, &QAction::triggered, this, slot);
    return action;
}

void MainWindow::buildToolbar() {
    toolbar_ = new QToolBar(this);
    toolbar_->setObjectName(QStringLiteral("toolbar"));
    toolbar_->setIconSize(QSize(32, 32));
    toolbar_->setMovable(false);
    createListTool_ = addToolAction("createListToolAction", ":/artwork/toolbar-toExcel.png",
                             QStringLiteral("エクセルファイル作成"), &MainWindow::onCreateListButton);
    addToolAction("emptyAndOpenToolAction", ":/artwork/toolbar-open.png",
                  QStringLiteral("エクセルファイル表示"), &MainWindow::onEmptyAndOpenList);
    toolbar_->addSeparator();
    addToolAction("optionsToolAction", ":/artwork/toolbar-option.png", QStringLiteral("オプション"),
                  &MainWindow::onOptions);
    toolbar_->addSeparator();
    addToolAction("aboutToolAction", ":/artwork/toolbar-help.png", QStringLiteral("バージョン情報"),
                  &MainWindow::onAbout);
    toolbar_->addSeparator();
    quitTool_ = addToolAction("quitToolAction", ":/artwork/toolbar-bye.png", QStringLiteral("終了"),
                         &MainWindow::onQuitButton);
    toolbar_->addSeparator();
    stopTool_ = addToolAction("stopAction", ":/artwork/toolbar-stop.png", QStringLiteral("中断"),
                          &MainWindow::onStop);
    stopTool_->setVisible(false);
    // Esc stops too, while the button is offered.
    stopTool_->setShortcut(QKeySequence(Qt::Key_Escape));
    stopTool_->setShortcutContext(Qt::WindowShortcut);
}

void MainWindow::buildFolderViews() {
    drives_ = new QComboBox(this);
    drives_->setObjectName(QStringLiteral("driveList"));
    drives_->setStyleSheet(QStringLiteral("QComboBox { background-color: #E0E0E0; }"));
    // A long volume label does not widen the column: the list shows it in full when it opens.
    drives_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    folderModel_ = new QFileSystemModel(this);
    folderModel_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    folders_ = new QTreeView(this);
    folders_->setObjectName(QStringLiteral("folderTree"));
    folders_->setModel(folderModel_);
    folders_->setHeaderHidden(true);
    for (int c = 1; c < folderModel_->columnCount(); ++c) {
        folders_->hideColumn(c);
    }
    folders_->setStyleSheet(QStringLiteral("QTreeView { background-color: #E0E0E0; }"));

    fileModel_ = new QFileSystemModel(this);
    fileModel_->setFilter(QDir::Files | QDir::System);
    files_ = new QListView(this);
    files_->setObjectName(QStringLiteral("fileList"));
    files_->setModel(fileModel_);
    files_->setSelectionMode(QAbstractItemView::NoSelection);
    files_->setStyleSheet(QStringLiteral("QListView { background-color: #E0E0E0; }"));

    // The busy animation lies over the file list while it plays.
    animation_ = new QLabel(this);
    animation_->setObjectName(QStringLiteral("busyAnimation"));
    animation_->setAlignment(Qt::AlignCenter);
    animation_->setStyleSheet(
        QStringLiteral("QLabel { background-color: white; border: 1px solid #A0A0A0; }"));
    animation_->hide();

    setTabOrder(drives_, files_);
    setTabOrder(files_, folders_);
}

void MainWindow::buildStatusLine() {
    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName(QStringLiteral("statusLine"));
    statusBar_->setSizeGripEnabled(false);
    // The simple style: one text, kept until a command sets the next.
    statusLabel_ = new QLabel(statusBar_);
    statusLabel_->setObjectName(QStringLiteral("statusText"));
    // The label takes the room the bar gives it; a longer text is shortened to fit (showStatusText).
    statusLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar_->addWidget(statusLabel_, 1);

    // The progress bar lies over the status line while a command runs.
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progressBar"));
    progress_->setRange(0, 100);
    progress_->setTextVisible(false);
    progress_->hide();
}

void MainWindow::layOut() {
    // The drive list and the folder tree on the left, the file list on the right; both columns share
    // the width as 149 to 133, and the tree and the list take whatever height is left.
    auto* lists = new QGridLayout;
    lists->setContentsMargins(8, 8, 11, 3);
    lists->setHorizontalSpacing(19);
    lists->setVerticalSpacing(8);
    for (QWidget* grows : {static_cast<QWidget*>(drives_), static_cast<QWidget*>(folders_),
                           static_cast<QWidget*>(files_), static_cast<QWidget*>(animation_)}) {
        grows->setSizePolicy(QSizePolicy::Ignored, grows->sizePolicy().verticalPolicy());
    }
    lists->addWidget(drives_, 0, 0);
    lists->addWidget(folders_, 1, 0);
    lists->addWidget(files_, 0, 1, 2, 1);
    lists->addWidget(animation_, 0, 1, 2, 1);
    lists->setColumnStretch(0, 149);
    lists->setColumnStretch(1, 133);
    lists->setRowStretch(1, 1);

    auto* statusLine = new QGridLayout;
    statusLine->addWidget(statusBar_, 0, 0);
    statusLine->addWidget(progress_, 0, 0);

    auto* client = new QWidget(this);
    auto* column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(toolbar_);
    column->addLayout(lists, 1);
    column->addLayout(statusLine);
    setCentralWidget(client);

    // The default size: 320 × 226 pixels under the menu bar for a 13-pixel line at 96 dots per inch,
    // grown with the screen's resolution and the desktop's font; wide enough for the whole menu bar.
    // The window does not shrink below it.
    const double scale = std::max(logicalDpiX() / 96.0, QFontMetricsF(font()).height() / 13.0);
    const QSize size(std::max(static_cast<int>(std::lround(320 * scale)), menuBar()->sizeHint().width()),
                     static_cast<int>(std::lround(226 * scale)));
    client->setMinimumSize(size);
    resize(size.width(), size.height() + menuBar()->sizeHint().height());
}

void MainWindow::connectFolderViews() {
    connect(drives_, &QComboBox::activated, this, &MainWindow::onDriveActivated);
    connect(folders_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &MainWindow::showFolderFiles);
    // The model reads folders in the background: show the current one once its parent is read.
    connect(folderModel_, &QFileSystemModel::directoryLoaded, this, [this] {
        // The model sorts what it read a moment later; scroll once it has.
        QTimer::singleShot(50, this, [this] {
            if (folders_->currentIndex().isValid()) {
                folders_->scrollTo(folders_->currentIndex(), QAbstractItemView::PositionAtCenter);
            }
        });
    });
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    showStatusText();
}

void MainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) {
        wasMinimised_ = isMinimized();
    }
    QMainWindow::changeEvent(event);
}

void MainWindow::fillDrives() {
    drives_->clear();
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid()) {
            continue;
        }
        // Which medium is in the drive: its label after the mount point, as the system knows it.
        const QString root = volume.rootPath();
        const QString label = services_.labels.labelOf(root);
        drives_->addItem(label.isEmpty() ? root : QStringLiteral("%1 ［%2］").arg(root, label), root);
    }
    if (drives_->findData(QStringLiteral("/")) < 0) {
        drives_->insertItem(0, QStringLiteral("/"), QStringLiteral("/"));
    }
}

void MainWindow::onDriveActivated() {
    const QString root = drives_->currentData().toString();
    const QStorageInfo volume(root);
    if (volume.isValid() && volume.isReady() && QFileInfo(root).isReadable()) {
        currentDrive_ = root;
        setFolderPath(root);
        return;
    }
    // A drive without a readable medium: say so, then go back to the drive the program lies on.
    services_.dialogs.inform(kDriveErrorTitle, kDriveErrorText, true);
    const QString home = rootOf(services_.programFolder);
    const int index = drives_->findData(home);
    drives_->setCurrentIndex(index >= 0 ? index : 0);
    currentDrive_ = drives_->currentData().toString();
    setFolderPath(currentDrive_);
}

void MainWindow::setFolderPath(const QString& path) {
    const QString folder = QDir::cleanPath(QDir(path).absolutePath());
    const QString root = rootOf(folder);
    const int index = drives_->findData(root);
    if (index >= 0) {
        drives_->setCurrentIndex(index);
    }
    currentDrive_ = root;
    folderModel_->setRootPath(root);
    folders_->setRootIndex(folderModel_->index(root));
    const QModelIndex target = folderModel_->index(folder);
    folders_->setCurrentIndex(target);
    folders_->selectionModel()->select(target, QItemSelectionModel::ClearAndSelect);
    folders_->scrollTo(target);
    showFolderFiles();
}

QString MainWindow::folderPath() {
    const QModelIndex current = folders_->currentIndex();
    if (current.isValid()) {
        return folderModel_->filePath(current);
    }
    return currentDrive_.isEmpty() ? QStringLiteral("/") : currentDrive_;
}

void MainWindow::showFolderFiles() {
    const QString folder = folderPath();
    fileModel_->setRootPath(folder);
    files_->setRootIndex(fileModel_->index(folder));
}

QString MainWindow::statusText() const {
    return statusFull_;
}

void MainWindow::showStatusText() {
    // A long path is shortened in its middle, so that the end of the text (what is being done, the
    // file's name) stays readable; the whole text is the tooltip.
    const int room = std::max(0, statusBar_->contentsRect().width() - 2 * statusBar_->style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing) - 8);
    const QString shown = statusLabel_->fontMetrics().elidedText(statusFull_, Qt::ElideMiddle, room);
    statusLabel_->setText(shown);
    statusLabel_->setToolTip(shown == statusFull_ ? QString() : statusFull_);
}

void MainWindow::setStatusText(const QString& text) {
    statusFull_ = text;
    showStatusText();
}

void MainWindow::setProgressRange(double minimum, double maximum) {
    progress_->setRange(static_cast<int>(minimum), static_cast<int>(std::max(minimum, maximum)));
}

void MainWindow::setProgressValue(double value) {
    progress_->setValue(static_cast<int>(value));
}

void MainWindow::setProgressVisible(bool visible) {
    progress_->setVisible(visible);
    if (visible) {
        progress_->raise();
    }
}

void MainWindow::setToolbarMode(ToolbarMode mode) {
    const bool running = mode == ToolbarMode::Running;
    quitTool_->setEnabled(!running);
    stopTool_->setVisible(running);
    stopTool_->setEnabled(running);
    // The toolbar would lay its buttons out at its next event; the closing steps repaint before
    // that, and the stop button must be gone by then.
    toolbar_->layout()->activate();
}

void MainWindow::setListCommandsEnabled(bool enabled) {
    createListTool_->setEnabled(enabled);
    createListAction_->setEnabled(enabled);
}

void MainWindow::setWaitPointer(bool wait) {
    if (wait) {
        kartoma::setWaitPointer();
    } else {
        kartoma::setDefaultPointer();
    }
}

void MainWindow::restoreIfMinimised() {
    if (isMinimized()) {
        showNormal();
        repaint();
        QApplication::beep();
    }
}

void MainWindow::refresh() {
    repaint();
}

void MainWindow::showBusyAnimation(bool on) {
    if (on) {
        const QString clip = services_.programFolder + QStringLiteral("/clock.gif");
        // Without its clip the busy display is simply left out.
        if (!QFileInfo(clip).isReadable()) {
            return;
        }
        if (movie_ == nullptr) {
            movie_ = new QMovie(clip, QByteArray(), this);
            animation_->setMovie(movie_);
        }
        if (!movie_->isValid()) {
            return;
        }
        animation_->show();
        animation_->raise();
        movie_->start();
        repaint();
        return;
    }
    if (movie_ != nullptr) {
        movie_->stop();
    }
    animation_->hide();
}

CatalogueRequest MainWindow::currentRequest() {
    return requestFromOptions(settings_, controller_.filterPattern(), folderPath(), services_.programFolder);
}

void MainWindow::showFailure(const Failure& failure) {
    services_.dialogs.inform(QStringLiteral("Kartoma"), japaneseText(failure), true);
}

void MainWindow::showOutcome(const CatalogueOutcome& outcome) {
    if (outcome.stats.skipped() > 0) {
        // What the walk could not read is not in the list; the user should know how much.
        services_.dialogs.inform(QStringLiteral("Kartoma"),
                                 QStringLiteral("読み取れなかったフォルダまたはファイルが%1件あり、"
                                                "リストに含まれていません。")
                                     .arg(outcome.stats.skipped()),
                                 false);
    }
    if (outcome.undecodableNames > 0) {
        services_.dialogs.inform(QStringLiteral("Kartoma"),
                                 QStringLiteral("文字として読めない名前が%1件あり、読めない部分を「?"
                                                "」（ブックとUTF-8では「\uFFFD」）で出力しました。")
                                     .arg(outcome.undecodableNames),
                                 false);
    }
    if (outcome.replacedCharacters > 0) {
        services_.dialogs.inform(QStringLiteral("Kartoma"),
                                 QStringLiteral("Shift-JIS（CP932）で表せない文字が%1文字あり、「?」で出力しました。")
                                     .arg(outcome.replacedCharacters),
                                 false);
    }
}

void MainWindow::showLibraryUnavailable(const QString& folder, const QString& reason) {
    services_.dialogs.inform(QStringLiteral("Kartoma"),
                             QStringLiteral("ライブラリフォルダにブックを保存できません。\r\n%1\r\n%2\r\n"
                                            "オプション設定で別のフォルダを指定してください。")
                                 .arg(readablePath(folder), reason),
                             true);
}

void MainWindow::showOpenFailure(const Failure& failure) {
    services_.dialogs.inform(QStringLiteral("Kartoma"),
                             QStringLiteral("Err") + japaneseText(failure) +
                                 QStringLiteral("\r\nプログラムを強制終了します。"),
                             true);
}

Dialogs::FileChoice MainWindow::offerSavedFile(const Failure& failure) {
    return services_.dialogs.offerSavedFile(QStringLiteral("Kartoma"), japaneseText(failure));
}

void MainWindow::copyToClipboard(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
}

void MainWindow::showHelpNotOpened(const QString& path) {
    services_.dialogs.inform(QStringLiteral("Kartoma"),
                             QStringLiteral("ヘルプを開けませんでした。\r\n%1").arg(path), true);
}

void MainWindow::closeWindow() {
    quitApp();
}

void MainWindow::onCreateList() {
    controller_.createList();
}

void MainWindow::onOpenList() {
    controller_.openSavedList();
}

void MainWindow::onSearch() {
    if (search_ == nullptr) {
        search_ = new SearchWindow(
            {services_.dialogs, services_.launcher, services_.store, services_.yieldIntervalMs}, this);
    }
    search_->show();
    search_->raise();
    search_->activateWindow();
}

void MainWindow::onOptions() {
    OptionsDialog dialog(settings_, controller_.filterPatternRef(), services_.store);
    dialog.exec();
}

void MainWindow::onHelpContents() {
    controller_.openHelp();
}

void MainWindow::onAbout() {
    AboutBox box;
    box.exec();
}

void MainWindow::onCreateListButton() {
    if (controller_.busy()) {
        return;
    }
    // The wait pointer until the command ends (the controller puts the arrow back).
    kartoma::setWaitPointer();
    controller_.createList();
    if (!controller_.busy()) {
        kartoma::setDefaultPointer();
    }
}

void MainWindow::onEmptyAndOpenList() {
    controller_.emptyListAndOpen();
}

void MainWindow::onQuitButton() {
    kartoma::setDefaultPointer();
    quitApp();
}

void MainWindow::onStop() {
    controller_.stop();
}

void MainWindow::quitApp() {
    close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (search_ != nullptr && search_->searching()) {
        // The search runs on its worker: stop it, and close once it has ended.
        search_->stopSearch();
        event->ignore();
        QTimer::singleShot(50, this, &QWidget::close);
        return;
    }
    if (!controller_.requestQuit()) {
        // A command runs on its worker: it is stopped, and the window closes once it has ended.
        event->ignore();
        return;
    }
    event->accept();
    QMainWindow::closeEvent(event);
}

} // namespace kartoma
