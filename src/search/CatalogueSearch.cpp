#include "CatalogueSearch.h"

#include "CsvWriter.h"
#include "EntryList.h"
#include "Failure.h"
#include "FileSystem.h"
#include "NameText.h"
#include "NativePath.h"
#include "SearchPattern.h"
#include "SheetReader.h"
#include "Utf8.h"

#include <QDir>
#include <QSet>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kartoma {

namespace {

enum Field { Name, Folder, Size, Date, Time, Volume, Type, FieldCount };
static_assert(kColumnTitles.size() == FieldCount);
constexpr const auto& kTitles = kColumnTitles;
// A title row further down than this is not looked for: the file is no catalogue.
constexpr int kTitleSearchRows = 10;
constexpr std::uint64_t kRowsPerYield = 4096;
// A piece of a CSV file is parsed in about a millisecond; the stop is asked after each.
constexpr std::size_t kCsvChunk = 256 * 1024;
// One record of a CSV catalogue: as wide and as long as a row of a workbook may be.
constexpr std::size_t kMaxCsvFields = SheetBudget{}.rowCells;
constexpr std::size_t kMaxCsvRecord = SheetBudget{}.rowBytes;

/// Thrown by a reader when the sink asks the search to stop.
struct Stopped {};

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool isCatalogueName(const QString& path) {
    return path.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive) ||
           path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
}

/// A size as digits: spreadsheet applications may save a large one as "3.2E+9".
QString sizeText(std::string_view text) {
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return fromUtf8(text);
    }
    bool ok = false;
    const double value = fromUtf8(text).toDouble(&ok);
    if (ok && value >= 0 && value < 9.2e18 && std::floor(value) == value) {
        return QString::number(static_cast<qint64>(value));
    }
    return fromUtf8(text);
}

/// Where each field is in a catalogue's lines, learnt from its title row.
class ColumnMap {
public:
    /// Learns the columns from a row given as (column, text) pairs; false when the row is no title row.
    template <typename Cells> bool learn(const Cells& cells) {
        column_.fill(-1);
        for (const auto& [column, text] : cells) {
            for (int f = 0; f < FieldCount; ++f) {
                if (text == kTitles[f] && column_[f] < 0) {
                    column_[f] = column;
                }
            }
        }
        return column_[Name] >= 0 && column_[Folder] >= 0;
    }
    int column(Field field) const { return column_[field]; }

private:
    std::array<int, FieldCount> column_{};
};

using Fields = std::array<std::string_view, FieldCount>;

/// Takes the lines of a catalogue below its title row, each as its fields' UTF-8 text.
class LineConsumer {
public:
    virtual ~LineConsumer() = default;
    /// False when the reading is to stop.
    virtual bool line(const QString& catalogue, const Fields& fields) = 0;
};

/// True for a line that holds an entry: not blank, and not the title row of a further page.
bool isEntryLine(const Fields& fields) {
    return !fields[Name].empty() && !(fields[Name] == kTitles[Name] && fields[Folder] == kTitles[Folder]);
}

/// Matches lines against the query and hands hits to the sink.
class LineMatcher : public LineConsumer {
public:
    LineMatcher(const SearchQuery& query, SearchSink& sink, SearchSummary& summary)
        : pattern_(query.pattern), matchPath_(query.matchPath), sink_(sink), summary_(summary) {}

    /// Checks one line of `catalogue`. False when the sink asks to stop.
    bool line(const QString& catalogue, const Fields& field) override {
        ++summary_.rows;
        if ((summary_.rows % kRowsPerYield) == 0 && !sink_.keepGoing(catalogue, summary_.rows)) {
            return false;
        }
        if (!isEntryLine(field)) {
            return true;
        }
        const std::string_view name = field[Name];
        const std::string_view folder = field[Folder];
        folded_.clear();
        if (matchPath_) {
            appendSearchFold(joinPathBytes(std::string(folder), name), folded_);
        } else {
            appendSearchFold(name, folded_);
        }
        if (!pattern_.matchesFolded(folded_)) {
            return true;
        }
        ++summary_.hits;
        sink_.hit(SearchHit{fromUtf8(field[Volume]), fromUtf8(folder), fromUtf8(name), sizeText(field[Size]),
                            fromUtf8(field[Date]), fromUtf8(field[Time]), catalogue});
        return true;
    }

private:
    SearchPattern pattern_;
    bool matchPath_;
    SearchSink& sink_;
    SearchSummary& summary_;
    std::u32string folded_;
};

