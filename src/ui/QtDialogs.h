#pragma once

#include "Dialogs.h"
#include "Launcher.h"

class QWidget;

namespace kartoma {

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
    void editVolumeLabel(QString& volumeLabel, const QString& folder) override;

private:
    QWidget* parent_;
};

/// The desktop's own applications, reached through QDesktopServices (else xdg-open): the path goes
/// over as a URL or as one argument, never through a shell.
class DesktopLauncher final : public Launcher {
public:
    bool openFile(const QString& path) override;
};

} // namespace kartoma
