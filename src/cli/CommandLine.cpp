#include "CommandLine.h"

#include "EnglishMessages.h"
#include "Failure.h"
#include "NameText.h"
#include "NativePath.h"
#include "SearchPattern.h"
#include "Settings.h"
#include "SettingsStore.h"
#include "Workbook.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <vector>

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kartoma {

namespace {

/// `text` as a terminal may show it: control characters (names may hold escape sequences) as \xNN
/// rather than acting on the terminal, and the bytes of a path that are not text as nameText shows
/// them.
QString visibleText(const QString& text) {
    const QString readable = readablePath(text);
    QString safe;
    safe.reserve(readable.size());
    for (const QChar c : readable) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0)) {
            safe += QStringLiteral("\\x%1").arg(static_cast<int>(u), 2, 16, QLatin1Char('0'));
        } else {
            safe += c;
        }
    }
    return safe;
}

void write(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

/// The columns a terminal gives a character: two for the wide ones of East Asian scripts (kana,
/// kanji, full-width forms, and most beyond the first plane), one for the rest.
int columnsOf(char32_t c) {
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || c >= 0x1F300;
    return wide ? 2 : 1;
}

} // namespace

QString fitToColumns(const QString& text, int width) {
    const QList<uint> chars = text.toUcs4();
    std::vector<int> columns;
    columns.reserve(static_cast<std::size_t>(chars.size()));
    int total = 0;
    for (const uint c : chars) {
        columns.push_back(columnsOf(c));
        total += columns.back();
    }
    if (total <= width) {
        return text;
    }
    // The middle gives way: the start and the end of a path say most about it.
    const int room = std::max(width - 1, 0);
    qsizetype head = 0;
    for (int used = 0; head < chars.size() && used + columns[static_cast<std::size_t>(head)] <= room / 2; ++head) {
        used += columns[static_cast<std::size_t>(head)];
    }
    int used = 0;
    for (qsizetype i = 0; i < head; ++i) {
        used += columns[static_cast<std::size_t>(i)];
    }
    qsizetype tail = chars.size();
    while (tail > head && used + columns[static_cast<std::size_t>(tail - 1)] <= room) {
        --tail;
        used += columns[static_cast<std::size_t>(tail)];
    }
    const auto* data = reinterpret_cast<const char32_t*>(chars.constData());
    return QString::fromUcs4(data, head) + QStringLiteral("…") + QString::fromUcs4(data + tail, chars.size() - tail);
}

void printMessage(std::FILE* stream, const QString& message) {
    // A final line break is the message's own; any other is shown as \x0a.
    const bool line = message.endsWith(QLatin1Char('\n'));
    write(stream, visibleText(line ? message.chopped(1) : message) + (line ? QStringLiteral("\n") : QString()));
}

namespace {

/// Moves to the start of the progress line and clears it.
void clearTerminalLine(std::FILE* stream) {
    std::fputs("\r\x1b[K", stream);
}

/// The columns of the terminal `stream` shows on (80 when it cannot tell).
int terminalWidth(std::FILE* stream) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) {
        return size.ws_col;
    }
    return 80;
}

/// Draws `line` as the one progress line of a terminal, cut to fit it.
void drawProgressLine(std::FILE* stream, const QString& line) {
    // One terminal line, as it shows: a longer one would wrap, and the next \r would not clear it.
    clearTerminalLine(stream);
    write(stream, fitToColumns(visibleText(line), terminalWidth(stream) - 1));
    std::fflush(stream);
}