/// Hands the entry lines of a catalogue to a row callback, the size as a hit gives it.
class RowReader : public LineConsumer {
public:
    explicit RowReader(const std::function<bool(const CatalogueRow&)>& row) : row_(row) {}

    bool line(const QString&, const Fields& field) override {
        if (!isEntryLine(field)) {
            return true;
        }
        std::string_view size = field[Size];
        if (!std::all_of(size.begin(), size.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            size_ = sizeText(size).toStdString();
            size = size_;
        }
        return row_(CatalogueRow{field[Volume], field[Folder], field[Name], size, field[Date], field[Time],
                                 field[Type]});
    }

private:
    const std::function<bool(const CatalogueRow&)>& row_;
    std::string size_;
};

/// Reads CSV records (quoted fields, doubled quotes, line breaks inside quotes) in pieces, each record
/// within the budget of fields and bytes.
class CsvRecords {
public:
    CsvRecords(int fd, const QString& path, const std::function<bool()>& keepGoing)
        : fd_(fd), path_(path), keepGoing_(keepGoing) {}

    /// The next record's fields as raw bytes; false at the end of the file.
    bool next(std::vector<std::string>& fields) {
        fields.clear();
        std::string field;
        bool quoted = false;
        bool any = false;
        std::size_t length = 0;
        const auto endField = [&] {
            if (fields.size() == kMaxCsvFields) {
                tooLarge(QStringLiteral("a line of more than %1 fields").arg(kMaxCsvFields));
            }
            fields.push_back(std::move(field));
            field.clear();
        };
        for (;;) {
            if (pos_ == buffer_.size() && !fill()) {
                if (quoted) {
                    // A quote left open swallows every line after it: the file is cut short or broken.
                    throw Failure(FailureCode::CatalogueDamaged, path_,
                                  QStringLiteral("the file ends inside a quoted field"));
                }
                if (any || !field.empty()) {
                    endField();
                }
                return any || !fields.empty();
            }
            const char c = buffer_[pos_++];
            any = true;
            if (++length > kMaxCsvRecord) {
                tooLarge(QStringLiteral("a line longer than %1 KiB").arg(kMaxCsvRecord >> 10));
            }
            if (quoted) {
                if (c != '"') {
                    field += c;
                } else if (pos_ == buffer_.size() && !fill()) {
                    quoted = false;
                } else if (buffer_[pos_] == '"') {
                    field += '"';
                    ++pos_;
                } else {
                    quoted = false;
                }
            } else if (c == '"') {
                quoted = true;
            } else if (c == ',') {
                endField();
            } else if (c == '\n') {
                if (!field.empty() && field.back() == '\r') {
                    field.pop_back();
                }
                endField();
                return true;
            } else {
                field += c;
            }
        }
    }

private:
    [[noreturn]] void tooLarge(const QString& reason) const {
        throw Failure(FailureCode::CatalogueTooLarge, path_, reason);
    }

    bool fill() {
        if (keepGoing_ && !keepGoing_()) {
            throw Stopped{};
        }
        buffer_.resize(kCsvChunk);
        ssize_t n;
        do {
            n = ::read(fd_, buffer_.data(), kCsvChunk);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            throw Failure(FailureCode::CatalogueUnreadable, path_, systemErrorText(errno));
        }
        buffer_.resize(static_cast<std::size_t>(n));
        pos_ = 0;
        return n > 0;
    }

