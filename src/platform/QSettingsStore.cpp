#include "SettingsStore.h"

#include <QSettings>

namespace kartoma {

namespace {

QString fullKey(const QString& section, const QString& key) {
    return section + QLatin1Char('/') + key;
}

} // namespace

QString QSettingsStore::getSetting(const QString& app, const QString& section, const QString& key,
                                   const QString& defaultValue) {
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, app, app);
    const QVariant value = settings.value(fullKey(section, key));
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
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, app, app);
    settings.setValue(fullKey(section, key), value);
    settings.sync();
}

} // namespace kartoma
