#include "CatalogueIndex.h"

#include "Failure.h"
#include "NativePath.h"
#include "FileSystem.h"
#include "SearchPattern.h"
#include "SystemError.h"
#include "Utf8.h"
#include "NameText.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUtf8StringView>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <list>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <unistd.h>

namespace kartoma {

namespace {

// Raised when the database format changes: an older index is then built anew.
constexpr int kSchemaVersion = 18;
// How long a write waits for another process's transaction before the index is bypassed.
constexpr int kBusyTimeoutMs = 1000;
// Lines between two calls of a progress or stop callback.
constexpr std::uint64_t kLinesPerYield = 2048;
// A run of the pattern this long or longer is looked up by its trigrams.
constexpr std::size_t kTrigram = 3;
// A catalogue's names and lines are kept in groups of this many, a row of each for a group.
constexpr std::size_t kGroupNames = 128;
// The bits a trigram is hashed to (gramBit).
constexpr std::size_t kGramBits = 4096;
// The catalogues of ids id >> kBlockBits alike form a block, whose names `postings` lists by trigram
// together: a search reads a few rows per block, not rows of every catalogue.
constexpr int kBlockBits = 6;
// A search reads the list of another trigram bit of a block while it is at most this many bytes for each
// name the lists before left.
constexpr std::uint64_t kListBytesPerName = 256;
// The most bytes of a block's lists held at once while it is made: the lists then go out as a part of
// their own.
constexpr std::size_t kBlockBuffer = std::size_t{16} << 20;

// A catalogue's row in `catalogues` is small (what its file was, where its entries' ids start), so that a
// search reads all of them from a few pages; its folders are kept in a blob of `folders`, its lines as
// appendRow writes them in `lines`, a row for each group of kGroupNames of them (groupLinesId: a hit reads
// its own group, not all of the catalogue's lines) that starts with the group's folders (GroupFolders: a
// hit reads its folder with its line), and its folded names apart in `names`, a row for each
// group too. The names are found by their trigrams, by block of catalogues (kBlockBits): `blocks` lists a
// block's catalogues with their numbers of lines, one after another, which number the block's names
// (nameNumber), and `postings` holds, for each trigram bit, the numbers of the names holding a trigram
// of that bit (PostingList), at postingsId; a search reads the lists of its own trigrams and then only
// the names in all of them. It takes a catalogue's names from its block when the block lists the
// catalogue as it is, and reads all of them otherwise (refreshBlocks makes the blocks anew at the end
// of an update; a catalogue read again gets an id never given before, counted in `counters`:
// "catalogue", so that no block made earlier lists it). The copies table holds
// one row per entry, found again by the entry's id (its catalogue's first id plus its place in the
// catalogue). An update appends the copies of the catalogues it reads to `fresh` (a blob for each catalogue
// and each of kFreshParts ranges of the keys, cheap to write) and moves them at its end, sorted by key: a
// few into the small table `recent`, many (or when `recent` has grown) together with `recent` into
// `copies`, so that the large table is written in order and seldom, never at random for every changed
// line. The copies of a dropped catalogue stay where they are until there are many of them (`counters`:
// "dead"): ids are never given twice ("next"), so that a copy whose id no catalogue holds is one of these,
// and readers pass over it. `shared` holds one set of bits (sharedBit), in pieces of kSharedPiece bytes (a
// search reads the few it needs), with every key that has more than one copy: a hit whose key is not in it
// is held by its own medium alone, and its copies are not looked up. It may hold more (every key moved into
// `recent`, keys whose copies were dropped); it is made anew when an update moves many copies.
constexpr const char* kSchema = R"sql(
CREATE TABLE catalogues(
    id INTEGER PRIMARY KEY,
    path BLOB NOT NULL UNIQUE,
    size INTEGER NOT NULL,
    mtime INTEGER NOT NULL,
    inode INTEGER NOT NULL,
    device INTEGER NOT NULL,
    first INTEGER NOT NULL,
    count INTEGER NOT NULL,
    failure INTEGER NOT NULL,
    detail TEXT NOT NULL);
CREATE TABLE folders(id INTEGER PRIMARY KEY, names BLOB NOT NULL);
CREATE TABLE lines(id INTEGER PRIMARY KEY, bytes BLOB NOT NULL);
CREATE TABLE names(id INTEGER PRIMARY KEY, folded BLOB NOT NULL);
CREATE TABLE blocks(id INTEGER PRIMARY KEY, members BLOB NOT NULL);
CREATE TABLE postings(id INTEGER PRIMARY KEY, names BLOB NOT NULL);
CREATE TABLE labels(id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE);
CREATE TABLE copies(key INTEGER NOT NULL, id INTEGER NOT NULL, label INTEGER NOT NULL,
                    PRIMARY KEY(key, id)) WITHOUT ROWID;
CREATE TABLE recent(key INTEGER NOT NULL, id INTEGER NOT NULL, label INTEGER NOT NULL,
                    PRIMARY KEY(key, id)) WITHOUT ROWID;
CREATE TABLE fresh(id INTEGER PRIMARY KEY, copies BLOB NOT NULL);
CREATE TABLE counters(name TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE shared(id INTEGER PRIMARY KEY, bits BLOB NOT NULL);
)sql";

// How a search starts reading: with a page cache of 1 MiB, in one read transaction. The names and
// lines are read once; the cache keeps the upper pages of the tables, which every lookup passes. A
// larger one costs more than it saves: each page of it is fresh memory, and the first touch of every
// 4 KiB of it is a page fault (a search of the whole library took twice as long with 16 MiB, and the
// first thousand hits came 3 to 6 ms later with 2 MiB); with 512 KiB a search of few hits reads pages
// again and again. An update writes with 64 MiB, which it gives back at its end.
constexpr const char* kReadSearch = "PRAGMA cache_size=-1024; BEGIN";
constexpr const char* kUpdateCache = "PRAGMA cache_size=-65536";

/// The id of the row of `lines` (and of `names`) that holds the group `group` of the catalogue
/// `catalogue`'s lines.
std::int64_t groupLinesId(std::int64_t catalogue, std::int64_t group) {
    return catalogue * (std::int64_t{1} << 32) + group;
}

/// The id of the row of `postings` that holds the part `part` of the list of the trigram bit `bit` of
/// the block `block`.
std::int64_t postingsId(std::int64_t block, std::size_t bit, std::int64_t part) {
    return ((block * static_cast<std::int64_t>(kGramBits) + static_cast<std::int64_t>(bit)) << 16) + part;
}

// The bits of the set of shared keys, and the bytes of one of its rows.
constexpr std::size_t kSharedBits = std::size_t{1} << 24;
constexpr std::size_t kSharedPiece = 2048;
// `recent` is moved into `copies` when it would hold this many copies, or a sixteenth of the index's lines.
constexpr std::int64_t kRecentCopies = std::int64_t{1} << 18;

// `fresh` holds a catalogue's copies in ranges of the keys, in key order (partOf), each a blob of CopyRow in
// the machine's byte order: they are sorted in memory a range at a time, where SQLite's sort of all of them
// took most of an update's end, and a row each took most of storing a catalogue.
constexpr int kFreshPartBits = 3;
constexpr std::int64_t kFreshParts = std::int64_t{1} << kFreshPartBits;
// The most copies sorted in memory at a time (24 bytes each): a larger range is cut into smaller ones.
constexpr std::size_t kSortedInMemory = std::size_t{1} << 21;

std::int64_t partOf(std::int64_t key) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(key) ^ (std::uint64_t{1} << 63)) >>
                                     (64 - kFreshPartBits));
}

/// The row of `fresh` that holds the copies of the range `part` of the catalogue whose entries' ids start
/// at `first` (below 2^56): a rowid table keeps a blob of a few pages' size in its own pages, where a table
/// without rowid put most of it in a page of its own.
std::int64_t freshRow(std::int64_t part, std::int64_t first) {
    return part * (std::int64_t{1} << 56) + first;
}

/// A copy: an entry's key, id and label.
using CopyRow = std::array<std::int64_t, 3>;
static_assert(sizeof(CopyRow) == 24, "the length of a copy in `fresh`, as settle() counts them");

// The table-valued function copy_rows(?): the copies of a std::vector<CopyRow> bound with
// Statement::bindCopies (key, id, label), so that one statement inserts them all.
constexpr const char* kCopyRowsType = "CopyRows";

struct CopyRowsCursor : sqlite3_vtab_cursor {
    const std::vector<CopyRow>* rows = nullptr;
    std::size_t at = 0;
};

const sqlite3_module kCopyRowsModule = [] {
    sqlite3_module m{};
    m.xConnect = [](sqlite3* db, void*, int, const char* const*, sqlite3_vtab** vtab, char**) {
        const int rc = sqlite3_declare_vtab(db, "CREATE TABLE x(key, id, label, source HIDDEN)");
        if (rc == SQLITE_OK) {
            *vtab = new sqlite3_vtab{};
        }
        return rc;
    };
    m.xBestIndex = [](sqlite3_vtab*, sqlite3_index_info* info) {
        for (int i = 0; i < info->nConstraint; ++i) {
            const auto& c = info->aConstraint[i];
            if (c.iColumn == 3 && c.op == SQLITE_INDEX_CONSTRAINT_EQ && c.usable) {
                info->aConstraintUsage[i].argvIndex = 1;
                info->aConstraintUsage[i].omit = 1;
                info->estimatedCost = 1;
                return SQLITE_OK;
            }
        }
        return SQLITE_CONSTRAINT;
    };
    m.xDisconnect = [](sqlite3_vtab* vtab) {
        delete vtab;
        return SQLITE_OK;
    };
    m.xOpen = [](sqlite3_vtab*, sqlite3_vtab_cursor** cursor) {
        *cursor = new CopyRowsCursor{};
        return SQLITE_OK;
    };
    m.xClose = [](sqlite3_vtab_cursor* cursor) {
        delete static_cast<CopyRowsCursor*>(cursor);
        return SQLITE_OK;
    };
    m.xFilter = [](sqlite3_vtab_cursor* cursor, int, const char*, int argc, sqlite3_value** argv) {
        auto* c = static_cast<CopyRowsCursor*>(cursor);
        void* rows = argc > 0 ? sqlite3_value_pointer(argv[0], kCopyRowsType) : nullptr;
        c->rows = static_cast<const std::vector<CopyRow>*>(rows);
        c->at = 0;
        return SQLITE_OK;
    };
    m.xNext = [](sqlite3_vtab_cursor* cursor) {
        ++static_cast<CopyRowsCursor*>(cursor)->at;
        return SQLITE_OK;
    };
    m.xEof = [](sqlite3_vtab_cursor* cursor) {
        const auto* c = static_cast<CopyRowsCursor*>(cursor);
        return static_cast<int>(!c->rows || c->at >= c->rows->size());
    };
    m.xColumn = [](sqlite3_vtab_cursor* cursor, sqlite3_context* context, int column) {
        const auto* c = static_cast<CopyRowsCursor*>(cursor);
        const CopyRow& row = (*c->rows)[c->at];
        sqlite3_result_int64(context, row[static_cast<std::size_t>(column)]);
        return SQLITE_OK;
    };
    m.xRowid = [](sqlite3_vtab_cursor* cursor, sqlite3_int64* rowid) {
        *rowid = static_cast<sqlite3_int64>(static_cast<CopyRowsCursor*>(cursor)->at);
        return SQLITE_OK;
    };
    return m;
}();

std::size_t sharedBit(std::int64_t key) {
    return static_cast<std::size_t>((static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ull) >> 40);
}

// Entry flags.
constexpr int kFolderEntry = 1;
constexpr int kEmptyEntry = 2;
constexpr int kNotUtf8Entry = 4; // a field holds bytes that are no UTF-8: it is written as text, not as it is

/// Whether `text` is valid UTF-8; runs of ASCII, most of a hit, are passed over eight bytes at a time.
bool isUtf8(std::string_view text) {
    std::size_t i = 0;
    for (std::uint64_t word = 0; i + sizeof word <= text.size(); i += sizeof word) {
        std::memcpy(&word, text.data() + i, sizeof word);
        if ((word & 0x8080808080808080ull) != 0) {
            break;
        }
    }
    while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) {
        ++i;
    }
    return i == text.size() || QUtf8StringView(text.substr(i)).isValidUtf8();
}


/// A failure of SQLite, carried to the public function that called it.
struct SqlError {
    int code;
    QString message;
};

/// Blobs cut short or scrambled pass SQLite's own checks: the index tells them as the damage they are, so
/// that the files answer for what it could not, and the next update builds it anew.
[[noreturn]] void throwDamaged() {
    throw SqlError{SQLITE_CORRUPT, QString::fromUtf8(sqlite3_errstr(SQLITE_CORRUPT))};
}

bool isDamage(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

bool isBusy(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

/// One prepared statement, reset for each use.
class Statement {
public:
    Statement() = default;
    Statement(sqlite3* db, const char* sql) : db_(db) {
        check(sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr));
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(Statement&& other) noexcept : db_(other.db_), stmt_(std::exchange(other.stmt_, nullptr)) {}
    Statement& operator=(Statement&& other) noexcept {
        std::swap(db_, other.db_);
        std::swap(stmt_, other.stmt_);
        return *this;
    }

    Statement& reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
        return *this;
    }
    Statement& bind(int i, std::int64_t value) {
        check(sqlite3_bind_int64(stmt_, i, value));
        return *this;
    }
    Statement& bind(int i, std::string_view text) {
        check(sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
        return *this;
    }
    /// Binds `rows` for copy_rows(?); they must outlive the statement's run.
    Statement& bindCopies(int i, const std::vector<CopyRow>& rows) {
        auto* pointer = const_cast<std::vector<CopyRow>*>(&rows);
        check(sqlite3_bind_pointer(stmt_, i, pointer, kCopyRowsType, nullptr));
        return *this;
    }
    Statement& bindBlob(int i, std::string_view bytes) {
        check(sqlite3_bind_blob(stmt_, i, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT));
        return *this;
    }
    /// Steps once; true when a row is there.
    bool step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc != SQLITE_DONE) {
            const int code = sqlite3_extended_errcode(db_);
            const QString message = QString::fromUtf8(sqlite3_errmsg(db_));
            sqlite3_reset(stmt_);
            throw SqlError{code, message};
        }
        return false;
    }
    void run() {
        step();
        sqlite3_reset(stmt_);
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::string_view text(int column) const {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return {data ? data : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))};
    }
    std::string_view blob(int column) const {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
        return {data ? data : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))};
    }
    QString qtext(int column) const {
        const std::string_view t = text(column);
        return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
    }
    bool isInteger(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_INTEGER; }

private:
    void check(int rc) const {
        if (rc != SQLITE_OK) {
            throw SqlError{sqlite3_extended_errcode(db_), QString::fromUtf8(sqlite3_errmsg(db_))};
        }
    }

    sqlite3* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
};

