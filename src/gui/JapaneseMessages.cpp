#include "JapaneseMessages.h"

#include "Failure.h"

namespace kartoma {

namespace {

/// The message of each failure; "%1" is the file, folder or value concerned.
QString messageOf(FailureCode code) {
    switch (code) {
    case FailureCode::RootNotFound:
        return QStringLiteral("フォルダが見つかりません。\r\n%1");
    case FailureCode::RootNotFolder:
        return QStringLiteral("フォルダではありません。\r\n%1");
    case FailureCode::RootUnreadable:
        return QStringLiteral("フォルダを読み取れません。\r\n%1");
    case FailureCode::OutputCreate:
        return QStringLiteral("ファイルを作成できません。\r\n%1");
    case FailureCode::OutputLinkRefused:
        return QStringLiteral("他のユーザーが共有フォルダに置いたリンクはたどれません。\r\n%1");
    case FailureCode::OutputWrite:
        return QStringLiteral("ファイルに書き込めません。\r\n%1");
    case FailureCode::OutputCommit:
        return QStringLiteral("ファイルを保存できません。\r\n%1");
    case FailureCode::CsvPresentFailed:
        return QStringLiteral("CSVファイルを表示するアプリケーションを起動できませんでした。"
                              "ファイルは次の場所に保存されています。\r\n%1");
    case FailureCode::CatalogueUnreadable:
        return QStringLiteral("カタログ %1 を読めません。");
    case FailureCode::NotACatalogue:
        return QStringLiteral(
            "%1 はカタログではありません（ファイル名とディレクトリの見出しがありません）。");
    case FailureCode::Cancelled:
        return QStringLiteral("処理が中断されました。");
    case FailureCode::TemplateMissing:
        return QStringLiteral("ブックが見つかりません。\r\n%1");
    case FailureCode::TemplateInvalid:
        return QStringLiteral("ブックの形式が正しくありません。\r\n%1");
    case FailureCode::SheetMissing:
        return QStringLiteral("シート「%1」がありません。");
    case FailureCode::BadCellReference:
        return QStringLiteral("セルの指定が正しくありません。\r\n%1");
    case FailureCode::RowOutOfOrder:
        return QStringLiteral("%1行目は書き込み済みです。");
    case FailureCode::TooManyRows:
        return QStringLiteral("リストに%1行が必要で、シートの最大行数（1,048,576行）を超えます。\r\n"
                              "CSV形式で出力してください。");
    case FailureCode::WorkbookSave:
        return QStringLiteral("ブックを保存できません。\r\n%1");
    case FailureCode::PresentFailed:
        return QStringLiteral("このファイルを開けるアプリケーションがありませんでした。ファイルは次の場所に保存されています。\r\n%1");
    case FailureCode::CatalogueTooLarge:
        return QStringLiteral("カタログ %1 は大きすぎるため読みませんでした（共有文字列、1行のセル数や長さが上限を超えています）。");
    case FailureCode::CatalogueDamaged:
        return QStringLiteral("カタログ %1 は壊れているか、ブックではありません。");
    case FailureCode::CatalogueNotFile:
        return QStringLiteral("カタログ %1 は通常のファイルではありません。");
    case FailureCode::CatalogueOutOfMemory:
        return QStringLiteral("メモリが足りないため、カタログ %1 を読めません。");
    case FailureCode::CatalogueFolderUnreadable:
        return QStringLiteral("%1 を読めないため、カタログを探せません。");
    case FailureCode::SearchOutputWrite:
        return QStringLiteral("検索結果を %1 に書き込めません。");
    }
    return QStringLiteral("エラー %1");
}

} // namespace

QString japaneseText(const Failure& failure) {
    switch (failure.code()) {
    case FailureCode::CatalogueTooLarge:
    case FailureCode::CatalogueDamaged:
        // The detail is the reader's own English (libzip's, the XML scanner's): the message says it.
        return Failure(failure.code(), failure.subject()).worded(messageOf(failure.code()), QString());
    default:
        return failure.worded(messageOf(failure.code()), QStringLiteral("\r\n"));
    }
}

} // namespace kartoma