    int fd_;
    const QString& path_;
    const std::function<bool()>& keepGoing_;
    std::string buffer_;
    std::size_t pos_ = 0;
};

void searchWorkbook(const QString& path, LineConsumer& matcher, const std::function<bool()>& keepGoing) {
    try {
        SheetReader reader(path, kCatalogueSheet, SheetBudget{}, keepGoing);
        SheetRow row;
        ColumnMap columns;
        bool titled = false;
        std::vector<std::pair<int, std::string_view>> cells;
        for (int seen = 0; !titled && seen < kTitleSearchRows && reader.next(row); ++seen) {
            cells.clear();
            for (std::size_t i = 0; i < row.cellCount(); ++i) {
                cells.emplace_back(row.column(i), row.value(i));
            }
            titled = columns.learn(cells);
        }
        if (!titled) {
            throw Failure(FailureCode::NotACatalogue, path);
        }
        Fields field;
        while (reader.next(row)) {
            for (int f = 0; f < FieldCount; ++f) {
                const int column = columns.column(static_cast<Field>(f));
                field[f] = column < 0 ? std::string_view() : row.cell(column);
            }
            if (!matcher.line(path, field)) {
                throw Stopped{};
            }
        }
    } catch (const Failure& error) {
        switch (error.code()) {
        case FailureCode::Cancelled:
            throw Stopped{};
        case FailureCode::CatalogueTooLarge:
            throw Failure(FailureCode::CatalogueTooLarge, path, error.detail());
        case FailureCode::TemplateMissing:
            throw Failure(FailureCode::CatalogueUnreadable, path, error.detail());
        case FailureCode::TemplateInvalid:
        case FailureCode::SheetMissing:
            throw Failure(FailureCode::CatalogueDamaged, path, error.detail());
        default: // not the reader's: the search's own
            throw;
        }
    }
}

void searchCsv(int fd, const QString& path, LineConsumer& matcher, const std::function<bool()>& keepGoing) {
    CsvRecords records(fd, path, keepGoing);
    std::vector<std::string> fields;
    if (!records.next(fields)) {
        throw Failure(FailureCode::NotACatalogue, path);
    }
    bool utf8 = false;
    if (!fields.empty() && fields[0].starts_with("\xEF\xBB\xBF")) {
        utf8 = true;
        fields[0].erase(0, 3);
    }
    std::vector<std::string> decoded(fields.size());
    const auto decode = [&](const std::vector<std::string>& raw) {
        decoded.resize(raw.size());
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (utf8 || isAscii(raw[i])) {
                decoded[i] = raw[i];
            } else {
                decoded[i] = cp932Text(raw[i]).toStdString();
            }
        }
    };
    ColumnMap columns;
    const auto learn = [&] {
        std::vector<std::pair<int, std::string_view>> cells;
        for (std::size_t i = 0; i < decoded.size(); ++i) {
            cells.emplace_back(static_cast<int>(i), decoded[i]);
        }
        return columns.learn(cells);
    };
    decode(fields);
    bool titled = learn();
    if (!titled && !utf8) {
        // A UTF-8 file that lost its byte-order mark.
        utf8 = true;
        decode(fields);
        titled = learn();
    }
    if (!titled) {
        throw Failure(FailureCode::NotACatalogue, path);
    }
    Fields field;
    while (records.next(fields)) {
        decode(fields);
        for (int f = 0; f < FieldCount; ++f) {
            const int column = columns.column(static_cast<Field>(f));
            field[f] = column < 0 || static_cast<std::size_t>(column) >= decoded.size()
                           ? std::string_view()
                           : std::string_view(decoded[static_cast<std::size_t>(column)]);
        }
        if (!matcher.line(path, field)) {
            throw Stopped{};
        }
    }
}