void exec(sqlite3* db, const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        SqlError failure{sqlite3_extended_errcode(db), QString::fromUtf8(error ? error : sqlite3_errmsg(db))};
        sqlite3_free(error);
        throw failure;
    }
}

/// A varint of 7 bits a byte, low bits first.
void appendVarint(std::uint64_t value, std::string& out) {
    while (value >= 0x80) {
        out += static_cast<char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    out += static_cast<char>(value);
}

std::uint64_t readVarint(std::string_view bytes, std::size_t& pos) {
    std::uint64_t value = 0;
    for (int shift = 0; pos < bytes.size() && shift < 64; shift += 7) {
        const auto byte = static_cast<unsigned char>(bytes[pos++]);
        value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if (byte < 0x80) {
            break;
        }
    }
    return value;
}

/// The identity of an entry across media: its name, size, date and time, hashed (FNV-1a, 64 bits).
std::int64_t entryKey(const CatalogueRow& row) {
    std::uint64_t hash = 14695981039346656037ull;
    const auto add = [&hash](std::string_view text) {
        for (const char c : text) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 1099511628211ull;
        }
        hash ^= 0x1F;
        hash *= 1099511628211ull;
    };
    add(row.name);
    add(row.size);
    add(row.date);
    add(row.time);
    return static_cast<std::int64_t>(hash);
}

