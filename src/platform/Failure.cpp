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
    case FailureCode::NotSupported:
        text = QStringLiteral("not yet supported: %1").arg(path_);
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
    case FailureCode::NotSupported:
        text = QStringLiteral("この出力形式にはまだ対応していません。\r\n%1").arg(path_);
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
