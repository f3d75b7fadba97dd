#pragma once

#include <QString>

#include <optional>

namespace kartoma {

/// What a file dialog is opened with.
struct FileDialogRequest {
    QString initialFolder;
    QString fileName;   ///< proposed name, such as "R081208.csv"
    QString defaultExt; ///< with its dot; added when the user types a name without one
    /// Filters as "description|patterns" pairs joined by "|", such as
    /// "CSV ファイル (*.csv)|*.csv|すべてのファイル (*.*)|*.*|".
    QString filter;
    int filterIndex = 1; ///< which filter is selected, from 1
};

/// The modal windows a command may put in front of the user. The window uses real dialogs; tests
/// replace them with scripted answers, so no test ever blocks on a modal window.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    /// The save dialog; nothing when the user cancels.
    virtual std::optional<QString> askSaveFileName(const FileDialogRequest& request) = 0;
    /// The open dialog; nothing when the user cancels. It accepts only a file that exists.
    virtual std::optional<QString> askOpenFileName(const FileDialogRequest& request) = 0;
    /// A question with OK and Cancel and the exclamation icon; true for OK.
    virtual bool confirm(const QString& text) = 0;
    /// A message with an OK button; `critical` shows the stop icon, otherwise the information icon.
    virtual void inform(const QString& title, const QString& text, bool critical) = 0;
    /// What the user chose in the message about a saved file that no application opened.
    enum class FileChoice {
        OpenFolder, ///< フォルダを開く: show the folder holding the file
        CopyPath,   ///< パスをコピー: put the file's path on the clipboard
        Dismiss,    ///< the message was closed without a choice
    };
    /// A message with the information icon and the buttons フォルダを開く and パスをコピー.
    virtual FileChoice offerSavedFile(const QString& title, const QString& text) = 0;
    /// The volume label dialog for an unlabelled medium, its box filled with `folder`. It writes
    /// `volumeLabel` as the user edits; OK leaves the typed text, Cancel the value from before.
    virtual void editVolumeLabel(QString& volumeLabel, const QString& folder) = 0;
};

/// The filter text of a file dialog request in the form Qt's dialogs take: "a (*.x);;b (*)".
QString qtFileFilter(const QString& filter);

} // namespace kartoma
