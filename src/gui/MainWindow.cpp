#include "MainWindow.h"

#include "AboutBox.h"
#include "Dialogs.h"
#include "Failure.h"
#include "JapaneseMessages.h"
#include "NameText.h"
#include "OptionsDialog.h"
#include "Pointer.h"
#include "SearchWindow.h"
#include "Twips.h"
#include "VolumeLabels.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLayout>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QMovie>
#include <QProgressBar>
#include <QStatusBar>
#include <QStyle>
#include <QStorageInfo>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>

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
    request.scan.walk.depth = settings.nest;
    // The stored key "Folder" means: leave folders out.
    request.scan.record.listFolders = !settings.folder;
    request.scan.record.filterPattern = filterPattern;
    request.labelPolicy = settings.label ? LabelPolicy::AskWhenMissing : LabelPolicy::FolderWhenMissing;
    if (settings.csv) {
        request.output = CsvTarget{};
    } else {
        WorkbookTarget workbook;
        workbook.templatePath = defaultTemplatePath(programFolder);
        workbook.oneTitle = settings.oneTitle;
        workbook.allTitle = settings.allTitle;
        workbook.linesPerPage = settings.pageLN;
        request.output = workbook;
    }
    return request;
}

MainWindow::MainWindow(Settings& settings, MainWindowServices services, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                              Qt::CustomizeWindowHint),
      settings_(settings), services_(std::move(services)), controller_(*this, controllerServices(services_)) {
    setObjectName(QStringLiteral("frmKartoma"));
    setWindowTitle(QStringLiteral("Kartoma for Excel97"));
    setWindowIcon(QIcon(QStringLiteral(":/artwork/kartoma.png")));
    buildWindow();
}

MainWindow::~MainWindow() = default;

QAction* MainWindow::addButton(const QString& key, const char* icon, const QString& tip) {
    QAction* action = toolbar_->addAction(QIcon(QString::fromLatin1(icon)), QString());
    action->setObjectName(key);
    action->setData(key);
    action->setToolTip(tip);
    connect(action, &QAction::triggered, this, [this, key] { tbrToolbar1_ButtonClick(key); });
    return action;
}