/// A size kept as a number when it is one, as its text otherwise, so that it reads back the same.
bool isCanonicalNumber(std::string_view size) {
    if (size.empty() || size.size() > 18 || (size.size() > 1 && size[0] == '0')) {
        return false;
    }
    return std::all_of(size.begin(), size.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void appendBytes(std::string_view bytes, std::string& out) {
    appendVarint(bytes.size(), out);
    out += bytes;
}

std::string_view readBytes(std::string_view blob, std::size_t& pos) {
    const std::uint64_t length = readVarint(blob, pos);
    pos = std::min(pos, blob.size());
    const std::string_view bytes = blob.substr(pos, static_cast<std::size_t>(std::min<std::uint64_t>(length, blob.size() - pos)));
    pos += bytes.size();
    return bytes;
}

/// "yyyy/mm/dd" and "hh:mm:ss" as one number yyyymmddhhmmss; none for any other text.
std::optional<std::uint64_t> packedStamp(std::string_view date, std::string_view time) {
    if (date.size() != 10 || time.size() != 8 || date[4] != '/' || date[7] != '/' || time[2] != ':' ||
        time[5] != ':') {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const std::string_view part : {date.substr(0, 4), date.substr(5, 2), date.substr(8, 2), time.substr(0, 2),
                                        time.substr(3, 2), time.substr(6, 2)}) {
        for (const char c : part) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
        }
    }
    return value;
}

/// One line of a catalogue as the index keeps it.
struct StoredRow {
    std::uint64_t folder = 0; ///< its place in the catalogue's folders
    std::int64_t label = 0;   ///< in the labels table
    int flags = 0;
    std::string size;
    std::string date;
    std::string time;
    std::string_view name;
};

/// Appends a line to a catalogue's rows blob: folder, label, flags, size (a number + 1, or 0 and
/// its text), date and time (yyyymmddhhmmss + 1, or 0 and both texts), name.
void appendRow(const CatalogueRow& row, std::uint64_t folder, std::int64_t label, int flags, std::string& out) {
    appendVarint(folder, out);
    appendVarint(static_cast<std::uint64_t>(label), out);
    appendVarint(static_cast<std::uint64_t>(flags), out);
    if (isCanonicalNumber(row.size)) {
        appendVarint(std::stoull(std::string(row.size)) + 1, out);
    } else {
        appendVarint(0, out);
        appendBytes(row.size, out);
    }
    if (const std::optional<std::uint64_t> stamp = packedStamp(row.date, row.time)) {
        appendVarint(*stamp + 1, out);
    } else {
        appendVarint(0, out);
        appendBytes(row.date, out);
        appendBytes(row.time, out);
    }
    appendBytes(row.name, out);
}

/// Reads the line at `pos` of a rows blob, moving `pos` past it.
void readRow(std::string_view blob, std::size_t& pos, StoredRow& row) {
    row.folder = readVarint(blob, pos);
    row.label = static_cast<std::int64_t>(readVarint(blob, pos));
    row.flags = static_cast<int>(readVarint(blob, pos));
    if (const std::uint64_t size = readVarint(blob, pos); size > 0) {
        row.size = std::to_string(size - 1);
    } else {
        row.size.assign(readBytes(blob, pos));
    }
    if (const std::uint64_t stamp = readVarint(blob, pos); stamp > 0) {
        // yyyymmddhhmmss: its digits from the right, into "yyyy/mm/dd" and "hh:mm:ss".
        std::uint64_t v = stamp - 1;
        row.date.assign("0000/00/00");
        row.time.assign("00:00:00");
        for (const int at : {7, 6, 4, 3, 1, 0}) {
            row.time[static_cast<std::size_t>(at)] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        for (const int at : {9, 8, 6, 5, 3, 2, 1, 0}) {
            row.date[static_cast<std::size_t>(at)] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
    } else {
        row.date.assign(readBytes(blob, pos));
        row.time.assign(readBytes(blob, pos));
    }
    row.name = readBytes(blob, pos);
}

/// Moves `pos` past the line there without decoding it.
void skipRow(std::string_view blob, std::size_t& pos) {
    readVarint(blob, pos);
    readVarint(blob, pos);
    readVarint(blob, pos);
    if (readVarint(blob, pos) == 0) {
        readBytes(blob, pos);
    }
    if (readVarint(blob, pos) == 0) {
        readBytes(blob, pos);
        readBytes(blob, pos);
    }
    readBytes(blob, pos);
}

std::int64_t entryKey(const StoredRow& row) {
    return entryKey(CatalogueRow{{}, {}, row.name, row.size, row.date, row.time, {}});
}

/// The folders of each group of a catalogue's lines. A group's row of `lines` starts with them (how many,
/// then each one's id and path) before its lines, so that a hit reads its folder with its line.
class GroupFolders {
public:
    /// A group's folders as its row holds them, by id; the rest of the row (its lines) in `lines`. False
    /// when the row ends among them.
    static bool read(std::string_view row, std::vector<std::pair<std::uint64_t, std::string_view>>& folders,
                     std::string_view& lines) {
        folders.clear();
        std::size_t pos = 0;
        const std::uint64_t count = readVarint(row, pos);
        for (std::uint64_t k = 0; k < count && pos < row.size(); ++k) {
            const std::uint64_t id = readVarint(row, pos);
            folders.emplace_back(id, readBytes(row, pos));
        }
        lines = row.substr(std::min(pos, row.size()));
        return folders.size() == count;
    }

    /// Starts the next group.
    void startGroup() { starts_.push_back(ids_.size()); }
    /// Notes a line of the current group in the folder `id`.
    void add(std::uint64_t id) {
        if (std::find(ids_.begin() + static_cast<std::ptrdiff_t>(starts_.back()), ids_.end(), id) == ids_.end()) {
            ids_.push_back(id);
        }
    }
    /// Appends the start of the row of the group g: its folders, their paths by id in `paths`.
    void appendHead(std::size_t g, const std::vector<std::string_view>& paths, std::string& out) const {
        const std::size_t end = g + 1 < starts_.size() ? starts_[g + 1] : ids_.size();
        appendVarint(end - starts_[g], out);
        for (std::size_t k = starts_[g]; k < end; ++k) {
            appendVarint(ids_[k], out);
            appendBytes(paths[ids_[k]], out);
        }
    }
    void clear() {
        ids_.clear();
        starts_.clear();
    }

private:
    std::vector<std::uint64_t> ids_;
    std::vector<std::size_t> starts_; ///< where each group's folders start in ids_
};

std::string_view utf8View(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

/// A hit's label, folder, name, size, date and time, hashed: what tells one line of the single copies
/// from another.
std::uint64_t hitFingerprint(std::string_view label, std::string_view folder, std::string_view name,
                             std::string_view size, std::string_view date, std::string_view time) {
    std::string text;
    for (const std::string_view field : {label, folder, name, size, date, time}) {
        appendBytes(field, text);
    }
    return static_cast<std::uint64_t>(entryKey(CatalogueRow{{}, {}, text, {}, {}, {}, {}}));
}

/// The trigram bit of the trigram starting at `gram`.
std::size_t gramBit(const char32_t* gram) {
    std::uint64_t h = (static_cast<std::uint64_t>(gram[0]) * 0x9E3779B97F4A7C15ull) ^
                      (static_cast<std::uint64_t>(gram[1]) * 0xC2B2AE3D27D4EB4Full) ^
                      (static_cast<std::uint64_t>(gram[2]) * 0x165667B19E3779F9ull);
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return static_cast<std::size_t>(h % kGramBits);
}

/// The groups of kGroupNames names that a catalogue of `count` lines has.
std::size_t groupsOf(std::int64_t count) {
    return static_cast<std::size_t>((count + static_cast<std::int64_t>(kGroupNames) - 1) / static_cast<std::int64_t>(kGroupNames));
}

void setBit(char* bytes, std::size_t bit) {
    bytes[bit / 8] = static_cast<char>(bytes[bit / 8] | (1 << (bit % 8)));
}

bool hasBit(std::string_view bytes, std::size_t bit) {
    return (static_cast<unsigned char>(bytes[bit / 8]) >> (bit % 8)) & 1;
}

/// A catalogue of a block, as `blocks` lists it: its id and its number of lines.
struct BlockMember {
    std::int64_t id = 0;
    std::int64_t count = 0;
    std::size_t groups() const { return groupsOf(count); }
};

std::string membersBlob(const std::vector<BlockMember>& members) {
    std::string out;
    for (const BlockMember& m : members) {
        appendVarint(static_cast<std::uint64_t>(m.id), out);
        appendVarint(static_cast<std::uint64_t>(m.count), out);
    }
    return out;
}

/// The members of a block read back; none when the blob ends in the middle of one.
std::optional<std::vector<BlockMember>> readMembers(std::string_view blob) {
    std::vector<BlockMember> members;
    for (std::size_t pos = 0; pos < blob.size();) {
        BlockMember m;
        m.id = static_cast<std::int64_t>(readVarint(blob, pos));
        if (pos >= blob.size()) {
            return std::nullopt;
        }
        const std::uint64_t count = readVarint(blob, pos);
        if (static_cast<unsigned char>(blob[pos - 1]) >= 0x80 || count > (std::uint64_t{1} << 40)) {
            return std::nullopt;
        }
        m.count = static_cast<std::int64_t>(count);
        members.push_back(m);
    }
    return members;
}

/// The number of the name n of a block's catalogue whose groups start at the block's group `start`: the
/// names of a group are numbered apart from the next group's, so that a group's are known without its count.
std::uint64_t nameNumber(std::size_t start, std::uint64_t n) {
    return static_cast<std::uint64_t>(start) * kGroupNames + n;
}

/// The records of a group's folded-names blob: folder, folded name.
class NameRecords {
public:
    explicit NameRecords(std::string_view blob) : blob_(blob) {}
    bool next(std::uint64_t& folder, std::string_view& name) {
        if (pos_ >= blob_.size()) {
            return false;
        }
        folder = readVarint(blob_, pos_);
        name = readBytes(blob_, pos_);
        return true;
    }

private:
    std::string_view blob_;
    std::size_t pos_ = 0;
};

void appendDecoded(std::string_view utf8, std::u32string& out) {
    for (std::size_t pos = 0; pos < utf8.size();) {
        out += decodeUtf8(utf8, pos);
    }
}

/// A part of a trigram bit's list of names in `postings`: how many numbers it holds, then each number as
/// its distance from the one before (the first of the whole list from -1), varints. A long block's
/// lists go on over several parts, the distances from one part to the next.
class PostingList {
public:
    /// Adds the name `number`, larger than any before.
    void add(std::uint64_t number) {
        appendVarint(number + 1 - after_, distances_);
        after_ = number + 1;
        ++count_;
    }
    /// Whether `number` was the last added.
    bool endsWith(std::uint64_t number) const { return after_ == number + 1; }
    std::size_t bytes() const { return distances_.size(); }
    /// The part made of the numbers added since the last one, which starts the next.
    std::string takePart() {
        std::string part;
        appendVarint(count_, part);
        part += distances_;
        distances_.clear();
        count_ = 0;
        return part;
    }

    /// Calls `f` with each number of the part `part` of a list, `after` being one more than the list's
    /// number before the part (0 for its first) and becoming one more than the part's last; throws
    /// damage when the part is cut or a number is not below `limit` or not larger than the one before.
    template <typename F> static void read(std::string_view part, std::uint64_t& after, std::uint64_t limit, F f) {
        if (part.empty()) {
            throwDamaged(); // a part holds at least its count: an empty one was cut, not made
        }
        std::size_t pos = 0;
        const std::uint64_t count = readVarint(part, pos);
        for (std::uint64_t k = 0; k < count; ++k) {
            const std::uint64_t distance = readVarint(part, pos);
            if (distance == 0 || static_cast<unsigned char>(part[pos - 1]) >= 0x80 || distance > limit - after) {
                throwDamaged();
            }
            after += distance;
            f(after - 1);
        }
        if (pos != part.size()) {
            throwDamaged();
        }
    }

private:
    std::string distances_;
    std::uint64_t count_ = 0;
    std::uint64_t after_ = 0;
};

/// The literal runs of a folded pattern: the characters between its wildcards (* ? # and lists),
/// each of which a matching name must hold as it is.
std::vector<std::u32string> literalRuns(std::u32string_view pattern) {
    std::vector<std::u32string> runs(1);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char32_t c = pattern[i];
        if (c == U'*' || c == U'?' || c == U'#') {
            runs.emplace_back();
        } else if (c == U'[') {
            // A list ends the runs that can be trusted: what follows is read as the matcher reads it.
            break;
        } else {
            runs.back() += c;
        }
    }
    std::erase_if(runs, [](const std::u32string& run) { return run.empty(); });
    return runs;
}

/// The absolute form of `path` without "." and ".." steps, as the index keys catalogues: the same
/// file named from another working folder, or by another spelling of its folder, is the same
/// catalogue. (A ".." after a link may name another file by this key; its identity in the stamp
/// tells them apart, so such a file is read again, never taken for the other.)
/// The catalogue files some paths name, each with its state when it was looked at: what an update
/// found, handed to the search of the same paths that follows it, so that a search walks the folders
/// and looks at each file once.
struct FoundFiles : CatalogueFiles {
    QStringList paths;

    static FoundFiles of(const QStringList& paths) {
        PosixFileSystem fileSystem;
        return FoundFiles{findCatalogueFiles(paths, fileSystem), paths};
    }
    /// Tells the problems met to `report`, counting them in `unreadable`.
    template <typename Count, typename Report> void report(Count& unreadable, Report tell) const {
        for (const Failure& problem : problems) {
            ++unreadable;
            tell(problem);
        }
    }
};

/// What the index holds about one catalogue file.
struct Indexed {
    std::int64_t id = 0;
    QString path;
    CatalogueStamp stamp;
    std::int64_t first = 0;
    std::int64_t count = 0;
    int failure = 0;
    QString detail;
    bool operator==(const Indexed&) const = default;
};

/// The catalogues the index `db` holds, in the order of their ids.
std::vector<Indexed> indexedCatalogues(sqlite3* db) {
    std::vector<Indexed> result;
    Statement all(db, "SELECT id, path, size, mtime, inode, device, first, count, failure, detail "
                      "FROM catalogues ORDER BY first, count");
    while (all.step()) {
        Indexed c;
        c.id = all.integer(0);
        c.path = fromNativePath(all.blob(1));
        c.stamp = CatalogueStamp{all.integer(2), all.integer(3), static_cast<std::uint64_t>(all.integer(4)),
                                 static_cast<std::uint64_t>(all.integer(5))};
        c.first = all.integer(6);
        c.count = all.integer(7);
        c.failure = static_cast<int>(all.integer(8));
        c.detail = all.qtext(9);
        result.push_back(std::move(c));
    }
    return result;
}

/// Reads a catalogue as readCatalogueRows does, on a thread of its own from its construction on, while
/// read() hands its lines to `row` on the calling thread: inflating and parsing the file takes longer than
/// folding and storing its lines, and they run side by side; the next catalogue's reader starts with the
/// last one's, so that on two cores both are busy while lines are stored. `keepGoing` is asked on the
/// calling thread, every few milliseconds while it waits for lines. The reader's Failure is thrown on the
/// calling thread. Destroyed before its end, the reader is stopped.
class RowPipeline {
public:
    explicit RowPipeline(const QString& path) : path_(path) {
        try {
            reader_ = std::thread([this] { produce(); });
        } catch (const std::system_error&) {
            // No thread to be had (the user's limit of processes reached): read() reads the file itself.
        }
    }
    ~RowPipeline() { join(); }
    RowPipeline(const RowPipeline&) = delete;
    RowPipeline& operator=(const RowPipeline&) = delete;

    bool read(const std::function<bool(const CatalogueRow&)>& row, const std::function<bool()>& keepGoing) {
        if (!reader_.joinable()) {
            return readCatalogueRows(path_, row, keepGoing, &stamp_);
        }
        Batch batch;
        while (take(batch, keepGoing)) {
            for (std::size_t r = 0; r < batch.rows(); ++r) {
                if (!row(batch.row(r))) {
                    return false;
                }
            }
        }
        if (stopped_) {
            return false;
        }
        join();
        if (error_) {
            std::rethrow_exception(error_);
        }
        return finished_;
    }
    /// The file's state when it was opened, once read() returned true.
    const CatalogueStamp& stamp() const { return stamp_; }

private:
    static constexpr std::size_t kBatchRows = 512;
    static constexpr std::size_t kBatches = 32;
    static constexpr std::size_t kFields = 7;

    /// Lines copied out of the reader: their fields' bytes, one after the other.
    struct Batch {
        std::string bytes;
        std::vector<std::size_t> ends; ///< where each field ends in bytes, kFields a line

        std::size_t rows() const { return ends.size() / kFields; }
        void add(const CatalogueRow& r) {
            for (const std::string_view field : {r.label, r.folder, r.name, r.size, r.date, r.time, r.type}) {
                bytes += field;
                ends.push_back(bytes.size());
            }
        }
        CatalogueRow row(std::size_t r) const {
            std::array<std::string_view, kFields> f;
            std::size_t start = r == 0 ? 0 : ends[r * kFields - 1];
            for (std::size_t k = 0; k < kFields; ++k) {
                f[k] = std::string_view(bytes).substr(start, ends[r * kFields + k] - start);
                start = ends[r * kFields + k];
            }
            return CatalogueRow{f[0], f[1], f[2], f[3], f[4], f[5], f[6]};
        }
    };

    void join() {
        if (!reader_.joinable()) {
            return;
        }
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        space_.notify_all();
        reader_.join();
    }

    void produce() {
        Batch batch;
        const auto give = [&] {
            std::unique_lock lock(mutex_);
            space_.wait(lock, [&] { return stop_ || queue_.size() < kBatches; });
            if (stop_) {
                return false;
            }
            queue_.push_back(std::move(batch));
            // A batch read before is filled again: its buffers have grown to a batch's size.
            batch = Batch{};
            if (!spare_.empty()) {
                batch = std::move(spare_.back());
                spare_.pop_back();
            }
            batch.bytes.clear();
            batch.ends.clear();
            lines_.notify_one();
            return true;
        };
        bool finished = false;
        try {
            finished = readCatalogueRows(
                path_,
                [&](const CatalogueRow& r) {
                    batch.add(r);
                    return batch.rows() < kBatchRows || give();
                },
                [&] {
                    const std::lock_guard lock(mutex_);
                    return !stop_;
                },
                &stamp_);
            finished = finished && (batch.rows() == 0 || give());
        } catch (...) {
            error_ = std::current_exception();
        }
        const std::lock_guard lock(mutex_);
        finished_ = finished;
        done_ = true;
        lines_.notify_one();
    }

    /// The next batch of lines into `batch`; false at the end of them, or when `keepGoing` said stop
    /// (stopped_).
    bool take(Batch& batch, const std::function<bool()>& keepGoing) {
        std::unique_lock lock(mutex_);
        while (queue_.empty() && !done_) {
            if (!lines_.wait_for(lock, std::chrono::milliseconds(5), [&] { return !queue_.empty() || done_; })) {
                lock.unlock();
                const bool going = keepGoing();
                lock.lock();
                if (!going) {
                    stopped_ = true;
                    return false;
                }
            }
        }
        if (queue_.empty()) {
            return false;
        }
        if (!batch.ends.empty()) {
            spare_.push_back(std::move(batch));
        }
        batch = std::move(queue_.front());
        queue_.pop_front();
        space_.notify_one();
        return true;
    }

    std::mutex mutex_;
    std::condition_variable lines_; ///< a batch is there, or the reader is done
    std::condition_variable space_; ///< there is room for a batch, or the reader is to stop
    std::deque<Batch> queue_;
    std::vector<Batch> spare_; ///< batches handed back, to be filled again
    bool stop_ = false;
    bool done_ = false;
    bool finished_ = false;
    bool stopped_ = false;
    std::exception_ptr error_;
    CatalogueStamp stamp_;
    const QString path_;
    std::thread reader_; ///< last: started once the members it uses are there
};

/// Calls a stop callback every kLinesPerYield lines.
class Pacer {
public:
    explicit Pacer(std::function<bool()> keepGoing) : keepGoing_(std::move(keepGoing)) {}
    bool tick() { return (++lines_ % kLinesPerYield) != 0 || keepGoing_(); }
    std::uint64_t lines() const { return lines_; }

private:
    std::function<bool()> keepGoing_;
    std::uint64_t lines_ = 0;
};

} // namespace

struct CatalogueIndex::Impl {
    QString path;
    sqlite3* db = nullptr;
    State state = State::Ready;
    QString problem;
    bool rebuilt = false;
    std::chrono::milliseconds secondThreadAfter{10};
    std::size_t blockBuffer = kBlockBuffer;
    /// What the last update found, for the search of the same paths right after it.
    std::optional<FoundFiles> handed;
    /// The catalogues the last update read when it changed none, with the database's data version then:
    /// the search right after it takes them as they are while no other connection has written since.
    std::optional<std::pair<std::int64_t, std::vector<Indexed>>> handedCatalogues;

    ~Impl() { close(); }

    /// The files `paths` name: those the last update found when it was given the same paths, else
    /// looked for now. What was handed over serves once.
    FoundFiles take(const QStringList& paths) {
        std::optional<FoundFiles> found = std::exchange(handed, std::nullopt);
        if (!found || found->paths != paths) {
            handedCatalogues.reset();
        }
        if (found && found->paths == paths) {
            return std::move(*found);
        }
        return FoundFiles::of(paths);
    }

    void close() {
        if (db) {
            sqlite3_close_v2(db);
            db = nullptr;
        }
    }

    void fail(const SqlError& error) {
        state = isBusy(error.code) ? State::Locked : State::Unavailable;
        problem = error.message;
    }

    void removeFiles() {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
            ::unlink((toNativePath(path) + suffix).c_str());
        }
    }

    void openOnce() {
        if (path != QLatin1String(":memory:")) {
            QDir().mkpath(QFileInfo(path).absolutePath());
        }
        const int rc = sqlite3_open_v2(toNativePath(path).c_str(), &db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            SqlError error{rc, db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc))};
            throw error;
        }
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        // copy_rows, with which settle() inserts the copies it sorted.
        if (sqlite3_create_module_v2(db, "copy_rows", &kCopyRowsModule, nullptr, nullptr) != SQLITE_OK) {
            throw SqlError{sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db))};
        }
        // Pages of 64 KiB (the largest): a search reads long runs of blobs, one read call per page; with
        // the default 4 KiB the calls took most of its time.
        exec(db, "PRAGMA page_size=65536; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
        Statement version(db, "PRAGMA user_version");
        version.step();
        const std::int64_t found = version.integer(0);
        version.reset();
        if (found == kSchemaVersion) {
            // A damaged file shows itself here at the latest, before any answer is taken from it.
            Statement probe(db, "SELECT count(*) FROM catalogues");
            probe.step();
            return;
        }
        Statement tables(db, "SELECT count(*) FROM sqlite_schema");
        tables.step();
        if (tables.integer(0) != 0) {
            version.step(); // another process may have just created it
            if (version.integer(0) == kSchemaVersion) {
                return;
            }
            throw SqlError{SQLITE_SCHEMA, QStringLiteral("index of another version")};
        }
        exec(db, "BEGIN IMMEDIATE");
        try {
            Statement again(db, "SELECT count(*) FROM sqlite_schema");
            again.step();
            if (again.integer(0) == 0) { // another process may have created it meanwhile
                exec(db, kSchema);
                exec(db, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
            }
            again.reset();
            exec(db, "COMMIT");
        } catch (...) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    /// Opens the database if need be and runs `work` against it; a damaged database, or one of another
    /// version, is deleted and `work` runs once more on a new one. False when the index cannot be used
    /// (state and problem say why).
    template <typename Work> bool guarded(Work work) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                if (!db) {
                    openOnce();
                }
                work();
                return true;
            } catch (const SqlError& error) {
                if (db) {
                    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
                }
                if (attempt == 0 && (isDamage(error.code) || error.code == SQLITE_SCHEMA)) {
                    close();
                    removeFiles();
                    // An index of another version is a cache to make again, not damage to report.
                    rebuilt = isDamage(error.code);
                    continue;
                }
                close();
                fail(error);
                return false;
            }
        }
        return false;
    }

    std::vector<Indexed> catalogues() { return indexedCatalogues(db); }

    /// Changes whenever another connection has written to the database (in a transaction: as of its
    /// snapshot).
    std::int64_t dataVersion() {
        Statement version(db, "PRAGMA data_version");
        version.step();
        return version.integer(0);
    }

    /// The catalogues in a read transaction that has read already: those the last update handed over
    /// when nothing was written since, else read now. What was handed over serves once.
    std::vector<Indexed> searchedCatalogues() {
        std::optional<std::pair<std::int64_t, std::vector<Indexed>>> handedOver = std::exchange(handedCatalogues, std::nullopt);
        if (handedOver && handedOver->first == dataVersion()) {
            return std::move(handedOver->second);
        }
        return catalogues();
    }

    /// Takes one catalogue out of the index (inside a transaction).
    void drop(std::int64_t id) {
        Statement row(db, "SELECT first, count FROM catalogues WHERE id = ?");
        row.bind(1, id);
        if (!row.step()) {
            return;
        }
        const std::int64_t first = row.integer(0);
        const std::int64_t count = row.integer(1);
        row.reset();
        // Its copies stay in `copies` and `recent` (their ids are no catalogue's now) until settle() clears
        // them; deleting them one by one here would write pages all over the large table.
        addCounter("dead", count);
        Statement unmoved(db, "DELETE FROM fresh WHERE id >= ? AND id < ?");
        for (std::int64_t part = 0; part < kFreshParts; ++part) {
            unmoved.reset().bind(1, freshRow(part, first)).bind(2, freshRow(part, first + count)).run();
        }
        Statement catalogue(db, "DELETE FROM catalogues WHERE id = ?");
        catalogue.bind(1, id).run();
        for (const char* table : {"DELETE FROM names WHERE id >= ? AND id < ?", "DELETE FROM lines WHERE id >= ? AND id < ?"}) {
            Statement rows(db, table);
            rows.bind(1, groupLinesId(id, 0)).bind(2, groupLinesId(id + 1, 0)).run();
        }
        Statement folders(db, "DELETE FROM folders WHERE id = ?");
        folders.bind(1, id).run();
    }

    /// Writes `bytes`, cut where each group starts, as the rows of the catalogue `id`'s groups.
    void addGroups(std::int64_t id, const char* insert, std::string_view bytes, const std::vector<std::size_t>& starts) {
        Statement add(db, insert);
        for (std::size_t g = 0; g < starts.size(); ++g) {
            const std::size_t end = g + 1 < starts.size() ? starts[g + 1] : bytes.size();
            add.reset().bind(1, groupLinesId(id, static_cast<std::int64_t>(g)));
            add.bindBlob(2, bytes.substr(starts[g], end - starts[g])).run();
        }
    }

    /// The blocks as `catalogues` makes them, by block: their members in the order of their ids.
    std::map<std::int64_t, std::vector<BlockMember>> wantedBlocks() {
        std::map<std::int64_t, std::vector<BlockMember>> members;
        Statement all(db, "SELECT id, count FROM catalogues ORDER BY id");
        while (all.step()) {
            members[all.integer(0) >> kBlockBits].push_back({all.integer(0), all.integer(1)});
        }
        return members;
    }

    /// The blocks as `blocks` lists them.
    std::map<std::int64_t, std::string> storedBlocks() {
        std::map<std::int64_t, std::string> blobs;
        Statement all(db, "SELECT id, members FROM blocks");
        while (all.step()) {
            blobs.emplace(all.integer(0), std::string(all.blob(1)));
        }
        return blobs;
    }

    /// Makes anew the blocks whose catalogues changed since they were made, and takes out those left
    /// without any; nothing is written when none changed.
    void refreshBlocks() {
        // Whether `stored` lists the block as it is made of `members`.
        const auto listed = [](const std::map<std::int64_t, std::string>& stored, std::int64_t block,
                               const std::vector<BlockMember>& members) {
            const auto now = stored.find(block);
            return now != stored.end() && now->second == membersBlob(members);
        };
        {
            const std::map<std::int64_t, std::vector<BlockMember>> wanted = wantedBlocks();
            const std::map<std::int64_t, std::string> stored = storedBlocks();
            if (wanted.size() == stored.size() && std::all_of(wanted.begin(), wanted.end(), [&](const auto& block) {
                    return listed(stored, block.first, block.second);
                })) {
                return;
            }
        }
        exec(db, "BEGIN IMMEDIATE");
        try {
            // Looked at again inside the transaction: another process may have done it meanwhile.
            const std::map<std::int64_t, std::vector<BlockMember>> wanted = wantedBlocks();
            const std::map<std::int64_t, std::string> stored = storedBlocks();
            Statement forget(db, "DELETE FROM blocks WHERE id = ?");
            for (const auto& [block, members] : stored) {
                if (!wanted.contains(block)) {
                    dropPostings(block);
                    forget.reset().bind(1, block).run();
                }
            }
            for (const auto& [block, members] : wanted) {
                if (!listed(stored, block, members)) {
                    writeBlock(block, members);
                }
            }
            exec(db, "COMMIT");
        } catch (const SqlError&) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    void dropPostings(std::int64_t block) {
        Statement rows(db, "DELETE FROM postings WHERE id >= ? AND id < ?");
        rows.bind(1, postingsId(block, 0, 0)).bind(2, postingsId(block + 1, 0, 0)).run();
    }

    /// Writes the block `block` of `members`: its list, and the lists of its names by trigram bit, made from
    /// the members' folded names.
    void writeBlock(std::int64_t block, const std::vector<BlockMember>& members) {
        dropPostings(block);
        Statement list(db, "INSERT OR REPLACE INTO blocks(id, members) VALUES(?, ?)");
        list.bind(1, block).bindBlob(2, membersBlob(members)).run();
        Statement names(db, "SELECT id, folded FROM names WHERE id >= ? AND id < ? ORDER BY id");
        Statement add(db, "INSERT INTO postings(id, names) VALUES(?, ?)");
        std::vector<PostingList> lists(kGramBits);
        std::size_t held = 0;
        std::int64_t part = 0;
        // Every bit has a row in every part, so that a row missing is damage, not a trigram no name has.
        const auto writePart = [&] {
            for (std::size_t bit = 0; bit < kGramBits; ++bit) {
                add.reset().bind(1, postingsId(block, bit, part)).bindBlob(2, lists[bit].takePart()).run();
            }
            ++part;
            held = 0;
        };
        std::u32string folded;
        std::size_t start = 0;
        for (const BlockMember& m : members) {
            names.reset().bind(1, groupLinesId(m.id, 0)).bind(2, groupLinesId(m.id + 1, 0));
            for (std::size_t g = 0; g < m.groups(); ++g) {
                if (!names.step() || names.integer(0) != groupLinesId(m.id, static_cast<std::int64_t>(g))) {
                    throwDamaged();
                }
                NameRecords records(names.blob(1));
                std::uint64_t folder = 0;
                std::string_view name;
                const auto inGroup = static_cast<std::uint64_t>(
                    std::min<std::int64_t>(m.count - static_cast<std::int64_t>(g * kGroupNames), static_cast<std::int64_t>(kGroupNames)));
                for (std::uint64_t k = 0; k < inGroup; ++k) {
                    if (!records.next(folder, name)) {
                        throwDamaged(); // fewer names than the catalogue has lines
                    }
                    const std::uint64_t number = nameNumber(start + g, k);
                    folded.clear();
                    appendDecoded(name, folded);
                    for (std::size_t i = 0; i + kTrigram <= folded.size(); ++i) {
                        PostingList& bitList = lists[gramBit(folded.data() + i)];
                        if (!bitList.endsWith(number)) {
                            held -= bitList.bytes();
                            bitList.add(number);
                            held += bitList.bytes();
                        }
                    }
                }
                if (held >= blockBuffer) {
                    writePart();
                }
            }
            start += m.groups();
        }
        if (part == 0 || held > 0) {
            writePart();
        }
    }

    /// A catalogue's lines as appendRow wrote them, its groups joined.
    std::string storedLines(std::int64_t id) {
        Statement groups(db, "SELECT bytes FROM lines WHERE id >= ? AND id < ? ORDER BY id");
        groups.bind(1, groupLinesId(id, 0)).bind(2, groupLinesId(id + 1, 0));
        std::string lines;
        std::vector<std::pair<std::uint64_t, std::string_view>> folders;
        while (groups.step()) {
            std::string_view rows;
            GroupFolders::read(groups.blob(0), folders, rows);
            lines += rows;
        }
        return lines;
    }

    std::int64_t counter(const char* name) {
        Statement value(db, "SELECT value FROM counters WHERE name = ?");
        value.bind(1, std::string_view(name));
        return value.step() ? value.integer(0) : 0;
    }
    void setCounter(const char* name, std::int64_t value) {
        Statement set(db, "INSERT OR REPLACE INTO counters(name, value) VALUES(?, ?)");
        set.bind(1, std::string_view(name)).bind(2, value).run();
    }
    void addCounter(const char* name, std::int64_t value) { setCounter(name, counter(name) + value); }

    /// The first id of a new catalogue's entries: past every id given before, so that no copy left of a
    /// dropped catalogue is taken for one of the new catalogue's.
    std::int64_t nextId() {
        Statement max(db, "SELECT coalesce(max(first + count), 1) FROM catalogues");
        max.step();
        return std::max(max.integer(0), counter("next"));
    }

    /// Reads one catalogue file into the index from `pipeline` (started on it), replacing what the index
    /// held of it; `readNext` is called as its lines start to be read. Returns false when stopped. A
    /// catalogue that cannot be read is recorded with its failure, then the Failure is thrown on.
    bool indexOne(const QString& file, RowPipeline& pipeline, const std::function<void()>& readNext,
                  IndexProgress& progress, qsizetype done, qsizetype total) {
        exec(db, "BEGIN IMMEDIATE");
        try {
            const std::string native = toNativePath(catalogueKey(file));
            // The catalogue's earlier reading, replaced by this one.
            std::optional<std::int64_t> previous;
            Statement known(db, "SELECT id, size, mtime, inode, device FROM catalogues WHERE path = ?");
            known.bindBlob(1, native);
            const std::optional<CatalogueStamp> now = catalogueStamp(file);
            if (known.step()) {
                const CatalogueStamp stamp{known.integer(1), known.integer(2),
                                           static_cast<std::uint64_t>(known.integer(3)),
                                           static_cast<std::uint64_t>(known.integer(4))};
                const std::int64_t id = known.integer(0);
                known.reset();
                if (now && *now == stamp) { // another process read it meanwhile
                    exec(db, "COMMIT");
                    return true;
                }
                previous = id;
            }
            known.reset();
            const std::int64_t first = nextId();
            Statement findLabel(db, "SELECT id FROM labels WHERE text = ?");
            Statement addLabel(db, "INSERT INTO labels(text) VALUES(?)");
            std::unordered_map<std::string, std::uint64_t> folders;
            std::vector<std::string_view> folderPaths; // by id, the keys of `folders`
            GroupFolders groupFolders;
            std::unordered_map<std::string, std::int64_t> labels;
            std::string folderBlob;
            std::string rows;
            std::vector<std::size_t> groupStarts; // where each group of lines starts in `rows`
            std::string names;
            std::vector<std::size_t> nameStarts; // and of names in `names`
            // (key, id, label) of the files with a size.
            std::vector<CopyRow> copies;
            std::u32string folded;
            std::string foldedUtf8;
            std::int64_t count = 0;
            std::string lastFolder;
            std::uint64_t lastFolderId = 0;
            bool lastFolderUtf8 = true; // looked at once per run of lines in one folder, as is the label
            bool anyFolder = false;
            std::string lastLabel;
            std::int64_t lastLabelId = 0;
            bool lastLabelUtf8 = true;
            bool anyLabel = false;
            Pacer pacer([&] { return progress.reading(file, done, total); });
            const auto row = [&](const CatalogueRow& r) {
                if (!pacer.tick()) {
                    return false;
                }
                if (!anyFolder || r.folder != lastFolder) {
                    lastFolder.assign(r.folder);
                    lastFolderUtf8 = isUtf8(lastFolder);
                    auto [at, added] = folders.try_emplace(lastFolder, folders.size());
                    if (added) {
                        appendBytes(r.folder, folderBlob);
                        folderPaths.push_back(at->first);
                    }
                    lastFolderId = at->second;
                    anyFolder = true;
                }
                if (!anyLabel || r.label != lastLabel) { // a catalogue's lines mostly share one label
                    lastLabel.assign(r.label);
                    lastLabelUtf8 = isUtf8(lastLabel);
                    auto label = labels.find(lastLabel);
                    if (label == labels.end()) {
                        std::int64_t id = 0;
                        findLabel.reset().bind(1, r.label);
                        if (findLabel.step()) {
                            id = findLabel.integer(0);
                            findLabel.reset();
                        } else {
                            addLabel.reset().bind(1, r.label).run();
                            id = sqlite3_last_insert_rowid(db);
                        }
                        label = labels.emplace(lastLabel, id).first;
                    }
                    lastLabelId = label->second;
                    anyLabel = true;
                }
                const std::int64_t id = first + count;
                if (count % static_cast<std::int64_t>(kGroupNames) == 0) {
                    groupStarts.push_back(rows.size());
                    nameStarts.push_back(names.size());
                    groupFolders.startGroup();
                }
                groupFolders.add(lastFolderId);
                const bool utf8 = lastLabelUtf8 && lastFolderUtf8 && isUtf8(r.name) && isUtf8(r.size) &&
                                  isUtf8(r.date) && isUtf8(r.time);
                const int flags = (r.type == "D" ? kFolderEntry : 0) | (r.size == "0" ? kEmptyEntry : 0) |
                                  (utf8 ? 0 : kNotUtf8Entry);
                appendRow(r, lastFolderId, lastLabelId, flags, rows);
                if ((flags & (kFolderEntry | kEmptyEntry)) == 0) {
                    copies.push_back({entryKey(r), id, lastLabelId});
                }
                folded.clear();
                appendSearchFold(r.name, folded);
                foldedUtf8.clear();
                for (const char32_t c : folded) {
                    encodeUtf8(c, foldedUtf8);
                }
                appendVarint(lastFolderId, names);
                appendBytes(foldedUtf8, names);
                ++count;
                return true;
            };
            CatalogueStamp stamp;
            int failure = 0;
            QString detail;
            std::optional<Failure> failed;
            try {
                readNext();
                if (!pipeline.read(row, [&] { return progress.reading(file, done, total); })) {
                    exec(db, "ROLLBACK");
                    return false;
                }
                stamp = pipeline.stamp();
            } catch (const Failure& f) {
                // What was read of it is dropped; the failure is kept until the file changes.
                exec(db, "ROLLBACK");
                if (!now) {
                    throw; // nothing there to remember
                }
                exec(db, "BEGIN IMMEDIATE");
                known.reset().bindBlob(1, native);
                if (known.step()) {
                    const std::int64_t id = known.integer(0);
                    known.reset();
                    drop(id);
                }
                known.reset();
                previous.reset();
                failed = f;
                failure = static_cast<int>(f.code());
                detail = f.detail();
                count = 0;
                folderBlob.clear();
                groupFolders.clear();
                rows.clear();
                groupStarts.clear();
                names.clear();
                nameStarts.clear();
                copies.clear();
                stamp = now.value_or(CatalogueStamp{});
            }
            if (previous) {
                // Read again with the same lines (a file touched, or copied over by the same one): only
                // its state is written, its lines and copies stay as they are.
                Statement folders(db, "SELECT names FROM folders WHERE id = ?");
                folders.bind(1, *previous);
                const bool same = folders.step() && folders.blob(0) == folderBlob && storedLines(*previous) == rows;
                folders.reset();
                if (same) {
                    Statement restamp(db, "UPDATE catalogues SET size = ?, mtime = ?, inode = ?, device = ?, "
                                          "failure = 0, detail = '' WHERE id = ?");
                    restamp.bind(1, stamp.size).bind(2, stamp.mtimeNs).bind(3, static_cast<std::int64_t>(stamp.inode));
                    restamp.bind(4, static_cast<std::int64_t>(stamp.device)).bind(5, *previous).run();
                    exec(db, "COMMIT");
                    return true;
                }
                drop(*previous);
            }
            std::array<std::string, kFreshParts> parts;
            for (const CopyRow& c : copies) {
                const auto part = static_cast<std::size_t>(partOf(c[0]));
                parts[part].append(reinterpret_cast<const char*>(&c), sizeof c);
            }
            Statement copy(db, "INSERT INTO fresh(id, copies) VALUES(?, ?)");
            for (std::int64_t p = 0; p < kFreshParts; ++p) {
                const std::string& part = parts[static_cast<std::size_t>(p)];
                if (!part.empty()) {
                    copy.reset().bind(1, freshRow(p, first)).bindBlob(2, part).run();
                }
            }
            // An id no catalogue had before, not the one just dropped: a block not made anew yet lists
            // a catalogue by its id and number of groups, and must not be taken for this one's.
            Statement lastId(db, "SELECT coalesce(max(id), 0) + 1 FROM catalogues");
            lastId.step();
            const std::int64_t added = std::max(lastId.integer(0), counter("catalogue"));
            Statement add(db, "INSERT INTO catalogues(id, path, size, mtime, inode, device, first, count, failure, "
                              "detail) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
            const QByteArray detailUtf8 = detail.toUtf8();
            add.bind(1, added).bindBlob(2, native).bind(3, stamp.size).bind(4, stamp.mtimeNs);
            add.bind(5, static_cast<std::int64_t>(stamp.inode)).bind(6, static_cast<std::int64_t>(stamp.device));
            add.bind(7, first).bind(8, count).bind(9, failure).bind(10, utf8View(detailUtf8));
            add.run();
            setCounter("catalogue", added + 1);
            Statement addFolders(db, "INSERT INTO folders(id, names) VALUES(?, ?)");
            addFolders.bind(1, added).bindBlob(2, folderBlob).run();
            Statement addLines(db, "INSERT INTO lines(id, bytes) VALUES(?, ?)");
            std::string group;
            for (std::size_t g = 0; g < groupStarts.size(); ++g) {
                const std::size_t end = g + 1 < groupStarts.size() ? groupStarts[g + 1] : rows.size();
                group.clear();
                groupFolders.appendHead(g, folderPaths, group);
                group.append(rows, groupStarts[g], end - groupStarts[g]);
                addLines.reset().bind(1, groupLinesId(added, static_cast<std::int64_t>(g))).bindBlob(2, group).run();
            }
            addGroups(added, "INSERT INTO names(id, folded) VALUES(?, ?)", names, nameStarts);
            // Never back: after a failed read the transaction was begun anew, and another process may
            // have given ids meanwhile.
            setCounter("next", std::max(counter("next"), first + count));
            exec(db, "COMMIT");
            if (failed) {
                throw *failed;
            }
            return true;
        } catch (const SqlError&) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    /// Moves the copies the updates appended to `fresh` into `recent`, or with `recent` into `copies`, in key
    /// order, and clears the copies of dropped catalogues once there are many.
    void settle() {
        Statement counts(db, "SELECT (SELECT coalesce(sum(length(copies)), 0) / 24 FROM fresh), "
                             "(SELECT count(*) FROM recent), "
                             "(SELECT coalesce(sum(count), 0) FROM catalogues)");
        counts.step();
        const std::int64_t moving = counts.integer(0);
        const std::int64_t recent = counts.integer(1);
        const std::int64_t held = counts.integer(2);
        counts.reset();
        const std::int64_t dead = counter("dead");
        const bool clear = dead > 0 && dead * 8 >= held;
        if (moving == 0 && !clear) {
            return;
        }
        exec(db, "BEGIN IMMEDIATE");
        if (clear) {
            clearDeadCopies();
        }
        if (moving > 0) {
            const bool merge = moving + recent >= std::min(kRecentCopies, held / 16);
            moveFreshCopies(moving, held, merge);
        }
        exec(db, "COMMIT");
    }

    /// Deletes the copies whose ids no catalogue holds, in one pass over each table.
    void clearDeadCopies() {
        std::vector<std::pair<std::int64_t, std::int64_t>> live; // first, end
        for (const Indexed& c : catalogues()) {
            live.emplace_back(c.first, c.first + c.count);
        }
        const auto dead = [](sqlite3_context* context, int, sqlite3_value** args) {
            const auto& ranges = *static_cast<const std::vector<std::pair<std::int64_t, std::int64_t>>*>(
                sqlite3_user_data(context));
            const std::int64_t id = sqlite3_value_int64(args[0]);
            auto at = std::upper_bound(ranges.begin(), ranges.end(), std::pair{id, INT64_MAX});
            sqlite3_result_int(context, at == ranges.begin() || id >= std::prev(at)->second);
        };
        const auto check = [this](int rc) {
            if (rc != SQLITE_OK) {
                throw SqlError{sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db))};
            }
        };
        check(sqlite3_create_function_v2(db, "dead_copy", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, &live, dead,
                                         nullptr, nullptr, nullptr));
        const std::unique_ptr<sqlite3, void (*)(sqlite3*)> unregister(db, [](sqlite3* db) {
            sqlite3_create_function_v2(db, "dead_copy", 1, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr, nullptr);
        });
        exec(db, "DELETE FROM copies WHERE dead_copy(id); DELETE FROM recent WHERE dead_copy(id)");
        setCounter("dead", 0);
    }

    /// Moves the `moving` copies of `fresh` into `recent`, or with `merge` together with those of `recent`
    /// into `copies`, and brings the set of shared keys up to date (inside a transaction).
    void moveFreshCopies(std::int64_t moving, std::int64_t held, bool merge) {
        std::string bits;
        Statement current(db, "SELECT bits FROM shared ORDER BY id");
        while (current.step()) {
            bits += current.blob(0);
        }
        current.reset();
        const std::string stored = bits;
        const bool anew = bits.size() != kSharedBits / 8 || (merge && moving * 8 >= held);
        const auto mark = [&bits](std::int64_t key) { setBit(bits.data(), sharedBit(key)); };
        if (!merge) {
            // Into the small table; each key moved may be shared, without looking its copies up.
            std::vector<CopyRow> moved;
            for (std::int64_t p = 0; p < kFreshParts; ++p) {
                freshCopies(p, INT64_MIN, INT64_MAX, moved);
            }
            std::sort(moved.begin(), moved.end());
            Statement insert(db, "INSERT INTO recent(key, id, label) SELECT * FROM copy_rows(?)");
            insert.bindCopies(1, moved).run();
            if (!anew) {
                for (const CopyRow& c : moved) {
                    mark(c[0]);
                }
            }
        }
        std::vector<std::int64_t> movedKeys;
        if (merge) {
            mergeCopies(anew ? nullptr : &movedKeys);
        }
        if (merge && !anew) {
            // Few copies: each key moved is looked up now that its copies are in.
            Statement copiesOf(db, "SELECT count(*) FROM (SELECT 1 FROM copies WHERE key = ? LIMIT 2)");
            std::sort(movedKeys.begin(), movedKeys.end());
            movedKeys.erase(std::unique(movedKeys.begin(), movedKeys.end()), movedKeys.end());
            for (const std::int64_t key : movedKeys) {
                copiesOf.reset().bind(1, key);
                if (copiesOf.step() && copiesOf.integer(0) > 1) {
                    mark(key);
                }
            }
        } else if (anew) {
            // Many: the set is made anew from all the copies, in key order.
            bits.assign(kSharedBits / 8, '\0');
            Statement all(db, "SELECT key FROM copies UNION ALL SELECT key FROM recent ORDER BY key");
            bool first = true;
            std::int64_t last = 0;
            while (all.step()) {
                const std::int64_t key = all.integer(0);
                if (!first && key == last) {
                    mark(key);
                }
                first = false;
                last = key;
            }
        }
        Statement store(db, "INSERT OR REPLACE INTO shared(id, bits) VALUES(?, ?)");
        for (std::size_t at = 0; at < bits.size(); at += kSharedPiece) {
            // Only the pieces that changed are written.
            if (stored.size() == bits.size() && stored.compare(at, kSharedPiece, bits, at, kSharedPiece) == 0) {
                continue;
            }
            store.reset()
                .bind(1, static_cast<std::int64_t>(at / kSharedPiece))
                .bindBlob(2, std::string_view(bits).substr(at, kSharedPiece))
                .run();
        }
        exec(db, "DELETE FROM fresh");
    }

    /// Appends the copies in `fresh` of the range `part` whose keys are from `least` to `most` to `out`.
    void freshCopies(std::int64_t part, std::int64_t least, std::int64_t most, std::vector<CopyRow>& out) {
        Statement blobs(db, "SELECT copies FROM fresh WHERE id >= ? AND id < ?");
        blobs.bind(1, freshRow(part, 0)).bind(2, freshRow(part + 1, 0));
        while (blobs.step()) {
            const std::string_view bytes = blobs.blob(0);
            for (std::size_t at = 0; at + sizeof(CopyRow) <= bytes.size(); at += sizeof(CopyRow)) {
                CopyRow c;
                std::memcpy(c.data(), bytes.data() + at, sizeof c);
                if (c[0] >= least && c[0] <= most) {
                    out.push_back(c);
                }
            }
        }
    }

    /// Inserts the copies of `fresh` and `recent` into `copies` in key order, at most kSortedInMemory sorted
    /// at a time, and empties `recent`. The keys of `fresh` go to `keys` when it is given.
    void mergeCopies(std::vector<std::int64_t>* keys) {
        Statement size(db, "SELECT coalesce(sum(length(copies)), 0) FROM fresh WHERE id >= ? AND id < ?");
        Statement recent(db, "SELECT key, id, label FROM recent"); // in key order
        Statement insert(db, "INSERT INTO copies(key, id, label) SELECT key, id, label FROM copy_rows(?)");
        std::vector<CopyRow> copies;
        bool more = recent.step();
        constexpr std::uint64_t partWidth = std::uint64_t{1} << (64 - kFreshPartBits);
        // The key at `offset` from the least.
        const auto key = [](std::uint64_t offset) {
            return static_cast<std::int64_t>(offset ^ (std::uint64_t{1} << 63));
        };
        for (std::int64_t p = 0; p < kFreshParts; ++p) {
            size.reset().bind(1, freshRow(p, 0)).bind(2, freshRow(p + 1, 0));
            size.step();
            const auto count = static_cast<std::uint64_t>(size.integer(0)) / sizeof(CopyRow);
            const std::uint64_t pieces =
                std::max<std::uint64_t>(1, (count + kSortedInMemory - 1) / kSortedInMemory);
            const std::uint64_t start = static_cast<std::uint64_t>(p) * partWidth;
            for (std::uint64_t piece = 0; piece < pieces; ++piece) {
                const std::uint64_t least = start + piece * (partWidth / pieces);
                const std::uint64_t most =
                    piece + 1 == pieces ? start + (partWidth - 1) : least + partWidth / pieces - 1;
                copies.clear();
                freshCopies(p, key(least), key(most), copies);
                if (keys) {
                    for (const CopyRow& c : copies) {
                        keys->push_back(c[0]);
                    }
                }
                for (; more && recent.integer(0) <= key(most); more = recent.step()) {
                    copies.push_back({recent.integer(0), recent.integer(1), recent.integer(2)});
                }
                std::sort(copies.begin(), copies.end());
                insert.reset().bindCopies(1, copies).run();
            }
        }
        recent.reset();
        exec(db, "DELETE FROM recent");
    }

    IndexUpdate update(const QStringList& paths, IndexProgress& progress) {
        IndexUpdate result;
        handed.reset();
        handedCatalogues.reset();
        FoundFiles found = FoundFiles::of(paths);
        found.report(result.unreadable, [&](const Failure& problem) { progress.unreadable(problem); });
        const QStringList& files = found.files;
        const bool usable = guarded([&] {
            exec(db, kUpdateCache);
            // Before the catalogues: a write between the two makes the search read them again.
            const std::int64_t version = dataVersion();
            std::vector<Indexed> known = catalogues();
            // The files found are there; any other catalogue indexed is looked at to see if it is gone.
            std::unordered_map<QString, std::size_t> present;
            for (qsizetype i = 0; i < files.size(); ++i) {
                if (found.stamps[static_cast<std::size_t>(i)]) {
                    present.emplace(found.keys[static_cast<std::size_t>(i)], static_cast<std::size_t>(i));
                }
            }
            // Only the catalogues beneath these paths are looked at: one elsewhere (another library, a
            // medium not mounted, a network folder that hangs) waits for a search of its own folder.
            std::vector<std::pair<QString, QString>> roots; // a path's key, and that key as a folder
            for (const QString& path : paths) {
                const QString key = catalogueKey(path);
                roots.emplace_back(key, key.endsWith(QLatin1Char('/')) ? key : key + QLatin1Char('/'));
            }
            const auto beneath = [&roots](const QString& path) {
                return std::any_of(roots.begin(), roots.end(), [&path](const auto& root) {
                    return path == root.first || path.startsWith(root.second);
                });
            };
            std::unordered_map<QString, CatalogueStamp> stamps;
            std::vector<std::int64_t> gone;
            for (const Indexed& c : known) {
                if (!present.contains(c.path) && beneath(c.path) && !catalogueStamp(c.path) && errno == ENOENT) {
                    gone.push_back(c.id);
                } else {
                    stamps.emplace(c.path, c.stamp);
                }
            }
            if (!gone.empty()) {
                exec(db, "BEGIN IMMEDIATE");
                for (const std::int64_t id : gone) {
                    drop(id);
                }
                exec(db, "COMMIT");
                result.dropped += static_cast<qsizetype>(gone.size());
            }
            const qsizetype total = files.size();
            const auto stale = [&](qsizetype i) {
                const auto stamp = stamps.find(found.keys[static_cast<std::size_t>(i)]);
                const std::optional<CatalogueStamp>& now = found.stamps[static_cast<std::size_t>(i)];
                return stamp == stamps.end() || !now || *now != stamp->second;
            };
            // The reader of the next file to read, started with the last one's.
            std::unique_ptr<RowPipeline> ahead;
            qsizetype aheadOf = -1;
            const auto readAhead = [&](qsizetype after) {
                for (qsizetype next = after + 1; next < total; ++next) {
                    if (stale(next)) {
                        ahead = std::make_unique<RowPipeline>(files[next]);
                        aheadOf = next;
                        return;
                    }
                }
            };
            for (qsizetype i = 0; i < total; ++i) {
                const QString& file = files[i];
                if (!progress.reading(file, i, total)) {
                    result.stopped = true;
                    return;
                }
                if (!stale(i)) {
                    continue;
                }
                try {
                    std::unique_ptr<RowPipeline> pipeline =
                        aheadOf == i ? std::move(ahead) : std::make_unique<RowPipeline>(file);
                    if (!indexOne(file, *pipeline, [&] { readAhead(i); }, progress, i, total)) {
                        result.stopped = true;
                        return;
                    }
                    ++result.read;
                } catch (const Failure& failure) {
                    ++result.read;
                    ++result.unreadable;
                    progress.unreadable(failure);
                }
            }
            if (result.read == 0 && result.dropped == 0) {
                handedCatalogues.emplace(version, std::move(known));
            }
        });
        if (usable) {
            guarded([&] {
                settle();
                refreshBlocks();
                // The update's large cache is given back when it wrote; otherwise the pages it read (the
                // catalogues table) serve the search that follows.
                if (result.read > 0 || result.dropped > 0) {
                    sqlite3_db_release_memory(db);
                }
            });
        }
        if (!result.stopped) {
            handed = std::move(found);
        }
        return result;
    }
};

