#pragma once

#include "CsvWriter.h"
#include "EntryList.h"
#include "EntryRecorder.h"
#include "CatalogueProgress.h"

#include <QString>

#include <variant>

namespace kartoma {

class FileSystem;
class VolumeLabels;
class WorkbookOpener;
class WorkbookPresenter;

/// Where the volume label written into every row comes from.
enum class LabelPolicy {
    Given,             ///< the request's own text, even when it is empty
    AskWhenMissing,    ///< the medium's label; when it has none, the user is asked
    FolderWhenMissing, ///< the medium's label; when it has none, the folder's path
};

/// A CSV file at `path`.
struct CsvTarget {
    QString path;
    CsvEncoding encoding = CsvEncoding::Cp932;
};

/// One or two workbooks filled from a template: the one-title layout, the all-titles layout, or both.
struct WorkbookTarget {
    QString templatePath;
    bool titleOnFirstPage = true;
    bool titleOnEveryPage = false;
    int linesPerPage = 60; ///< the all-titles layout's page length, its title row included
    /// Where the workbook is saved, when the caller names it (the command line). It is checked
    /// before the walk, and the workbook is saved there and nothing more. Empty: the services'
    /// presenter chooses the place and hands the workbook over.
    QString savePath;
};

using OutputTarget = std::variant<CsvTarget, WorkbookTarget>;

/// The file `output` is named to go to: the CSV file, or the workbook's save path (empty: the
/// presenter chooses).
QString namedPath(const OutputTarget& output);

/// Everything one catalogue is made of: which folder, how deep and which entries, which label, and
/// where the list goes. The window builds it from its options, the command line from its arguments.
struct CatalogueRequest {
    QString folder;
    /// Depth, filter and whether folders are listed; `scan.volumeLabel` is the label for
    /// LabelPolicy::Given and is otherwise decided by the command.
    CatalogueOptions scan;
    LabelPolicy labelPolicy = LabelPolicy::FolderWhenMissing;
    OutputTarget output = WorkbookTarget{};
};

/// The template beside the program.
QString defaultTemplatePath(const QString& programFolder);

/// The questions only a front end can answer, asked on the command's thread.
class CatalogueQuestions {
public:
    virtual ~CatalogueQuestions() = default;
    /// LabelPolicy::AskWhenMissing on a medium without a label: the label to use (may be empty).
    virtual QString askVolumeLabel(const QString& folder) = 0;
    /// Asked once after the walk of a workbook list: the output as it should be now (the window's
    /// options may have changed during the walk).
    virtual OutputTarget outputAfterWalk(const OutputTarget& asStarted) = 0;
    /// The saved CSV file is handed to the user (the window opens the text viewer); false when that
    /// could not be done.
    virtual bool deliverCsv(const QString& path) = 0;
};

/// The system a catalogue is made with.
struct CatalogueServices {
    FileSystem& fileSystem;
    VolumeLabels& labels;
    /// Fills the workbooks (its stop ends a fill).
    WorkbookOpener& workbooks;
    /// Decides where the workbooks go and how the user gets them, for a request that names no
    /// place (WorkbookTarget::savePath); may be null when every request names one.
    WorkbookPresenter* presenter = nullptr;
};

/// How a catalogue ended, when it did not fail.
struct CatalogueOutcome {
    enum class Result { Written, NothingToWrite } result = Result::Written;
    QString folder; ///< the folder walked, as an absolute path
    WalkStats stats;
    std::uint64_t replacedCharacters = 0; ///< CSV: characters written as "?"
    std::uint64_t undecodableNames = 0;   ///< names neither UTF-8 nor CP932 (EntryList::undecodableNames)
};

/// The list-creation command, the one both front ends run. In order: checks the output's folder and
/// (for workbooks) the whole template, checks the folder, decides the volume label by the policy,
/// walks the folder into `list`, then writes the list as CSV or as the workbook(s) the output
/// target asks for, as `questions->outputAfterWalk` has it. Its stages and position go to
/// `progress`. Without `questions` (the command line) a missing label stays empty, the output stays
/// as started and a CSV file is delivered where it was saved.
///
/// An empty list gives no workbook (Result::NothingToWrite, after CatalogueStage::NothingToList) and
/// an empty CSV file. Throws Failure on any failure, the user's stop (Cancelled, raised by `progress`
/// at a yield) included; nothing half-written is left behind.
CatalogueOutcome runCatalogue(const CatalogueRequest& request, const CatalogueServices& services,
                              CatalogueProgress& progress, EntryList& list, CatalogueQuestions* questions = nullptr);

} // namespace kartoma
