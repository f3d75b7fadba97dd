#include "CatalogueController.h"

#include "Dialogs.h"
#include "EraDate.h"
#include "Failure.h"
#include "FileDialogs.h"
#include "Launcher.h"
#include "SystemError.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

namespace kartoma {

namespace {

constexpr std::size_t kBusyThreshold = 600;
/// The screen's pace: the worker's steps are shown at most this often.
constexpr qint64 kFrameMs = 33;

// The status line's words.

/// What the status line says when the command reaches `stage`; empty: a blank line.
QString stageText(CatalogueStage stage) {
    switch (stage) {
    case CatalogueStage::Listing:
        return QStringLiteral("ファイルリストを作成中です。");
    case CatalogueStage::WalkEnded:
        return QStringLiteral("ディレクトリ検索が終了しました。");
    case CatalogueStage::SavingCsv:
        return QStringLiteral("CSV形式のファイルを保存中");
    case CatalogueStage::NothingToList:
        return QStringLiteral("ファイルはありません。");
    case CatalogueStage::SavingWorkbook:
        return QStringLiteral("エクセルシートを作成中です。");
    case CatalogueStage::CsvSaved:
    case CatalogueStage::FillingSheet:
    case CatalogueStage::FillingPages:
    case CatalogueStage::SheetFilled:
    case CatalogueStage::WorkbookSaved:
        break;
    }
    return QString();
}

QString searchingText(const QString& folder) {
    return folder + QStringLiteral("を検索中です。");
}

QString savedText(const QStringList& files) {
    return QStringLiteral("保存しました：") + files.join(QStringLiteral("、"));
}

QString openingText(const QString& file) {
    return QLatin1Char('<') + file + QLatin1Char('>');
}

const QString kStoppedText = QStringLiteral("処理が中断されました。");
const QString kNotNamedText = QStringLiteral("ファイル名が指定されなかったため、リストは保存されませんでした。");

} // namespace

/// The command's front end on the worker: its progress becomes steps for the window's thread;
/// questions wait for the window's answer; a stop is taken at every yield.
class CatalogueController::WorkerHost final : public CatalogueProgress, public CatalogueQuestions {
public:
    explicit WorkerHost(CatalogueController& c) : c_(c) {}

    void searching(const QString& folder) override {
        c_.post(Step::Kind::Searching, [this, text = searchingText(folder)] { c_.view_.setStatusText(text); });
    }
    // Skipped entries are counted by the walk; the window tells the total at the end.
    void yieldNow() override {
        if (c_.stopRequested_.load(std::memory_order_relaxed)) {
            throw Failure(FailureCode::Cancelled, QString());
        }
    }
    void checkStopped() override { yieldNow(); }
    void reached(CatalogueStage stage, std::uint64_t total) override {
        c_.post(Step::Kind::Kept,
                [this, stage, total, entries = c_.entries_.count()] { c_.showStage(stage, total, entries); });
    }
    void rowReached(std::uint64_t position) override {
        c_.post(Step::Kind::Progress,
                [this, position] { c_.view_.setProgressValue(static_cast<double>(position)); });
    }

