#pragma once

#include "Settings.h"

#include <QString>

#include <array>
#include <cstdint>

namespace kartoma {

class SettingsStore;

/// The state of the options dialog without its widgets: six check boxes, two numbers and the filter.
/// Setting a box from code runs its click rule exactly as a user click does, but only when its state
/// really changes, so the output-form boxes keep each other consistent in every path.
class OptionsForm {
public:
    /// The check boxes. HideFolders is checked when folders are left out of the list.
    enum Box {
        Splash = 0,
        TitleOnEveryPage = 1,
        TitleOnFirstPage = 2,
        Csv = 3,
        AskForLabel = 4,
        HideFolders = 5
    };

    /// Shows the filter, then sets the boxes in the order of Box (each by its click rule), then the numbers.
    OptionsForm(const Settings& settings, const QString& filterPattern);

    bool checked(Box box) const { return boxes_[box]; }
    /// Sets a box as code or a click does (a click is set(box, !checked(box))).
    void set(Box box, bool checked);
    void click(Box box) { set(box, !checked(box)); }

    double pageLines() const { return pageLines_; }
    double depth() const { return depth_; }
    void setPageLines(double value) { pageLines_ = value; }
    void setDepth(double value) { depth_ = value; }
    const QString& filter() const { return filter_; }
    void setFilter(const QString& text) { filter_ = text; }
    /// The library folder as the dialog shows it (libraryFolder of the store), and as it is edited.
    void showLibraryFolder(const QString& folder) { libraryShown_ = library_ = folder; }
    const QString& libraryFolder() const { return library_; }
    void setLibraryFolder(const QString& folder) { library_ = folder; }

    /// OK: writes the form into `settings` and `filterPattern`, then the eight options to the store
    /// (saveSettings); then the library folder
    /// (saveLibraryFolder) when it was edited: blanks only go back to the default, a relative path and
    /// "~/" are taken under the home folder.
    void apply(Settings& settings, QString& filterPattern, SettingsStore& store) const;

private:
    void clicked(Box box);

    std::array<bool, 6> boxes_{};
    double pageLines_ = 60;
    double depth_ = 8;
    QString filter_;
    QString library_;
    QString libraryShown_;
};

} // namespace kartoma