namespace {

/// The catalogues a search reads from the index, found by the ids of their entries.
class Selection {
public:
    Selection(std::vector<Indexed> all, const FoundFiles& files, SearchSink& sink, SearchSummary& summary,
              QStringList& direct)
        : all_(std::move(all)), selected_(all_.size(), false), shown_(all_.size()) {
        std::unordered_map<QString, std::size_t> byPath;
        for (std::size_t i = 0; i < all_.size(); ++i) {
            byPath.emplace(all_[i].path, i);
        }
        for (qsizetype f = 0; f < files.files.size(); ++f) {
            const QString& file = files.files[f];
            const auto found = byPath.find(files.keys[static_cast<std::size_t>(f)]);
            const std::optional<CatalogueStamp>& now = files.stamps[static_cast<std::size_t>(f)];
            if (found == byPath.end() || !now || *now != all_[found->second].stamp || selected_[found->second]) {
                if (found == byPath.end() || !selected_[found->second]) {
                    direct.append(file);
                }
                continue;
            }
            const Indexed& c = all_[found->second];
            if (c.failure != 0) {
                ++summary.unreadable;
                sink.unreadable(Failure(static_cast<FailureCode>(c.failure), file, c.detail));
                continue;
            }
            selected_[found->second] = true;
            shown_[found->second] = file;
            ++count_;
        }
    }

