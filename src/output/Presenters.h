#pragma once

#include "ReportComponent.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

namespace kartoma {

class Launcher;

/// The command line's presenter: the workbook is saved at the named output path, and that is all.
class SaveAtPresenter final : public WorkbookPresenter {
public:
    explicit SaveAtPresenter(QString path) : path_(std::move(path)) {}
    QString destinationFor(const QString&) override { return path_; }
    bool present(const QString&) override { return true; }

private:
    QString path_;
};

/// The window's presenter: each workbook is saved as a new file in the user's temporary folder and
/// opened in the desktop's spreadsheet application. When none can be started, present() says so and
/// the engine fails with the file's path, so the user is told where it is; the file stays. When the
/// opener gives up later, `failed` is told the path.
class OpenInApplicationPresenter final : public WorkbookPresenter {
public:
    /// `folder` is where the files go (the user's temporary folder in the program).
    OpenInApplicationPresenter(Launcher& launcher, QString folder, std::function<void(const QString&)> failed);
    QString destinationFor(const QString& bookFile) override;
    bool present(const QString& savedPath) override;
    /// The files handed over since the last call, in order; the list starts anew.
    QStringList takePresented() { return std::exchange(presented_, {}); }

private:
    Launcher& launcher_;
    QString folder_;
    std::function<void(const QString&)> failed_;
    QStringList presented_;
};

} // namespace kartoma
