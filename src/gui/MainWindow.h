#pragma once

#include "CatalogueController.h"
#include "Settings.h"

#include <QDate>
#include <QMainWindow>

#include <functional>

class QAction;
class QComboBox;
class QFileSystemModel;
class QLabel;
class QListView;
class QMovie;
class QProgressBar;
class QStatusBar;
class QToolBar;
class QTreeView;

namespace kartoma {

class Dialogs;
class FileSystem;
class Launcher;
class SearchWindow;
class SettingsStore;
class VolumeLabels;

/// What the main window works with; tests give fakes.
struct MainWindowServices {
    Dialogs& dialogs;
    Launcher& launcher;
    VolumeLabels& labels;
    FileSystem& fileSystem;
    SettingsStore& store;
    QString programFolder; ///< where the template, the clock animation and the help lie
    /// Where finished workbooks are saved and the file dialogs start; empty: the library folder stored
    /// with the options, read at each use.
    QString libraryFolder;
    std::function<QDate()> today = [] { return QDate::currentDate(); };
    int yieldIntervalMs = 15; ///< how often a search lets the window repaint
    EngineFactory engine = {}; ///< empty: the program's own workbook engine (tests wrap it)
};

/// The request the stored options, the filter and the folder make: CSV (its file name still to be
/// asked) or the workbook layouts chosen, from the template beside the program.
CatalogueRequest requestFromOptions(const Settings& settings, const QString& filterPattern,
                                    const QString& folder, const QString& programFolder);

/// The main window: pick a drive and a folder, make its catalogue, open a saved one, change the options.
/// The commands run in the controller; the window shows their progress, offers the stop, and turns
/// their failures into messages.
class MainWindow final : public QMainWindow, private CatalogueView {
public:
    MainWindow(Settings& settings, MainWindowServices services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The commands, as the menus reach them.
    /// Makes the list of the current folder and saves it (ｴｸｾﾙﾌｧｲﾙ作成).
    void onCreateList();
    /// Opens a saved list; the list in memory stays (ｴｸｾﾙﾌｧｲﾙを開く).
    void onOpenList();
    /// Opens the search window (カタログ検索).
    void onSearch();
    /// The search window, once it was opened.
    SearchWindow* searchWindow() const { return search_; }
    /// Shows the options dialog.
    void onOptions();
    /// Opens the help document.
    void onHelpContents();
    /// Shows the version box.
    void onAbout();

    // The toolbar's own commands.
    /// As onCreateList, with the wait pointer from the click on; a click while a command runs is ignored.
    void onCreateListButton();
    /// Empties the list in memory, then opens a saved list.
    void onEmptyAndOpenList();
    /// The arrow pointer back, then quitApp.
    void onQuitButton();
    /// Asks the running command to stop (the button and Esc).
    void onStop();

    /// Closes the window and ends the program.
    void quitApp();

    QString statusText() const;
    /// Moves the folder list (and with it the file list) to `path`.
    void setFolderPath(const QString& path);
    QString folderPath();
    const CatalogueController& controller() const { return controller_; }
    const QString& filterPattern() const { return controller_.filterPattern(); }
    void setFilterPattern(const QString& pattern) { controller_.setFilterPattern(pattern); }
    /// Whether a list command is running.
    bool busy() const { return controller_.busy(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // CatalogueView: what the controller drives.
    CatalogueRequest currentRequest() override;
    void setStatusText(const QString& text) override;
    void setProgressRange(double minimum, double maximum) override;
    void setProgressValue(double value) override;
    void setProgressVisible(bool visible) override;
    void showBusyAnimation(bool on) override;
    void setToolbarMode(ToolbarMode mode) override;
    void setListCommandsEnabled(bool enabled) override;
    void setWaitPointer(bool wait) override;
    void restoreIfMinimised() override;
    void refresh() override;
    void showFailure(const Failure& failure) override;
    void showOutcome(const CatalogueOutcome& outcome) override;
    void showLibraryUnavailable(const QString& folder, const QString& reason) override;
    void showOpenFailure(const Failure& failure) override;
    Dialogs::FileChoice offerSavedFile(const Failure& failure) override;
    void copyToClipboard(const QString& text) override;
    void showHelpNotOpened(const QString& path) override;
    void closeWindow() override;

    void buildMenus();
    void buildToolbar();
    void buildFolderViews();
    void buildStatusLine();
    void layOut();
    void connectFolderViews();
    QAction* addToolAction(const char* name, const char* icon, const QString& tip,
                           void (MainWindow::*slot)());
    /// A drive chosen in the drive list: its root, or back to the program's drive when it has no medium.
    void onDriveActivated();
    /// Shows the files of the folder chosen in the folder tree.
    void showFolderFiles();
    void fillDrives();
    void showStatusText();

    Settings& settings_;
    MainWindowServices services_;
    CatalogueController controller_;

    QToolBar* toolbar_ = nullptr;
    QAction* stopTool_ = nullptr;
    QAction* quitTool_ = nullptr;
    QAction* createListTool_ = nullptr;
    QAction* createListAction_ = nullptr;
    QComboBox* drives_ = nullptr;
    QTreeView* folders_ = nullptr;
    QListView* files_ = nullptr;
    QFileSystemModel* folderModel_ = nullptr;
    QFileSystemModel* fileModel_ = nullptr;
    QLabel* animation_ = nullptr;
    QMovie* movie_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QString statusFull_; ///< the status text before it is shortened to fit
    QProgressBar* progress_ = nullptr;
    QString currentDrive_;

    SearchWindow* search_ = nullptr;
    bool wasMinimised_ = false;
};

} // namespace kartoma