/// An open file, closed with the object.
class OpenFile {
public:
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

CatalogueStamp stampOf(std::int64_t size, const EntryIdentity& identity) {
    return CatalogueStamp{size, identity.changedNs, identity.inode, identity.device};
}

CatalogueStamp stampOf(const struct stat& st) {
    return stampOf(static_cast<std::int64_t>(st.st_size), EntryIdentity::of(st));
}

/// Reads one catalogue file; false when the consumer asked to stop.
bool searchOne(const QString& path, LineConsumer& matcher, const std::function<bool()>& keepGoing,
               CatalogueStamp* stamp = nullptr) {
    // Non-blocking, so that a pipe named like a catalogue does not hold the search at its opening.
    OpenFile file(::open(toNativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (file.fd() < 0 || ::fstat(file.fd(), &st) != 0) {
        throw Failure(FailureCode::CatalogueUnreadable, path, systemErrorText(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        // A pipe or device would never end, or block the search for good.
        throw Failure(S_ISDIR(st.st_mode) ? FailureCode::CatalogueUnreadable : FailureCode::CatalogueNotFile, path,
                      S_ISDIR(st.st_mode) ? systemErrorText(EISDIR) : QString());
    }
    if (stamp) {
        *stamp = stampOf(st);
    }
    try {
        if (path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)) {
            searchCsv(file.fd(), path, matcher, keepGoing);
        } else {
            searchWorkbook(path, matcher, keepGoing);
        }
    } catch (const Stopped&) {
        return false;
    } catch (const std::bad_alloc&) {
        throw Failure(FailureCode::CatalogueOutOfMemory, path);
    }
    return true;
}

/// The working folder as raw bytes; empty when it cannot be had.
std::string workingFolder() {
    std::string folder(4096, '\0');
    folder.resize(::getcwd(folder.data(), folder.size()) != nullptr ? std::strlen(folder.c_str()) : 0);
    return folder;
}

/// A catalogue file found beneath a folder, with its state as the walk looked at it.
struct FoundCatalogue {
    QString file;
    CatalogueStamp stamp;
};

/// `path` made absolute against `folder` (the working folder, raw bytes) and cleaned, with its bytes kept.
QString absolutePath(const QString& path, const std::string& folder) {
    if (path.startsWith(QLatin1Char('/')) || folder.empty()) {
        return QDir::cleanPath(path);
    }
    return QDir::cleanPath(fromNativePath(joinPathBytes(folder, toNativePath(path))));
}

/// The catalogue files beneath the folder `root` (raw bytes), walked by descriptors: subfolders are
/// opened from their parent and links are never followed. Folders and entries that cannot be read
/// are added to `problems`.
void collectCatalogues(FileSystem& fileSystem, const std::string& root, std::vector<FoundCatalogue>& found,
                       std::vector<Failure>& problems) {
    const auto problem = [&problems](const std::string& path, int errnum) {
        problems.emplace_back(FailureCode::CatalogueFolderUnreadable, fromNativePath(path), systemErrorText(errnum));
    };
    FolderHandle handle = 0;
    if (const int err = fileSystem.openRoot(root, handle); err != 0) {
        problem(root, err);
        return;
    }
    // Depth first, one open folder per level.
    struct Level {
        FolderHandle handle;
        std::string path;
        FolderListing listing;
        std::size_t next = 0;
    };
    std::vector<Level> levels;
    std::vector<ListingProblem> listingProblems;
    const auto enter = [&](FolderHandle folder, std::string path) {
        levels.push_back(Level{folder, std::move(path), {}, 0});
        Level& level = levels.back();
        level.listing.keepIdentities(); // a catalogue's state from its listing, not from a second look
        listingProblems.clear();
        if (const int err = fileSystem.listFolder(folder, level.listing, listingProblems); err != 0) {
            problem(level.path, err);
            level.listing.clear();
        }
        for (const ListingProblem& p : listingProblems) {
            problem(joinPathBytes(level.path, p.name), p.errnum);
        }
    };
    enter(handle, root);
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == level.listing.size()) {
            fileSystem.closeFolder(level.handle);
            levels.pop_back();
            continue;
        }
        const std::size_t i = level.next++;
        const std::string_view name = level.listing.name(i);
        std::string path = joinPathBytes(level.path, name);
        if (level.listing.item(i).kind == EntryKind::Folder) {
            FolderHandle child = 0;
            if (const int err = fileSystem.openChild(level.handle, name, child); err != 0) {
                problem(path, err);
            } else {
                enter(child, std::move(path));
            }
            continue;
        }
        const QString file = fromNativePath(path);
        struct stat st;
        // A link is listed as a file by the walk; it is not followed to a catalogue elsewhere.
        if (!isCatalogueName(file)) {
            continue;
        }
        if (const EntryIdentity* identity = level.listing.identity(i)) {
            if (!identity->link) {
                found.push_back(FoundCatalogue{file, stampOf(level.listing.item(i).size, *identity)});
            }
            continue;
        }
        if (::lstat(path.c_str(), &st) != 0) {
            problem(path, errno); // a path the system cannot take (over its length limit) is named
        } else if (!S_ISLNK(st.st_mode)) {
            found.push_back(FoundCatalogue{file, stampOf(st)});
        }
    }
}

bool isFolder(const QString& path) {
    struct stat st;
    return ::stat(toNativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

CatalogueFiles findCatalogueFiles(const QStringList& paths, FileSystem& fileSystem) {
    CatalogueFiles result;
    const std::string here = workingFolder();
    // A catalogue named twice (given as it is and inside a folder given too, or from two working
    // folders) is searched once.
    QSet<QString> seen;
    const auto add = [&](const QString& file, std::optional<CatalogueStamp> stamp) {
        QString key = absolutePath(file, here);
        const qsizetype before = seen.size();
        seen.insert(key);
        if (seen.size() > before) {
            result.files.append(file);
            result.keys.push_back(std::move(key));
            result.stamps.push_back(stamp);
        }
    };
    for (const QString& path : paths) {
        if (!isFolder(path)) {
            add(path, catalogueStamp(path));
            continue;
        }
        // Paths are walked as bytes, so a catalogue named in another code page is found and opened.
        std::vector<FoundCatalogue> found;
        collectCatalogues(fileSystem, toNativePath(path), found, result.problems);
        std::sort(found.begin(), found.end(),
                  [](const FoundCatalogue& a, const FoundCatalogue& b) { return a.file < b.file; });
        for (const FoundCatalogue& catalogue : found) {
            add(catalogue.file, catalogue.stamp);
        }
    }
    return result;
}


SearchSummary searchCatalogues(const QStringList& paths, const SearchQuery& query, SearchSink& sink) {
    PosixFileSystem fileSystem;
    return searchCatalogues(paths, query, sink, fileSystem);
}

SearchSummary searchCatalogues(const QStringList& paths, const SearchQuery& query, SearchSink& sink,
                               FileSystem& fileSystem) {
    SearchSummary summary;
    LineMatcher matcher(query, sink, summary);
    const CatalogueFiles catalogues = findCatalogueFiles(paths, fileSystem);
    for (const Failure& problem : catalogues.problems) {
        ++summary.unreadable;
        sink.unreadable(problem);
    }
    QString current;
    const std::function<bool()> keepGoing = [&] { return sink.keepGoing(current, summary.rows); };
    for (const QString& path : catalogues.files) {
        current = path;
        if (!sink.keepGoing(path, summary.rows)) {
            summary.stopped = true;
            break;
        }
        try {
            if (!searchOne(path, matcher, keepGoing)) {
                summary.stopped = true;
                break;
            }
            ++summary.catalogues;
        } catch (const Failure& failure) {
            ++summary.unreadable;
            sink.unreadable(failure);
        }
    }
    return summary;
}

bool readCatalogueRows(const QString& path, const std::function<bool(const CatalogueRow&)>& row,
                       const std::function<bool()>& keepGoing, CatalogueStamp* stamp) {
    RowReader reader(row);
    return searchOne(path, reader, keepGoing, stamp);
}

QString catalogueKey(const QString& path) {
    return absolutePath(path, path.startsWith(QLatin1Char('/')) ? std::string() : workingFolder());
}

std::optional<CatalogueStamp> catalogueStamp(const QString& path) {
    struct stat st;
    if (::stat(toNativePath(path).c_str(), &st) != 0) {
        return std::nullopt;
    }
    return stampOf(st);
}

std::string searchHeaderLine() {
    std::string line;
    const std::string_view titles[] = {"ボリューム", "ディレクトリ", "ファイル名", "サイズ",
                                       "日付",       "時間",         "カタログ"};
    for (const std::string_view title : titles) {
        if (!line.empty()) {
            line += ',';
        }
        appendQuotedField(title, line);
    }
    line += "\r\n";
    return line;
}

void SearchSink::hitBytes(const SearchHitBytes& hit) {
    const auto text = [](std::string_view utf8) {
        return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    };
    SearchHit made;
    made.label = text(hit.label);
    made.folder = text(hit.folder);
    made.name = text(hit.name);
    made.size = text(hit.size);
    made.date = text(hit.date);
    made.time = text(hit.time);
    made.catalogue = hit.catalogue;
    made.media = hit.media;
    this->hit(made);
}

std::string searchCataloguePath(const QString& catalogue) {
    // The catalogue's path as text, like every other field: the line stays UTF-8 whatever bytes the
    // path holds.
    return readablePath(catalogue).toStdString();
}

void appendSearchHitLine(const SearchHitBytes& hit, std::string_view cataloguePath, std::string& out) {
    for (const std::string_view text : {hit.label, hit.folder, hit.name}) {
        appendQuotedField(text, out);
        out += ',';
    }
    // A size is written bare only when it is digits; anything else a catalogue holds there is text,
    // quoted like the rest, so that no cell can end the line or add fields to it.
    if (std::all_of(hit.size.begin(), hit.size.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        out += hit.size;
        out += ',';
    } else {
        appendQuotedField(hit.size, out);
        out += ',';
    }
    for (const std::string_view text : {hit.date, hit.time, cataloguePath}) {
        appendQuotedField(text, out);
        out += ',';
    }
    out.back() = '\r';
    out += '\n';
}

std::string searchHitLine(const SearchHit& hit) {
    const std::string fields[] = {hit.label.toStdString(), hit.folder.toStdString(), hit.name.toStdString(),
                                  hit.size.toStdString(),  hit.date.toStdString(),   hit.time.toStdString()};
    std::string line;
    appendSearchHitLine({fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], hit.catalogue, hit.media},
                        searchCataloguePath(hit.catalogue), line);
    return line;
}

} // namespace kartoma
