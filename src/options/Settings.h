#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace kartoma {

class SettingsStore;

/// The eight stored options. loadSettings and saveSettings convert them from and to their keys in
/// the store (given after each field).
struct Settings {
    bool showSplash = true;         ///< show the splash window at start-up ("splash")
    bool titleOnEveryPage = false;  ///< workbook with a title row at the top of every page ("allTitle")
    bool titleOnFirstPage = true;   ///< workbook with a title row on the first page only ("oneTitle")
    bool askForLabel = true;        ///< ask for a label when the volume has none ("label")
    bool saveAsCsv = false;         ///< write CSV instead of a workbook ("csv")
    std::int16_t linesPerPage = 60; ///< lines per workbook page ("PageLN")
    std::int16_t depth = 8;         ///< folder levels the walk covers ("Nest")
    bool listFolders = false;       ///< folders are lines of the list ("Folder", stored inverted)

    friend bool operator==(const Settings&, const Settings&) = default;
};

/// Where the options live: application "Kartoma", section "option".
inline const QString kSettingsApp = QStringLiteral("Kartoma");
inline const QString kSettingsSection = QStringLiteral("option");

/// The key of the library folder, the folder that holds the user's catalogues, in the options'
/// section. It is not one of the eight options: it is read and saved on its own.
inline const QString kLibraryKey = QStringLiteral("library");

/// The library folder: the stored one when the key holds a path, else "Kartoma" under the user's
/// documents folder. The folder is not created here.
QString libraryFolder(SettingsStore& store);
/// Stores `folder` as the library folder; an empty text goes back to the default.
void saveLibraryFolder(SettingsStore& store, const QString& folder);
/// "Kartoma" under the user's documents folder (the home folder when there is none).
QString defaultLibraryFolder();

/// Reads the eight options in the order splash, allTitle, oneTitle, label, csv, PageLN, Nest, Folder.
/// A missing key, a text that does not convert, or a number that does not fit 16 bits gives the key's
/// default, so the program always starts. Values are not range-checked beyond that: PageLN 45 is 45.
/// The key "Folder" means "leave folders out": True is listFolders false.
Settings loadSettings(SettingsStore& store);
/// Writes the eight options in the order splash, PageLN, Nest, csv, oneTitle, allTitle, label, Folder,
/// as texts loadSettings reads back to the same values.
void saveSettings(SettingsStore& store, const Settings& settings);

/// The stored text of a Boolean: "True" or "False".
QString booleanText(bool value);

/// "True"/"False" in any letter case, or a number (0 is False, anything else True); blanks around
/// the text are ignored. Nothing for any other text.
std::optional<bool> textToBoolean(const QString& text);

/// A decimal number rounded half to even, when it fits a 16-bit signed integer; blanks around the
/// text are ignored. Nothing for any other text.
std::optional<std::int16_t> textToInt16(const QString& text);

} // namespace kartoma
