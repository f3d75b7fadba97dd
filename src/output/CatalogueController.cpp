#include "CatalogueController.h"

#include "Dialogs.h"
#include "EraDate.h"
#include "Failure.h"
#include "FileDialogs.h"
#include "Launcher.h"
#include "WorkbookFailure.h"

#include <QFileInfo>

namespace kartoma {

namespace {

constexpr std::size_t kBusyThreshold = 600;

} // namespace

CatalogueController::CatalogueController(CatalogueView& view, ControllerServices services)
    : view_(view), services_(std::move(services)),
      presenter_(services_.launcher, services_.temporaryFolder, whenListNotOpened()),
      report_(presenter_) {
    sinceYield_.start();
}

CatalogueController::~CatalogueController() = default;

void CatalogueController::createList() {
    // One list command at a time: a second one is refused while the first runs.
    if (running_) {
        return;
    }
    running_ = true;
    // Whatever the command ends with, the file of an earlier one is no longer what the line names.
    setStatusText(QString());
    cancel_ = Cancel::None;
    nameRefused_ = false;
    csvDelivered_.clear();
    presenter_.takePresented();
    emptiedCount_.reset();
    view_.setListCommandsEnabled(false);
    try {
        entries_.clear();
        listFileName_.clear();
        CatalogueRequest request = view_.currentRequest();
        bool go = true;
        if (auto* csv = std::get_if<CsvTarget>(&request.output)) {
            go = askCsvName(csv->path);
        }
        if (go) {
            const CatalogueServices services{services_.fileSystem, services_.labels, report_};
            const CatalogueOutcome outcome = runCatalogue(request, services, *this, entries_);
            if (!csvDelivered_.isEmpty()) {
                listFileName_.clear();
            }
            showDelivered(csvDelivered_.isEmpty() ? presenter_.takePresented() : QStringList{csvDelivered_});
            view_.showOutcome(outcome);
        }
    } catch (const Failure& failure) {
        reportFailure(failure);
        if (nameRefused_) {
            setStatusText(QStringLiteral("ファイル名が指定されなかったため、リストは保存されませんでした。"));
        }
    }
    endCommand();
}

bool CatalogueController::askCsvName(QString& path) {
    const QString defaultName = services_.programFolder + QLatin1Char('/') + eraDateText(services_.today());
    const bool named = askSaveName(services_.dialogs, defaultName, QStringLiteral(".csv"), listFileName_);
    path = listFileName_;
    return named;
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
    const QString path = failure.path();
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
        setStatusText(QStringLiteral("保存しました：") + files.join(QStringLiteral("、")));
    }
}

void CatalogueController::endCommand() {
    view_.setListCommandsEnabled(true);
    running_ = false;
    writing_ = false;
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
    setToolbarIdle();
    showBusy(false);
    view_.setWaitPointer(false);
    if (failure.code() == FailureCode::PresentFailed || failure.code() == FailureCode::CsvPresentFailed) {
        // Saved, only not shown: nothing failed that the user must put right.
        showDelivered({failure.path()});
        offerSavedFile(failure);
        return;
    }
    view_.showFailure(failure);
}

void CatalogueController::openSavedList() {
    if (running_) {
        return;
    }
    if (!askOpenName(services_.dialogs, services_.programFolder + QStringLiteral("/tmp"),
                     QStringLiteral(".xlsx"), listFileName_)) {
        setStatusText(QString());
        return;
    }
    try {
        showBusy(true);
        setStatusText(QLatin1Char('<') + listFileName_ + QLatin1Char('>'));
        report_.setBookFile(listFileName_);
        report_.setStartOption(0);
        report_.openBook();
        report_.selectSheet(QStringLiteral("Kartoma"), QStringLiteral("1-9999"));
        report_.closeSheet();
        report_.setFinishOption(-2);
        presenter_.takePresented();
        report_.finish();
        showBusy(false);
        showDelivered(presenter_.takePresented());
    } catch (const WorkbookError& error) {
        // The engine's message, then the program ends, as it always has on a failed open.
        view_.showOpenFailure(failureOf(error));
        showBusy(false);
        view_.closeWindow();
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
        cancel_ = Cancel::Stop;
    }
    // The job ends here; the command leaves at its next yield.
    const auto quietly = [](const auto& step) {
        try {
            step();
        } catch (const WorkbookError&) {
        }
    };
    quietly([this] { report_.closeSheet(); });
    quietly([this] { report_.setFinishOption(-2); });
    report_.abort();
    setStatusText(QStringLiteral("処理が中断されました。"));
    setToolbarIdle();
    view_.setProgressVisible(false);
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
    // The command is under way further down the stack: it ends first (a writer through the stop
    // steps, the walk at its next yield), then the window closes.
    const bool writing = writing_;
    cancel_ = Cancel::Quit;
    if (writing) {
        stop();
    }
    return false;
}

std::size_t CatalogueController::entryCount() const {
    return emptiedCount_ ? *emptiedCount_ : entries_.count();
}

void CatalogueController::showBusy(bool on) {
    if (on) {
        if (entryCount() > kBusyThreshold) {
            view_.showBusyAnimation(true);
        }
        return;
    }
    view_.showBusyAnimation(false);
    setStatusText(QString());
}

void CatalogueController::searching(const QString& folder) {
    setStatusText(searchingText(folder));
}

void CatalogueController::skipped(const QString&, int) {
    // Counted by the walk; the window tells the total at the end.
}

void CatalogueController::yieldNow() {
    // Let the window repaint and take a click (the stop button, above all) at most every few
    // milliseconds, not once per entry: a million entries would otherwise cost more than the walk.
    if (sinceYield_.elapsed() >= services_.yieldIntervalMs) {
        view_.processEvents();
        sinceYield_.restart();
    }
    if (cancel_ != Cancel::None) {
        throw Failure(FailureCode::Cancelled, QString());
    }
}

QString CatalogueController::askVolumeLabel(const QString& folder) {
    QString label;
    services_.dialogs.editVolumeLabel(label, folder);
    return label;
}

void CatalogueController::setToolbarWriting() {
    writing_ = true;
    view_.setToolbarMode(CatalogueView::ToolbarMode::Writing);
}

void CatalogueController::setToolbarIdle() {
    writing_ = false;
    view_.setToolbarMode(CatalogueView::ToolbarMode::Idle);
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

void CatalogueController::setStatusText(const QString& text) {
    view_.setStatusText(text);
}

void CatalogueController::setProgressRange(double minimum, double maximum) {
    view_.setProgressRange(minimum, maximum);
}

void CatalogueController::setProgressValue(double value) {
    view_.setProgressValue(value);
}

void CatalogueController::setProgressVisible(bool visible) {
    view_.setProgressVisible(visible);
}

void CatalogueController::restoreIfMinimised() {
    view_.restoreIfMinimised();
}

void CatalogueController::setDefaultPointer() {
    view_.setWaitPointer(false);
}

void CatalogueController::refresh() {
    view_.refresh();
}

} // namespace kartoma
