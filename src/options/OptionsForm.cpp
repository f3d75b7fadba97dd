#include "OptionsForm.h"

#include <QDir>

#include <cmath>

namespace kartoma {

OptionsForm::OptionsForm(const Settings& settings, const QString& filterPattern) {
    filter_ = filterPattern;
    set(Splash, settings.showSplash);
    set(TitleOnEveryPage, settings.titleOnEveryPage);
    set(TitleOnFirstPage, settings.titleOnFirstPage);
    set(Csv, settings.saveAsCsv);
    set(AskForLabel, settings.askForLabel);
    set(HideFolders, !settings.listFolders);
    pageLines_ = settings.linesPerPage;
    depth_ = settings.depth;
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
    case TitleOnEveryPage:
        if (boxes_[TitleOnEveryPage]) {
            set(TitleOnFirstPage, false);
            set(Csv, false);
        } else {
            set(TitleOnFirstPage, true);
        }
        break;
    case TitleOnFirstPage:
        set(TitleOnEveryPage, !boxes_[TitleOnFirstPage]);
        break;
    case Csv:
        if (boxes_[Csv]) {
            set(TitleOnEveryPage, false);
            set(TitleOnFirstPage, true);
        }
        break;
    default:
        break;
    }
}

void OptionsForm::apply(Settings& s, QString& filterPattern, SettingsStore& store) const {
    const QString trimmed = filter_.trimmed();
    filterPattern = trimmed.isEmpty() ? QStringLiteral("*.*") : trimmed;
    s.showSplash = boxes_[Splash];
    // The last checked output box wins; none checked leaves the three as they were.
    if (boxes_[TitleOnEveryPage]) {
        s.titleOnEveryPage = true, s.titleOnFirstPage = false, s.saveAsCsv = false;
    }
    if (boxes_[TitleOnFirstPage]) {
        s.titleOnFirstPage = true, s.titleOnEveryPage = false, s.saveAsCsv = false;
    }
    if (boxes_[Csv]) {
        s.saveAsCsv = true, s.titleOnFirstPage = false, s.titleOnEveryPage = false;
    }
    s.askForLabel = boxes_[AskForLabel];
    s.listFolders = !boxes_[HideFolders];
    // Half to even, as the numbers are rounded on the way to a 16-bit value.
    s.linesPerPage = static_cast<std::int16_t>(std::nearbyint(pageLines_));
    s.depth = static_cast<std::int16_t>(std::nearbyint(depth_));
    saveSettings(store, s);
    if (library_ != libraryShown_) {
        QString folder = library_.trimmed();
        if (folder == QLatin1String("~") || folder.startsWith(QLatin1String("~/"))) {
            folder = QDir::homePath() + folder.mid(1);
        }
        saveLibraryFolder(store, folder.isEmpty() ? folder : QDir::home().absoluteFilePath(folder));
    }
}

} // namespace kartoma