std::optional<int> wholeNumber(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

/// Progress and problems on standard error while the walk and the workbook writer run.
class ConsoleProgress final : public CatalogueProgress {
public:
    ConsoleProgress(std::FILE* err, bool quiet)
        : err_(err), quiet_(quiet), live_(!quiet && isatty(fileno(err)) != 0) {
        clock_.start();
    }

    void searching(const QString& folder) override {
        if (live_) {
            folder_ = folder;
        }
    }

    void yieldNow() override {
        ++entries_;
        // Looking at the clock once per 1024 entries keeps this off the walk's profile.
        if (live_ && (entries_ & 1023) == 0 && clock_.elapsed() - lastDraw_ >= 100) {
            lastDraw_ = clock_.elapsed();
            QString line =
                writing_
                    ? QStringLiteral("writing row %1 of %2").arg(position_).arg(total_)
                    : QStringLiteral("%1 read  %2").arg(entries_).arg(folder_);
            drawProgressLine(err_, line);
            drawn_ = true;
        }
    }

    void skipped(const QString& path, int errnum) override {
        if (quiet_) {
            return;
        }
        clearLine();
        printMessage(err_, QStringLiteral("kartoma: skipped %1: %2\n").arg(path, systemErrorText(errnum)));
    }

    // Of the writers' stages only their rows make the progress line; no questions either (a label
    // is given or falls back to the folder's path).
    void reached(CatalogueStage stage, std::uint64_t total) override {
        if (stage == CatalogueStage::FillingSheet || stage == CatalogueStage::FillingPages) {
            writing_ = true;
            position_ = 0;
            total_ = total;
        } else if (stage == CatalogueStage::SheetFilled) {
            writing_ = false;
        }
    }
    void rowReached(std::uint64_t position) override { position_ = position; }

    void clearLine() {
        if (drawn_) {
            clearTerminalLine(err_);
            drawn_ = false;
        }
    }

    double seconds() const { return static_cast<double>(clock_.nsecsElapsed()) / 1e9; }

private:
    std::FILE* err_;
    bool quiet_;
    bool live_;
    bool drawn_ = false;
    QElapsedTimer clock_;
    qint64 lastDraw_ = 0;
    std::uint64_t entries_ = 0;
    QString folder_;
    bool writing_ = false;
    std::uint64_t position_ = 0;
    std::uint64_t total_ = 0;
};

/// `arguments` with the flags that may follow --search (--path, --quiet) moved before it, so that
/// `--search --path PATTERN` does not take "--path" for the pattern (`--search=--path` still does).
QStringList searchFlagsFirst(QStringList arguments) {
    const auto isFlag = [](const QString& a) {
        return a == QLatin1String("--path") || a == QLatin1String("-path") || a == QLatin1String("--quiet") ||
               a == QLatin1String("-quiet") || a == QLatin1String("--no-index") || a == QLatin1String("-no-index");
    };
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] != QLatin1String("--search") && arguments[i] != QLatin1String("-search")) {
            continue;
        }
        while (i + 1 < arguments.size() && isFlag(arguments[i + 1])) {
            arguments.move(i + 1, i);
            ++i;
        }
    }
    return arguments;
}

bool endsWithCaseless(const QString& text, const char* suffix) {
    return text.endsWith(QLatin1String(suffix), Qt::CaseInsensitive);
}

} // namespace

QString usageText() {
    return QStringLiteral(
        "Usage: kartoma                      open the window\n"
        "       kartoma --catalog DIR --out FILE [options]\n"
        "       kartoma --search PATTERN [--path] [--library DIR | CATALOGUE...] [--no-index]\n"
        "       kartoma --single-copies [--library DIR | CATALOGUE...] [--no-index]\n"
        "\n"
        "Makes a catalogue of the folder DIR and its subfolders: one line per file (and folder) with\n"
        "name, folder, size, date, time, volume label and type. FILE ending in .csv gets a CSV file,\n"
        "FILE ending in .xlsx a workbook.\n"
        "\n"
        "Options:\n"
        "  --depth N          folder levels to list, 1 (DIR itself) to 8 (default 8)\n"
        "  --filter PATTERN   file names to list (default \"*.*\"; \"*\" takes every file);\n"
        "                     ? one character, * any run, # a digit, [a-z] [!a-z] sets\n"
        "  --folders          list folders too\n"
        "  --label TEXT       volume label for every line (default: the volume's own label,\n"
        "                     else the folder path)\n"
        "  --encoding E       CSV encoding: cp932 (default) or utf-8\n"
        "  --layout one|all   workbook: title row on the first page only, or on every page\n"
        "  --lines N          workbook: lines per page (default 60)\n"
        "  --template PATH    workbook: the template to fill (default: Kartoma.xl_ beside the program)\n"
        "  --quiet            no progress, no summary\n"
        "\n"
        "--search looks through saved catalogues (workbooks, CSV files, or folders holding them) for\n"
        "entries whose name holds PATTERN, or with any of * ? # [ matches it (the --filter rules), or\n"
        "with --path whose folder and name do. Letter case, full-width and half-width forms and\n"
        "hiragana and katakana count as the same. PATTERN has at most 1024 characters. It prints a\n"
        "CSV line per hit: volume, folder, name, size, date, time, catalogue.\n"
        "\n"
        "--single-copies lists, in the same form, the entries only one volume holds: no entry of the\n"
        "same name, size, date and time is in a catalogue of another volume. Folders and empty files\n"
        "are left out.\n"
        "\n"
        "Without CATALOGUE both look through the library, the folder of catalogues set in the\n"
        "window's options (by default Kartoma in the documents folder).\n"
        "  --library DIR      look through the catalogues in DIR instead\n"
        "  --no-index         read the catalogue files; without it an index of them, kept in the\n"
        "                     cache folder and brought up to date first, answers\n"
        "\n"
        "  --help             this text\n"
        "  --version          the program's version\n"
        "\n"
        "Exit status: 0 success, 1 failure, 2 usage error.\n");
}

