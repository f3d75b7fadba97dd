#pragma once

#include <QString>

#include <exception>

namespace kartoma {

/// What went wrong in the workbook engine. The numbers are the engine's `errorCode()` values; the
/// engine carries no user-facing text, the programs that use it turn a code into their own words.
enum class WorkbookErrorCode {
    None = 0,
    BookMissing = 101, ///< the workbook to open does not exist or cannot be read
    BookInvalid,       ///< it is not a workbook (not a zip package, parts missing, broken XML)
    SheetMissing,      ///< the workbook has no sheet of the requested name
    BadCellReference,  ///< a cell reference or position that does not name a cell of the sheet
    JobNotOpen,        ///< an operation out of order: no workbook open, or no sheet selected
    JobAborted,        ///< an operation after the job was aborted
    RowOutOfOrder,     ///< a cell written above a row that was already finished
    TooManyRows,       ///< a list that needs more rows than a sheet holds
    SaveFailed,        ///< the finished workbook could not be saved
    PresentFailed,     ///< the finished workbook was saved but could not be shown
    TooLarge,          ///< a workbook being read holds more than the reader's budget allows
};

/// The exception every failing engine operation throws.
class WorkbookError : public std::exception {
public:
    /// `subject` is the file, sheet, cell or operation concerned; `detail` the underlying reason
    /// (libzip's, the XML reader's or the system's), if any.
    WorkbookError(WorkbookErrorCode code, QString subject, QString detail = {})
        : code_(code), subject_(std::move(subject)), detail_(std::move(detail)) {}

    WorkbookErrorCode code() const noexcept { return code_; }
    const QString& subject() const noexcept { return subject_; }
    const QString& detail() const noexcept { return detail_; }
    /// "subject: detail", for logs and diagnostics.
    QString diagnostic() const {
        return detail_.isEmpty() ? subject_ : subject_ + QStringLiteral(": ") + detail_;
    }
    const char* what() const noexcept override { return "kartoma::WorkbookError"; }

private:
    WorkbookErrorCode code_;
    QString subject_;
    QString detail_;
};

} // namespace kartoma
