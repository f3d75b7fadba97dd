#pragma once

#include "ListCommand.h"
#include "Presenters.h"
#include "Settings.h"
#include "WorkbookReport.h"

#include <QDate>
#include <QElapsedTimer>
#include <QMainWindow>

#include <functional>
#include <optional>

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
class SettingsStore;
class VolumeLabels;

/// What the main window works with; tests give fakes.
struct MainWindowServices {
    Dialogs& dialogs;
    Launcher& launcher;
    VolumeLabels& labels;
    FileSystem& fileSystem;
    SettingsStore& store;
    QString programFolder;   ///< where the template, the clock animation and the help lie
    QString temporaryFolder; ///< where finished workbooks are saved before they are opened
    std::function<QDate()> today = [] { return QDate::currentDate(); };
    int yieldIntervalMs = 15; ///< how often the long commands let the window repaint
};

/// frmKartoma: pick a drive and a folder, make its catalogue, open a saved one, change the options.
/// The commands themselves live outside (list command, writers, engine); the window shows their
/// progress, offers the stop, and turns their failures into messages.
class MainWindow final : public QMainWindow, private ListWindow {
public:
    MainWindow(Settings& settings, MainWindowServices services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The commands, as the menus and the toolbar reach them.
    void mnuFileNew_Click();
    void mnuFileOpen_Click();
    void mnuFileExit_Click();
    void mnuOPT_Click();
    void mnuHelpContents_Click();
    void mnuHelpAbout_Click();
    void tbrToolbar1_ButtonClick(const QString& key);

    /// Starts (true) or stops the busy animation; it plays only for lists of more than 600 entries.
    void showBusy(bool on) override;
    /// Closes the window and ends the program.
    void quitApp();

    QString statusText() const;
    /// Moves the folder list (and with it the file list) to `path`.
    void setFolderPath(const QString& path);
    QString folderPath() override;
    const ListSession& session() const { return session_; }
    const QString& filterPattern() const { return filterPattern_; }
    void setFilterPattern(const QString& pattern) { filterPattern_ = pattern; }
    /// Whether a list command is running.
    bool busy() const { return running_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // ListWindow / WriterDisplay: what the commands drive.
    void setStatusText(const QString& text) override;
    void setProgressRange(double minimum, double maximum) override;
    void setProgressValue(double value) override;
    void setProgressVisible(bool visible) override;
    void setToolbarIdle() override;
    void setToolbarWriting() override;
    void restoreIfMinimised() override;
    void setDefaultPointer() override;
    void refresh() override;
    void yieldNow() override;

    void buildWindow();
    void layOut();
    QAction* addButton(const QString& key, const char* icon, const QString& tip);
    void drvDrive1_Change();
    void dir1_Change();
    void fillDrives();
    void runListCommand();
    void stopSteps();
    void reportFailure(const Failure& failure);
    ListOptions listOptions() const;
    std::size_t entryCount() const;

    Settings& settings_;
    MainWindowServices services_;
    OpenInApplicationPresenter presenter_;
    WorkbookReport report_; // XlsRpt1
    ListSession session_;
    QString filterPattern_ = QStringLiteral("*.*");

    QWidget* client_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QAction* stop_ = nullptr;
    QAction* bye_ = nullptr;
    QAction* toExcel_ = nullptr;
    QAction* fileNew_ = nullptr;
    QComboBox* drives_ = nullptr;
    QTreeView* folders_ = nullptr;
    QListView* files_ = nullptr;
    QFileSystemModel* folderModel_ = nullptr;
    QFileSystemModel* fileModel_ = nullptr;
    QLabel* animation_ = nullptr;
    QMovie* movie_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QString currentDrive_;

    bool running_ = false;
    bool stopped_ = false;                    ///< the user pressed stop during this command
    bool quitRequested_ = false;              ///< the window was closed while a command ran
    std::optional<std::size_t> emptiedCount_; ///< the count left after "開く" emptied the list
    QElapsedTimer sinceYield_;
    bool wasMinimised_ = false;
};

} // namespace kartoma
