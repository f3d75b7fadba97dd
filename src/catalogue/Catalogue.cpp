#include "Catalogue.h"

#include "Failure.h"
#include "FileSystem.h"
#include "NameText.h"
#include "NativePath.h"
#include "OutputFile.h"
#include "Presenters.h"
#include "SheetWriter.h"
#include "VolumeLabels.h"
#include "Workbook.h"

#include <QDir>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

namespace kartoma {

namespace {


/// The catalogue may go to `path` (the output policy every writer follows).
void checkOutputPath(const QString& path) {
    if (const int err = checkOutputFile(toNativePath(path)); err != 0) {
        throw outputFailure(err, FailureCode::OutputCreate, path);
    }
}

/// The chosen folder, opened before anything else looks at it, and handed to the walk in place of
/// opening it again: the check and the walk see one folder, and the walk names it by its absolute
/// path while the system opens it as the user spelled it (a working folder whose whole path is longer
/// than the system takes at once still opens).
class ChosenFolder final : public FileSystem {
public:
    /// Opens `spelling` as the system means it; throws Failure with the system's cause.
    ChosenFolder(FileSystem& system, const QString& spelling) : system_(system) {
        const std::string path = toNativePath(spelling);
        const int err = system_.openRoot(path, root_);
        if (err == 0) {
            open_ = true;
            return;
        }
        // A link that leads nowhere is there, but is no folder.
        struct stat st;
        const bool dangling = err == ENOENT && lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
        throw Failure(dangling ? FailureCode::RootNotFolder : rootFailureCode(err), spelling,
                      systemErrorText(err));
    }
    ~ChosenFolder() override {
        if (open_) {
            system_.closeFolder(root_);
        }
    }
    ChosenFolder(const ChosenFolder&) = delete;
    ChosenFolder& operator=(const ChosenFolder&) = delete;

    int openRoot(const std::string&, FolderHandle& folder) override {
        if (!open_) {
            return EBADF;
        }
        open_ = false;
        folder = root_;
        return 0;
    }
    int openChild(FolderHandle parent, std::string_view name, FolderHandle& folder) override {
        return system_.openChild(parent, name, folder);
    }
    int listFolder(FolderHandle folder, FolderListing& out, std::vector<ListingProblem>& problems) override {
        return system_.listFolder(folder, out, problems);
    }
    void closeFolder(FolderHandle folder) override { system_.closeFolder(folder); }

private:
    FileSystem& system_;
    FolderHandle root_ = 0;
    bool open_ = false;
};

/// Where the working folder is; throws Failure with the system's cause when it has no name (it was
/// removed, or an ancestor cannot be read). Never "/" in place of an unknown folder.
QString workingFolder(const QString& spelling) {
    // glibc finds a path longer than PATH_MAX when it allocates the buffer itself.
    const std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
    if (cwd == nullptr) {
        const int err = errno;
        throw Failure(rootFailureCode(err), spelling, systemErrorText(err));
    }
    return fromNativePath(cwd.get());
}

/// The folder as an absolute path, meaning what the system means by it: ".." after a link leads to
/// the parent of the link's target, so the path up to its last ".." is resolved by the system; the
/// rest keeps the user's spelling (links included).
QString absoluteFolder(const QString& folder) {
    const QString absolute =
        folder.startsWith(QLatin1Char('/')) ? folder : workingFolder(folder) + QLatin1Char('/') + folder;
    const QStringList parts = absolute.split(QLatin1Char('/'));
    const qsizetype last = parts.lastIndexOf(QStringLiteral(".."));
    if (last < 0) {
        return QDir::cleanPath(absolute);
    }
    // What the system answers is what the folder means: a link to a file or to nothing before ".."
    // is an error, never a shortening of the text.
    const std::unique_ptr<char, decltype(&std::free)> resolved(
        realpath(toNativePath(parts.mid(0, last + 1).join(QLatin1Char('/'))).c_str(), nullptr), &std::free);
    if (resolved == nullptr) {
        const int err = errno;
        throw Failure(rootFailureCode(err), folder, systemErrorText(err));
    }
    return QDir::cleanPath(fromNativePath(resolved.get()) + QLatin1Char('/') +
                           parts.mid(last + 1).join(QLatin1Char('/')));
}

QString volumeLabelFor(const CatalogueRequest& request, const QString& folder, VolumeLabels& labels,
                       CatalogueQuestions* questions) {
    if (request.labelPolicy == LabelPolicy::Given) {
        return request.scan.volumeLabel;
    }
    const QString label = labels.labelOf(folder);
    if (!label.isEmpty()) {
        return label;
    }
    // The folder's path stands for the label as the folder column has it: with its bytes, which each
    // writer shows as it shows the folder. Asked, the user starts from its readable text.
    if (request.labelPolicy == LabelPolicy::FolderWhenMissing) {
        return folder;
    }
    return questions != nullptr ? questions->askVolumeLabel(readablePath(folder)) : QString();
}

/// The progress as the walk sees it, writing the lines of a CSV list begun before the walk as the
/// entries are recorded: the file is written in the time the walk leaves free, not after it.
class WritingObserver final : public WalkObserver {
public:
    WritingObserver(CatalogueProgress& progress, CsvFile* file, const EntryList& list)
        : progress_(progress), file_(file), list_(list) {}

