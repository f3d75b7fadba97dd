#include "Presenters.h"

#include "Launcher.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace kartoma {

OpenInApplicationPresenter::OpenInApplicationPresenter(Launcher& launcher, QString folder,
                                                       std::function<void(const QString&)> failed)
    : launcher_(launcher), folder_(std::move(folder)), failed_(std::move(failed)) {}

QString OpenInApplicationPresenter::destinationFor(const QString& bookFile) {
    // A saved list keeps its own name; a list made from the template is named after the moment.
    QString base = QFileInfo(bookFile).completeBaseName();
    if (bookFile.endsWith(QLatin1String(".xl_"))) {
        base += QDateTime::currentDateTime().toString(QStringLiteral("-yyyyMMdd-HHmmss"));
    }
    const QDir dir(folder_);
    QString candidate = dir.filePath(base + QStringLiteral(".xlsx"));
    for (int n = 2; QFileInfo::exists(candidate); ++n) {
        candidate = dir.filePath(QStringLiteral("%1-%2.xlsx").arg(base).arg(n));
    }
    return candidate;
}

bool OpenInApplicationPresenter::present(const QString& savedPath) {
    // The file is there whatever the opener makes of it: the user is told where.
    presented_.append(savedPath);
    return launcher_.openFile(savedPath, failed_);
}

} // namespace kartoma
