#pragma once

#include "Dialogs.h"
#include "Launcher.h"

#include <QObject>

#include <memory>

class QLocale;
class QTranslator;
class QWidget;

namespace kartoma {

/// Qt's own translations for `locale` (its standard dialogs and buttons), from Qt's translations
/// folder; null when there are none for it (the untranslated texts are English).
std::unique_ptr<QTranslator> qtTranslatorFor(const QLocale& locale);

/// The real dialogs: Qt's file dialogs and message boxes, and the volume label dialog.
class QtDialogs final : public Dialogs {
public:
    /// Dialogs open over `parent` (may be null: centred on the screen).
    explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }

    std::optional<QString> askSaveFileName(const FileDialogRequest& request) override;
    std::optional<QString> askOpenFileName(const FileDialogRequest& request) override;
    bool confirm(const QString& text) override;
    void inform(const QString& title, const QString& text, bool critical) override;
    FileChoice offerSavedFile(const QString& title, const QString& text) override;
    void editVolumeLabel(QString& volumeLabel, const QString& folder) override;

private:
    QWidget* parent_;
};

/// The desktop's own applications, reached through the desktop's opener (xdg-open), which this
/// launcher runs itself so that its exit status is seen; the path goes over as one argument, never
/// through a shell. Without an opener on the system, QDesktopServices is asked instead.
class DesktopLauncher final : public Launcher {
public:
    /// `opener` is the program that opens a file given as its one argument.
    explicit DesktopLauncher(QString opener = QStringLiteral("xdg-open"));
    ~DesktopLauncher() override;
    bool openFile(const QString& path, Failed failed) override;

private:
    QString opener_;
    QObject watchers_; ///< parent of the timers that look for the openers' exit
};

} // namespace kartoma
