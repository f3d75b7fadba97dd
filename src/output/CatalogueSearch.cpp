#include "CatalogueSearch.h"

#include "CsvWriter.h"
#include "Failure.h"
#include "NativePath.h"
#include "SearchPattern.h"
#include "SheetReader.h"
#include "Utf8.h"
#include "Walk.h"
#include "WorkbookError.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kartoma {

namespace {

enum Field { Name, Folder, Size, Date, Time, Volume, Type, FieldCount };
constexpr std::array<std::string_view, FieldCount> kTitles = {"ファイル名", "ディレクトリ", "サイズ", "日付",
                                                              "時間",       "ボリューム",   "TYPE"};
// A title row further down than this is not looked for: the file is no catalogue.
constexpr int kTitleSearchRows = 10;
constexpr std::uint64_t kRowsPerYield = 4096;
constexpr std::size_t kCsvChunk = 1 << 20;
constexpr std::size_t kMaxCsvRecord = 64u << 20;

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

/// Matches lines against the query and hands hits to the sink.
class LineMatcher {
public:
    LineMatcher(const SearchQuery& query, SearchSink& sink, SearchSummary& summary)
        : pattern_(query.pattern), matchPath_(query.matchPath), sink_(sink), summary_(summary) {}

    /// Checks one line of `catalogue`; `field(f)` gives a field's UTF-8 text. False when the sink
    /// asks to stop.
    template <typename FieldOf> bool line(const QString& catalogue, const FieldOf& field) {
        ++summary_.rows;
        if ((summary_.rows % kRowsPerYield) == 0 && !sink_.keepGoing(catalogue, summary_.rows)) {
            return false;
        }
        const std::string_view name = field(Name);
        const std::string_view folder = field(Folder);
        if (name.empty() || (name == kTitles[Name] && folder == kTitles[Folder])) {
            return true; // a blank line, or the title row of a further page
        }
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
        sink_.hit(SearchHit{fromUtf8(field(Volume)), fromUtf8(folder), fromUtf8(name), sizeText(field(Size)),
                            fromUtf8(field(Date)), fromUtf8(field(Time)), catalogue});
        return true;
    }

private:
    SearchPattern pattern_;
    bool matchPath_;
    SearchSink& sink_;
    SearchSummary& summary_;
    std::u32string folded_;
};

/// Reads CSV records (quoted fields, doubled quotes, line breaks inside quotes) in pieces.
class CsvRecords {
public:
    explicit CsvRecords(QFile& file) : file_(file) {}

    /// The next record's fields as raw bytes; false at the end of the file.
    bool next(std::vector<std::string>& fields) {
        fields.clear();
        std::string field;
        bool quoted = false;
        bool any = false;
        std::size_t length = 0;
        for (;;) {
            if (pos_ == buffer_.size() && !fill()) {
                if (any || !field.empty()) {
                    fields.push_back(std::move(field));
                }
                return any || !fields.empty();
            }
            const char c = buffer_[pos_++];
            any = true;
            if (++length > kMaxCsvRecord) {
                throw Failure(FailureCode::CatalogueUnreadable, file_.fileName(),
                              QStringLiteral("a line longer than 64 MiB"));
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
                fields.push_back(std::move(field));
                field.clear();
            } else if (c == '\n') {
                if (!field.empty() && field.back() == '\r') {
                    field.pop_back();
                }
                fields.push_back(std::move(field));
                return true;
            } else {
                field += c;
            }
        }
    }

private:
    bool fill() {
        buffer_.resize(kCsvChunk);
        const qint64 n = file_.read(buffer_.data(), static_cast<qint64>(kCsvChunk));
        if (n < 0) {
            throw Failure(FailureCode::CatalogueUnreadable, file_.fileName(), file_.errorString());
        }
        buffer_.resize(static_cast<std::size_t>(n));
        pos_ = 0;
        return n > 0;
    }

