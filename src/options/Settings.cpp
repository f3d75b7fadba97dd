#include "Settings.h"

#include "SettingsStore.h"

#include <QDir>
#include <QStandardPaths>

#include <cmath>

namespace kartoma {

namespace {

/// A plain decimal number: optional sign, digits, optional fraction. No exponent, no hex, no
/// thousands separators; those are not what the options dialog writes.
std::optional<double> decimalNumber(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return std::nullopt;
    }
    qsizetype i = 0;
    if (trimmed[0] == QLatin1Char('+') || trimmed[0] == QLatin1Char('-')) {
        ++i;
    }
    bool digits = false;
    bool point = false;
    for (; i < trimmed.size(); ++i) {
        const QChar c = trimmed[i];
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            digits = true;
        } else if (c == QLatin1Char('.') && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (!digits) {
        return std::nullopt;
    }
    bool ok = false;
    const double value = trimmed.toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

bool readBoolean(SettingsStore& store, const QString& key, bool defaultValue) {
    const QString text = store.getSetting(kSettingsApp, kSettingsSection, key, booleanText(defaultValue));
    return textToBoolean(text).value_or(defaultValue);
}

std::int16_t readInt16(SettingsStore& store, const QString& key, std::int16_t defaultValue) {
    const QString text = store.getSetting(kSettingsApp, kSettingsSection, key, QString::number(defaultValue));
    return textToInt16(text).value_or(defaultValue);
}

} // namespace

QString booleanText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

std::optional<bool> textToBoolean(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (trimmed.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) {
        return false;
    }
    if (const std::optional<double> number = decimalNumber(trimmed)) {
        return *number != 0.0;
    }
    return std::nullopt;
}

std::optional<std::int16_t> textToInt16(const QString& text) {
    const std::optional<double> number = decimalNumber(text);
    if (!number) {
        return std::nullopt;
    }
    // Half to even, as the options dialog rounds: 60.5 is 60, 61.5 is 62.
    const double rounded = std::nearbyint(*number);
    if (rounded < -32768.0 || rounded > 32767.0) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(rounded);
}

Settings loadSettings(SettingsStore& store) {
    const Settings defaults;
    Settings s;
    s.showSplash = readBoolean(store, QStringLiteral("splash"), defaults.showSplash);
    s.titleOnEveryPage = readBoolean(store, QStringLiteral("allTitle"), defaults.titleOnEveryPage);
    s.titleOnFirstPage = readBoolean(store, QStringLiteral("oneTitle"), defaults.titleOnFirstPage);
    s.askForLabel = readBoolean(store, QStringLiteral("label"), defaults.askForLabel);
    s.saveAsCsv = readBoolean(store, QStringLiteral("csv"), defaults.saveAsCsv);
    s.linesPerPage = readInt16(store, QStringLiteral("PageLN"), defaults.linesPerPage);
    s.depth = readInt16(store, QStringLiteral("Nest"), defaults.depth);
    s.listFolders = !readBoolean(store, QStringLiteral("Folder"), !defaults.listFolders);
    return s;
}

void saveSettings(SettingsStore& store, const Settings& s) {
    const auto save = [&store](const QString& key, const QString& value) {
        store.saveSetting(kSettingsApp, kSettingsSection, key, value);
    };
    save(QStringLiteral("splash"), booleanText(s.showSplash));
    save(QStringLiteral("PageLN"), QString::number(s.linesPerPage));
    save(QStringLiteral("Nest"), QString::number(s.depth));
    save(QStringLiteral("csv"), booleanText(s.saveAsCsv));
    save(QStringLiteral("oneTitle"), booleanText(s.titleOnFirstPage));
    save(QStringLiteral("allTitle"), booleanText(s.titleOnEveryPage));
    save(QStringLiteral("label"), booleanText(s.askForLabel));
    save(QStringLiteral("Folder"), booleanText(!s.listFolders));
}

QString defaultLibraryFolder() {
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty()) {
        documents = QDir::homePath();
    }
    return QDir(documents).filePath(QStringLiteral("Kartoma"));
}

QString libraryFolder(SettingsStore& store) {
    const QString stored = store.getSetting(kSettingsApp, kSettingsSection, kLibraryKey, QString()).trimmed();
    return stored.isEmpty() ? defaultLibraryFolder() : QDir::cleanPath(stored);
}

void saveLibraryFolder(SettingsStore& store, const QString& folder) {
    const QString trimmed = folder.trimmed();
    store.saveSetting(kSettingsApp, kSettingsSection, kLibraryKey,
                      trimmed.isEmpty() ? QString() : QDir::cleanPath(trimmed));
}

} // namespace kartoma
