#include "SettingsStore.h"

#include <QSettings>

namespace kartoma {

namespace {

QString fullKey(const QString& section, const QString& key) {
    return section + QLatin1Char('/') + key;
}

} // namespace

QSettingsStore::QSettingsStore() = default;
QSettingsStore::~QSettingsStore() = default;

QSettings& QSettingsStore::file(const QString& app) {
    // Opening parses the whole file: a large one (a hand-edited file, a runaway writer) would
    // otherwise be read again for every value.
    std::unique_ptr<QSettings>& settings = files_[app];
    if (!settings) {
        settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, app, app);
    }
    return *settings;
}

QString QSettingsStore::getSetting(const QString& app, const QString& section, const QString& key,
                                   const QString& defaultValue) {
    const QVariant value = file(app).value(fullKey(section, key));
    if (!value.isValid()) {
        return defaultValue;
    }
    // A hand-edited value with commas reads back as a list; keep the text the user wrote.
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
}

void QSettingsStore::saveSetting(const QString& app, const QString& section, const QString& key,
                                 const QString& value) {
    QSettings& settings = file(app);
    settings.setValue(fullKey(section, key), value);
    settings.sync();
}

} // namespace kartoma
