#include "QtDialogs.h"

#include "VolumeLabelDialog.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

namespace kartoma {

namespace {

QString displayed(QString text) {
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

std::optional<QString> runFileDialog(QWidget* parent, const FileDialogRequest& request,
                                     QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::AnyFile);
    // The overwrite question is the program's own.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!request.initialFolder.isEmpty() && QDir(request.initialFolder).exists()) {
        dialog.setDirectory(request.initialFolder);
    }
    const QStringList filters = qtFileFilter(request.filter).split(QLatin1String(";;"));
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size()) {
        dialog.selectNameFilter(filters[request.filterIndex - 1]);
    }
    dialog.setDefaultSuffix(request.defaultExt.startsWith(QLatin1Char('.')) ? request.defaultExt.mid(1)
                                                                            : request.defaultExt);
    dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first();
}

} // namespace

std::optional<QString> QtDialogs::askSaveFileName(const FileDialogRequest& request) {
    return runFileDialog(parent_, request, QFileDialog::AcceptSave);
}

std::optional<QString> QtDialogs::askOpenFileName(const FileDialogRequest& request) {
    return runFileDialog(parent_, request, QFileDialog::AcceptOpen);
}

bool QtDialogs::confirm(const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Kartoma"), displayed(text),
                    QMessageBox::Ok | QMessageBox::Cancel, parent_);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

void QtDialogs::inform(const QString& title, const QString& text, bool critical) {
    QMessageBox box(critical ? QMessageBox::Critical : QMessageBox::Information, title, displayed(text),
                    QMessageBox::Ok, parent_);
    box.exec();
}

void QtDialogs::editVolumeLabel(QString& volumeLabel, const QString& folder) {
    VolumeLabelDialog dialog(volumeLabel, nullptr);
    dialog.textBox()->setText(folder);
    dialog.exec();
}

bool DesktopLauncher::openFile(const QString& path) {
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        return true;
    }
    // Without desktop services (a bare X server, no session): the desktop's opener, the path as
    // its one argument.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {path});
}

} // namespace kartoma