void MainWindow::buildWindow() {
    // The menus.
    QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    file->setObjectName(QStringLiteral("mnuFile"));
    fileNew_ = file->addAction(QStringLiteral("ｴｸｾﾙﾌｧｲﾙ作成(&N)"), this, &MainWindow::mnuFileNew_Click);
    fileNew_->setObjectName(QStringLiteral("mnuFileNew"));
    // The keys named outright: the platform's standard bindings leave Quit without one on some.
    fileNew_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    QAction* open = file->addAction(QStringLiteral("ｴｸｾﾙﾌｧｲﾙを開く(&O)"), this, &MainWindow::mnuFileOpen_Click);
    open->setObjectName(QStringLiteral("mnuFileOpen"));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    QAction* search =
        file->addAction(QStringLiteral("カタログ検索(&S)..."), this, &MainWindow::mnuFileSearch_Click);
    search->setObjectName(QStringLiteral("mnuFileSearch"));
    search->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    QAction* exit = file->addAction(QStringLiteral("終了(&X)"), this, &MainWindow::mnuFileExit_Click);
    exit->setObjectName(QStringLiteral("mnuFileExit"));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QAction* options =
        menuBar()->addAction(QStringLiteral("オプション(&S)"), this, &MainWindow::mnuOPT_Click);
    options->setObjectName(QStringLiteral("mnuOPT"));
    QMenu* help = menuBar()->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    QAction* contents = help->addAction(QStringLiteral("目次(&C)"), this, &MainWindow::mnuHelpContents_Click);
    contents->setObjectName(QStringLiteral("mnuHelpContents"));
    contents->setShortcut(QKeySequence(Qt::Key_F1));
    QAction* about =
        menuBar()->addAction(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)"), this, &MainWindow::mnuHelpAbout_Click);
    about->setObjectName(QStringLiteral("mnuHelpAbout"));

    client_ = new QWidget(this);
    setCentralWidget(client_);

    toolbar_ = new QToolBar(client_);
    toolbar_->setObjectName(QStringLiteral("tbrToolbar1"));
    toolbar_->setIconSize(QSize(32, 32));
    toolbar_->setMovable(false);
    toExcel_ = addButton(QStringLiteral("toExcel"), ":/artwork/toolbar-toExcel.png",
                         QStringLiteral("エクセルファイル作成"));
    addButton(QStringLiteral("開く"), ":/artwork/toolbar-open.png", QStringLiteral("エクセルファイル表示"));
    toolbar_->addSeparator();
    addButton(QStringLiteral("option"), ":/artwork/toolbar-option.png", QStringLiteral("オプション"));
    toolbar_->addSeparator();
    addButton(QStringLiteral("ﾍﾙﾌﾟ"), ":/artwork/toolbar-help.png", QStringLiteral("バージョン情報"));
    toolbar_->addSeparator();
    bye_ = addButton(QStringLiteral("bye"), ":/artwork/toolbar-bye.png", QStringLiteral("終了"));
    toolbar_->addSeparator();
    stop_ = addButton(QStringLiteral("stop"), ":/artwork/toolbar-stop.png", QStringLiteral("中断"));
    stop_->setVisible(false);
    // Esc stops too, while the button is offered.
    stop_->setShortcut(QKeySequence(Qt::Key_Escape));
    stop_->setShortcutContext(Qt::WindowShortcut);

    const QString listStyle = QStringLiteral("background-color: #E0E0E0;");
    drives_ = new QComboBox(client_);
    drives_->setObjectName(QStringLiteral("drvDrive1"));
    drives_->setStyleSheet(QStringLiteral("QComboBox { background-color: #E0E0E0; }"));

    folderModel_ = new QFileSystemModel(this);
    folderModel_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    folders_ = new QTreeView(client_);
    folders_->setObjectName(QStringLiteral("dir1"));
    folders_->setModel(folderModel_);
    folders_->setHeaderHidden(true);
    for (int c = 1; c < folderModel_->columnCount(); ++c) {
        folders_->hideColumn(c);
    }
    folders_->setStyleSheet(QStringLiteral("QTreeView { background-color: #E0E0E0; }"));

    fileModel_ = new QFileSystemModel(this);
    fileModel_->setFilter(QDir::Files | QDir::System);
    files_ = new QListView(client_);
    files_->setObjectName(QStringLiteral("file1"));
    files_->setModel(fileModel_);
    files_->setSelectionMode(QAbstractItemView::NoSelection);
    files_->setStyleSheet(QStringLiteral("QListView { %1 }").arg(listStyle));

    animation_ = new QLabel(client_);
    animation_->setObjectName(QStringLiteral("Animation1"));
    animation_->setAlignment(Qt::AlignCenter);
    animation_->setStyleSheet(
        QStringLiteral("QLabel { background-color: white; border: 1px solid #A0A0A0; }"));
    animation_->hide();

    statusBar_ = new QStatusBar(client_);
    statusBar_->setObjectName(QStringLiteral("sbrStatusBar1"));
    statusBar_->setSizeGripEnabled(false);
    // The simple style: one text, kept until a command sets the next.
    statusLabel_ = new QLabel(statusBar_);
    statusLabel_->setObjectName(QStringLiteral("sbrStatusBar1Text"));
    // The label takes the room the bar gives it; a longer text is shortened to fit (showStatusText).
    statusLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar_->addWidget(statusLabel_, 1);

    progress_ = new QProgressBar(client_);
    progress_->setObjectName(QStringLiteral("ProgressBar1"));
    progress_->setRange(0, 100);
    progress_->setTextVisible(false);
    progress_->hide();

    setTabOrder(drives_, files_);
    setTabOrder(files_, folders_);

    // The client area of the design; wide enough that the menu bar shows all of its commands.
    const QSize client(std::max(twipsToPixels(this, 4800), menuBar()->sizeHint().width()),
                       twipsToPixels(this, 3390));
    client_->setMinimumSize(client);
    resize(client.width(), client.height() + menuBar()->sizeHint().height());
    layOut();

    fillDrives();
    connect(drives_, &QComboBox::activated, this, [this](int) { drvDrive1_Change(); });
    connect(folders_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { dir1_Change(); });
    // The model reads folders in the background: show the current one once its parent is read.
    connect(folderModel_, &QFileSystemModel::directoryLoaded, this, [this] {
        // The model sorts what it read a moment later; scroll once it has.
        QTimer::singleShot(50, this, [this] {
            if (folders_->currentIndex().isValid()) {
                folders_->scrollTo(folders_->currentIndex(), QAbstractItemView::PositionAtCenter);
            }
        });
    });
    setFolderPath(QDir::currentPath());
}