    void searching(const QString& folder) override {
        if (file_ != nullptr) {
            file_->append(list_);
        }
        progress_.searching(folder);
    }
    void yieldNow() override { progress_.yieldNow(); }
    void skipped(const QString& path, int errnum) override { progress_.skipped(path, errnum); }

private:
    CatalogueProgress& progress_;
    CsvFile* file_;
    const EntryList& list_;
};

void writeCsv(const CsvTarget& target, const EntryList& list, CatalogueProgress& progress,
              CatalogueQuestions* questions, CatalogueOutcome& outcome, std::optional<CsvFile>& begun) {
    progress.reached(CatalogueStage::SavingCsv);
    const auto checkpoint = [&progress] { progress.checkStopped(); };
    outcome.replacedCharacters = (begun ? begun->commit(list, checkpoint)
                                        : saveCsv(list, target.encoding, target.path, checkpoint))
                                     .replacedCharacters;
    if (questions != nullptr && !questions->deliverCsv(target.path)) {
        throw Failure(FailureCode::CsvPresentFailed, target.path);
    }
    progress.reached(CatalogueStage::CsvSaved);
}

bool writeWorkbooks(const WorkbookTarget& target, const EntryList& list, const WorkbookOutput& output,
                    CatalogueProgress& progress) {
    bool made = false;
    if (target.titleOnFirstPage) {
        made = writeTitledOnFirstPage(output, list, target.templatePath, progress) || made;
    }
    if (target.titleOnEveryPage) {
        made =
            writeTitledOnEveryPage(output, list, target.linesPerPage, target.templatePath, progress) || made;
    }
    return made;
}

} // namespace

QString namedPath(const OutputTarget& output) {
    const auto* csv = std::get_if<CsvTarget>(&output);
    return csv != nullptr ? csv->path : std::get<WorkbookTarget>(output).savePath;
}

QString defaultTemplatePath(const QString& programFolder) {
    return programFolder + QStringLiteral("/Kartoma.xl_");
}

CatalogueOutcome runCatalogue(const CatalogueRequest& request, const CatalogueServices& services,
                              CatalogueProgress& progress, EntryList& list, CatalogueQuestions* questions) {
    CatalogueOutcome outcome;
    list.clear();
    progress.reached(CatalogueStage::Listing);

    // Everything that can be known to fail is checked before a walk that may take long.
    if (const QString path = namedPath(request.output); !path.isEmpty()) {
        checkOutputPath(path);
    }
    if (const auto* workbook = std::get_if<WorkbookTarget>(&request.output)) {
        Workbook::check(workbook->templatePath, kCatalogueSheet);
    }
    ChosenFolder folder(services.fileSystem, request.folder);
    // The folder as an absolute path: the catalogue says where its entries were found.
    outcome.folder = absoluteFolder(request.folder);

    CatalogueOptions scan = request.scan;
    scan.volumeLabel = volumeLabelFor(request, outcome.folder, services.labels, questions);
    // A CSV list's place was given at the start: it is written while the walk goes on.
    std::optional<CsvFile> csvFile;
    if (const auto* csv = std::get_if<CsvTarget>(&request.output)) {
        csvFile.emplace(csv->encoding, csv->path);
    }
    WritingObserver observer(progress, csvFile ? &*csvFile : nullptr, list);
    outcome.stats = collectEntries(outcome.folder, scan, folder, observer, list);
    outcome.undecodableNames = list.undecodableNames();
    progress.reached(CatalogueStage::WalkEnded);

    // The file name of a CSV list was asked for at the start; the list goes where the user said.
    const OutputTarget output = std::holds_alternative<CsvTarget>(request.output) || questions == nullptr
                                    ? request.output
                                    : questions->outputAfterWalk(request.output);
    // A stop that came with the walk's end is taken before anything is written.
    progress.checkStopped();
    if (const auto* csv = std::get_if<CsvTarget>(&output)) {
        writeCsv(*csv, list, progress, questions, outcome, csvFile);
        return outcome;
    }
    const auto& workbook = std::get<WorkbookTarget>(output);
    SaveAtPresenter namedPlace(workbook.savePath);
    WorkbookPresenter* presenter = workbook.savePath.isEmpty() ? services.presenter : &namedPlace;
    if (presenter == nullptr) {
        throw std::logic_error("a workbook without a place to go");
    }
    if (!writeWorkbooks(workbook, list, {services.workbooks, *presenter}, progress)) {
        outcome.result = CatalogueOutcome::Result::NothingToWrite;
    }
    return outcome;
}

} // namespace kartoma
