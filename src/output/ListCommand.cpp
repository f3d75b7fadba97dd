#include "ListCommand.h"

#include "CsvWriter.h"
#include "Dialogs.h"
#include "EntryRecorder.h"
#include "EraDate.h"
#include "Failure.h"
#include "FileDialogs.h"
#include "Launcher.h"
#include "VolumeLabels.h"

namespace kartoma {

namespace {

/// The walk's reports, shown in the window's status text.
class StatusObserver final : public WalkObserver {
public:
    explicit StatusObserver(ListWindow& window) : window_(window) {}
    void searching(const QString& folder) override { window_.setStatusText(searchingText(folder)); }
    void yieldNow() override { window_.yieldNow(); }
    void skipped(const QString&, int) override {}

private:
    ListWindow& window_;
};

void csvOut(ListSession& session, ListWindow& window, const ListServices& services, ListOutcome& outcome) {
    window.setStatusText(QStringLiteral("CSV形式のファイルを保存中"));
    const CsvResult written = saveCsv(session.entries, CsvEncoding::Cp932, session.listFileName);
    outcome.replacedCharacters = written.replacedCharacters;
    if (!services.launcher.openFile(session.listFileName)) {
        throw Failure(FailureCode::PresentFailed, session.listFileName);
    }
    session.listFileName.clear();
    window.setStatusText(QString());
}

} // namespace

ListOutcome runListCommand(const std::function<ListOptions()>& currentOptions, ListSession& session,
                           ListWindow& window, const ListServices& services) {
    ListOptions options = currentOptions();
    ListOutcome outcome;
    session.entries.clear();
    session.volumeLabel.clear();
    session.listFileName.clear();

    if (options.csv) {
        const QString defaultName = services.programFolder + QLatin1Char('/') + eraDateText(services.today());
        if (!askSaveName(services.dialogs, defaultName, QStringLiteral(".csv"), session.listFileName)) {
            return outcome;
        }
    }
    window.setStatusText(QStringLiteral("ファイルリストを作成中です。"));
    const QString folder = window.folderPath();
    session.volumeLabel = services.labels.labelOf(folder);
    if (session.volumeLabel.isEmpty()) {
        if (!options.label) {
            session.volumeLabel = folder;
        } else {
            services.dialogs.editVolumeLabel(session.volumeLabel, folder);
        }
    }

    CatalogueOptions catalogue;
    catalogue.walk.depth = options.nest;
    catalogue.record.leaveOutFolders = options.leaveOutFolders;
    catalogue.record.filterPattern = options.filterPattern;
    catalogue.volumeLabel = session.volumeLabel;
    StatusObserver observer(window);
    outcome.stats = collectEntries(folder, catalogue, services.fileSystem, observer, session.entries);
    window.setStatusText(QStringLiteral("ディレクトリ検索が終了しました。"));

    const bool csv = options.csv;
    options = currentOptions();
    // The file name was asked for at the start; the list goes where the user said.
    if (csv) {
        csvOut(session, window, services, outcome);
        outcome.result = ListOutcome::Result::Written;
        return outcome;
    }
    const QString templatePath = services.programFolder + QStringLiteral("/Kartoma.xl_");
    window.setToolbarWriting();
    bool made = false;
    if (options.oneTitle) {
        made = excelOutOneTitle(services.report, session.entries, templatePath, window) || made;
    }
    if (options.allTitle) {
        made =
            excelOutAllTitle(services.report, session.entries, options.pageLN, templatePath, window) || made;
    }
    window.setToolbarIdle();
    outcome.result = made ? ListOutcome::Result::Written : ListOutcome::Result::NothingToWrite;
    return outcome;
}

} // namespace kartoma
