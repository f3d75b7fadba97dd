#pragma once

#include "Catalogue.h"
#include "CatalogueIndex.h"
#include "CatalogueSearch.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>

namespace kartoma {

class FileSystem;
class VolumeLabels;

/// What the command line asks for. The defaults are the program's own, never the window's stored
/// options: every file of "*.*", no folders, depth 8, the volume's label or else the folder's path,
/// the one-title layout of 60 lines, the template beside the program, CP932.
struct ParsedCommandLine {
    enum class Action { Window, Catalog, Search, Help, Version, UsageError } action = Action::Window;
    /// For Catalog: the request, its output named by --out (a CSV target or a workbook target with
    /// its save path); an empty template path means the template beside the program.
    CatalogueRequest request;
    /// For Search: what to look for, and the catalogue files and folders to look in (none: the
    /// library).
    SearchQuery query;
    QStringList catalogues;
    bool singleCopies = false; ///< Search lists the entries one medium holds instead (--single-copies)
    QString library;           ///< --library: the library folder instead of the stored one
    bool noIndex = false;      ///< --no-index: read the catalogue files, leave the index alone
    bool quiet = false; ///< no progress line, no summary
    QString error;      ///< for UsageError: what was wrong
};

/// Reads the arguments (the program name first). No arguments means the window.
ParsedCommandLine parseCommandLine(const QStringList& arguments);

/// The usage text printed by --help and after a usage error.
QString usageText();

/// Writes a message to standard error or output: control characters in it (names may hold escape
/// sequences) are shown as \xNN rather than acting on the terminal, and the bytes of a path that are
/// not text as a name's text. A final line break is the message's own.
void printMessage(std::FILE* stream, const QString& message);

/// `text` cut in its middle (with "…") to take at most `width` terminal columns, kana and kanji
/// taking two.
QString fitToColumns(const QString& text, int width);

/// Runs the catalogue command without a window; the workbook is saved at its save path.
/// Messages go to `err`; a progress line too when `err` is a terminal and `quiet` is off.
/// Returns the exit status: 0 success, 1 failure (nothing half-written is left behind). An empty
/// list gives no workbook, and that is a failure here: the user asked for a file and gets none.
int runCommandLine(const CatalogueRequest& request, bool quiet, FileSystem& fileSystem, VolumeLabels& labels,
                   std::FILE* err);

/// Searches saved catalogues (`parsed.catalogues`, else the library folder: `parsed.library`, else the
/// stored one) for `parsed.query`, or lists their single copies: a UTF-8 CSV header line and one line
/// per hit to `out`, a line naming each catalogue that cannot be read and a closing summary (unless
/// `quiet`) to `err`. The index at `indexPath` answers unless `parsed.noIndex`, brought up to date
/// first (a progress line on `err` when it is a terminal); when it cannot be used, the files are read
/// and `err` says so. Returns the exit status: 0 whether or not anything matched, 1 when a catalogue
/// could not be read (the others are searched all the same) or the library folder is missing.
/// `answered`, when given, is called once every hit is written to `out`.
int runSearch(const ParsedCommandLine& parsed, std::FILE* out, std::FILE* err,
              const QString& indexPath = CatalogueIndex::defaultPath(), const std::function<void()>& answered = {});

} // namespace kartoma