    const std::vector<Indexed>& all() const { return all_; }
    bool selected(std::size_t i) const { return selected_[i]; }
    /// The catalogue `i` as the caller named it.
    const QString& shown(std::size_t i) const { return shown_[i]; }
    bool everything() const { return count_ == all_.size(); }
    /// The catalogue holding the entry `id`, as an index into all(); all().size() when none does.
    std::size_t catalogueOf(std::int64_t id) const {
        auto at = std::upper_bound(all_.begin(), all_.end(), id,
                                   [](std::int64_t value, const Indexed& c) { return value < c.first; });
        if (at == all_.begin()) {
            return all_.size();
        }
        --at;
        return id < at->first + at->count ? static_cast<std::size_t>(at - all_.begin()) : all_.size();
    }
    bool holds(std::int64_t id) const {
        const std::size_t i = catalogueOf(id);
        return i < all_.size() && selected_[i];
    }
    /// Whether a copy of the entry `id` is one of the selected catalogues' (not one of a dropped catalogue).
    bool holdsCopy(std::int64_t id) const { return (everything() && !deadCopies) || holds(id); }

    /// Whether the index may hold copies of dropped catalogues.
    bool deadCopies = true;

private:
    std::vector<Indexed> all_;
    std::vector<bool> selected_;
    std::vector<QString> shown_;
    std::size_t count_ = 0;
};

/// Reads entries back from the index as hits, a catalogue's lines decoded once.
class HitReader {
public:
    HitReader(sqlite3* db, const Selection& selection)
        : lines_(db, "SELECT bytes FROM lines WHERE id = ?"),
          label_(db, "SELECT text FROM labels WHERE id = ?"), media_(db, "SELECT label, id FROM copies WHERE key = ?1 UNION ALL SELECT label, id FROM recent WHERE key = ?1"),
          shared_(db, "SELECT bits FROM shared WHERE id = ?"), selection_(selection),
          pieces_(kSharedBits / 8 / kSharedPiece) {}

