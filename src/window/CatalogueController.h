#pragma once

#include "Catalogue.h"
#include "Dialogs.h"
#include "EntryList.h"
#include "Launcher.h"
#include "Presenters.h"
#include "Workbook.h"

#include "Failure.h"

#include <QDate>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace kartoma {

class Failure;
class Dialogs;

/// The window as the controller drives it: what it shows, nothing it decides.
class CatalogueView {
public:
    virtual ~CatalogueView() = default;
    enum class ToolbarMode {
        Idle,    ///< exit enabled, stop hidden
        Running, ///< a command runs: exit disabled, stop shown and enabled
    };

    /// The request the window's options, filter and folder make now. Asked when a list is started
    /// and again after its walk (for the output: options may change while the walk runs).
    virtual CatalogueRequest currentRequest() = 0;

    virtual void setStatusText(const QString& text) = 0;
    virtual void setProgressRange(double minimum, double maximum) = 0;
    virtual void setProgressValue(double value) = 0;
    virtual void setProgressVisible(bool visible) = 0;
    /// The busy animation beside the lists (left out when its clip is missing).
    virtual void showBusyAnimation(bool on) = 0;
    virtual void setToolbarMode(ToolbarMode mode) = 0;
    /// The commands that start a list: disabled while one runs.
    virtual void setListCommandsEnabled(bool enabled) = 0;
    /// The wait pointer (true) or the default arrow.
    virtual void setWaitPointer(bool wait) = 0;
    /// A minimised window is restored, repainted and the system beeps.
    virtual void restoreIfMinimised() = 0;
    virtual void refresh() = 0;

    /// A list command failed for a reason that is not the user's own stop.
    virtual void showFailure(const Failure& failure) = 0;
    /// A list was made: the window tells what the walk skipped and what the CSV could not hold.
    virtual void showOutcome(const CatalogueOutcome& outcome) = 0;
    /// The library folder, where the window saves its workbooks, cannot be created or written to
    /// (`reason` is the system's); nothing was made.
    virtual void showLibraryUnavailable(const QString& folder, const QString& reason) = 0;
    /// Opening a saved list failed; the program ends after the message.
    virtual void showOpenFailure(const Failure& failure) = 0;
    /// A saved list that no application opened (the failure names it): the user is offered to open
    /// its folder or to copy its path, and the choice is returned.
    virtual Dialogs::FileChoice offerSavedFile(const Failure& failure) = 0;
    /// Puts `text` on the clipboard.
    virtual void copyToClipboard(const QString& text) = 0;
    /// The help document at `path` could not be opened.
    virtual void showHelpNotOpened(const QString& path) = 0;
    /// Closes the window and ends the program.
    virtual void closeWindow() = 0;
};

/// Makes the workbook engine's opener; the workbooks it opens stop once `stop` is set.
using EngineFactory = std::function<std::unique_ptr<WorkbookOpener>(const std::atomic<bool>& stop)>;

/// What the controller works with; tests give fakes.
struct ControllerServices {
    FileSystem& fileSystem;
    VolumeLabels& labels;
    Dialogs& dialogs;
    Launcher& launcher;
    QString programFolder; ///< where the template lies
    /// The library folder, asked at each use: where finished workbooks are saved and opened from, and
    /// where the file dialogs start.
    std::function<QString()> libraryFolder;
    std::function<QDate()> today = [] { return QDate::currentDate(); };
    EngineFactory engine = {}; ///< empty: the program's own engine (tests wrap it)
};

/// The window's commands without the window: owns the running command, the workbook engine and its
/// presenter, the session (list, label, file name) and the one cancellation token that stop and quit
/// set. The window forwards its menu and toolbar commands here and shows what it is told.
///
/// A list is made on a worker thread; the window's thread only shows. What the command reports
/// reaches the view in the order it was made, at the screen's pace: a folder's search text or a
/// progress value is replaced by the next one when the screen has not shown it yet, every other step
/// is shown. Questions (the label, a CSV name after the walk) and the opening of a finished file are
/// done on the window's thread while the worker waits.
class CatalogueController final {
public:
    CatalogueController(CatalogueView& view, ControllerServices services);
    /// A running command is stopped and waited for (it ends within milliseconds).
    ~CatalogueController();
    CatalogueController(const CatalogueController&) = delete;
    CatalogueController& operator=(const CatalogueController&) = delete;

