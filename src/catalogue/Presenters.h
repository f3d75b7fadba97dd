#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

namespace kartoma {

class Launcher;

/// Where a finished workbook goes, and how the user gets it.
class WorkbookPresenter {
public:
    virtual ~WorkbookPresenter() = default;
    /// The path the workbook made from `templatePath` is saved at.
    virtual QString destinationFor(const QString& templatePath) = 0;
    /// Hands the saved workbook to the user; false when that cannot be done (the command then fails
    /// with PresentFailed naming the saved file, which stays).
    virtual bool present(const QString& savedPath) = 0;
};

/// The command line's presenter: the workbook is saved at the named output path, and that is all.
class SaveAtPresenter final : public WorkbookPresenter {
public:
    explicit SaveAtPresenter(QString path) : path_(std::move(path)) {}
    QString destinationFor(const QString&) override { return path_; }
    bool present(const QString&) override { return true; }

private:
    QString path_;
};

/// What a catalogue's file in the library is named after: `label` made safe for a file name (every
/// "/", NUL and control character becomes "_", blanks around it and leading dots go, at most 200
/// bytes on the system, cut between characters). When nothing is left, or the label is the folder's
/// own path (a folder without a label stands for one), the name of `folder` made safe the same way;
/// "Kartoma" when that is empty too (the root).
QString libraryFileLabel(const QString& label, const QString& folder);

/// `<label>_<yyyyMMdd-HHmmss>.xlsx` in `folder`, or with "-2", "-3" ... before the extension, the
/// first such name that no file holds yet: an existing file is never proposed.
QString libraryFilePath(const QString& folder, const QString& label, const QDateTime& when);

/// Creates `folder` and the folders above it that are missing. 0 when the folder is there (made now
/// or before) and files can be made in it, else the system's error number (a file in the way is
/// ENOTDIR, a folder of another user's EACCES).
int makeWritableFolder(const QString& folder);

/// The window's presenter: each workbook is saved as a new file in the library folder, named after
/// the list's label and the moment (libraryFilePath), and opened in the desktop's spreadsheet
/// application. When none can be started, present() says so and the command fails with the file's
/// path, so the user is told where it is; the file stays. When the opener gives up later, `failed`
/// is told the path.
class OpenInApplicationPresenter final : public WorkbookPresenter {
public:
    /// `folder` and `label` are asked for each workbook, on the thread that saves it; the folder is
    /// created when missing (if it cannot be, saving fails with the system's reason).
    OpenInApplicationPresenter(Launcher& launcher, std::function<QString()> folder,
                               std::function<QString()> label, std::function<void(const QString&)> failed);
    QString destinationFor(const QString& bookFile) override;
    bool present(const QString& savedPath) override;
    /// The files handed over since the last call, in order; the list starts anew.
    QStringList takePresented() { return std::exchange(presented_, {}); }

private:
    Launcher& launcher_;
    std::function<QString()> folder_;
    std::function<QString()> label_;
    std::function<void(const QString&)> failed_;
    QStringList presented_;
};

} // namespace kartoma
