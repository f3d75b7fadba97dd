#include "Failure.h"

#include <cstring>

namespace kartoma {

namespace {

QString withDetail(QString text, const QString& detail, const QString& separator) {
    if (!detail.isEmpty()) {
        text += separator + detail;
    }
    return text;
}

} // namespace

QString Failure::englishText() const {
    QString text;
    switch (code_) {
    case FailureCode::RootNotFound:
        text = QStringLiteral("folder not found: %1").arg(path_);
        break;
    case FailureCode::RootNotFolder:
        text = QStringLiteral("not a folder: %1").arg(path_);
        break;
    case FailureCode::RootUnreadable:
        text = QStringLiteral("cannot read folder %1").arg(path_);
        break;
    case FailureCode::OutputCreate:
        text = QStringLiteral("cannot create output file %1").arg(path_);
        break;
    case FailureCode::OutputWrite:
        text = QStringLiteral("cannot write output file %1").arg(path_);
        break;
    case FailureCode::OutputCommit:
        text = QStringLiteral("cannot save output file %1").arg(path_);
        break;
    case FailureCode::Cancelled:
        text = QStringLiteral("cancelled");
        break;
    case FailureCode::TemplateMissing:
        text = QStringLiteral("workbook not found: %1").arg(path_);
        break;
    case FailureCode::TemplateInvalid:
        text = QStringLiteral("not a usable workbook: %1").arg(path_);
        break;
    case FailureCode::SheetMissing:
        text = QStringLiteral("the workbook has no sheet \"%1\"").arg(path_);
        break;
    case FailureCode::BadCellReference:
        text = QStringLiteral("not a cell of the sheet: %1").arg(path_);
        break;
    case FailureCode::JobNotOpen:
        text = QStringLiteral("workbook operation out of order: %1").arg(path_);
        break;
    case FailureCode::JobAborted:
        text = QStringLiteral("the workbook job was stopped");
        break;
    case FailureCode::RowOutOfOrder:
        text = QStringLiteral("row %1 was already written").arg(path_);
        break;
    case FailureCode::TooManyRows:
        text =
            QStringLiteral("the list needs %1 rows, more than a sheet holds (1,048,576); write CSV instead")
                .arg(path_);
        break;
    case FailureCode::WorkbookSave:
        text = QStringLiteral("cannot save workbook %1").arg(path_);
        break;
    case FailureCode::PresentFailed:
        text = QStringLiteral("no spreadsheet application could be started; the workbook is saved at %1")
                   .arg(path_);
        break;
    }
    return withDetail(text, detail_, QStringLiteral(": "));
}

QString Failure::japaneseText() const {
    QString text;
    switch (code_) {
    case FailureCode::RootNotFound:
        text = QStringLiteral("フォルダが見つかりません。\r\n%1").arg(path_);
        break;
    case FailureCode::RootNotFolder:
        text = QStringLiteral("フォルダではありません。\r\n%1").arg(path_);
        break;
    case FailureCode::RootUnreadable:
        text = QStringLiteral("フォルダを読み取れません。\r\n%1").arg(path_);
        break;
    case FailureCode::OutputCreate:
        text = QStringLiteral("ファイルを作成できません。\r\n%1").arg(path_);
        break;
    case FailureCode::OutputWrite:
        text = QStringLiteral("ファイルに書き込めません。\r\n%1").arg(path_);
        break;
    case FailureCode::OutputCommit:
        text = QStringLiteral("ファイルを保存できません。\r\n%1").arg(path_);
        break;
    case FailureCode::Cancelled:
        text = QStringLiteral("処理が中断されました。");
        break;
    case FailureCode::TemplateMissing:
        text = QStringLiteral("ブックが見つかりません。\r\n%1").arg(path_);
        break;
    case FailureCode::TemplateInvalid:
        text = QStringLiteral("ブックの形式が正しくありません。\r\n%1").arg(path_);
        break;
    case FailureCode::SheetMissing:
        text = QStringLiteral("シート「%1」がありません。").arg(path_);
        break;
    case FailureCode::BadCellReference:
        text = QStringLiteral("セルの指定が正しくありません。\r\n%1").arg(path_);
        break;
    case FailureCode::JobNotOpen:
        text = QStringLiteral("ブックが開かれていません。\r\n%1").arg(path_);
        break;
    case FailureCode::JobAborted:
        text = QStringLiteral("処理が中断されました。");
        break;
    case FailureCode::RowOutOfOrder:
        text = QStringLiteral("%1行目は書き込み済みです。").arg(path_);
        break;
    case FailureCode::TooManyRows:
        text = QStringLiteral("リストに%1行が必要で、シートの最大行数（1,048,576行）を超えます。\r\n"
                              "CSV形式で出力してください。")
                   .arg(path_);
        break;
    case FailureCode::WorkbookSave:
        text = QStringLiteral("ブックを保存できません。\r\n%1").arg(path_);
        break;
    case FailureCode::PresentFailed:
        text =
            QStringLiteral("表計算ソフトを起動できませんでした。ブックは次の場所に保存されています。\r\n%1")
                .arg(path_);
        break;
    }
    return withDetail(text, detail_, QStringLiteral("\r\n"));
}

QString systemErrorText(int errnum) {
    char buffer[256];
    // The GNU strerror_r returns a pointer that may or may not be the buffer.
    const char* text = strerror_r(errnum, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

} // namespace kartoma
