#include "FileDialogs.h"

#include "Dialogs.h"

#include <QFile>

namespace kartoma {

PathParts splitPath(const QString& path) {
    PathParts parts;
    const qsizetype last = path.lastIndexOf(QLatin1Char('/'));
    const bool hasDrive =
        path.size() >= 2 && path[0].unicode() < 0x80 && path[0].isLetter() && path[1] == QLatin1Char(':');
    if (hasDrive) {
        parts.drive = path.left(2);
    }
    QString component;
    if (last < 0) {
        component = path.mid(hasDrive ? 2 : 0);
    } else {
        const qsizetype first = path.indexOf(QLatin1Char('/'));
        parts.folder = path.mid(first, last - first + 1);
        component = path.mid(last + 1);
    }
    const qsizetype dot = component.indexOf(QLatin1Char('.'));
    parts.baseName = dot < 0 ? component : component.left(dot);
    return parts;
}

bool fileExists(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

QString overwriteQuestion(const QString& path) {
    return QStringLiteral("同名のファイルが存在します。\r\n") + path +
           QStringLiteral("\r\n上書きしてよろしいですか？");
}

bool askSaveName(Dialogs& dialogs, const QString& defaultPath, const QString& ext, QString& listFileName) {
    listFileName.clear();
    const PathParts parts = splitPath(defaultPath);
    FileDialogRequest request;
    request.defaultExt = ext;
    request.fileName = parts.baseName + ext;
    request.initialFolder = parts.drive + parts.folder;
    request.filter = QStringLiteral("CSV ファイル (*") + ext + QStringLiteral(")|*") + ext +
                     QStringLiteral("|すべてのファイル (*.*)|*.*|");
    request.filterIndex = 1;
    const std::optional<QString> chosen = dialogs.askSaveFileName(request);
    if (!chosen || chosen->isEmpty()) {
        return false;
    }
    if (fileExists(*chosen) && !dialogs.confirm(overwriteQuestion(*chosen))) {
        listFileName.clear();
        return false;
    }
    listFileName = *chosen;
    return true;
}

bool askOpenName(Dialogs& dialogs, const QString& folder, const QString& ext, QString& listFileName) {
    FileDialogRequest request;
    request.defaultExt = ext;
    request.initialFolder = folder;
    request.filter = QStringLiteral("エクセルファイル (*") + ext + QStringLiteral(")|*") + ext;
    request.filterIndex = 1;
    const std::optional<QString> chosen = dialogs.askOpenFileName(request);
    if (!chosen || chosen->isEmpty()) {
        return false;
    }
    listFileName = *chosen;
    return true;
}

} // namespace kartoma
