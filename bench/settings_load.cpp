// The stored options read at start-up from a settings folder, three ways (bench/settings):
//   store     through the program's settings store, as the window starts
//   perValue  a settings file opened anew for every option, as the store once did
//   once      one opening of the file and one value: the least any reader must spend
// Usage: settings_load FOLDER store|perValue|once

#include "Settings.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QSettings>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: settings_load FOLDER store|perValue|once\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromLocal8Bit(argv[1]));
    const char* keys[] = {"splash", "allTitle", "oneTitle", "label", "csv", "PageLN", "Nest", "Folder"};
    QString seen;
    if (std::strcmp(argv[2], "store") == 0) {
        kartoma::QSettingsStore store;
        seen = QString::number(kartoma::loadSettings(store).linesPerPage);
    } else {
        const int opens = std::strcmp(argv[2], "perValue") == 0 ? 8 : 1;
        for (int i = 0; i < opens; ++i) {
            QSettings file(QSettings::IniFormat, QSettings::UserScope, kartoma::kSettingsApp, kartoma::kSettingsApp);
            seen = file.value(kartoma::kSettingsSection + QLatin1Char('/') + QLatin1String(keys[i])).toString();
        }
    }
    return seen.isEmpty() ? 1 : 0;
}
