#pragma once

#include "CsvWriter.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace kartoma {

class FileSystem;
class VolumeLabels;

/// What `kartoma --catalog DIR --out FILE [options]` asks for. The defaults are the program's own,
/// never the window's stored options.
struct CatalogRequest {
    QString folder;
    QString output;
    int depth = 8;
    QString filter = QStringLiteral("*.*");
    bool listFolders = false;
    std::optional<QString> label;
    enum class Layout { One, All } layout = Layout::One;
    int linesPerPage = 60;
    QString templatePath;
    CsvEncoding encoding = CsvEncoding::Cp932;
    bool quiet = false;
};

struct ParsedCommandLine {
    enum class Action { Window, Catalog, Help, Version, UsageError } action = Action::Window;
    CatalogRequest request;
    QString error; ///< for UsageError: what was wrong
};

/// Reads the arguments (the program name first). No arguments means the window.
ParsedCommandLine parseCommandLine(const QStringList& arguments);

/// The usage text printed by --help and after a usage error.
QString usageText();

/// Runs a catalogue without a window: checks the folder, the output name and (for a workbook) the
/// template, walks, writes.
/// Messages go to `err`; a progress line too when `err` is a terminal and the request is not quiet.
/// Returns the exit status: 0 success, 1 failure (nothing half-written is left behind).
int runCatalog(const CatalogRequest& request, FileSystem& fileSystem, VolumeLabels& labels, std::FILE* err);

} // namespace kartoma