    QString askVolumeLabel(const QString& folder) override {
        return c_.onWindowThread<QString>([this, folder] {
            QString label;
            c_.services_.dialogs.editVolumeLabel(label, folder);
            return label;
        });
    }
    OutputTarget outputAfterWalk(const OutputTarget& asStarted) override {
        return c_.onWindowThread<OutputTarget>([this, asStarted] { return c_.outputAfterWalk(asStarted); });
    }
    bool deliverCsv(const QString& path) override {
        return c_.onWindowThread<bool>([this, path] { return c_.deliverCsv(path); });
    }

private:
    CatalogueController& c_;
};

/// The desktop's opener as the presenter reaches it from the worker: it is started from the
/// window's thread, where its watch of the opener lives.
class CatalogueController::WindowLauncher final : public Launcher {
public:
    explicit WindowLauncher(CatalogueController& c) : c_(c) {}
    bool openFile(const QString& path, Failed failed) override {
        return c_.onWindowThread<bool>([this, path, failed] { return c_.services_.launcher.openFile(path, failed); });
    }

private:
    CatalogueController& c_;
};

CatalogueController::CatalogueController(CatalogueView& view, ControllerServices services)
    : view_(view), services_(std::move(services)), launcher_(std::make_unique<WindowLauncher>(*this)),
      presenter_(
          *launcher_, [this] { return services_.libraryFolder(); },
          [this] { return libraryFileLabel(entries_.volumeLabel(), listFolder_); }, whenListNotOpened()),
      host_(std::make_unique<WorkerHost>(*this)) {
    workbooks_ = services_.engine ? services_.engine(stopRequested_) : std::make_unique<WorkbookOpener>(&stopRequested_);
    sinceShown_.start();
}

CatalogueController::~CatalogueController() {
    if (worker_.joinable()) {
        stopRequested_ = true;
        {
            const std::lock_guard lock(mutex_);
            abandoned_ = true;
        }
        answered_.notify_all();
        worker_.join();
    }
}

void CatalogueController::createList() {
    // One list command at a time: a second one is refused while the first runs.
    if (running_) {
        return;
    }
    running_ = true;
    // Whatever the command ends with, the file of an earlier one is no longer what the line names.
    view_.setStatusText(QString());
    cancel_ = Cancel::None;
    stopRequested_ = false;
    nameRefused_ = false;
    csvDelivered_.clear();
    presenter_.takePresented();
    emptiedCount_.reset();
    view_.setListCommandsEnabled(false);
    entries_.clear();
    listFileName_.clear();
    CatalogueRequest request = view_.currentRequest();
    listFolder_ = request.folder;
    if (const auto* workbook = std::get_if<WorkbookTarget>(&request.output);
        workbook != nullptr && workbook->savePath.isEmpty()) {
        // Before the walk, so that a list is never made with nowhere to go.
        const QString library = services_.libraryFolder();
        if (const int err = makeWritableFolder(library); err != 0) {
            view_.showLibraryUnavailable(library, systemErrorText(err));
            endCommand();
            return;
        }
    }
    if (auto* csv = std::get_if<CsvTarget>(&request.output); csv != nullptr && !askCsvName(csv->path)) {
        endCommand();
        return;
    }
    view_.setToolbarMode(CatalogueView::ToolbarMode::Running);
    if (worker_.joinable()) {
        worker_.join();
    }
    worker_ = std::thread([this, request = std::move(request)]() mutable { work(std::move(request)); });
}

void CatalogueController::work(CatalogueRequest request) {
    Ending ending;
    try {
        const CatalogueServices services{services_.fileSystem, services_.labels, *workbooks_, &presenter_};
        ending.outcome = runCatalogue(request, services, *host_, entries_, host_.get());
    } catch (const Failure& failure) {
        ending.failure = failure;
    } catch (const std::exception& error) {
        // Nothing may escape the worker: the program would end without a word.
        ending.failure = Failure(FailureCode::OutputWrite, QString(), QString::fromLocal8Bit(error.what()));
    }
    post(Step::Kind::Kept, [this, ending] { commandEnded(ending); });
}

void CatalogueController::post(Step::Kind kind, std::function<void()> run) {
    const std::lock_guard lock(mutex_);
    if (kind != Step::Kind::Kept && !steps_.empty() && steps_.back().kind == kind) {
        steps_.back().run = std::move(run);
    } else {
        steps_.push_back(Step{kind, std::move(run)});
    }
    if (!showScheduled_) {
        showScheduled_ = true;
        QMetaObject::invokeMethod(&context_, [this] { scheduleShow(); }, Qt::QueuedConnection);
    }
}

void CatalogueController::scheduleShow() {
    const qint64 wait = kFrameMs - sinceShown_.elapsed();
    if (wait > 0) {
        QTimer::singleShot(static_cast<int>(wait), &context_, [this] { showSteps(); });
    } else {
        showSteps();
    }
}

void CatalogueController::showSteps() {
    std::deque<Step> steps;
    {
        const std::lock_guard lock(mutex_);
        steps.swap(steps_);
        showScheduled_ = false;
    }
    sinceShown_.restart();
    for (Step& step : steps) {
        step.run();
    }
}

template <typename T> T CatalogueController::onWindowThread(std::function<T()> question) {
    if (QThread::currentThread() == context_.thread()) {
        return question();
    }
    std::optional<T> answer;
    std::exception_ptr thrown;
    bool done = false;
    post(Step::Kind::Kept, [&] {
        try {
            answer = question();
        } catch (...) {
            thrown = std::current_exception();
        }
        {
            const std::lock_guard lock(mutex_);
            done = true;
        }
        answered_.notify_all();
    });
    std::unique_lock lock(mutex_);
    answered_.wait(lock, [&] { return done || abandoned_; });
    if (!done) {
        throw Failure(FailureCode::Cancelled, QString());
    }
    if (thrown) {
        std::rethrow_exception(thrown);
    }
    return std::move(*answer);
}

void CatalogueController::commandEnded(const Ending& ending) {
    // The worker has nothing left to do but to end; it is joined when the next command starts (or
    // the controller goes), so that the window never waits for it to be scheduled.
    if (ending.outcome) {
        if (!csvDelivered_.isEmpty()) {
            listFileName_.clear();
        }
        showDelivered(csvDelivered_.isEmpty() ? presenter_.takePresented() : QStringList{csvDelivered_});
        view_.showOutcome(*ending.outcome);
    } else {
        reportFailure(*ending.failure);
        if (cancel_ != Cancel::None) {
            // What the writers' stop always showed, now in every phase.
            view_.showBusyAnimation(false);
            view_.setStatusText(kStoppedText);
        } else if (nameRefused_) {
            view_.setStatusText(kNotNamedText);
        }
    }
    endCommand();
}

bool CatalogueController::askCsvName(QString& path) {
    const QString folder = csvFolder_.isEmpty() ? dialogFolder() : csvFolder_;
    const QString defaultName = folder + QLatin1Char('/') + eraDateText(services_.today());
    const bool named = askSaveName(services_.dialogs, defaultName, QStringLiteral(".csv"), listFileName_);
    path = listFileName_;
    if (named) {
        csvFolder_ = QFileInfo(path).absolutePath();
    }
    return named;
}

QString CatalogueController::dialogFolder() const {
    const QString library = services_.libraryFolder();
    return makeWritableFolder(library) == 0 ? library : QDir::homePath();
}

Launcher::Failed CatalogueController::whenNotOpened(std::function<void(CatalogueView&, const QString&)> show) {
    return [alive = std::weak_ptr<int>(alive_), view = &view_, show = std::move(show)](const QString& path) {
        if (!alive.expired()) {
            show(*view, path);
        }
    };
}

Launcher::Failed CatalogueController::whenListNotOpened() {
    return whenNotOpened([this](CatalogueView&, const QString& path) {
        offerSavedFile(Failure(FailureCode::PresentFailed, path));
    });
}

void CatalogueController::offerSavedFile(const Failure& failure) {
    const QString path = failure.subject();
    switch (view_.offerSavedFile(failure)) {
    case Dialogs::FileChoice::OpenFolder:
        // The file manager shows the folder; if even that fails, the message named the path already.
        services_.launcher.openFile(QFileInfo(path).absolutePath(), [](const QString&) {});
        break;
    case Dialogs::FileChoice::CopyPath:
        view_.copyToClipboard(path);
        break;
    case Dialogs::FileChoice::Dismiss:
        break;
    }
}

void CatalogueController::showDelivered(const QStringList& files) {
    // Whatever the desktop makes of them, the user can find the files again.
    if (!files.isEmpty()) {
        view_.setStatusText(savedText(files));
    }
}

void CatalogueController::endCommand() {
    view_.setToolbarMode(CatalogueView::ToolbarMode::Idle);
    view_.setProgressVisible(false);
    view_.setWaitPointer(false);
    view_.setListCommandsEnabled(true);
    running_ = false;
    stopRequested_ = false;
    if (cancel_ == Cancel::Quit) {
        view_.closeWindow();
    }
}

void CatalogueController::reportFailure(const Failure& failure) {
    view_.setProgressVisible(false);
    // The user's own stop (or closing the window) ends a command quietly; anything else is told,
    // with its cause.
    if (cancel_ != Cancel::None || failure.code() == FailureCode::Cancelled) {
        return;
    }
    view_.setToolbarMode(CatalogueView::ToolbarMode::Idle);
    showBusy(false);
    view_.setWaitPointer(false);
    if (failure.code() == FailureCode::PresentFailed || failure.code() == FailureCode::CsvPresentFailed) {
        // Saved, only not shown: nothing failed that the user must put right.
        showDelivered({failure.subject()});
        offerSavedFile(failure);
        return;
    }
    view_.showFailure(failure);
}

void CatalogueController::openSavedList() {
    if (running_) {
        return;
    }
    if (!askOpenName(services_.dialogs, dialogFolder(), QStringLiteral(".xlsx"), listFileName_)) {
        view_.setStatusText(QString());
        return;
    }
    try {
        showBusy(true);
        view_.setStatusText(openingText(listFileName_));
        // Read as the engine opens a workbook, written never: the user's file is opened itself.
        Workbook::check(listFileName_, kCatalogueSheet);
    } catch (const Failure& failure) {
        // The engine's message, then the program ends, as it always has on a failed open.
        view_.showOpenFailure(failure);
        showBusy(false);
        view_.closeWindow();
        return;
    }
    showBusy(false);
    if (!services_.launcher.openFile(listFileName_, whenListNotOpened())) {
        offerSavedFile(Failure(FailureCode::PresentFailed, listFileName_));
    }
}

void CatalogueController::emptyListAndOpen() {
    if (running_) {
        return;
    }
    const std::size_t count = entries_.count();
    entries_.clear();
    emptiedCount_ = count;
    openSavedList();
}

void CatalogueController::stop() {
    if (running_ && cancel_ == Cancel::None) {
        // The worker leaves at its next look at the token; the command's end shows the stop.
        cancel_ = Cancel::Stop;
        stopRequested_ = true;
    }
}

void CatalogueController::openHelp() {
    // The help document beside the program, joined as it always was: folder, then the file's name.
    const QString path = services_.programFolder + QStringLiteral("/Kartoma.html");
    const auto notOpened = [](CatalogueView& view, const QString& file) { view.showHelpNotOpened(file); };
    if (!services_.launcher.openFile(path, whenNotOpened(notOpened))) {
        view_.showHelpNotOpened(path);
    }
}

bool CatalogueController::requestQuit() {
    if (!running_) {
        return true;
    }
    // The command is stopped first; the window closes once it has ended.
    cancel_ = Cancel::Quit;
    stopRequested_ = true;
    return false;
}

std::size_t CatalogueController::entryCount() const {
    return emptiedCount_ ? *emptiedCount_ : entries_.count();
}

void CatalogueController::showBusy(bool on) {
    showBusyFor(on, entryCount());
}

void CatalogueController::showStage(CatalogueStage stage, std::uint64_t total, std::size_t entries) {
    switch (stage) {
    case CatalogueStage::FillingSheet:
        // The one-title layout starts on a blank line, with the arrow back.
        view_.setStatusText(QString());
        view_.setWaitPointer(false);
        [[fallthrough]];
    case CatalogueStage::FillingPages:
        view_.setProgressVisible(false);
        view_.setProgressRange(0, static_cast<double>(total));
        view_.setProgressValue(0);
        view_.setProgressVisible(true);
        return;
    case CatalogueStage::SheetFilled:
        view_.setProgressVisible(false);
        return;
    case CatalogueStage::SavingWorkbook:
        view_.restoreIfMinimised();
        showBusyFor(true, entries);
        view_.setStatusText(stageText(stage));
        view_.refresh();
        return;
    case CatalogueStage::WorkbookSaved:
        showBusyFor(false, entries);
        view_.setStatusText(QString());
        return;
    case CatalogueStage::Listing:
    case CatalogueStage::WalkEnded:
    case CatalogueStage::SavingCsv:
    case CatalogueStage::CsvSaved:
    case CatalogueStage::NothingToList:
        view_.setStatusText(stageText(stage));
        return;
    }
}

void CatalogueController::showBusyFor(bool on, std::size_t entries) {
    if (on) {
        if (entries > kBusyThreshold) {
            view_.showBusyAnimation(true);
        }
        return;
    }
    view_.showBusyAnimation(false);
    view_.setStatusText(QString());
}

OutputTarget CatalogueController::outputAfterWalk(const OutputTarget& asStarted) {
    if (std::holds_alternative<CsvTarget>(asStarted)) {
        return asStarted; // named at the start: the list goes where the user said
    }
    OutputTarget now = view_.currentRequest().output;
    auto* csv = std::get_if<CsvTarget>(&now);
    if (csv == nullptr) {
        return now;
    }
    // Switched to CSV during the walk: the list is not dropped, its file name is asked now.
    if (!askCsvName(csv->path)) {
        nameRefused_ = true;
        throw Failure(FailureCode::Cancelled, QString());
    }
    return now;
}

bool CatalogueController::deliverCsv(const QString& path) {
    csvDelivered_ = path;
    return services_.launcher.openFile(path, whenListNotOpened());
}

} // namespace kartoma
