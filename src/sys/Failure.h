#pragma once

#include "SystemError.h"

#include <QString>

#include <exception>

namespace kartoma {

/// What went wrong, as one code per kind of failure. The front ends turn a code into a message in
/// their own language, each from one table (Japanese in the window, English on the command line).
enum class FailureCode {
    RootNotFound = 1,    ///< the folder to catalogue does not exist
    RootNotFolder,       ///< the path names something that is not a folder
    RootUnreadable,      ///< the folder exists but cannot be listed
    OutputCreate,        ///< the output file cannot be created
    OutputLinkRefused,   ///< the output is a link another user planted in a shared folder
    OutputWrite,         ///< writing the output failed (disk full, I/O error)
    OutputCommit,        ///< the finished output could not replace the target
    Cancelled,           ///< the user stopped the command or closed the program while it ran
    CsvPresentFailed,    ///< the CSV file was saved but no program could be started to show it
    CatalogueUnreadable, ///< a saved catalogue to search cannot be opened or read
    NotACatalogue,       ///< a file to search is no catalogue (no title row names its columns)
    // The workbooks': filling a template, reading one.
    TemplateMissing = 101, ///< the workbook to open does not exist or cannot be read
    TemplateInvalid,       ///< it is not a workbook (not a zip package, parts missing, broken XML)
    SheetMissing,          ///< the workbook has no sheet of the requested name
    BadCellReference,      ///< a row, column or look that the sheet cannot hold
    RowOutOfOrder = 107,   ///< a row at or above one that was already written
    TooManyRows,           ///< a list that needs more rows than a sheet holds
    WorkbookSave,          ///< the finished workbook could not be saved
    PresentFailed,         ///< the finished file was saved but could not be shown
    CatalogueTooLarge,     ///< a workbook being read holds more than its reader's budget allows
    // Further failures of the catalogue search.
    CatalogueDamaged = 201,    ///< a workbook to search that is no zip package or has broken parts
    CatalogueNotFile,          ///< a catalogue to search that is no regular file (a pipe, a device)
    CatalogueOutOfMemory,      ///< memory ran out while one catalogue was read
    CatalogueFolderUnreadable, ///< a folder of catalogues, or an entry in it, cannot be read
    SearchOutputWrite,         ///< the search's results could not be written (full disk, closed pipe)
};

/// The one exception type below the front ends (the walk, the writers, the workbook engine, the
/// search): it carries a failure up to the command's boundary, where it is caught and shown. It never
/// crosses a Qt slot or the event loop.
class Failure : public std::exception {
public:
    /// `subject` is the file, folder, sheet or row concerned; `detail` the underlying reason (the
    /// system's, libzip's or the XML reader's), if any.
    Failure(FailureCode code, QString subject, QString detail = {})
        : code_(code), subject_(std::move(subject)), detail_(std::move(detail)) {}

    FailureCode code() const noexcept { return code_; }
    const QString& subject() const noexcept { return subject_; }
    const QString& detail() const noexcept { return detail_; }
    /// A front end's message for this failure: `message` with "%1" (if it has one) replaced by the
    /// subject, then the detail after `separator`.
    QString worded(const QString& message, const QString& separator) const;
    /// "subject: detail", for logs and diagnostics.
    QString diagnostic() const;

    const char* what() const noexcept override { return "kartoma::Failure"; }

private:
    FailureCode code_;
    QString subject_;
    QString detail_;
};

} // namespace kartoma
