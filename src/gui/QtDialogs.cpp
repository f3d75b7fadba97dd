#include "QtDialogs.h"

#include "NativePath.h"
#include "VolumeLabelDialog.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QUrl>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace kartoma {

namespace {

QString displayed(QString text) {
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

std::optional<QString> runFileDialog(QWidget* parent, const FileDialogRequest& request,
                                     QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    // An open dialog answers a mistyped name itself, as open dialogs do.
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
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
    if (!request.fileName.isEmpty()) {
        dialog.selectFile(request.fileName);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first();
}

} // namespace

std::unique_ptr<QTranslator> qtTranslatorFor(const QLocale& locale) {
    auto translator = std::make_unique<QTranslator>();
    // load() walks the locale's fallbacks itself (ja_JP, then ja).
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return nullptr;
    }
    return translator;
}

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

Dialogs::FileChoice QtDialogs::offerSavedFile(const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Information, title, displayed(text), QMessageBox::NoButton, parent_);
    QPushButton* folder = box.addButton(QStringLiteral("フォルダを開く"), QMessageBox::AcceptRole);
    QPushButton* copy = box.addButton(QStringLiteral("パスをコピー"), QMessageBox::ActionRole);
    // Esc and the title bar's close button leave the message without acting; a message box without
    // an escape button could not be closed at all.
    QPushButton* close = box.addButton(QMessageBox::Close);
    close->hide();
    box.setEscapeButton(close);
    box.setDefaultButton(folder);
    box.exec();
    if (box.clickedButton() == folder) {
        return FileChoice::OpenFolder;
    }
    return box.clickedButton() == copy ? FileChoice::CopyPath : FileChoice::Dismiss;
}

void QtDialogs::editVolumeLabel(QString& volumeLabel, const QString& folder) {
    VolumeLabelDialog dialog(volumeLabel, nullptr);
    dialog.labelEdit()->setText(folder);
    dialog.exec();
}

DesktopLauncher::DesktopLauncher(QString opener) : opener_(std::move(opener)) {}

// Openers still running are left to themselves: they belong to the desktop, not to this program.
DesktopLauncher::~DesktopLauncher() = default;

bool DesktopLauncher::openFile(const QString& path, Failed failed) {
    std::string program = toNativePath(opener_);
    std::string argument = toNativePath(path);
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
        // No opener here: the desktop services, which can only say whether something started.
        return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }
    // The opener exits with an error when no application takes the file, and in some desktops only
    // once the application has ended: look for its exit now and then, never wait for it.
    auto* timer = new QTimer(&watchers_);
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, pid, path, failed = std::move(failed)] {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == 0) {
            return;
        }
        timer->deleteLater();
        timer->stop();
        const bool success = done == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (!success && done == pid && failed) {
            failed(path);
        }
    });
    timer->start();
    return true;
}

} // namespace kartoma
