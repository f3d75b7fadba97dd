#pragma once

#include "ScriptedDialogs.h"
#include "SettingsStore.h"
#include "VolumeLabels.h"

#include <QApplication>
#include <QDialog>
#include <QMap>
#include <QStringList>
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

/// A store that remembers every write, in order.
class RecordingStore final : public SettingsStore {
public:
    QString getSetting(const QString&, const QString& section, const QString& key,
                       const QString& defaultValue) override {
        return values.value(section + QLatin1Char('/') + key, defaultValue);
    }
    void saveSetting(const QString& app, const QString& section, const QString& key,
                     const QString& value) override {
        writes.append(app + QLatin1Char('/') + section + QLatin1Char('/') + key + QLatin1Char('=') + value);
    }
    QStringList writes;
    QMap<QString, QString> values; ///< what reads find, by "section/key"; writes do not change it
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
