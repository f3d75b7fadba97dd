#include "OptionsForm.h"

#include "SettingsStore.h"

#include <QDir>

#include <cmath>

namespace kartoma {

OptionsForm::OptionsForm(const Settings& settings, const QString& filterPattern) {
    filter_ = filterPattern;
    set(Splash, settings.splash);
    set(AllTitle, settings.allTitle);
    set(OneTitle, settings.oneTitle);
    set(Csv, settings.csv);
    set(Label, settings.label);
    set(Folder, settings.folder);
    pageLines_ = settings.pageLN;
    depth_ = settings.nest;
}

void OptionsForm::set(Box box, bool checked) {
    if (boxes_[box] == checked) {
        return;
    }
    boxes_[box] = checked;
    clicked(box);
}

void OptionsForm::clicked(Box box) {
    switch (box) {
    case AllTitle:
        if (boxes_[AllTitle]) {
            set(OneTitle, false);
            set(Csv, false);
        } else {
            set(OneTitle, true);
        }
        break;
    case OneTitle:
        set(AllTitle, !boxes_[OneTitle]);
        break;
    case Csv:
        if (boxes_[Csv]) {
            set(AllTitle, false);
            set(OneTitle, true);
        }
        break;
    default:
        break;
    }
}

void OptionsForm::apply(Settings& s, QString& filterPattern, SettingsStore& store) const {
    const QString trimmed = filter_.trimmed();
    filterPattern = trimmed.isEmpty() ? QStringLiteral("*.*") : trimmed;
    s.splash = boxes_[Splash];
    // The last checked output box wins; none checked leaves the three as they were.
    if (boxes_[AllTitle]) {
        s.allTitle = true, s.oneTitle = false, s.csv = false;
    }
    if (boxes_[OneTitle]) {
        s.oneTitle = true, s.allTitle = false, s.csv = false;
    }
    if (boxes_[Csv]) {
        s.csv = true, s.oneTitle = false, s.allTitle = false;
    }
    s.label = boxes_[Label];
    s.folder = boxes_[Folder];
    // Half to even, as the numbers are rounded on the way to a 16-bit value.
    s.pageLN = static_cast<std::int16_t>(std::nearbyint(pageLines_));
    s.nest = static_cast<std::int16_t>(std::nearbyint(depth_));

    const auto save = [&](const char* key, const QString& value) {
        store.saveSetting(kSettingsApp, kSettingsSection, QString::fromLatin1(key), value);
    };
    save("splash", booleanText(s.splash));
    save("PageLN", QString::number(s.pageLN));
    save("Nest", QString::number(s.nest));
    save("csv", booleanText(s.csv));
    save("oneTitle", booleanText(s.oneTitle));
    save("allTitle", booleanText(s.allTitle));
    save("label", booleanText(s.label));
    save("Folder", booleanText(s.folder));
    if (library_ != libraryShown_) {
        QString folder = library_.trimmed();
        if (folder == QLatin1String("~") || folder.startsWith(QLatin1String("~/"))) {
            folder = QDir::homePath() + folder.mid(1);
        }
        saveLibraryFolder(store, folder.isEmpty() ? folder : QDir::home().absoluteFilePath(folder));
    }
}

} // namespace kartoma
