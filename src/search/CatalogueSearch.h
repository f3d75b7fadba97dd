#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Failure.h"

namespace kartoma {

class FileSystem;

/// What to look for: a search pattern (SearchPattern: the filter box's rules, found anywhere in the
/// name when it has no wildcard, letter case, width and kana folded), matched against each entry's
/// name, or with `matchPath` against its folder and name joined. Front ends refuse a pattern that is
/// SearchPattern::tooLong.
struct SearchQuery {
    QString pattern;
    bool matchPath = false;
    bool countMedia = true; ///< whether hits from an index carry SearchHit::media (else 0)
};

/// One line of a catalogue that matched.
struct SearchHit {
    QString label;     ///< the volume label the line carries
    QString folder;    ///< the entry's folder
    QString name;      ///< the entry's name
    QString size;      ///< the size as digits (empty when the catalogue has none)
    QString date;      ///< as the catalogue gives it
    QString time;      ///< as the catalogue gives it
    QString catalogue; ///< the catalogue file it came from
    int media = 0;     ///< how many volume labels hold the same name, size and time (0: not counted)
};

/// A matching line as an index holds it: its fields as UTF-8 bytes, valid during the call.
struct SearchHitBytes {
    std::string_view label;
    std::string_view folder;
    std::string_view name;
    std::string_view size;
    std::string_view date;
    std::string_view time;
    const QString& catalogue;
    int media = 0;
    bool utf8 = true; ///< false when a field holds bytes that are no UTF-8
};

/// What a search reports while it runs.
class SearchSink {
public:
    virtual ~SearchSink() = default;
    /// A matching line, in catalogue order.
    virtual void hit(const SearchHit& hit) = 0;
    /// A matching line as its bytes (from an index): by default made a SearchHit and given to hit();
    /// a sink that writes bytes takes them as they are.
    virtual void hitBytes(const SearchHitBytes& hit);
    /// A catalogue that cannot be read, a file that is no catalogue, or a folder of catalogues that
    /// cannot be read (a Failure naming it: CatalogueUnreadable, NotACatalogue, CatalogueDamaged,
    /// CatalogueTooLarge, CatalogueNotFile, CatalogueOutOfMemory or CatalogueFolderUnreadable). The
    /// search goes on with the next catalogue.
    virtual void unreadable(const Failure& failure) = 0;
    /// Called when a catalogue is started, every few thousand lines and after every piece a reader
    /// takes in (at least every few milliseconds, inside long lines too); returning false stops the
    /// search there. `rowsRead` counts the lines of all catalogues so far.
    virtual bool keepGoing(const QString& catalogue, std::uint64_t rowsRead) = 0;
};

struct SearchSummary {
    std::uint64_t hits = 0;
    std::uint64_t catalogues = 0; ///< catalogue files searched to their end
    std::uint64_t unreadable = 0; ///< files named to the sink as unreadable or no catalogue
    std::uint64_t rows = 0;       ///< lines read, title lines included
    bool stopped = false;         ///< keepGoing returned false
};

/// What tells one state of a catalogue file from another.
struct CatalogueStamp {
    std::int64_t size = 0;
    std::int64_t mtimeNs = 0; ///< the later of its modification and status change times, in ns
    std::uint64_t inode = 0;
    std::uint64_t device = 0;
    bool operator==(const CatalogueStamp&) const = default;
};

/// The catalogue files some paths name, and the folders and entries beneath them that could not be
/// read (Failure CatalogueFolderUnreadable each).
struct CatalogueFiles {
    QStringList files;
    std::vector<Failure> problems;
    /// In the order of files: each one's absolute path with its byte spelling kept and "." and ".."
    /// taken out (what tells one catalogue from another), and its state when it was looked at (none
    /// when that could not be had).
    std::vector<QString> keys;
    std::vector<std::optional<CatalogueStamp>> stamps;
};

/// The catalogue files `paths` name, in search order: a file as it is given, a folder as the .xlsx
/// and .csv files beneath it (subfolders too), sorted by path; a file named twice is listed once.
/// Folders are walked from descriptors with `fileSystem`; links beneath a folder are never followed.
CatalogueFiles findCatalogueFiles(const QStringList& paths, FileSystem& fileSystem);

/// Searches the catalogues `paths` name (see findCatalogueFiles) for entries matching `query`.
///
/// A catalogue is a workbook (its sheet "Kartoma", else its first sheet) or a CSV file in CP932, or
/// in UTF-8 with a byte-order mark. Its title row (ファイル名, ディレクトリ, サイズ, 日付, 時間, ボリューム,
/// TYPE, in any order, other columns allowed; ファイル名 and ディレクトリ needed) is looked for among its
/// first lines and tells where each column is; further title rows (one per page) are skipped. A file
/// without one is reported as no catalogue. Time is linear in what is read and memory bounded
/// whatever a catalogue holds: one over a reader's budget (SheetBudget; a CSV line of more than 1 MiB
/// or 16,384 fields), or one that exhausts memory, is reported unreadable and the search goes on.
/// CP932 fields read as cp932Text reads them.
SearchSummary searchCatalogues(const QStringList& paths, const SearchQuery& query, SearchSink& sink);
/// The same, walking folders with `fileSystem`.
SearchSummary searchCatalogues(const QStringList& paths, const SearchQuery& query, SearchSink& sink,
                               FileSystem& fileSystem);

/// One entry line of a catalogue, its fields as UTF-8 text (empty when the catalogue has no such
/// column), valid during the callback only.
struct CatalogueRow {
    std::string_view label;
    std::string_view folder;
    std::string_view name;
    std::string_view size; ///< as a hit gives it (digits when the catalogue holds a number)
    std::string_view date;
    std::string_view time;
    std::string_view type; ///< "D" for a folder, "F" for a file
};

/// Reads one catalogue file as searchCatalogues reads it and hands each entry line to `row` (blank
/// lines and further title rows left out). Returns false when `row` or `keepGoing` (asked every few
/// milliseconds) returned false. Throws Failure as the search reports a catalogue it cannot read.
/// `stamp`, when given, receives the state of the file that was opened.
bool readCatalogueRows(const QString& path, const std::function<bool(const CatalogueRow&)>& row,
                       const std::function<bool()>& keepGoing, CatalogueStamp* stamp = nullptr);
/// What tells the catalogue file `path` from another: its absolute path, cleaned, its bytes kept.
QString catalogueKey(const QString& path);
/// The state of the file `path` names, following links; none when it cannot be had.
std::optional<CatalogueStamp> catalogueStamp(const QString& path);

/// The CSV header line of search results, UTF-8, CR LF: ボリューム, ディレクトリ, ファイル名, サイズ, 日付,
/// 時間, カタログ.
std::string searchHeaderLine();
/// One hit as a CSV line in the header's order, quoted as the CSV writer quotes (the size bare when
/// it is digits, quoted otherwise): one CSV record whatever the fields hold.
std::string searchHitLine(const SearchHit& hit);
/// The same line appended to `out`, the hit given as bytes and its catalogue's path as the line
/// gives it (searchCataloguePath).
void appendSearchHitLine(const SearchHitBytes& hit, std::string_view cataloguePath, std::string& out);
/// A catalogue's path as a hit line gives it: UTF-8 text whatever bytes the path holds.
std::string searchCataloguePath(const QString& catalogue);

} // namespace kartoma
