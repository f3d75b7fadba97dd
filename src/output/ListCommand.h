#pragma once

#include "EntryList.h"
#include "SheetWriter.h"
#include "Walk.h"
#include "WriterDisplay.h"

#include <QDate>
#include <QString>

#include <functional>

namespace kartoma {

class Dialogs;
class FileSystem;
class Launcher;
class ReportComponent;
class VolumeLabels;

/// What a list command needs to know of the stored options and the filter.
struct ListOptions {
    bool csv = false;
    bool label = true;
    bool oneTitle = true;
    bool allTitle = false;
    int pageLN = 60;
    int nest = 8;
    bool leaveOutFolders = true;
    QString filterPattern = QStringLiteral("*.*");
};

/// The state a list command shares with the rest of the program: the list, the label written into
/// every row and the file name chosen in the last dialog.
struct ListSession {
    EntryList entries;
    QString volumeLabel;
    QString listFileName;
};

/// The window as the list command sees it: the writers' display, the walk's observer (status text
/// and yield), the folder chosen, and the toolbar's writing state.
class ListWindow : public WriterDisplay {
public:
    /// The folder the folder list shows (the root of the walk).
    virtual QString folderPath() = 0;
    /// Exit disabled, stop shown and enabled.
    virtual void setToolbarWriting() = 0;
};

/// The system around a list command.
struct ListServices {
    FileSystem& fileSystem;
    VolumeLabels& labels;
    Dialogs& dialogs;
    Launcher& launcher;
    ReportComponent& report;
    QString programFolder;        ///< where the template lies and CSV files are proposed
    std::function<QDate()> today; ///< the date that names a CSV file
};

/// How a list command ended.
struct ListOutcome {
    enum class Result { Cancelled, Written, NothingToWrite } result = Result::Cancelled;
    WalkStats stats;
    std::uint64_t replacedCharacters = 0; ///< CSV: characters written as "?"
};

/// The list-creation command: clears the previous list, asks for the CSV file name when the list is
/// saved as CSV, finds the volume label (asking for one when the medium has none and the option says
/// so), walks the folder, and writes the list as CSV (then opens it in the text viewer) or as the
/// workbook(s) the options ask for. Throws Failure when something fails, a stop included.
///
/// `options` is asked at the start and again after the walk: options changed while the walk ran (the
/// window stays usable) decide the output; the walk itself keeps the depth and filter it started with.
ListOutcome runListCommand(const std::function<ListOptions()>& options, ListSession& session,
                           ListWindow& window, const ListServices& services);

} // namespace kartoma