    QFile& file_;
    std::string buffer_;
    std::size_t pos_ = 0;
};

void searchWorkbook(const QString& path, LineMatcher& matcher, bool& stopped) {
    try {
        SheetReader reader(path, QStringLiteral("Kartoma"));
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
        const auto field = [&](int f) {
            const int column = columns.column(static_cast<Field>(f));
            return column < 0 ? std::string_view() : row.cell(column);
        };
        while (reader.next(row)) {
            if (!matcher.line(path, field)) {
                stopped = true;
                return;
            }
        }
    } catch (const WorkbookError& error) {
        throw Failure(FailureCode::CatalogueUnreadable, path, error.diagnostic());
    }
}

void searchCsv(const QString& path, LineMatcher& matcher, bool& stopped) {
    const int fd = ::open(toNativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        const int err = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        throw Failure(FailureCode::CatalogueUnreadable, path, systemErrorText(err));
    }
    CsvRecords records(file);
    std::vector<std::string> fields;
    if (!records.next(fields)) {
        throw Failure(FailureCode::NotACatalogue, path);
    }
    bool utf8 = false;
    if (!fields.empty() && fields[0].starts_with("\xEF\xBB\xBF")) {
        utf8 = true;
        fields[0].erase(0, 3);
    }
    QStringDecoder cp932("windows-31j", QStringDecoder::Flag::Stateless);
    std::vector<std::string> decoded(fields.size());
    const auto decode = [&](const std::vector<std::string>& raw) {
        decoded.resize(raw.size());
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (utf8 || isAscii(raw[i])) {
                decoded[i] = raw[i];
            } else {
                const QString text =
                    cp932.decode(QByteArrayView(raw[i].data(), static_cast<qsizetype>(raw[i].size())));
                decoded[i] = text.toStdString();
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
    const auto field = [&](int f) {
        const int column = columns.column(static_cast<Field>(f));
        return column < 0 || static_cast<std::size_t>(column) >= decoded.size()
                   ? std::string_view()
                   : std::string_view(decoded[static_cast<std::size_t>(column)]);
    };
    while (records.next(fields)) {
        decode(fields);
        if (!matcher.line(path, field)) {
            stopped = true;
            return;
        }
    }
}

} // namespace

namespace {

/// The catalogues found by the running catalogueFiles (nftw's callback takes no state of its own).
thread_local QStringList* foundCatalogues = nullptr;

int noteCatalogue(const char* path, const struct stat*, int kind, struct FTW*) {
    // Links are not followed into folders; a link to a file is taken like the file.
    struct stat target;
    if (kind == FTW_F || (kind == FTW_SL && ::stat(path, &target) == 0 && S_ISREG(target.st_mode))) {
        const QString file = fromNativePath(path);
        if (isCatalogueName(file)) {
            foundCatalogues->append(file);
        }
    }
    return 0;
}

bool isFolder(const QString& path) {
    struct stat st;
    return ::stat(toNativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

QStringList catalogueFiles(const QStringList& paths) {
    QStringList files;
    for (const QString& path : paths) {
        if (!isFolder(path)) {
            files.append(path);
            continue;
        }
        // Paths are walked as bytes, so a catalogue named in another code page is found and opened.
        QStringList found;
        foundCatalogues = &found;
        ::nftw(toNativePath(path).c_str(), noteCatalogue, 64, FTW_PHYS);
        foundCatalogues = nullptr;
        found.sort();
        files.append(found);
    }
    return files;
}

SearchSummary searchCatalogues(const QStringList& paths, const SearchQuery& query, SearchSink& sink) {
    SearchSummary summary;
    LineMatcher matcher(query, sink, summary);
    for (const QString& path : catalogueFiles(paths)) {
        if (!sink.keepGoing(path, summary.rows)) {
            summary.stopped = true;
            break;
        }
        try {
            struct stat st;
            if (::stat(toNativePath(path).c_str(), &st) != 0) {
                throw Failure(FailureCode::CatalogueUnreadable, path, systemErrorText(errno));
            }
            if (!S_ISREG(st.st_mode)) {
                // A pipe or device would never end, or block the search for good.
                throw Failure(FailureCode::CatalogueUnreadable, path, QStringLiteral("not a regular file"));
            }
            bool stopped = false;
            if (path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)) {
                searchCsv(path, matcher, stopped);
            } else {
                searchWorkbook(path, matcher, stopped);
            }
            if (stopped) {
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

std::string searchHitLine(const SearchHit& hit) {
    std::string line;
    const auto text = [&line](const QString& value) {
        const QByteArray utf8 = value.toUtf8();
        appendQuotedField(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), line);
        line += ',';
    };
    text(hit.label);
    text(hit.folder);
    text(hit.name);
    line += hit.size.toStdString();
    line += ',';
    text(hit.date);
    text(hit.time);
    // The catalogue's path as the system has it, so that the line names a file that can be opened.
    appendQuotedField(toNativePath(hit.catalogue), line);
    line += "\r\n";
    return line;
}

} // namespace kartoma
