#include "EnglishMessages.h"

#include "Failure.h"

namespace kartoma {

namespace {

/// The message of each failure; "%1" is the file, folder or value concerned.
QString messageOf(FailureCode code) {
    switch (code) {
    case FailureCode::RootNotFound:
        return QStringLiteral("folder not found: %1");
    case FailureCode::RootNotFolder:
        return QStringLiteral("not a folder: %1");
    case FailureCode::RootUnreadable:
        return QStringLiteral("cannot read folder %1");
    case FailureCode::OutputCreate:
        return QStringLiteral("cannot create output file %1");
    case FailureCode::OutputLinkRefused:
        return QStringLiteral("refusing to follow a link owned by another user in a shared folder: %1");
    case FailureCode::OutputWrite:
        return QStringLiteral("cannot write output file %1");
    case FailureCode::OutputCommit:
        return QStringLiteral("cannot save output file %1");
    case FailureCode::Cancelled:
        return QStringLiteral("cancelled");
    case FailureCode::CatalogueUnreadable:
        return QStringLiteral("cannot read catalogue %1");
    case FailureCode::NotACatalogue:
        return QStringLiteral("not a catalogue (no title row with ファイル名 and ディレクトリ): %1");
    case FailureCode::TemplateMissing:
        return QStringLiteral("workbook not found: %1");
    case FailureCode::TemplateInvalid:
        return QStringLiteral("not a usable workbook: %1");
    case FailureCode::SheetMissing:
        return QStringLiteral("the workbook has no sheet \"%1\"");
    case FailureCode::BadCellReference:
        return QStringLiteral("not a cell of the sheet: %1");
    case FailureCode::RowOutOfOrder:
        return QStringLiteral("row %1 was already written");
    case FailureCode::TooManyRows:
        return QStringLiteral(
            "the list needs %1 rows, more than a sheet holds (1,048,576); write CSV instead");
    case FailureCode::WorkbookSave:
        return QStringLiteral("cannot save workbook %1");
    case FailureCode::PresentFailed:
        return QStringLiteral("no spreadsheet application could be started; the workbook is saved at %1");
    case FailureCode::CsvPresentFailed:
        return QStringLiteral("no application could be started to show the CSV file; it is saved at %1");
    case FailureCode::CatalogueTooLarge:
        return QStringLiteral("catalogue %1 is larger than any catalogue can be and was not read");
    case FailureCode::CatalogueDamaged:
        return QStringLiteral("catalogue %1 is damaged or no workbook");
    case FailureCode::CatalogueNotFile:
        return QStringLiteral("catalogue %1 is not a regular file");
    case FailureCode::CatalogueOutOfMemory:
        return QStringLiteral("not enough memory to read catalogue %1");
    case FailureCode::CatalogueFolderUnreadable:
        return QStringLiteral("cannot read %1 to look for catalogues");
    case FailureCode::SearchOutputWrite:
        return QStringLiteral("cannot write the results to %1");
    }
    return QStringLiteral("failure %1");
}

} // namespace

QString englishText(const Failure& failure) {
    return failure.worded(messageOf(failure.code()), QStringLiteral(": "));
}

} // namespace kartoma
