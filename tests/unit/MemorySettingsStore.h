#pragma once

#include "Settings.h"
#include "SettingsStore.h"

#include <QMap>
#include <QStringList>

namespace kartoma::testing {

/// The settings store in memory, shared by the unit and the widget tests: one text per
/// "app/section/key"; what is saved is read back, and the keys asked for and the writes are listed.
class MemorySettingsStore final : public SettingsStore {
public:
    QString getSetting(const QString& app, const QString& section, const QString& key,
                       const QString& defaultValue) override {
        asked.append(path(app, section, key));
        return values.value(path(app, section, key), defaultValue);
    }
    void saveSetting(const QString& app, const QString& section, const QString& key,
                     const QString& value) override {
        writes.append(path(app, section, key) + QLatin1Char('=') + value);
        values.insert(path(app, section, key), value);
    }

    /// A value of the program's options section ("Kartoma/option/<key>").
    QString& option(const QString& key) { return values[path(kSettingsApp, kSettingsSection, key)]; }

    static QString path(const QString& app, const QString& section, const QString& key) {
        return app + QLatin1Char('/') + section + QLatin1Char('/') + key;
    }

    QMap<QString, QString> values;
    QStringList asked;
    QStringList writes;
};

} // namespace kartoma::testing
