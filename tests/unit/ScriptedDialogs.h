#pragma once

#include "Dialogs.h"

#include <QStringList>

#include <deque>
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
        messages.append(title + QLatin1Char('|') + text + (critical ? QStringLiteral("|critical") : QString()));
    }

    std::deque<std::optional<QString>> fileAnswers; ///< nothing = Cancel
    std::deque<bool> confirmations;
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

} // namespace kartoma::testing