namespace {

/// The command line's options, each with the name of its value as the usage text gives it.
struct Options {
    QCommandLineOption catalog{QStringLiteral("catalog"), QString(), QStringLiteral("DIR")};
    QCommandLineOption out{QStringLiteral("out"), QString(), QStringLiteral("FILE")};
    QCommandLineOption depth{QStringLiteral("depth"), QString(), QStringLiteral("N")};
    QCommandLineOption filter{QStringLiteral("filter"), QString(), QStringLiteral("PATTERN")};
    QCommandLineOption folders{QStringLiteral("folders")};
    QCommandLineOption label{QStringLiteral("label"), QString(), QStringLiteral("TEXT")};
    QCommandLineOption layout{QStringLiteral("layout"), QString(), QStringLiteral("one|all")};
    QCommandLineOption lines{QStringLiteral("lines"), QString(), QStringLiteral("N")};
    QCommandLineOption templ{QStringLiteral("template"), QString(), QStringLiteral("PATH")};
    QCommandLineOption encoding{QStringLiteral("encoding"), QString(), QStringLiteral("E")};
    QCommandLineOption quiet{QStringLiteral("quiet")};
    QCommandLineOption help{QStringList{QStringLiteral("help"), QStringLiteral("h")}};
    QCommandLineOption version{QStringLiteral("version")};
    QCommandLineOption search{QStringLiteral("search"), QString(), QStringLiteral("PATTERN")};
    QCommandLineOption path{QStringLiteral("path")};
    QCommandLineOption singleCopies{QStringLiteral("single-copies")};
    QCommandLineOption library{QStringLiteral("library"), QString(), QStringLiteral("DIR")};
    QCommandLineOption noIndex{QStringLiteral("no-index")};

