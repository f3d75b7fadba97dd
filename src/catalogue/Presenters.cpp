#include "Presenters.h"

#include "Launcher.h"
#include "NativePath.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace kartoma {

namespace {

/// Room for "_yyyyMMdd-HHmmss", a "-n" and ".xlsx" within the 255 bytes a name may have.
constexpr std::size_t kLabelBytes = 200;

QString safeName(const QString& text) {
    QString name = text;
    for (QChar& c : name) {
        if (c == QLatin1Char('/') || c.unicode() < 0x20 || c.unicode() == 0x7F) {
            c = QLatin1Char('_');
        }
    }
    name = name.trimmed();
    // A leading dot hides the file, and "." or ".." are no names at all.
    qsizetype dots = 0;
    while (dots < name.size() && name[dots] == QLatin1Char('.')) {
        ++dots;
    }
    name = name.mid(dots).trimmed();
    while (toNativePath(name).size() > kLabelBytes) {
        // Cut whole characters: a surrogate pair goes together.
        name.chop(name.size() >= 2 && name.back().isLowSurrogate() && name[name.size() - 2].isHighSurrogate()
                      ? 2
                      : 1);
    }
    return name.trimmed();
}

} // namespace

QString libraryFileLabel(const QString& label, const QString& folder) {
    const QString cleanFolder = QDir::cleanPath(folder);
    const bool labelIsFolder = !folder.isEmpty() && (QDir::cleanPath(label) == cleanFolder ||
                                                     label == QFileInfo(folder).canonicalFilePath());
    if (!labelIsFolder) {
        if (QString name = safeName(label); !name.isEmpty()) {
            return name;
        }
    }
    const QString folderName = safeName(QFileInfo(cleanFolder).fileName());
    return folderName.isEmpty() ? QStringLiteral("Kartoma") : folderName;
}

QString libraryFilePath(const QString& folder, const QString& label, const QDateTime& when) {
    const QString base = label + QLatin1Char('_') + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QDir dir(folder);
    QString candidate = dir.filePath(base + QStringLiteral(".xlsx"));
    for (int n = 2; QFileInfo(candidate).exists() || QFileInfo(candidate).isSymLink(); ++n) {
        candidate = dir.filePath(QStringLiteral("%1-%2.xlsx").arg(base).arg(n));
    }
    return candidate;
}

int makeWritableFolder(const QString& folder) {
    const std::string path = toNativePath(QDir::cleanPath(QDir(folder).absolutePath()));
    // Each level in turn, so that the failing one gives its own reason.
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string level = path.substr(0, end);
        if (::mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) {
            return errno;
        }
        if (end == std::string::npos) {
            break;
        }
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return errno;
    }
    if (!S_ISDIR(status.st_mode)) {
        return ENOTDIR;
    }
    return ::access(path.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

OpenInApplicationPresenter::OpenInApplicationPresenter(Launcher& launcher, std::function<QString()> folder,
                                                       std::function<QString()> label,
                                                       std::function<void(const QString&)> failed)
    : launcher_(launcher), folder_(std::move(folder)), label_(std::move(label)), failed_(std::move(failed)) {}

QString OpenInApplicationPresenter::destinationFor(const QString&) {
    const QString folder = folder_();
    // A folder that cannot be made fails the save, with the system's reason for the path below it.
    makeWritableFolder(folder);
    return libraryFilePath(folder, label_(), QDateTime::currentDateTime());
}

bool OpenInApplicationPresenter::present(const QString& savedPath) {
    // The file is there whatever the opener makes of it: the user is told where.
    presented_.append(savedPath);
    return launcher_.openFile(savedPath, failed_);
}

} // namespace kartoma