void MainWindow::layOut() {
    // The toolbar and the status bar follow the window's width; everything else keeps its place.
    const int width = std::max(client_->width(), twipsToPixels(this, 4800));
    toolbar_->setGeometry(0, 0, width, twipsToPixels(this, 660));
    drives_->setGeometry(twipsRect(this, 120, 780, 2235, 300));
    folders_->setGeometry(twipsRect(this, 120, 1200, 2235, 1770));
    files_->setGeometry(twipsRect(this, 2640, 780, 1995, 2190));
    animation_->setGeometry(twipsRect(this, 2640, 780, 1995, 2175));
    const int statusHeight = twipsToPixels(this, 375);
    const int bottom = std::max(client_->height(), twipsToPixels(this, 3390));
    statusBar_->setGeometry(0, bottom - statusHeight, width, statusHeight);
    QRect bar = twipsRect(this, 0, 3120, 4575, 315);
    bar.moveTop(bottom - twipsToPixels(this, 3390 - 3120));
    progress_->setGeometry(bar);
    progress_->raise();
    showStatusText();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    layOut();
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

void MainWindow::drvDrive1_Change() {
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
    dir1_Change();
}

QString MainWindow::folderPath() {
    const QModelIndex current = folders_->currentIndex();
    if (current.isValid()) {
        return folderModel_->filePath(current);
    }
    return currentDrive_.isEmpty() ? QStringLiteral("/") : currentDrive_;
}

void MainWindow::dir1_Change() {
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
    bye_->setEnabled(!running);
    stop_->setVisible(running);
    stop_->setEnabled(running);
    // The toolbar would lay its buttons out at its next event; the closing steps repaint before
    // that, and the stop button must be gone by then.
    toolbar_->layout()->activate();
}

void MainWindow::setListCommandsEnabled(bool enabled) {
    toExcel_->setEnabled(enabled);
    fileNew_->setEnabled(enabled);
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

void MainWindow::mnuFileNew_Click() {
    controller_.createList();
}

void MainWindow::mnuFileOpen_Click() {
    controller_.openSavedList();
}

void MainWindow::mnuFileSearch_Click() {
    if (search_ == nullptr) {
        search_ = new SearchWindow(
            {services_.dialogs, services_.launcher, services_.store, services_.yieldIntervalMs}, this);
    }
    search_->show();
    search_->raise();
    search_->activateWindow();
}

void MainWindow::mnuFileExit_Click() {
    close();
}

void MainWindow::mnuOPT_Click() {
    OptionsDialog dialog(settings_, controller_.filterPatternRef(), services_.store);
    dialog.exec();
}

void MainWindow::mnuHelpContents_Click() {
    controller_.openHelp();
}

void MainWindow::mnuHelpAbout_Click() {
    AboutBox box;
    box.exec();
}

void MainWindow::tbrToolbar1_ButtonClick(const QString& key) {
    if (key == QLatin1String("toExcel")) {
        if (controller_.busy()) {
            return;
        }
        // The wait pointer until the command ends (the controller puts the arrow back).
        kartoma::setWaitPointer();
        controller_.createList();
        if (!controller_.busy()) {
            kartoma::setDefaultPointer();
        }
    } else if (key == u"開く") {
        controller_.emptyListAndOpen();
    } else if (key == QLatin1String("option")) {
        mnuOPT_Click();
    } else if (key == u"ﾍﾙﾌﾟ") {
        mnuHelpAbout_Click();
    } else if (key == QLatin1String("bye")) {
        kartoma::setDefaultPointer();
        quitApp();
    } else if (key == QLatin1String("stop")) {
        controller_.stop();
    }
}

void MainWindow::quitApp() {
    close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (search_ != nullptr && search_->searching()) {
        // The search runs on its worker: stop it, and close once it has ended.
        search_->cmdStop_Click();
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
