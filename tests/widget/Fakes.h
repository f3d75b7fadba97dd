#pragma once

#include "MemorySettingsStore.h"
#include "ScriptedDialogs.h"
#include "VolumeLabels.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <utility>
#include <vector>

namespace kartoma::testing {

class FixedLabels final : public VolumeLabels {
public:
    QString labelOf(const QString&) override { return label; }
    QString label;
};

/// Runs `act` on the first modal dialog that opens (for example to press its OK button), so that
/// a test never blocks on exec().
inline void whenDialogOpens(std::function<void(QDialog*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act = std::move(act)] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(dialog);
        }
    });
    timer->start();
}

} // namespace kartoma::testing