    QList<QCommandLineOption> all() const {
        return {catalog, out,     depth,  filter, folders, label,        layout,  lines,  templ,
                encoding, quiet, help, version, search, path,    singleCopies, library, noIndex};
    }
    /// The options that take a value: each is given once at most.
    QList<QCommandLineOption> withValue() const {
        return {catalog, out, depth, filter, label, layout, lines, templ, encoding, search, library};
    }
    /// The options of a catalogue, which the searches do not take.
    QList<QCommandLineOption> ofCatalogue() const {
        return {catalog, out, depth, filter, folders, label, layout, lines, templ, encoding};
    }
};

/// What is wrong with the arguments, if anything.
using UsageError = std::optional<QString>;

/// --search and --single-copies: what to look for, and in which catalogues.
UsageError readSearch(const QCommandLineParser& parser, const Options& o, ParsedCommandLine& parsed) {
    const QString action = parser.isSet(o.search) ? QStringLiteral("search") : QStringLiteral("single-copies");
    if (parser.isSet(o.search) && parser.isSet(o.singleCopies)) {
        return QStringLiteral("--single-copies does not go with --search");
    }
    for (const QCommandLineOption& other : o.ofCatalogue()) {
        if (parser.isSet(other)) {
            return QStringLiteral("--%1 does not go with --%2").arg(other.names().first(), action);
        }
    }
    parsed.singleCopies = parser.isSet(o.singleCopies);
    if (parsed.singleCopies && parser.isSet(o.path)) {
        return QStringLiteral("--path goes with --search only");
    }
    parsed.query.pattern = readablePath(parser.value(o.search));
    parsed.query.matchPath = parser.isSet(o.path);
    parsed.query.countMedia = false; // the lines carry no media count
    parsed.catalogues = parser.positionalArguments();
    parsed.library = parser.value(o.library);
    parsed.noIndex = parser.isSet(o.noIndex);
    parsed.quiet = parser.isSet(o.quiet);
    if (!parsed.singleCopies && parsed.query.pattern.isEmpty()) {
        return QStringLiteral("--search needs a PATTERN");
    }
    if (parser.isSet(o.library) && (parsed.library.isEmpty() || !parsed.catalogues.isEmpty())) {
        return QStringLiteral("--library takes a folder, and no CATALOGUE beside it");
    }
    if (SearchPattern::tooLong(parsed.query.pattern)) {
        return QStringLiteral("--search PATTERN is longer than %1 characters").arg(SearchPattern::kMaxLength);
    }
    parsed.action = ParsedCommandLine::Action::Search;
    return std::nullopt;
}

/// What --catalog walks: the folder, how deep, which entries, which label.
UsageError readWalk(const QCommandLineParser& parser, const Options& o, CatalogueRequest& r) {
    r.folder = parser.value(o.catalog);
    if (parser.isSet(o.depth)) {
        const std::optional<int> n = wholeNumber(parser.value(o.depth));
        if (!n || *n < 1 || *n > 8) {
            return QStringLiteral("--depth takes a whole number from 1 to 8");
        }
        r.scan.walk.depth = *n;
    }
    if (parser.isSet(o.filter)) {
        r.scan.record.filterPattern = readablePath(parser.value(o.filter));
    }
    r.scan.record.listFolders = parser.isSet(o.folders);
    r.labelPolicy = LabelPolicy::FolderWhenMissing;
    if (parser.isSet(o.label)) {
        r.labelPolicy = LabelPolicy::Given;
        r.scan.volumeLabel = readablePath(parser.value(o.label));
    }
    return std::nullopt;
}

/// Where --catalog writes: --out, a workbook or a CSV file by its extension, with their options.
UsageError readOutput(const QCommandLineParser& parser, const Options& o, OutputTarget& target) {
    const QString output = parser.value(o.out);
    WorkbookTarget workbook;
    workbook.savePath = output;
    workbook.templatePath = parser.value(o.templ);
    if (parser.isSet(o.layout)) {
        const QString value = parser.value(o.layout);
        if (value != QLatin1String("one") && value != QLatin1String("all")) {
            return QStringLiteral("--layout takes one or all");
        }
        workbook.titleOnFirstPage = value == QLatin1String("one");
        workbook.titleOnEveryPage = !workbook.titleOnFirstPage;
    }
    if (parser.isSet(o.lines)) {
        const std::optional<int> n = wholeNumber(parser.value(o.lines));
        if (!n || *n < 2 || *n > 32767) {
            return QStringLiteral("--lines takes a whole number from 2 to 32767");
        }
        workbook.linesPerPage = *n;
    }
    CsvTarget csv{output, CsvEncoding::Cp932};
    if (parser.isSet(o.encoding)) {
        const QString value = parser.value(o.encoding).toLower();
        if (value == QLatin1String("utf-8") || value == QLatin1String("utf8")) {
            csv.encoding = CsvEncoding::Utf8;
        } else if (value != QLatin1String("cp932")) {
            return QStringLiteral("--encoding takes cp932 or utf-8");
        }
    }
    if (endsWithCaseless(output, ".csv")) {
        target = csv;
    } else if (endsWithCaseless(output, ".xlsx")) {
        target = workbook;
    } else {
        return QStringLiteral("--out FILE must end in .csv or .xlsx");
    }
    return std::nullopt;
}

/// --catalog DIR --out FILE and their options.
UsageError readCatalogue(const QCommandLineParser& parser, const Options& o, ParsedCommandLine& parsed) {
    if (parser.isSet(o.library) || parser.isSet(o.noIndex)) {
        return QStringLiteral("--library and --no-index go with --search or --single-copies only");
    }
    if (parser.isSet(o.path)) {
        return QStringLiteral("--path goes with --search only");
    }
    if (!parser.positionalArguments().isEmpty()) {
        return QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first());
    }
    if (!parser.isSet(o.catalog) || !parser.isSet(o.out)) {
        return QStringLiteral("--catalog DIR and --out FILE are both needed");
    }
    if (parser.value(o.catalog).isEmpty() || parser.value(o.out).isEmpty()) {
        return QStringLiteral("--catalog and --out need a path");
    }
    parsed.quiet = parser.isSet(o.quiet);
    UsageError error = readWalk(parser, o, parsed.request);
    if (!error) {
        error = readOutput(parser, o, parsed.request.output);
    }
    if (!error) {
        parsed.action = ParsedCommandLine::Action::Catalog;
    }
    return error;
}

