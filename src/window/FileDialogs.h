#pragma once

#include <QString>

namespace kartoma {

class Dialogs;

/// The parts of a path: drive ("C:" or empty), folder (from the first separator through the last,
/// both included, or empty) and base name (the last component up to its first dot).
struct PathParts {
    QString drive;
    QString folder;
    QString baseName;
};

/// Cuts `path` into drive, folder and base name. The separator is "/".
PathParts splitPath(const QString& path);

/// True exactly when the file can be opened for reading; a file that exists but cannot be read
/// counts as missing.
bool fileExists(const QString& path);

/// The save dialog for a list: opens in the folder of `defaultPath` with its base name plus `ext`
/// proposed and the filter "CSV ファイル (*ext)" selected. An existing file is overwritten only after
/// the user confirms it. Returns true with the chosen path in `listFileName`; false (cancel, or the
/// overwrite declined) with `listFileName` emptied.
bool askSaveName(Dialogs& dialogs, const QString& defaultPath, const QString& ext, QString& listFileName);

/// The open dialog for a saved list, filtered to "エクセルファイル (*ext)", starting in `folder` with no
/// name proposed. Returns true with the chosen path in `listFileName`; false on cancel, leaving
/// `listFileName` as it was.
bool askOpenName(Dialogs& dialogs, const QString& folder, const QString& ext, QString& listFileName);

/// The overwrite question for `path`.
QString overwriteQuestion(const QString& path);

} // namespace kartoma
