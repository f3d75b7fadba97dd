#pragma once

#include "Dialogs.h"
#include "Launcher.h"

#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

namespace kartoma::testing {

/// Dialogs that answer from a script and remember what they were asked.
class ScriptedDialogs final : public Dialogs {
public:
    std::optional<QString> askSaveFileName(const FileDialogRequest& request) override {
        requests.push_back(request);
        return next();
    }
    std::optional<QString> askOpenFileName(const FileDialogRequest& request) override {
        requests.push_back(request);
        return next();
    }
    bool confirm(const QString& text) override {
        questions.append(text);
        const bool answer = confirmations.empty() ? false : confirmations.front();
        if (!confirmations.empty()) {
            confirmations.pop_front();
        }
        return answer;
    }
    void inform(const QString& title, const QString& text, bool critical) override {
        messages.append(title + QLatin1Char('|') + text +
                        (critical ? QStringLiteral("|critical") : QString()));
    }
    FileChoice offerSavedFile(const QString& title, const QString& text) override {
        messages.append(title + QLatin1Char('|') + text + QStringLiteral("|offered"));
        return fileChoice;
    }

    void editVolumeLabel(QString& volumeLabel, const QString& folder) override {
        labelFolders.append(folder);
        const QString before = volumeLabel;
        volumeLabel = folder; // the box is filled with the folder, and every edit is written through
        const std::optional<QString> answer =
            labelAnswers.empty() ? std::optional<QString>(folder) : labelAnswers.front();
        if (!labelAnswers.empty()) {
            labelAnswers.pop_front();
        }
        volumeLabel = answer ? *answer : before;
    }

    std::deque<std::optional<QString>> fileAnswers;  ///< nothing = Cancel
    std::deque<std::optional<QString>> labelAnswers; ///< the text confirmed with OK; nothing = Cancel
    QStringList labelFolders;
    std::deque<bool> confirmations;
    FileChoice fileChoice = FileChoice::Dismiss; ///< the answer to every offer of a saved file
    std::vector<FileDialogRequest> requests;
    QStringList questions;
    QStringList messages;

private:
    std::optional<QString> next() {
        if (fileAnswers.empty()) {
            return std::nullopt;
        }
        std::optional<QString> answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }
};

/// A launcher that remembers what it was asked to open, and can be told that nothing opens files
/// (`works`) or that the opener gives up later (`failLater`).
class RecordingLauncher final : public Launcher {
public:
    bool openFile(const QString& path, Failed failed) override {
        opened.append(path);
        pending.emplace_back(path, std::move(failed));
        if (onOpen) {
            onOpen();
        }
        return works;
    }
    /// Every opener started so far exits with an error.
    void failLater() {
        auto started = std::move(pending);
        pending.clear();
        for (auto& [path, failed] : started) {
            failed(path);
        }
    }
    QStringList opened;
    bool works = true;
    std::vector<std::pair<QString, Failed>> pending;
    std::function<void()> onOpen; ///< runs as the opener is started
};

} // namespace kartoma::testing