UsageError readArguments(const QCommandLineParser& parser, const Options& o, ParsedCommandLine& parsed) {
    if (parser.isSet(o.help)) {
        parsed.action = ParsedCommandLine::Action::Help;
        return std::nullopt;
    }
    if (parser.isSet(o.version)) {
        parsed.action = ParsedCommandLine::Action::Version;
        return std::nullopt;
    }
    // Every option with a value is read once: a second value would be ignored without a word.
    for (const QCommandLineOption& single : o.withValue()) {
        if (parser.values(single).size() > 1) {
            return QStringLiteral("--%1 is given more than once; it takes one value").arg(single.names().first());
        }
    }
    if (parser.isSet(o.search) || parser.isSet(o.singleCopies)) {
        return readSearch(parser, o, parsed);
    }
    return readCatalogue(parser, o, parsed);
}

} // namespace

ParsedCommandLine parseCommandLine(const QStringList& arguments) {
    // The arguments keep their bytes (NativePath.h) so that paths reach the system unchanged; a
    // value that is text for a person (a pattern, a label) is read as a name is (readablePath).
    ParsedCommandLine parsed;
    if (arguments.size() <= 1) {
        return parsed;
    }
    const Options options;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(options.all());
    const UsageError error = parser.parse(searchFlagsFirst(arguments)) ? readArguments(parser, options, parsed)
                                                                       : UsageError(parser.errorText());
    if (error) {
        parsed.action = ParsedCommandLine::Action::UsageError;
        parsed.error = *error;
    }
    return parsed;
}

int runCommandLine(const CatalogueRequest& given, bool quiet, FileSystem& fileSystem, VolumeLabels& labels,
                   std::FILE* err) {
    ConsoleProgress progress(err, quiet);
    CatalogueRequest request = given;
    const QString outputPath = namedPath(request.output);
    if (auto* workbook = std::get_if<WorkbookTarget>(&request.output); workbook && workbook->templatePath.isEmpty()) {
        workbook->templatePath = defaultTemplatePath(QCoreApplication::applicationDirPath());
    }
    try {
        WorkbookOpener workbooks;
        EntryList list;
        const CatalogueOutcome outcome =
            runCatalogue(request, {fileSystem, labels, workbooks}, progress, list);
        progress.clearLine();
        if (outcome.result == CatalogueOutcome::Result::NothingToWrite) {
            printMessage(err, QStringLiteral("kartoma: no entries to list in %1; no workbook was written\n")
                           .arg(outcome.folder));
            return 1;
        }
        if (!quiet) {
            if (outcome.replacedCharacters > 0) {
                printMessage(err,
                      QStringLiteral("kartoma: %1 characters have no CP932 form and were written as \"?\" "
                                     "(use --encoding utf-8 to keep them)\n")
                          .arg(outcome.replacedCharacters));
            }
            if (outcome.undecodableNames > 0) {
                printMessage(err, QStringLiteral("kartoma: %1 names are neither UTF-8 nor CP932; their other bytes "
                                          "were written as U+FFFD (\"?\" in CP932)\n")
                               .arg(outcome.undecodableNames));
            }
            printMessage(err, QStringLiteral("kartoma: %1 entries, %2 skipped, %3 s -> %4\n")
                           .arg(list.count())
                           .arg(outcome.stats.skipped())
                           .arg(progress.seconds(), 0, 'f', 2)
                           .arg(outputPath));
        }
        return 0;
    } catch (const Failure& failure) {
        progress.clearLine();
        printMessage(err, QStringLiteral("kartoma: %1\n").arg(englishText(failure)));
        return 1;
    }
}

namespace {

/// Hits to standard output as they come; when it is no terminal, in pieces of 4 KiB at first, so that a
/// reader has the first hits as soon as they are found, then of 64 KiB (a write call per 4 KiB of a
/// pipe's buffer took a tenth of a search of millions of hits); unreadable catalogues to standard
/// error. A failed write (a full disk, a closed pipe) stops the search.
class ConsoleSearch final : public SearchSink {
public:
    ConsoleSearch(std::FILE* out, std::FILE* err) : out_(out), err_(err), terminal_(isatty(fileno(out)) != 0) {}

