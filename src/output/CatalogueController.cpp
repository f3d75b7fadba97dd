#include "CatalogueController.h"

#include "Dialogs.h"
#include "EraDate.h"
#include "Failure.h"
#include "FileDialogs.h"
#include "Launcher.h"
#include "WorkbookFailure.h"

namespace kartoma {

namespace {

constexpr std::size_t kBusyThreshold = 600;

} // namespace

CatalogueController::CatalogueController(CatalogueView& view, ControllerServices services)
    : view_(view), services_(std::move(services)), presenter_(services_.launcher, services_.temporaryFolder),
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
    cancel_ = Cancel::None;
    emptiedCount_.reset();
    view_.setListCommandsEnabled(false);
    try {
        entries_.clear();
        listFileName_.clear();
        CatalogueRequest request = view_.currentRequest();
        bool go = true;
        if (auto* csv = std::get_if<CsvTarget>(&request.output)) {
            const QString defaultName =
                services_.programFolder + QLatin1Char('/') + eraDateText(services_.today());
            go = askSaveName(services_.dialogs, defaultName, QStringLiteral(".csv"), listFileName_);
            csv->path = listFileName_;
        }
        if (go) {
            const CatalogueServices services{services_.fileSystem, services_.labels, report_};
            const CatalogueOutcome outcome = runCatalogue(request, services, *this, entries_);
            if (std::holds_alternative<CsvTarget>(request.output)) {
                listFileName_.clear();
            }
            view_.showOutcome(outcome);
        }
    } catch (const Failure& failure) {
        reportFailure(failure);
    }
    endCommand();
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
    view_.showFailure(failure);
}

void CatalogueController::openSavedList() {
    if (running_) {
        return;
    }
    if (!askOpenName(services_.dialogs, services_.programFolder + QStringLiteral("/tmp"),
                     QStringLiteral(".xlsx"), listFileName_)) {
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
        report_.finish();
        setStatusText(QString());
        showBusy(false);
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
    const OutputTarget now = view_.currentRequest().output;
    if (const auto* workbook = std::get_if<WorkbookTarget>(&now)) {
        return *workbook;
    }
    // Switched to CSV during the walk: no file name was asked for, and no workbook layout is chosen.
    WorkbookTarget none = std::get<WorkbookTarget>(asStarted);
    none.oneTitle = false;
    none.allTitle = false;
    return none;
}

bool CatalogueController::deliverCsv(const QString& path) {
    return services_.launcher.openFile(path);
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