    /// ｴｸｾﾙﾌｧｲﾙ作成: starts a list and returns (refused quietly while one runs). A workbook is saved
    /// in the library folder, which is created first: when it cannot be made or written to, the user
    /// is told and nothing starts. For CSV the file name is asked first, the dialog starting in the
    /// folder of the last CSV file named, else in the library; cancelling that ends the command. When
    /// the options were switched to CSV during the walk, the name is asked after it; cancelling then
    /// ends the command with a status text saying nothing was saved. A failure is shown, the user's
    /// stop is not. The status text is blanked at the start and then names the files delivered; a
    /// file no application opened (at once or when the opener gives up later) is offered to the user
    /// (offerSavedFile).
    void createList();
    /// ｴｸｾﾙﾌｧｲﾙを開く: asks for a saved list (the dialog starts in the library), checks it as the
    /// engine would open it and opens that file itself in the desktop's spreadsheet application;
    /// Kartoma writes nothing (cancelling the question blanks the status text). A workbook the engine
    /// cannot open is shown and ends the program, as the command always has; a file no application
    /// opened is offered to the user (offerSavedFile).
    void openSavedList();
    /// Stops the running command in whatever phase it is: it leaves no file, and once it has ended
    /// "処理が中断されました。" is shown. Nothing happens when no command runs.
    void stop();
    /// ﾍﾙﾌﾟ → 目次: the help document beside the program in the desktop's viewer; when it cannot be
    /// opened (now or when the viewer gives up) the user is told its path.
    void openHelp();
    /// The window asks to close. True when it may close now; while a command runs it is stopped,
    /// and the window is closed once the command has ended.
    bool requestQuit();
    bool busy() const { return running_; }

    /// Starts (true) or stops the busy display; it plays only for lists of more than 600 entries.
    /// Stopping also blanks the status text.
    void showBusy(bool on);
    /// The toolbar's "開く": the list is emptied (its count still decides the busy display), then
    /// the saved list is opened.
    void emptyListAndOpen();

    /// The list of the last command; not to be read while one runs.
    const EntryList& entries() const { return entries_; }
    const QString& listFileName() const { return listFileName_; }
    const QString& filterPattern() const { return filterPattern_; }
    void setFilterPattern(const QString& pattern) { filterPattern_ = pattern; }
    QString& filterPatternRef() { return filterPattern_; }

private:
    enum class Cancel { None, Stop, Quit };
    class WorkerHost;
    class WindowLauncher;
    /// How the command ended, as the worker hands it back.
    struct Ending {
        std::optional<CatalogueOutcome> outcome;
        std::optional<Failure> failure;
    };
    /// One step for the window's thread. Steps of a replaceable kind give way to the next of their
    /// kind while the screen has not shown them.
    struct Step {
        enum class Kind { Kept, Searching, Progress } kind;
        std::function<void()> run;
    };

    void work(CatalogueRequest request);
    void post(Step::Kind kind, std::function<void()> run);
    void scheduleShow();
    void showSteps();
    /// Runs `question` on the window's thread (at once when called there) and returns its answer;
    /// what it throws is thrown here.
    template <typename T> T onWindowThread(std::function<T()> question);
    void commandEnded(const Ending& ending);
    void endCommand();
    bool askCsvName(QString& path);
    /// The library folder, created when missing; where it cannot be made or written to, the home
    /// folder (dialogs only).
    QString dialogFolder() const;
    OutputTarget outputAfterWalk(const OutputTarget& asStarted);
    bool deliverCsv(const QString& path);
    /// What the window shows when the command reaches `stage` (`entries` listed by then).
    void showStage(CatalogueStage stage, std::uint64_t total, std::size_t entries);
    void showBusyFor(bool on, std::size_t entries);
    /// Tells the user about files the opener gave up on, as long as this controller lives.
    Launcher::Failed whenNotOpened(std::function<void(CatalogueView&, const QString&)> show);
    /// A finished list the opener gave up on is offered to the user (offerSavedFile).
    Launcher::Failed whenListNotOpened();
    void showDelivered(const QStringList& files);
    void reportFailure(const Failure& failure);
    /// A saved file no application opened: the folder opened or the path copied, as the user chooses.
    void offerSavedFile(const Failure& failure);
    std::size_t entryCount() const;

    CatalogueView& view_;
    ControllerServices services_;
    /// Watched by the openers' late reports, which may come after this controller is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::unique_ptr<WindowLauncher> launcher_;
    OpenInApplicationPresenter presenter_;
    /// Set by stop and quit; the worker looks at it once per entry and row, the engine in its finish.
    std::atomic<bool> stopRequested_ = false;
    std::unique_ptr<WorkbookOpener> workbooks_;
    std::unique_ptr<WorkerHost> host_;
    EntryList entries_;
    QString listFileName_;
    QString filterPattern_ = QStringLiteral("*.*");

    // The window's thread only.
    QObject context_; ///< where the worker's steps are delivered
    bool running_ = false;
    Cancel cancel_ = Cancel::None;
    std::optional<std::size_t> emptiedCount_; ///< the count left after "開く" emptied the list
    QString csvDelivered_;                    ///< the CSV file handed to the viewer by this command
    QString csvFolder_;                       ///< where the last CSV file was named
    QString listFolder_;                      ///< the folder of the running list (read by its worker)
    bool nameRefused_ = false;                ///< the CSV name asked after the walk was cancelled
    QElapsedTimer sinceShown_;
    std::thread worker_;

    // Between the threads.
    std::mutex mutex_;
    std::condition_variable answered_;
    std::deque<Step> steps_;
    bool showScheduled_ = false;
    bool abandoned_ = false; ///< the controller is going: questions are answered no more
};

} // namespace kartoma