    void hit(const SearchHit& hit) override {
        if (writeError_ != 0) {
            return;
        }
        const std::string line = searchHitLine(hit);
        if (terminal_) {
            // Names may hold escape sequences: on a terminal they are shown, not obeyed. A file or
            // a pipe gets the catalogue's text as it is.
            write(out_, visibleText(fromNativePath(std::string_view(line).substr(0, line.size() - 2))) +
                            QStringLiteral("\r\n"));
            noteWriteError();
        } else {
            pending_ += line;
            if (pending_.size() >= piece_) {
                writePending();
            }
        }
    }
    void hitBytes(const SearchHitBytes& hit) override {
        // Bytes that are no UTF-8 (a name in a catalogue written in another encoding) are written as the
        // catalogue read without the index gives them: each a replacement character.
        if (terminal_ || !hit.utf8) {
            SearchSink::hitBytes(hit);
            return;
        }
        if (writeError_ != 0) {
            return;
        }
        // The bytes as the index holds them, without making text of them: many hits a second.
        if (hit.catalogue != catalogue_) {
            catalogue_ = hit.catalogue;
            cataloguePath_ = searchCataloguePath(catalogue_);
        }
        appendSearchHitLine(hit, cataloguePath_, pending_);
        if (pending_.size() >= piece_) {
            writePending();
        }
    }
    void unreadable(const Failure& failure) override {
        printMessage(err_, QStringLiteral("kartoma: %1\n").arg(englishText(failure)));
    }
    bool keepGoing(const QString&, std::uint64_t) override { return writeError_ == 0; }

    /// Flushes what is still buffered; the errno value of the first failed write, else 0.
    int finish() {
        writePending();
        if (std::fflush(out_) != 0 || std::ferror(out_) != 0) {
            noteWriteError();
            if (writeError_ == 0) {
                writeError_ = EIO;
            }
        }
        return writeError_;
    }

private:
    static constexpr std::size_t kFirstPiece = 1 << 12;
    static constexpr std::size_t kPiece = 1 << 16;
    // Written in first pieces, about the first 2,000 hits.
    static constexpr std::uint64_t kFirstPieces = 1 << 18;

    void writePending() {
        if (writeError_ == 0 && !pending_.empty()) {
            // Straight to the descriptor, whole: the stream's buffer would keep a piece's last bytes
            // back until the next piece. What the stream holds (the header) goes first.
            if (std::fflush(out_) != 0) {
                noteWriteError();
            }
            const int fd = fileno(out_);
            for (std::size_t done = 0; writeError_ == 0 && done < pending_.size();) {
                const ssize_t n = ::write(fd, pending_.data() + done, pending_.size() - done);
                if (n >= 0) {
                    done += static_cast<std::size_t>(n);
                } else if (errno != EINTR) {
                    writeError_ = errno;
                }
            }
            written_ += pending_.size();
            piece_ = written_ < kFirstPieces ? kFirstPiece : kPiece;
        }
        pending_.clear();
    }
    void noteWriteError() {
        if (writeError_ == 0 && std::ferror(out_) != 0) {
            writeError_ = errno != 0 ? errno : EIO;
        }
    }

    std::FILE* out_;
    std::FILE* err_;
    bool terminal_;
    int writeError_ = 0;
    QString catalogue_;
    std::string cataloguePath_;
    std::string pending_; ///< hits' lines not written yet
    std::size_t piece_ = kFirstPiece;
    std::uint64_t written_ = 0;
};

} // namespace

namespace {

/// Indexing progress on a terminal's one progress line; nothing when `err` is no terminal or quiet.
class ConsoleIndexing final : public IndexProgress {
public:
    ConsoleIndexing(std::FILE* err, bool quiet) : err_(err), live_(!quiet && isatty(fileno(err)) != 0) {
        clock_.start();
    }
    ~ConsoleIndexing() override {
        if (drawn_) {
            clearTerminalLine(err_);
        }
    }