    /// Loads the entry `id` of the catalogue all()[catalogue]; false when the index holds none.
    bool load(std::size_t catalogue, std::int64_t id) {
        const Indexed& c = selection_.all()[catalogue];
        const std::int64_t n = id - c.first;
        if (n < 0 || n >= c.count) {
            return false;
        }
        if (catalogue != loaded_) {
            loaded_ = catalogue;
            loadedGroup_ = -1;
        }
        // Only the group of lines that holds the entry is read.
        const std::int64_t group = n / static_cast<std::int64_t>(kGroupNames);
        if (group != loadedGroup_) {
            loadedGroup_ = group;
            // The row stays on its statement until the next group is read: its bytes are not copied.
            lines_.reset().bind(1, groupLinesId(c.id, group));
            if (!lines_.step() || !GroupFolders::read(lines_.blob(0), groupFolders_, rows_)) {
                rows_ = {};
            }
            next_ = 0;
            nextAt_ = 0;
        }
        // Entries are mostly asked for in order: the rows are read on from the last one.
        const auto k = static_cast<std::size_t>(n % static_cast<std::int64_t>(kGroupNames));
        if (k < next_) {
            next_ = 0;
            nextAt_ = 0;
        }
        for (; next_ < k && nextAt_ < rows_.size(); ++next_) {
            skipRow(rows_, nextAt_);
        }
        if (nextAt_ >= rows_.size()) {
            return false;
        }
        readRow(rows_, nextAt_, row_);
        ++next_;
        const auto folder = std::find_if(groupFolders_.begin(), groupFolders_.end(),
                                         [this](const auto& f) { return f.first == row_.folder; });
        if (folder == groupFolders_.end()) {
            return false;
        }
        folder_ = folder->second;
        return true;
    }
    std::string_view name() const { return row_.name; }
    std::string_view folder() const { return folder_; }
    int flags() const { return row_.flags; }
    /// The loaded entry's folder, name, size, date and time, as one text.
    /// The loaded entry's hitFingerprint.
    std::uint64_t fingerprint() {
        return hitFingerprint(labelText(row_.label), folder(), name(), row_.size, row_.date, row_.time);
    }
    std::string identity() const {
        std::string text;
        for (const std::string_view field : {folder(), name(), std::string_view(row_.size),
                                             std::string_view(row_.date), std::string_view(row_.time)}) {
            appendBytes(field, text);
        }
        return text;
    }

    enum class Media { Counted, One, Left };
    /// Gives the loaded entry to `sink` as a hit of `catalogue`, with its media Counted (a folder or
    /// an empty file: 0, not counted), One, or Left out (0).
    void give(SearchSink& sink, const QString& catalogue, Media media) {
        int count = 0;
        if (media == Media::One) {
            count = 1;
        } else if (media == Media::Counted && (row_.flags & (kFolderEntry | kEmptyEntry)) == 0) {
            count = mediaOf(entryKey(row_));
        }
        sink.hitBytes({labelText(row_.label), folder(), row_.name, row_.size, row_.date, row_.time, catalogue, count,
                       (row_.flags & kNotUtf8Entry) == 0});
    }

private:
    std::string_view labelText(std::int64_t id) {
        auto found = labels_.find(id);
        if (found == labels_.end()) {
            label_.reset().bind(1, id);
            found = labels_.emplace(id, label_.step() ? std::string(label_.text(0)) : std::string()).first;
            label_.reset();
        }
        return found->second;
    }

    int mediaOf(std::int64_t key) {
        if (const std::size_t bit = sharedBit(key); !mayBeShared(bit)) {
            return 1; // one copy: this one
        }
        seen_.clear();
        media_.reset().bind(1, key);
        while (media_.step()) {
            if (selection_.holdsCopy(media_.integer(1))) {
                const std::int64_t label = media_.integer(0);
                if (std::find(seen_.begin(), seen_.end(), label) == seen_.end()) {
                    seen_.push_back(label);
                }
            }
        }
        media_.reset();
        return static_cast<int>(seen_.size());
    }

    /// Whether the set of shared keys holds `bit` (true when the index has no such set).
    bool mayBeShared(std::size_t bit) {
        std::string& piece = pieces_[bit / 8 / kSharedPiece];
        if (piece.empty()) {
            shared_.reset().bind(1, static_cast<std::int64_t>(bit / 8 / kSharedPiece));
            piece = shared_.step() && shared_.blob(0).size() == kSharedPiece ? std::string(shared_.blob(0)) : "-";
            shared_.reset();
        }
        if (piece.size() != kSharedPiece) {
            return true;
        }
        return hasBit(piece, bit % (kSharedPiece * 8));
    }

    Statement lines_;
    Statement label_;
    Statement media_;
    Statement shared_;
    const Selection& selection_;
    std::size_t loaded_ = static_cast<std::size_t>(-1);
    std::int64_t loadedGroup_ = -1;
    std::vector<std::pair<std::uint64_t, std::string_view>> groupFolders_; ///< the loaded group's, by id
    std::string_view folder_;
    std::string_view rows_; ///< the loaded group's lines, as lines_ holds them
    std::size_t next_ = 0;   ///< the row of the loaded group that starts at nextAt_
    std::size_t nextAt_ = 0;
    StoredRow row_;
    std::unordered_map<std::int64_t, std::string> labels_;
    std::vector<std::int64_t> seen_;
    std::vector<std::string> pieces_; ///< the pieces of the set of shared keys read so far
};

/// The longest literal run of a search pattern, folded.
std::u32string longestRun(const QString& pattern) {
    const std::vector<std::u32string> runs = literalRuns(foldForSearch(pattern));
    std::u32string longest;
    for (const std::u32string& run : runs) {
        if (run.size() > longest.size()) {
            longest = run;
        }
    }
    return longest;
}

/// Searches catalogues of a selection in the index: when the pattern has a literal run of three characters
/// or more, the names whose trigram bits hold all of its trigrams' are read from their lines, folded and
/// matched; otherwise all the folded names are scanned, and only those holding the run matched.
class IndexedSearch {
public:
    IndexedSearch(sqlite3* db, const Selection& selection, const SearchQuery& query)
        : selection_(selection), query_(query), pattern_(query.pattern), reader_(db, selection),
          blockMembers_(db, "SELECT members FROM blocks WHERE id = ?"),
          postings_(db, "SELECT id, names FROM postings WHERE id >= ? AND id < ? ORDER BY id"),
          listBytes_(db, "SELECT sum(length(names)) FROM postings WHERE id >= ? AND id < ?"),
          allNames_(db, "SELECT id, folded FROM names WHERE id >= ? AND id < ? ORDER BY id"),
          folders_(db, "SELECT names FROM folders WHERE id = ?") {
        longest_ = longestRun(query.pattern);
        if (!query.matchPath) {
            for (std::size_t k = 0; k + kTrigram <= longest_.size(); ++k) {
                bits_.push_back(gramBit(longest_.data() + k));
            }
            std::sort(bits_.begin(), bits_.end());
            bits_.erase(std::unique(bits_.begin(), bits_.end()), bits_.end());
        }
        // A name holds the pattern's longest run as it is, byte for byte in UTF-8: names without it are
        // passed over before they are decoded.
        for (const char32_t c : longest_) {
            encodeUtf8(c, needle_);
        }
        plainName_ = !query.matchPath && pattern_.isPlainText();
    }

    /// Gives the hits of the catalogue all()[i] to `sink`; false when the sink said stop.
    bool search(std::size_t i, SearchSink& sink) {
        sink_ = &sink;
        const Indexed& c = selection_.all()[i];
        if (!keepGoing(selection_.shown(i))) {
            return false;
        }
        if (query_.matchPath) {
            readFolderPrefixes(c.id);
        }
        const bool going = scanCatalogue(i);
        allNames_.reset();
        return going && giveMatches(i);
    }
    /// The lines looked at so far.
    std::uint64_t rows() const { return rows_; }

private:
    bool keepGoing(const QString& catalogue) { return sink_->keepGoing(catalogue, rows_); }

    /// The folded paths of the folders of the catalogue `id`, each the prefix of its names.
    void readFolderPrefixes(std::int64_t id) {
        folderPrefixes_.clear();
        folders_.reset().bind(1, id);
        if (folders_.step()) {
            const std::string_view blob = folders_.blob(0);
            for (std::size_t pos = 0; pos < blob.size();) {
                folderPrefixes_.emplace_back();
                appendSearchFold(joinPathBytes(std::string(readBytes(blob, pos)), {}), folderPrefixes_.back());
            }
        }
        folders_.reset();
    }

    /// Collects the matches of the catalogue all()[i], or the candidates that giveMatches confirms
    /// (confirm_); false when stopped.
    bool scanCatalogue(std::size_t i) {
        const Indexed& c = selection_.all()[i];
        matches_.clear();
        confirm_ = false;
        const std::size_t groups = groupsOf(c.count);
        if (groups == 0) {
            return true;
        }
        if (bits_.empty() || !findCandidates(c, groups)) {
            allNames_.reset().bind(1, groupLinesId(c.id, 0)).bind(2, groupLinesId(c.id + 1, 0));
            for (std::size_t g = 0; g < groups; ++g) {
                if (!allNames_.step() || allNames_.integer(0) != groupLinesId(c.id, static_cast<std::int64_t>(g))) {
                    throwDamaged(); // a group of lines without its names
                }
                if (!scanGroup(i, g, allNames_.blob(1))) {
                    return false;
                }
            }
            return true;
        }
        // Few names pass the lists but the pattern's: each is read from its line, which a hit reads anyway,
        // and folded there, rather than from its group's folded names.
        confirm_ = true;
        return true;
    }

    /// A block of catalogues read for this search: its members, where the groups of each start among
    /// the block's, and the numbers of its names whose trigram bits hold all of the pattern's.
    struct Block {
        std::vector<BlockMember> members;
        std::vector<std::size_t> starts;
        std::vector<std::uint64_t> names;
    };

    /// The block `id`, read when first asked for (the last one asked for is kept); none when the index
    /// has no list of it.
    const Block* block(std::int64_t id) {
        if (id == blockId_) {
            return block_ ? &*block_ : nullptr;
        }
        blockId_ = id;
        block_.reset();
        blockMembers_.reset().bind(1, id);
        std::optional<std::vector<BlockMember>> members;
        if (blockMembers_.step()) {
            members = readMembers(blockMembers_.blob(0));
            if (!members) {
                throwDamaged();
            }
        }
        blockMembers_.reset();
        if (!members) {
            return nullptr;
        }
        Block& b = block_.emplace();
        b.members = std::move(*members);
        std::size_t total = 0;
        for (const BlockMember& m : b.members) {
            b.starts.push_back(total);
            total += m.groups();
        }
        // The names in the lists of the pattern's bits, shortest first, each list merged with those before
        // as it is read. A list much longer than the names left is not read: each name left costs the
        // reading of its line, and decoding the list would cost more than the lines it could spare.
        std::vector<std::pair<std::int64_t, std::size_t>> lists; // bytes, bit
        for (const std::size_t bit : bits_) {
            listBytes_.reset().bind(1, postingsId(id, bit, 0)).bind(2, postingsId(id, bit + 1, 0));
            lists.emplace_back(listBytes_.step() ? listBytes_.integer(0) : 0, bit);
        }
        listBytes_.reset();
        std::sort(lists.begin(), lists.end());
        std::vector<std::uint64_t> kept;
        for (std::size_t k = 0; k < lists.size(); ++k) {
            if (k > 0 && static_cast<std::uint64_t>(lists[k].first) > b.names.size() * kListBytesPerName) {
                break;
            }
            const std::size_t bit = lists[k].second;
            kept.clear();
            std::size_t at = 0;
            const auto keep = [&](std::uint64_t number) {
                if (k == 0) {
                    kept.push_back(number);
                    return;
                }
                while (at < b.names.size() && b.names[at] < number) {
                    ++at;
                }
                if (at < b.names.size() && b.names[at] == number) {
                    kept.push_back(number);
                }
            };
            std::uint64_t after = 0;
            std::int64_t part = 0;
            postings_.reset().bind(1, postingsId(id, bit, 0)).bind(2, postingsId(id, bit + 1, 0));
            for (; postings_.step(); ++part) {
                if (postings_.integer(0) != postingsId(id, bit, part)) {
                    throwDamaged();
                }
                PostingList::read(postings_.blob(1), after, nameNumber(total, 0), keep);
            }
            if (part == 0) {
                throwDamaged(); // every bit has a list, empty or not
            }
            b.names.swap(kept);
        }
        postings_.reset();
        return &b;
    }

