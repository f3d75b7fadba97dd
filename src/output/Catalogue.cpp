#include "Catalogue.h"

#include "Failure.h"
#include "NameText.h"
#include "NativePath.h"
#include "OutputFile.h"
#include "ReportComponent.h"
#include "SheetWriter.h"
#include "VolumeLabels.h"
#include "WorkbookFailure.h"

#include <QDir>

#include <climits>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace kartoma {

namespace {

const QString kSheetName = QStringLiteral("Kartoma");

/// The catalogue may go to `path` (the output policy every writer follows).
void checkOutputPath(const QString& path) {
    if (const int err = checkOutputFile(toNativePath(path)); err != 0) {
        throw Failure(FailureCode::OutputCreate, path, outputErrorText(err));
    }
}

/// The folder as an absolute path, meaning what the system means by it: ".." after a link leads to
/// the parent of the link's target, so the path up to its last ".." is resolved by the system; the
/// rest keeps the user's spelling (links included).
QString absoluteFolder(const QString& folder) {
    QString absolute = folder;
    if (!folder.startsWith(QLatin1Char('/'))) {
        // The working folder's name need not be text either.
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd) != nullptr) {
            absolute = fromNativePath(cwd) + QLatin1Char('/') + folder;
        }
    }
    const QStringList parts = absolute.split(QLatin1Char('/'));
    const qsizetype last = parts.lastIndexOf(QStringLiteral(".."));
    if (last < 0) {
        return QDir::cleanPath(absolute);
    }
    char resolved[PATH_MAX];
    if (realpath(toNativePath(parts.mid(0, last + 1).join(QLatin1Char('/'))).c_str(), resolved) == nullptr) {
        return QDir::cleanPath(absolute); // it is not there: the check that follows says so
    }
    return QDir::cleanPath(fromNativePath(resolved) + QLatin1Char('/') +
                           parts.mid(last + 1).join(QLatin1Char('/')));
}

void checkFolder(const QString& folder) {
    const std::string path = toNativePath(folder);
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return;
    }
    // A link that leads nowhere is there, but is no folder.
    throw Failure(lstat(path.c_str(), &st) == 0 ? FailureCode::RootNotFolder : FailureCode::RootNotFound,
                  folder);
}

QString volumeLabelFor(const CatalogueRequest& request, const QString& folder, VolumeLabels& labels,
                       CatalogueHost& host) {
    if (request.labelPolicy == LabelPolicy::Given) {
        return request.scan.volumeLabel;
    }
    const QString label = labels.labelOf(folder);
    if (!label.isEmpty()) {
        return label;
    }
    // The label is text for a person: a folder name that is not text is shown as nameText shows it.
    const QString readable = readablePath(folder);
    return request.labelPolicy == LabelPolicy::FolderWhenMissing ? readable : host.askVolumeLabel(readable);
}

void writeCsv(const CsvTarget& target, const EntryList& list, CatalogueHost& host,
              CatalogueOutcome& outcome) {
    host.setStatusText(QStringLiteral("CSV形式のファイルを保存中"));
    outcome.replacedCharacters = saveCsv(list, target.encoding, target.path).replacedCharacters;
    if (!host.deliverCsv(target.path)) {
        throw Failure(FailureCode::CsvPresentFailed, target.path);
    }
    host.setStatusText(QString());
}

bool writeWorkbooks(const WorkbookTarget& target, const EntryList& list, ReportComponent& report,
                    CatalogueHost& host) {
    host.setToolbarWriting();
    bool made = false;
    translatingWorkbookErrors([&] {
        if (target.oneTitle) {
            made = excelOutOneTitle(report, list, target.templatePath, host) || made;
        }
        if (target.allTitle) {
            made = excelOutAllTitle(report, list, target.linesPerPage, target.templatePath, host) || made;
        }
    });
    host.setToolbarIdle();
    return made;
}

} // namespace

QString defaultTemplatePath(const QString& programFolder) {
    return programFolder + QStringLiteral("/Kartoma.xl_");
}

CatalogueOutcome runCatalogue(const CatalogueRequest& request, const CatalogueServices& services,
                              CatalogueHost& host, EntryList& list) {
    CatalogueOutcome outcome;
    list.clear();
    host.setStatusText(QStringLiteral("ファイルリストを作成中です。"));

    // Everything that can be known to fail is checked before a walk that may take long.
    if (const auto* csv = std::get_if<CsvTarget>(&request.output)) {
        checkOutputPath(csv->path);
    } else {
        const auto& workbook = std::get<WorkbookTarget>(request.output);
        if (!workbook.savePath.isEmpty()) {
            checkOutputPath(workbook.savePath);
        }
        translatingWorkbookErrors([&] { services.report.checkBook(workbook.templatePath, kSheetName); });
    }
    // The folder as an absolute path: the catalogue says where its entries were found.
    outcome.folder = absoluteFolder(request.folder);
    checkFolder(outcome.folder);

    CatalogueOptions scan = request.scan;
    scan.volumeLabel = volumeLabelFor(request, outcome.folder, services.labels, host);
    outcome.stats = collectEntries(outcome.folder, scan, services.fileSystem, host, list);
    outcome.undecodableNames = list.undecodableNames();
    host.setStatusText(QStringLiteral("ディレクトリ検索が終了しました。"));

    // The file name of a CSV list was asked for at the start; the list goes where the user said.
    const OutputTarget output = std::holds_alternative<CsvTarget>(request.output)
                                    ? request.output
                                    : host.outputAfterWalk(request.output);
    if (const auto* csv = std::get_if<CsvTarget>(&output)) {
        writeCsv(*csv, list, host, outcome);
        return outcome;
    }
    if (!writeWorkbooks(std::get<WorkbookTarget>(output), list, services.report, host)) {
        outcome.result = CatalogueOutcome::Result::NothingToWrite;
    }
    return outcome;
}

} // namespace kartoma