    bool reading(const QString& catalogue, qsizetype done, qsizetype total) override {
        if (live_ && clock_.elapsed() - lastDraw_ >= 100) {
            lastDraw_ = clock_.elapsed();
            drawProgressLine(err_, QStringLiteral("indexing %1 of %2  %3").arg(done + 1).arg(total).arg(catalogue));
            drawn_ = true;
        }
        return true;
    }
    // The search that follows names every catalogue it cannot read.
    void unreadable(const Failure&) override {}

private:
    std::FILE* err_;
    bool live_;
    bool drawn_ = false;
    QElapsedTimer clock_;
    qint64 lastDraw_ = -1000;
};

} // namespace

int runSearch(const ParsedCommandLine& parsed, std::FILE* out, std::FILE* err, const QString& indexPath,
              const std::function<void()>& answered) {
    QElapsedTimer clock;
    clock.start();
    QStringList paths = parsed.catalogues;
    if (paths.isEmpty()) {
        QString library = parsed.library;
        if (library.isEmpty()) {
            QSettingsStore store;
            library = libraryFolder(store);
        }
        // Looked at by its bytes, as the catalogues are found: a name in another code page is no
        // missing folder.
        struct stat status {};
        const bool exists = ::stat(toNativePath(library).c_str(), &status) == 0;
        if (!exists || !S_ISDIR(status.st_mode)) {
            printMessage(err, QStringLiteral("kartoma: the library folder %1 %2; name one with --library "
                                             "or give catalogues\n")
                                  .arg(library, exists ? QStringLiteral("is not a folder")
                                                       : QStringLiteral("does not exist")));
            return 1;
        }
        paths = {library};
    }
    // A reader that went away is a write error like any other, reported, not a silent end.
    std::signal(SIGPIPE, SIG_IGN);
    const std::string header = searchHeaderLine();
    std::fwrite(header.data(), 1, header.size(), out);
    ConsoleSearch sink(out, err);
    SearchSummary summary;
    int writeError = 0;
    // The answer is written out, and its reader told it is whole, before the index is closed.
    const auto finish = [&] {
        errno = 0;
        writeError = sink.finish();
        if (answered) {
            answered();
        }
    };
    if (parsed.noIndex && !parsed.singleCopies) {
        summary = searchCatalogues(paths, parsed.query, sink);
        finish();
    } else {
        // Without the index the single copies are found in one kept in memory for this run.
        CatalogueIndex index(parsed.noIndex ? QStringLiteral(":memory:") : indexPath);
        {
            ConsoleIndexing progress(err, parsed.quiet);
            index.update(paths, progress);
        }
        const bool rebuiltBefore = index.rebuilt();
        if (!parsed.quiet && rebuiltBefore) {
            printMessage(err, QStringLiteral("kartoma: the index %1 was damaged and has been built anew\n").arg(indexPath));
        }
        if (!parsed.quiet && index.state() != CatalogueIndex::State::Ready) {
            printMessage(err, QStringLiteral("kartoma: the index %1 %2 (%3); the catalogue files are read instead\n")
                                  .arg(indexPath,
                                       index.state() == CatalogueIndex::State::Locked
                                           ? QStringLiteral("is held by another process")
                                           : QStringLiteral("cannot be used"),
                                       index.problem()));
        }
        summary = parsed.singleCopies ? index.singleCopies(paths, sink) : index.search(paths, parsed.query, sink);
        finish();
        // Damage found only by the search itself: its answer came from the files, and the user is told.
        if (!parsed.quiet && !rebuiltBefore && index.rebuilt()) {
            printMessage(err, QStringLiteral("kartoma: the index %1 was found damaged; the catalogue files answered "
                                             "instead, and the next search builds it anew\n")
                                  .arg(indexPath));
        }
    }
    if (writeError != 0) {
        printMessage(err, QStringLiteral("kartoma: %1\n")
                              .arg(englishText(Failure(FailureCode::SearchOutputWrite, QStringLiteral("standard output"),
                                                       systemErrorText(writeError)))));
    }
    if (!parsed.quiet) {
        printMessage(err, QStringLiteral("kartoma: %1 hits in %2 catalogues, %3 rows read, %4 unreadable, %5 s\n")
                       .arg(summary.hits)
                       .arg(summary.catalogues)
                       .arg(summary.rows)
                       .arg(summary.unreadable)
                       .arg(static_cast<double>(clock.nsecsElapsed()) / 1e9, 0, 'f', 2));
    }
    return summary.unreadable > 0 || writeError != 0 ? 1 : 0;
}

} // namespace kartoma