    /// matches_: the entries of the catalogue `c` of `groups` groups whose names' trigram bits hold all of the
    /// pattern's, from its block; false when the block does not list it as it is (another process changed
    /// catalogues and has not made their blocks anew yet): then every name is looked at.
    bool findCandidates(const Indexed& c, std::size_t groups) {
        const Block* b = block(c.id >> kBlockBits);
        for (std::size_t k = 0; b && k < b->members.size(); ++k) {
            if (b->members[k].id == c.id && b->members[k].count == c.count) {
                const std::uint64_t first = nameNumber(b->starts[k], 0);
                auto at = std::lower_bound(b->names.begin(), b->names.end(), first);
                const auto end = std::lower_bound(at, b->names.end(), nameNumber(b->starts[k] + groups, 0));
                for (; at != end; ++at) {
                    const auto n = static_cast<std::int64_t>(*at - first);
                    if (n >= c.count) {
                        throwDamaged(); // a name after the catalogue's last
                    }
                    matches_.push_back(c.first + n);
                }
                return true;
            }
        }
        return false;
    }

    /// Scans the names of the group g of the catalogue all()[i], in `blob`; false when stopped.
    bool scanGroup(std::size_t i, std::size_t g, std::string_view blob) {
        const Indexed& c = selection_.all()[i];
        NameRecords records(blob);
        const auto from = static_cast<std::int64_t>(g * kGroupNames);
        const std::int64_t to = std::min<std::int64_t>(c.count, from + static_cast<std::int64_t>(kGroupNames));
        std::uint64_t folder = 0;
        std::string_view name;
        std::int64_t n = from;
        for (; n < to && records.next(folder, name); ++n) {
            if (++rows_ % kLinesPerYield == 0 && !keepGoing(selection_.shown(i))) {
                return false;
            }
            if (!query_.matchPath && name.find(needle_) == std::string_view::npos) {
                continue;
            }
            if (plainName_) {
                matches_.push_back(c.first + n); // the pattern is the needle: nothing more to look at
                continue;
            }
            folded_.clear();
            if (query_.matchPath && folder < folderPrefixes_.size()) {
                folded_ = folderPrefixes_[folder];
            }
            appendDecoded(name, folded_);
            if (pattern_.matchesFolded(folded_)) {
                matches_.push_back(c.first + n);
            }
        }
        if (n < to) {
            throwDamaged(); // fewer names than the catalogue has lines
        }
        return true;
    }

    /// Whether the name `name` of a line, folded, holds the longest run and matches the pattern.
    bool nameMatches(std::string_view name) {
        ++rows_;
        folded_.clear();
        appendSearchFold(name, folded_);
        return folded_.find(longest_) != std::u32string::npos && (plainName_ || pattern_.matchesFolded(folded_));
    }

    /// Gives the matches of the catalogue all()[i] to the sink; false when it said stop.
    bool giveMatches(std::size_t i) {
        std::uint64_t given = 0;
        for (const std::int64_t id : matches_) {
            // A catalogue of many hits is not handed on to its end after a stop.
            if (++given % kLinesPerYield == 0 && !keepGoing(selection_.shown(i))) {
                return false;
            }
            if (!reader_.load(i, id)) {
                throwDamaged(); // a line the names have and the lines have not
            }
            if (confirm_ && !nameMatches(reader_.name())) {
                continue;
            }
            reader_.give(*sink_, selection_.shown(i),
                         query_.countMedia ? HitReader::Media::Counted : HitReader::Media::Left);
        }
        return true;
    }

    const Selection& selection_;
    const SearchQuery& query_;
    SearchSink* sink_ = nullptr;
    std::uint64_t rows_ = 0;
    const SearchPattern pattern_;
    std::u32string longest_;        ///< the pattern's longest literal run, folded
    std::vector<std::size_t> bits_; ///< its trigram bits, none when paths are matched
    std::string needle_;            ///< the longest run in UTF-8
    bool plainName_ = false;        ///< names are matched and the pattern is plain text: the needle
    HitReader reader_;
    Statement blockMembers_;
    Statement postings_;
    Statement listBytes_;
    std::int64_t blockId_ = -1;
    std::optional<Block> block_;
    Statement allNames_;
    Statement folders_;
    std::vector<std::u32string> folderPrefixes_;
    std::vector<std::int64_t> matches_;
    bool confirm_ = false; ///< matches_ holds candidates, each to be matched by its line
    std::u32string folded_;
};

/// Searches the selected catalogues of an index on the calling thread and, when the index opens a
/// second time at the same state, on a second thread too; the hits reach the sink in catalogue order,
/// on the calling thread, as one search would give them.
///
/// Each thread takes the next catalogue nobody has taken. The calling thread gives the hits of the
/// catalogue whose turn it is straight to the sink; the hits of a catalogue searched ahead of its turn
/// are kept as bytes until then, a few MiB at most: the second thread waits when it has that much
/// waiting, and the calling thread, when it has, gives the catalogues before its own first. The second
/// thread starts once the search has run for a while (CatalogueIndex::setSecondThreadAfter): a search
/// that ends sooner, or whose reader has enough before, goes faster alone (with two threads, each page
/// fault and each unmapping of memory costs both processors).
class OrderedSearch {
public:
    OrderedSearch(sqlite3* db, const QString& databasePath, const Selection& selection, const SearchQuery& query,
                  SearchSink& sink, SearchSummary& summary, std::chrono::milliseconds helpAfter)
        : selection_(selection), query_(query), sink_(sink), summary_(summary), here_(db, selection, query),
          helpAfter_(helpAfter) {
        for (std::size_t i = 0; i < selection.all().size(); ++i) {
            if (selection.selected(i)) {
                order_.push_back(i);
            }
        }
        batches_.resize(order_.size());
        // Only a search that counts no media: the other thread's copies tables could be of a later state
        // than this one's, while its catalogues are the same.
        if (order_.size() > 1 && !query.countMedia && databasePath != QLatin1String(":memory:")) {
            helperPath_ = toNativePath(databasePath);
        }
    }
    ~OrderedSearch() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (helper_.joinable()) {
            helper_.join();
        }
    }

    /// Gives every selected catalogue's hits to the sink; throws SqlError when the index fails.
    void run() {
        const auto started = std::chrono::steady_clock::now();
        while (turn_ < order_.size() && !summary_.stopped) {
            if (!helperPath_.empty() && std::chrono::steady_clock::now() - started >= helpAfter_) {
                startHelper();
            }
            std::unique_lock lock(mutex_);
            if (batches_[turn_].by == By::Nobody) {
                claim(turn_);
                lock.unlock();
                searchHere(turn_);
            } else if (!deliver(lock)) {
                if (next_ < order_.size()) {
                    const std::size_t at = next_;
                    claim(at);
                    lock.unlock();
                    searchHere(at);
                } else {
                    changed_.wait(lock);
                }
            }
        }
        summary_.rows += here_.rows();
    }

    /// Where the search stands: all()[first] is the first catalogue whose hits did not all reach the
    /// sink, and `given` of them did.
    std::pair<std::size_t, std::uint64_t> progress() const {
        return {turn_ < order_.size() ? order_[turn_] : selection_.all().size(), given_};
    }

private:
    static constexpr std::size_t kWaiting = std::size_t{8} << 20; ///< bytes of hits kept before their turn
    static constexpr std::size_t kPiece = std::size_t{1} << 16;  ///< bytes handed over at once

    void startHelper() {
        try {
            helper_ = std::thread([this, path = std::move(helperPath_)] { helpWith(path); });
        } catch (const std::system_error&) {
            // No thread to be had (the user's limit of processes reached): this one searches alone.
        }
        helperPath_.clear();
    }

    enum class By { Nobody, Here, Helper };
    /// The hits of a catalogue searched ahead of its turn.
    struct Batch {
        By by = By::Nobody;
        // A list, not a deque: an empty deque already holds memory, and a search has a batch per catalogue.
        std::list<std::string> pieces; ///< hits not given yet
        bool done = false;   ///< searched to its end, or stopped, or failed
        std::exception_ptr failure;
        std::uint64_t rows = 0;
    };

    /// Records hits as bytes: fields with their lengths, then the media count and whether they are UTF-8.
    class Recorder final : public SearchSink {
    public:
        Recorder(OrderedSearch& search, std::size_t at, bool helper) : search_(search), at_(at), helper_(helper) {}
        void hit(const SearchHit&) override {} // the index gives bytes only
        void hitBytes(const SearchHitBytes& hit) override {
            if (!helper_ && search_.turn_ == at_) {
                search_.give(hit); // its turn came while it was searched
                return;
            }
            for (const std::string_view field : {hit.label, hit.folder, hit.name, hit.size, hit.date, hit.time}) {
                appendVarint(field.size(), bytes);
                bytes += field;
            }
            appendVarint(static_cast<std::uint64_t>(hit.media), bytes);
            bytes += hit.utf8 ? '\1' : '\0';
            if (helper_ && bytes.size() >= kPiece) {
                search_.handOver(at_, bytes);
            } else if (!helper_ && bytes.size() >= kWaiting) {
                search_.catchUp(at_, bytes); // from now on its hits go straight to the sink
            }
        }
        void unreadable(const Failure&) override {}
        bool keepGoing(const QString& catalogue, std::uint64_t rowsRead) override {
            if (!helper_) {
                return search_.keepGoing(catalogue, rowsRead);
            }
            search_.handOver(at_, bytes);
            const std::lock_guard lock(search_.mutex_);
            return !search_.stop_;
        }
        std::string bytes;

    private:
        OrderedSearch& search_;
        std::size_t at_;
        bool helper_;
    };

    void claim(std::size_t at) {
        batches_[at].by = By::Here;
        next_ = std::max(next_, at + 1);
    }

    bool keepGoing(const QString& catalogue, std::uint64_t rowsRead) {
        if (!sink_.keepGoing(catalogue, rowsRead)) {
            summary_.stopped = true;
        }
        return !summary_.stopped;
    }

    void give(const SearchHitBytes& hit) {
        if (summary_.stopped) {
            return; // the hits kept before the stop were left: none after them, or the answer has a hole
        }
        sink_.hitBytes(hit);
        ++summary_.hits;
        ++given_;
    }

    /// Searches the catalogue order_[at] on this thread.
    void searchHere(std::size_t at) {
        Recorder recorder(*this, at, false);
        const std::uint64_t rowsBefore = here_.rows();
        const bool going = here_.search(order_[at], recorder);
        if (!going) {
            summary_.stopped = true;
            return;
        }
        if (turn_ == at) {
            ++summary_.catalogues;
            ++turn_;
            given_ = 0;
            changed_.notify_all();
            return;
        }
        const std::lock_guard lock(mutex_);
        Batch& batch = batches_[at];
        batch.pieces.push_back(std::move(recorder.bytes));
        batch.rows = here_.rows() - rowsBefore;
        batch.done = true;
    }

    /// Gives what the batch whose turn it is holds; false when there was nothing to give yet.
    bool deliver(std::unique_lock<std::mutex>& lock) {
        Batch& batch = batches_[turn_];
        if (!batch.pieces.empty()) {
            const std::string bytes = std::move(batch.pieces.front());
            batch.pieces.pop_front();
            if (batch.by == By::Helper) {
                helperBytes_ -= bytes.size();
                changed_.notify_all();
            }
            lock.unlock();
            replay(bytes);
            return true;
        }
        if (!batch.done) {
            return false;
        }
        if (batch.failure) {
            std::rethrow_exception(batch.failure);
        }
        if (batch.by == By::Helper) {
            summary_.rows += batch.rows; // this thread's own are counted at the end
        }
        ++summary_.catalogues;
        ++turn_;
        given_ = 0;
        changed_.notify_all();
        return true;
    }

    /// Gives the catalogues before order_[at], then the hits of it kept in `bytes`.
    void catchUp(std::size_t at, std::string& bytes) {
        while (turn_ < at && !summary_.stopped) {
            std::unique_lock lock(mutex_);
            if (!deliver(lock)) {
                changed_.wait(lock);
            }
        }
        replay(std::exchange(bytes, std::string()));
    }

    void replay(std::string_view bytes) {
        const QString& catalogue = selection_.shown(order_[turn_]);
        std::array<std::string_view, 6> f;
        for (std::size_t pos = 0; pos < bytes.size() && !summary_.stopped;) {
            for (std::string_view& field : f) {
                field = readBytes(bytes, pos);
            }
            const int media = static_cast<int>(readVarint(bytes, pos));
            const bool utf8 = pos < bytes.size() && bytes[pos++] != '\0';
            give({f[0], f[1], f[2], f[3], f[4], f[5], catalogue, media, utf8});
            if (given_ % kLinesPerYield == 0) {
                keepGoing(catalogue, summary_.rows);
            }
        }
    }

    /// Whether `db` holds the selection's catalogues: the same ids with the same entries. A catalogue's
    /// entries never change under its ids (one read again gets new ones), so the ids tell the lines,
    /// without reading the paths.
    bool sameCatalogues(sqlite3* db) const {
        Statement rows(db, "SELECT id, first, count FROM catalogues ORDER BY first, count");
        for (const Indexed& c : selection_.all()) {
            if (!rows.step() || rows.integer(0) != c.id || rows.integer(1) != c.first || rows.integer(2) != c.count) {
                return false;
            }
        }
        return !rows.step();
    }

    /// The second thread's part: the catalogues it takes, searched on a connection of its own.
    void helpWith(const std::string& path) {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
            sqlite3_close_v2(db);
            return;
        }
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        try {
            exec(db, kReadSearch);
            if (sameCatalogues(db)) {
                IndexedSearch there(db, selection_, query_);
                while (helpOnce(there)) {
                }
            }
        } catch (const SqlError&) {
            // Not a second time: this thread's part falls to the calling thread.
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close_v2(db);
    }

    /// Searches the next catalogue nobody has taken; false when there is none, or when to stop.
    bool helpOnce(IndexedSearch& there) {
        std::size_t at = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || next_ >= order_.size() || helperBytes_ < kWaiting; });
            if (stop_ || next_ >= order_.size()) {
                return false;
            }
            at = next_++;
            batches_[at].by = By::Helper;
        }
        Recorder recorder(*this, at, true);
        const std::uint64_t rowsBefore = there.rows();
        bool going = false;
        std::exception_ptr failure;
        try {
            going = there.search(order_[at], recorder);
        } catch (...) {
            failure = std::current_exception();
        }
        handOver(at, recorder.bytes);
        const std::lock_guard lock(mutex_);
        Batch& batch = batches_[at];
        batch.done = true;
        batch.failure = failure;
        batch.rows = there.rows() - rowsBefore;
        changed_.notify_all();
        return going && !failure;
    }

    /// Hands the second thread's hits of order_[at] to the calling thread; waits while too many are kept
    /// (the calling thread gives them all in turn without waiting for this one).
    void handOver(std::size_t at, std::string& bytes) {
        std::unique_lock lock(mutex_);
        if (!bytes.empty()) {
            helperBytes_ += bytes.size();
            batches_[at].pieces.push_back(std::exchange(bytes, std::string()));
            bytes.reserve(kPiece + kPiece / 4);
            changed_.notify_all();
        }
        changed_.wait(lock, [&] { return stop_ || helperBytes_ < kWaiting; });
    }

    const Selection& selection_;
    const SearchQuery& query_;
    SearchSink& sink_;
    SearchSummary& summary_;
    IndexedSearch here_;
    std::vector<std::size_t> order_; ///< the selected catalogues, as indexes into all()
    std::vector<Batch> batches_;     ///< in that order
    std::size_t turn_ = 0;    ///< whose hits go to the sink now (used on the calling thread only)
    std::uint64_t given_ = 0; ///< hits of that one given
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;        ///< the first catalogue nobody has taken
    std::size_t helperBytes_ = 0; ///< bytes of the second thread's hits not given yet
    bool stop_ = false;
    const std::chrono::milliseconds helpAfter_;
    std::string helperPath_; ///< the index, while a second thread may search it and has not started
    std::thread helper_;
};

/// Passes a report of single copies on to `sink`, less the hits and failures it was given before
/// (`given`: their hitFingerprint, sorted).
class NotGivenSink final : public SearchSink {
public:
    NotGivenSink(SearchSink& sink, const std::vector<std::uint64_t>& given, bool named)
        : sink_(sink), given_(given), named_(named) {}
    void hit(const SearchHit& hit) override { sink_.hit(hit); }
    void hitBytes(const SearchHitBytes& hit) override {
        if (std::binary_search(given_.begin(), given_.end(),
                               hitFingerprint(hit.label, hit.folder, hit.name, hit.size, hit.date, hit.time))) {
            ++skipped;
        } else {
            sink_.hitBytes(hit);
        }
    }
    void unreadable(const Failure& failure) override {
        if (!named_) {
            sink_.unreadable(failure);
        }
    }
    bool keepGoing(const QString& catalogue, std::uint64_t rowsRead) override {
        return sink_.keepGoing(catalogue, rowsRead);
    }
    std::uint64_t skipped = 0;

private:
    SearchSink& sink_;
    const std::vector<std::uint64_t>& given_;
    bool named_; ///< whether the catalogues that cannot be read were named before
};

/// Passes a search of one catalogue on to `sink`, less its first `skip` hits (given before).
class SkippingSink final : public SearchSink {
public:
    SkippingSink(SearchSink& sink, std::uint64_t skip) : sink_(sink), skip_(skip) {}
    void hit(const SearchHit& hit) override {
        if (skip_ > 0) {
            --skip_;
        } else {
            sink_.hit(hit);
        }
    }
    void unreadable(const Failure& failure) override { sink_.unreadable(failure); }
    bool keepGoing(const QString& catalogue, std::uint64_t rowsRead) override {
        return sink_.keepGoing(catalogue, rowsRead);
    }
    std::uint64_t skipped(std::uint64_t skip) const { return skip - skip_; }

private:
    SearchSink& sink_;
    std::uint64_t skip_;
};

/// Reads catalogues into the index for the report of single copies: stopping that stops the report.
class ReadingForReport : public IndexProgress {
public:
    explicit ReadingForReport(SearchSink& sink) : sink_(sink) {}
    bool reading(const QString& catalogue, qsizetype, qsizetype) override { return sink_.keepGoing(catalogue, 0); }
    void unreadable(const Failure&) override {} // named by the report, from the index

private:
    SearchSink& sink_;
};

/// The files among `files` whose catalogue is not in the index as it is now.
QStringList staleFiles(const std::vector<Indexed>& catalogues, const QStringList& files) {
    QStringList stale;
    std::unordered_map<QString, CatalogueStamp> indexed;
    for (const Indexed& c : catalogues) {
        indexed.emplace(c.path, c.stamp);
    }
    for (const QString& file : files) {
        const auto found = indexed.find(catalogueKey(file));
        const std::optional<CatalogueStamp> now = catalogueStamp(file);
        if (now && (found == indexed.end() || *now != found->second)) {
            stale.append(file);
        }
    }
    return stale;
}

/// The entries of the selected catalogues held by one medium, in order of id: a group of entries of one
/// identity whose selected lines all carry one label.
struct SingleCopies {
    std::vector<std::int64_t> ids;
    /// Those of them whose group has several lines: the same file may be there once per catalogue of
    /// its medium.
    std::unordered_set<std::int64_t> repeated;
};

/// The single copies of the selected catalogues; none when stopped.
std::optional<SingleCopies> singleCopyIds(sqlite3* db, const Selection& selection, SearchSink& sink,
                                          SearchSummary& summary) {
    SingleCopies singles;
    std::vector<std::int64_t> group;
    std::int64_t key = 0;
    std::int64_t label = 0;
    bool oneLabel = true;
    const auto endGroup = [&] {
        if (oneLabel) {
            singles.ids.insert(singles.ids.end(), group.begin(), group.end());
            if (group.size() > 1) {
                singles.repeated.insert(group.begin(), group.end());
            }
        }
        group.clear();
        oneLabel = true;
    };
    Statement byKey(db, "SELECT key, label, id FROM copies UNION ALL SELECT key, label, id FROM recent ORDER BY key");
    while (byKey.step()) {
        const std::int64_t id = byKey.integer(2);
        if (++summary.rows % kLinesPerYield == 0 && !sink.keepGoing(QString(), summary.rows)) {
            summary.stopped = true;
            return std::nullopt;
        }
        if (!selection.holdsCopy(id)) {
            continue;
        }
        if (!group.empty() && byKey.integer(0) != key) {
            endGroup();
        }
        if (group.empty()) {
            key = byKey.integer(0);
            label = byKey.integer(1);
        } else if (byKey.integer(1) != label) {
            oneLabel = false;
        }
        group.push_back(id);
    }
    endGroup();
    std::sort(singles.ids.begin(), singles.ids.end());
    return singles;
}

/// Gives the files among `singles` to `sink` as hits on one medium, a file that several catalogues of
/// its medium list (the same folder, name, size, date and time) once; counts the selected catalogues.
/// `fingerprints` receives the hitFingerprint of each hit given.
void giveSingleCopies(sqlite3* db, const Selection& selection, const SingleCopies& singles, SearchSink& sink,
                      SearchSummary& summary, std::vector<std::uint64_t>& fingerprints) {
    const std::vector<Indexed>& all = selection.all();
    HitReader reader(db, selection);
    std::unordered_set<std::string> given;
    for (const std::int64_t id : singles.ids) {
        const std::size_t catalogue = selection.catalogueOf(id);
        if (catalogue >= all.size() || !reader.load(catalogue, id) ||
            (reader.flags() & (kFolderEntry | kEmptyEntry)) != 0) {
            continue;
        }
        if (singles.repeated.contains(id) && !given.insert(reader.identity()).second) {
            continue;
        }
        reader.give(sink, selection.shown(catalogue), HitReader::Media::One);
        ++summary.hits;
        fingerprints.push_back(reader.fingerprint());
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
        summary.catalogues += selection.selected(i) ? 1 : 0;
    }
}

} // namespace

CatalogueIndex::CatalogueIndex(const QString& databasePath) : d_(std::make_unique<Impl>()) {
    d_->path = databasePath;
    d_->guarded([] {});
}

CatalogueIndex::~CatalogueIndex() = default;

QString CatalogueIndex::defaultPath() {
    // The window's cache folder (CacheLocation of the application "Kartoma"), named so that the command
    // line, which sets no application name, finds the same file.
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/Kartoma/index.sqlite");
}

CatalogueIndex::State CatalogueIndex::state() const {
    return d_->state;
}

QString CatalogueIndex::problem() const {
    return d_->problem;
}

void CatalogueIndex::setSecondThreadAfter(std::chrono::milliseconds delay) {
    d_->secondThreadAfter = delay;
}

void CatalogueIndex::setBlockBuffer(std::size_t bytes) {
    d_->blockBuffer = bytes;
}

bool CatalogueIndex::rebuilt() const {
    return d_->rebuilt;
}

SearchSummary CatalogueIndex::search(const QStringList& paths, const SearchQuery& query, SearchSink& sink) {
    SearchSummary summary;
    // The files as the update before found them, when it was given the same paths.
    const FoundFiles found = d_->take(paths);
    found.report(summary.unreadable, [&](const Failure& problem) { sink.unreadable(problem); });
    const QStringList& files = found.files;
    QStringList direct;
    // A catalogue the index stopped answering in the middle of, and how many of its hits it gave.
    std::optional<std::pair<QString, std::uint64_t>> partly;
    std::optional<Selection> selection;
    // One read transaction for the whole search: one snapshot, and no lock taken and released per lookup.
    if (!d_->guarded([&] {
            exec(d_->db, kReadSearch);
            const bool deadCopies = d_->counter("dead") > 0; // the first read: the snapshot starts here
            selection.emplace(d_->searchedCatalogues(), found, sink, summary, direct);
            selection->deadCopies = deadCopies;
        })) {
        direct = files;
    } else {
        std::optional<OrderedSearch> searching;
        try {
            searching.emplace(d_->db, d_->path, *selection, query, sink, summary, d_->secondThreadAfter);
            searching->run();
            searching.reset();
            exec(d_->db, "COMMIT");
        } catch (const SqlError& error) {
            const auto [from, given] =
                searching ? searching->progress() : std::pair<std::size_t, std::uint64_t>{0, 0};
            searching.reset();
            sqlite3_exec(d_->db, "ROLLBACK", nullptr, nullptr, nullptr);
            // Damaged or taken away in the middle: what it answered stands, the catalogues it had not
            // answered for are read from their files, and the next update rebuilds it.
            d_->fail(error);
            if (isDamage(error.code)) {
                d_->close();
                d_->removeFiles();
                d_->rebuilt = true;
            }
            for (std::size_t i = from; i < selection->all().size(); ++i) {
                if (!selection->selected(i)) {
                    continue;
                }
                if (i == from && given > 0) {
                    partly.emplace(selection->shown(i), given);
                } else {
                    direct.append(selection->shown(i));
                }
            }
        }
    }
    if (partly && !summary.stopped) {
        SkippingSink rest(sink, partly->second);
        const SearchSummary part = searchCatalogues({partly->first}, query, rest);
        summary.hits += part.hits - rest.skipped(partly->second);
        summary.catalogues += part.catalogues;
        summary.unreadable += part.unreadable;
        summary.rows += part.rows;
        summary.stopped = part.stopped;
    }
    if (!summary.stopped && !direct.isEmpty()) {
        // Read from the files: new catalogues, changed ones, or all of them when the index is unusable.
        const SearchSummary rest = searchCatalogues(direct, query, sink);
        summary.hits += rest.hits;
        summary.catalogues += rest.catalogues;
        summary.unreadable += rest.unreadable;
        summary.rows += rest.rows;
        summary.stopped = rest.stopped;
    }
    return summary;
}

namespace {

/// Finishes, in an index kept in memory, a report of single copies that the index could not finish:
/// without the lines `given` already (their fingerprints), naming the catalogues only when they were
/// not `named` yet.
void finishInMemory(const QStringList& paths, SearchSink& sink, std::vector<std::uint64_t>& given, bool named,
                    SearchSummary& summary) {
    std::sort(given.begin(), given.end());
    NotGivenSink rest(sink, given, named);
    CatalogueIndex memory(QStringLiteral(":memory:"));
    const SearchSummary more = memory.singleCopies(paths, rest);
    summary.hits += more.hits - rest.skipped;
    summary.catalogues = more.catalogues;
    summary.unreadable = named ? summary.unreadable : more.unreadable;
    summary.rows += more.rows;
    summary.stopped = more.stopped;
}

} // namespace

SearchSummary CatalogueIndex::singleCopies(const QStringList& paths, SearchSink& sink) {
    // The catalogues are read into the index first; stopping that stops the report.
    ReadingForReport reading(sink);
    const IndexUpdate updated = update(paths, reading);
    if (updated.stopped) {
        SearchSummary summary;
        summary.stopped = true;
        return summary;
    }
    if (d_->state != State::Ready && d_->path != QLatin1String(":memory:")) {
        // The index is unusable: the report is made in a private one in memory.
        CatalogueIndex memory(QStringLiteral(":memory:"));
        return memory.singleCopies(paths, sink);
    }
    SearchSummary summary;
    FoundFiles found = d_->take(paths);
    found.report(summary.unreadable, [&](const Failure& problem) { sink.unreadable(problem); });
    const QStringList& files = found.files;
    // A catalogue that changed while the others were read is read again, a few times at most: the
    // report needs every catalogue in the index, it cannot take some from the files.
    for (int round = 0; round < 3; ++round) {
        QStringList stale;
        d_->guarded([&] { stale = staleFiles(d_->catalogues(), files); });
        if (stale.isEmpty()) {
            break;
        }
        if (update(stale, reading).stopped) {
            summary.stopped = true;
            return summary;
        }
    }
    // The hits given, so that a report the index cannot finish (damaged in the middle) is finished in
    // memory without them.
    std::vector<std::uint64_t> given;
    bool named = false;
    const auto report = [&] {
        if (!d_->db) {
            throw SqlError{SQLITE_CANTOPEN, d_->problem};
        }
        // One read transaction (one snapshot, no lock taken per lookup), ended however the report ends.
        exec(d_->db, kReadSearch);
        const std::unique_ptr<sqlite3, void (*)(sqlite3*)> reading(
            d_->db, [](sqlite3* db) { sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr); });
        QStringList changed;
        for (qsizetype f = 0; f < files.size(); ++f) {
            found.stamps[static_cast<std::size_t>(f)] = catalogueStamp(files[f]);
        }
        Selection selection(d_->catalogues(), found, sink, summary, changed);
        selection.deadCopies = d_->counter("dead") > 0;
        // One still changing after that is named, not left out in silence.
        for (const QString& file : changed) {
            if (catalogueStamp(file)) {
                ++summary.unreadable;
                sink.unreadable(Failure(FailureCode::CatalogueUnreadable, file, systemErrorText(EBUSY)));
            }
        }
        named = true;
        if (const auto singles = singleCopyIds(d_->db, selection, sink, summary)) {
            giveSingleCopies(d_->db, selection, *singles, sink, summary, given);
        }
    };
    try {
        report();
    } catch (const SqlError& error) {
        d_->fail(error);
        d_->close();
        if (d_->path == QLatin1String(":memory:")) {
            return summary;
        }
        if (isDamage(error.code)) {
            d_->removeFiles();
            d_->rebuilt = true;
        }
        finishInMemory(paths, sink, given, named, summary);
    }
    return summary;
}

IndexUpdate CatalogueIndex::update(const QStringList& paths, IndexProgress& progress) {
    d_->state = State::Ready;
    d_->problem.clear();
    return d_->update(paths, progress);
}

} // namespace kartoma
