#include "CatalogueIndex.h"

#include "Failure.h"
#include "NativePath.h"
#include "FileSystem.h"
#include "SearchPattern.h"
#include "Utf8.h"
#include "Walk.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <unistd.h>

namespace kartoma {

namespace {

// Raised when the database format changes: an older index is then built anew.
constexpr int kSchemaVersion = 1;
// How long a write waits for another process's transaction before the index is bypassed.
constexpr int kBusyTimeoutMs = 1000;
// Lines between two calls of a progress or stop callback.
constexpr std::uint64_t kLinesPerYield = 2048;
// A run of the pattern this long or longer is looked up by its trigrams.
constexpr std::size_t kTrigram = 3;

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
    folderFirst INTEGER NOT NULL,
    folderCount INTEGER NOT NULL,
    failure INTEGER NOT NULL,
    detail TEXT NOT NULL,
    names BLOB NOT NULL);
CREATE TABLE labels(id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE);
CREATE TABLE folders(id INTEGER PRIMARY KEY, path TEXT NOT NULL);
CREATE TABLE entries(
    id INTEGER PRIMARY KEY,
    folder INTEGER NOT NULL,
    label INTEGER NOT NULL,
    key INTEGER NOT NULL,
    flags INTEGER NOT NULL,
    name TEXT NOT NULL,
    size,
    date TEXT NOT NULL,
    time TEXT NOT NULL);
CREATE INDEX entries_key ON entries(key, label);
CREATE VIRTUAL TABLE names USING fts5(name, content='', detail=none, columnsize=0,
                                      tokenize='trigram case_sensitive 1');
)sql";

// Entry flags.
constexpr int kFolderEntry = 1;
constexpr int kEmptyEntry = 2;

/// A failure of SQLite, carried to the public function that called it.
struct SqlError {
    int code;
    QString message;
};

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

std::string_view utf8View(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

/// The FTS5 query that asks for every trigram of `run` (folded characters).
std::string trigramQuery(std::u32string_view run) {
    std::string query;
    std::unordered_set<std::u32string_view> seen;
    for (std::size_t i = 0; i + kTrigram <= run.size(); ++i) {
        const std::u32string_view gram = run.substr(i, kTrigram);
        if (!seen.insert(gram).second) {
            continue;
        }
        if (!query.empty()) {
            query += " AND ";
        }
        query += '"';
        for (const char32_t c : gram) {
            if (c == U'"') {
                query += "\"\"";
            } else {
                encodeUtf8(c, query);
            }
        }
        query += '"';
    }
    return query;
}

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

/// What the index holds about one catalogue file.
struct Indexed {
    std::int64_t id = 0;
    QString path;
    CatalogueStamp stamp;
    std::int64_t first = 0;
    std::int64_t count = 0;
    std::int64_t folderFirst = 0;
    std::int64_t folderCount = 0;
    int failure = 0;
    QString detail;
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

    ~Impl() { close(); }

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

    /// Opens the database, building it anew when it is damaged or of another version.
    bool open() {
        if (db) {
            return true;
        }
        state = State::Ready;
        problem.clear();
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                openOnce();
                return true;
            } catch (const SqlError& error) {
                close();
                if (attempt == 0 && (isDamage(error.code) || error.code == SQLITE_SCHEMA)) {
                    removeFiles();
                    rebuilt = true;
                    continue;
                }
                fail(error);
                return false;
            }
        }
        return false;
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
        exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-16384;");
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
            throw SqlError{SQLITE_SCHEMA, QStringLiteral("index of another version")};
        }
        exec(db, "BEGIN IMMEDIATE");
        try {
            Statement again(db, "SELECT count(*) FROM sqlite_schema");
            again.step();
            if (again.integer(0) == 0) { // another process may have created it meanwhile
                exec(db, kSchema);
                exec(db, "PRAGMA user_version=1");
            }
            again.reset();
            exec(db, "COMMIT");
        } catch (...) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    /// Runs `work` against the database; a damaged database is deleted and `work` runs once more on a
    /// new one. False when the index cannot be used (state and problem say why).
    template <typename Work> bool guarded(Work work) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!open()) {
                return false;
            }
            try {
                work();
                return true;
            } catch (const SqlError& error) {
                if (db) {
                    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
                }
                if (attempt == 0 && isDamage(error.code)) {
                    close();
                    removeFiles();
                    rebuilt = true;
                    continue;
                }
                fail(error);
                return false;
            }
        }
        return false;
    }

    std::vector<Indexed> catalogues() {
        std::vector<Indexed> result;
        Statement all(db, "SELECT id, path, size, mtime, inode, device, first, count, folderFirst, folderCount, "
                          "failure, detail FROM catalogues ORDER BY first");
        while (all.step()) {
            Indexed c;
            c.id = all.integer(0);
            c.path = fromNativePath(all.blob(1));
            c.stamp = CatalogueStamp{all.integer(2), all.integer(3), static_cast<std::uint64_t>(all.integer(4)),
                                     static_cast<std::uint64_t>(all.integer(5))};
            c.first = all.integer(6);
            c.count = all.integer(7);
            c.folderFirst = all.integer(8);
            c.folderCount = all.integer(9);
            c.failure = static_cast<int>(all.integer(10));
            c.detail = all.qtext(11);
            result.push_back(std::move(c));
        }
        return result;
    }

    /// Takes one catalogue out of the index (inside a transaction).
    void drop(std::int64_t id) {
        Statement row(db, "SELECT first, count, folderFirst, folderCount, names FROM catalogues WHERE id = ?");
        row.bind(1, id);
        if (!row.step()) {
            return;
        }
        const std::int64_t first = row.integer(0);
        const std::int64_t count = row.integer(1);
        const std::int64_t folderFirst = row.integer(2);
        const std::int64_t folderCount = row.integer(3);
        // The trigram index keeps no copy of the names: each is taken out with the folded name it was
        // put in with.
        Statement remove(db, "INSERT INTO names(names, rowid, name) VALUES('delete', ?, ?)");
        const std::string_view names = row.blob(4);
        std::size_t pos = 0;
        for (std::int64_t i = 0; i < count && pos < names.size(); ++i) {
            readVarint(names, pos);
            const std::size_t length = readVarint(names, pos);
            remove.reset().bind(1, first + i).bind(2, names.substr(pos, length)).run();
            pos += length;
        }
        row.reset();
        Statement entries(db, "DELETE FROM entries WHERE id >= ? AND id < ?");
        entries.bind(1, first).bind(2, first + count).run();
        Statement folders(db, "DELETE FROM folders WHERE id >= ? AND id < ?");
        folders.bind(1, folderFirst).bind(2, folderFirst + folderCount).run();
        Statement catalogue(db, "DELETE FROM catalogues WHERE id = ?");
        catalogue.bind(1, id).run();
    }

    std::int64_t nextId(const char* sql) {
        Statement max(db, sql);
        max.step();
        return max.integer(0) + 1;
    }

    /// Reads one catalogue file into the index, replacing what it held of it. Returns false when
    /// stopped. A catalogue that cannot be read is recorded with its failure, then the Failure is
    /// thrown on.
    bool indexOne(const QString& file, IndexProgress& progress, qsizetype done, qsizetype total) {
        exec(db, "BEGIN IMMEDIATE");
        try {
            const std::string native = toNativePath(file);
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
                drop(id);
            }
            known.reset();
            const std::int64_t first = nextId("SELECT coalesce(max(id), 0) FROM entries");
            const std::int64_t folderFirst = nextId("SELECT coalesce(max(id), 0) FROM folders");
            Statement entry(db, "INSERT INTO entries(id, folder, label, key, flags, name, size, date, time) "
                                "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)");
            Statement trigrams(db, "INSERT INTO names(rowid, name) VALUES(?, ?)");
            Statement folder(db, "INSERT INTO folders(id, path) VALUES(?, ?)");
            Statement findLabel(db, "SELECT id FROM labels WHERE text = ?");
            Statement addLabel(db, "INSERT INTO labels(text) VALUES(?)");
            std::unordered_map<std::string, std::int64_t> folders;
            std::unordered_map<std::string, std::int64_t> labels;
            std::string names;
            std::u32string folded;
            std::string foldedUtf8;
            std::int64_t count = 0;
            std::string lastFolder;
            std::int64_t lastFolderId = -1;
            Pacer pacer([&] { return progress.reading(file, done, total); });
            const auto row = [&](const CatalogueRow& r) {
                if (!pacer.tick()) {
                    return false;
                }
                if (lastFolderId < 0 || r.folder != lastFolder) {
                    lastFolder.assign(r.folder);
                    auto [at, added] = folders.try_emplace(lastFolder, folderFirst + std::int64_t(folders.size()));
                    if (added) {
                        folder.reset().bind(1, at->second).bind(2, r.folder).run();
                    }
                    lastFolderId = at->second;
                }
                auto label = labels.find(std::string(r.label));
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
                    label = labels.emplace(std::string(r.label), id).first;
                }
                const std::int64_t id = first + count;
                const int flags = (r.type == "D" ? kFolderEntry : 0) | (r.size == "0" ? kEmptyEntry : 0);
                entry.reset().bind(1, id).bind(2, lastFolderId).bind(3, label->second).bind(4, entryKey(r));
                entry.bind(5, flags).bind(6, r.name);
                if (isCanonicalNumber(r.size)) {
                    entry.bind(7, static_cast<std::int64_t>(std::stoll(std::string(r.size))));
                } else {
                    entry.bind(7, r.size);
                }
                entry.bind(8, r.date).bind(9, r.time).run();
                folded.clear();
                appendSearchFold(r.name, folded);
                foldedUtf8.clear();
                for (const char32_t c : folded) {
                    encodeUtf8(c, foldedUtf8);
                }
                trigrams.reset().bind(1, id).bind(2, foldedUtf8).run();
                appendVarint(static_cast<std::uint64_t>(lastFolderId - folderFirst), names);
                appendVarint(foldedUtf8.size(), names);
                names += foldedUtf8;
                ++count;
                return true;
            };
            CatalogueStamp stamp;
            int failure = 0;
            QString detail;
            std::optional<Failure> failed;
            try {
                if (!readCatalogueRows(file, row, [&] { return progress.reading(file, done, total); }, &stamp)) {
                    exec(db, "ROLLBACK");
                    return false;
                }
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
                failed = f;
                failure = static_cast<int>(f.code());
                detail = f.detail();
                count = 0;
                folders.clear();
                names.clear();
                stamp = now.value_or(CatalogueStamp{});
            }
            Statement add(db, "INSERT INTO catalogues(path, size, mtime, inode, device, first, count, folderFirst, "
                              "folderCount, failure, detail, names) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
            const QByteArray detailUtf8 = detail.toUtf8();
            add.bindBlob(1, native).bind(2, stamp.size).bind(3, stamp.mtimeNs);
            add.bind(4, static_cast<std::int64_t>(stamp.inode)).bind(5, static_cast<std::int64_t>(stamp.device));
            add.bind(6, first).bind(7, count).bind(8, folderFirst).bind(9, std::int64_t(folders.size()));
            add.bind(10, failure).bind(11, utf8View(detailUtf8)).bindBlob(12, names);
            add.run();
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

    IndexUpdate update(const QStringList& paths, IndexProgress& progress) {
        IndexUpdate result;
        PosixFileSystem fileSystem;
        const CatalogueFiles files = findCatalogueFiles(paths, fileSystem);
        for (const Failure& problem : files.problems) {
            ++result.unreadable;
            progress.unreadable(problem);
        }
        guarded([&] {
            const std::vector<Indexed> known = catalogues();
            std::unordered_map<QString, CatalogueStamp> stamps;
            std::vector<std::int64_t> gone;
            for (const Indexed& c : known) {
                if (!catalogueStamp(c.path) && errno == ENOENT) {
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
            const qsizetype total = files.files.size();
            for (qsizetype i = 0; i < total; ++i) {
                const QString& file = files.files[i];
                if (!progress.reading(file, i, total)) {
                    result.stopped = true;
                    return;
                }
                const auto stamp = stamps.find(file);
                const std::optional<CatalogueStamp> now = catalogueStamp(file);
                if (stamp != stamps.end() && now && *now == stamp->second) {
                    continue;
                }
                try {
                    if (!indexOne(file, progress, i, total)) {
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
        });
        return result;
    }
};

namespace {

/// The catalogues a search reads from the index, found by the ids of their entries.
class Selection {
public:
    Selection(std::vector<Indexed> all, const QStringList& files, SearchSink& sink, SearchSummary& summary,
              QStringList& direct)
        : all_(std::move(all)), selected_(all_.size(), false) {
        std::unordered_map<QString, std::size_t> byPath;
        for (std::size_t i = 0; i < all_.size(); ++i) {
            byPath.emplace(all_[i].path, i);
        }
        for (const QString& file : files) {
            const auto found = byPath.find(file);
            const std::optional<CatalogueStamp> now = catalogueStamp(file);
            if (found == byPath.end() || !now || *now != all_[found->second].stamp || selected_[found->second]) {
                if (found == byPath.end() || !selected_[found->second]) {
                    direct.append(file);
                }
                continue;
            }
            const Indexed& c = all_[found->second];
            if (c.failure != 0) {
                ++summary.unreadable;
                sink.unreadable(Failure(static_cast<FailureCode>(c.failure), c.path, c.detail));
                continue;
            }
            selected_[found->second] = true;
            ++count_;
        }
    }

    const std::vector<Indexed>& all() const { return all_; }
    bool selected(std::size_t i) const { return selected_[i]; }
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

private:
    std::vector<Indexed> all_;
    std::vector<bool> selected_;
    std::size_t count_ = 0;
};

/// Reads entries back from the index as hits.
class HitReader {
public:
    HitReader(sqlite3* db, const Selection& selection)
        : row_(db, "SELECT e.name, e.size, e.date, e.time, e.key, f.path, l.text, e.flags FROM entries e "
                   "JOIN folders f ON f.id = e.folder JOIN labels l ON l.id = e.label WHERE e.id = ?"),
          media_(db, "SELECT label, id FROM entries WHERE key = ?"), selection_(selection) {}

    /// Loads the entry `id`; false when the index holds none.
    bool load(std::int64_t id) {
        row_.reset().bind(1, id);
        return row_.step();
    }
    std::string_view name() const { return row_.text(0); }
    std::string_view folder() const { return row_.text(5); }
    int flags() const { return static_cast<int>(row_.integer(7)); }

    /// The loaded entry as a hit of `catalogue`, with its media counted when `countMedia`.
    SearchHit hit(const QString& catalogue, bool countMedia) {
        SearchHit hit;
        hit.label = row_.qtext(6);
        hit.folder = row_.qtext(5);
        hit.name = row_.qtext(0);
        hit.size = row_.isInteger(1) ? QString::number(row_.integer(1)) : row_.qtext(1);
        hit.date = row_.qtext(2);
        hit.time = row_.qtext(3);
        hit.catalogue = catalogue;
        hit.media = countMedia ? media(row_.integer(4)) : 1;
        row_.reset();
        return hit;
    }

private:
    int media(std::int64_t key) {
        labels_.clear();
        media_.reset().bind(1, key);
        while (media_.step()) {
            if (selection_.everything() || selection_.holds(media_.integer(1))) {
                const std::int64_t label = media_.integer(0);
                if (std::find(labels_.begin(), labels_.end(), label) == labels_.end()) {
                    labels_.push_back(label);
                }
            }
        }
        return static_cast<int>(labels_.size());
    }

    Statement row_;
    Statement media_;
    const Selection& selection_;
    std::vector<std::int64_t> labels_;
};

/// The records of a catalogue's folded-names blob: folder (relative to its first), folded name.
class NameRecords {
public:
    explicit NameRecords(std::string_view blob) : blob_(blob) {}
    bool next(std::uint64_t& folder, std::string_view& name) {
        if (pos_ >= blob_.size()) {
            return false;
        }
        folder = readVarint(blob_, pos_);
        const std::size_t length = std::min<std::size_t>(readVarint(blob_, pos_), blob_.size() - pos_);
        name = blob_.substr(pos_, length);
        pos_ += length;
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

/// Searches the selected catalogues in the index: by the trigrams of the pattern's longest literal
/// run when it has one of three characters or more, else by scanning the folded names; every
/// candidate is confirmed by the pattern itself.
void searchIndexed(sqlite3* db, const Selection& selection, const SearchQuery& query, SearchSink& sink,
                   SearchSummary& summary) {
    const SearchPattern pattern(query.pattern);
    const std::vector<std::u32string> runs = literalRuns(foldForSearch(query.pattern));
    std::u32string longest;
    for (const std::u32string& run : runs) {
        if (run.size() > longest.size()) {
            longest = run;
        }
    }
    const std::vector<Indexed>& all = selection.all();
    HitReader reader(db, selection);
    std::u32string folded;
    const auto keepGoing = [&](const QString& catalogue) {
        if (!sink.keepGoing(catalogue, summary.rows)) {
            summary.stopped = true;
        }
        return !summary.stopped;
    };
    const auto confirm = [&](std::int64_t id, std::size_t catalogue) {
        if (!reader.load(id)) {
            return;
        }
        folded.clear();
        if (query.matchPath) {
            appendSearchFold(joinPathBytes(std::string(reader.folder()), reader.name()), folded);
        } else {
            appendSearchFold(reader.name(), folded);
        }
        if (pattern.matchesFolded(folded)) {
            ++summary.hits;
            sink.hit(reader.hit(all[catalogue].path, true));
        }
    };

    if (!query.matchPath && longest.size() >= kTrigram) {
        Statement candidates(db, "SELECT rowid FROM names WHERE names MATCH ?");
        candidates.bind(1, trigramQuery(longest));
        std::size_t current = all.size();
        while (candidates.step()) {
            const std::int64_t id = candidates.integer(0);
            const std::size_t catalogue = selection.catalogueOf(id);
            if (catalogue >= all.size() || !selection.selected(catalogue)) {
                continue;
            }
            ++summary.rows;
            if ((catalogue != current || summary.rows % kLinesPerYield == 0) && !keepGoing(all[catalogue].path)) {
                return;
            }
            current = catalogue;
            confirm(id, catalogue);
        }
        for (std::size_t i = 0; i < all.size(); ++i) {
            summary.catalogues += selection.selected(i) ? 1 : 0;
        }
        return;
    }

    // A name holds the pattern's longest run as it is, byte for byte in UTF-8: names without it are
    // passed over before they are decoded.
    std::string needle;
    for (const char32_t c : longest) {
        encodeUtf8(c, needle);
    }
    Statement blob(db, "SELECT names FROM catalogues WHERE id = ?");
    Statement folders(db, "SELECT id, path FROM folders WHERE id >= ? AND id < ? ORDER BY id");
    std::vector<std::u32string> folderPrefixes;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (!selection.selected(i)) {
            continue;
        }
        const Indexed& c = all[i];
        if (!keepGoing(c.path)) {
            return;
        }
        if (query.matchPath) {
            folderPrefixes.assign(static_cast<std::size_t>(c.folderCount), std::u32string());
            folders.reset().bind(1, c.folderFirst).bind(2, c.folderFirst + c.folderCount);
            while (folders.step()) {
                const auto at = static_cast<std::size_t>(folders.integer(0) - c.folderFirst);
                if (at < folderPrefixes.size()) {
                    appendSearchFold(joinPathBytes(std::string(folders.text(1)), {}), folderPrefixes[at]);
                }
            }
        }
        blob.reset().bind(1, c.id);
        if (!blob.step()) {
            continue;
        }
        std::vector<std::int64_t> matches;
        NameRecords records(blob.blob(0));
        std::uint64_t folder = 0;
        std::string_view name;
        for (std::int64_t n = 0; records.next(folder, name); ++n) {
            if (++summary.rows % kLinesPerYield == 0 && !keepGoing(c.path)) {
                return;
            }
            if (!query.matchPath && name.find(needle) == std::string_view::npos) {
                continue;
            }
            folded.clear();
            if (query.matchPath && folder < folderPrefixes.size()) {
                folded = folderPrefixes[folder];
            }
            appendDecoded(name, folded);
            if (pattern.matchesFolded(folded)) {
                matches.push_back(c.first + n);
            }
        }
        blob.reset();
        for (const std::int64_t id : matches) {
            if (reader.load(id)) {
                ++summary.hits;
                sink.hit(reader.hit(c.path, true));
            }
        }
        ++summary.catalogues;
    }
}

} // namespace

CatalogueIndex::CatalogueIndex(const QString& databasePath) : d_(std::make_unique<Impl>()) {
    d_->path = databasePath;
    d_->open();
}

CatalogueIndex::~CatalogueIndex() = default;

QString CatalogueIndex::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/index.sqlite");
}

CatalogueIndex::State CatalogueIndex::state() const {
    return d_->state;
}

QString CatalogueIndex::problem() const {
    return d_->problem;
}

bool CatalogueIndex::rebuilt() const {
    return d_->rebuilt;
}

SearchSummary CatalogueIndex::search(const QStringList& paths, const SearchQuery& query, SearchSink& sink) {
    SearchSummary summary;
    PosixFileSystem fileSystem;
    const CatalogueFiles files = findCatalogueFiles(paths, fileSystem);
    for (const Failure& problem : files.problems) {
        ++summary.unreadable;
        sink.unreadable(problem);
    }
    QStringList direct;
    std::optional<Selection> selection;
    if (!d_->guarded([&] { selection.emplace(d_->catalogues(), files.files, sink, summary, direct); })) {
        direct = files.files;
    } else {
        try {
            searchIndexed(d_->db, *selection, query, sink, summary);
        } catch (const SqlError& error) {
            // Damaged or taken away in the middle: what it answered stands, the next update rebuilds it.
            d_->fail(error);
            if (isDamage(error.code)) {
                d_->close();
                d_->removeFiles();
            }
        }
    }
    if (!summary.stopped && !direct.isEmpty()) {
        // Read from the files: new catalogues, changed ones, or all of them when the index is unusable.
        const SearchSummary rest = searchCatalogues(direct, query, sink, fileSystem);
        summary.hits += rest.hits;
        summary.catalogues += rest.catalogues;
        summary.unreadable += rest.unreadable;
        summary.rows += rest.rows;
        summary.stopped = rest.stopped;
    }
    return summary;
}

SearchSummary CatalogueIndex::singleCopies(const QStringList& paths, SearchSink& sink) {
    // The catalogues are read into the index first; stopping that stops the report.
    class Reading : public IndexProgress {
    public:
        explicit Reading(SearchSink& sink) : sink_(sink) {}
        bool reading(const QString& catalogue, qsizetype, qsizetype) override { return sink_.keepGoing(catalogue, 0); }
        void unreadable(const Failure&) override {} // named by the report below, from the index
    private:
        SearchSink& sink_;
    };
    Reading reading(sink);
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
    PosixFileSystem fileSystem;
    const CatalogueFiles files = findCatalogueFiles(paths, fileSystem);
    for (const Failure& problem : files.problems) {
        ++summary.unreadable;
        sink.unreadable(problem);
    }
    d_->guarded([&] {
        QStringList changed;
        const Selection selection(d_->catalogues(), files.files, sink, summary, changed);
        const std::vector<Indexed>& all = selection.all();
        // Entries by identity: a group whose selected lines all carry one label is held by one medium.
        std::vector<std::int64_t> singles;
        std::vector<std::int64_t> group;
        std::int64_t key = 0;
        std::int64_t label = 0;
        bool oneLabel = true;
        const auto endGroup = [&] {
            if (oneLabel) {
                singles.insert(singles.end(), group.begin(), group.end());
            }
            group.clear();
            oneLabel = true;
        };
        Statement byKey(d_->db, "SELECT key, label, id FROM entries ORDER BY key, label");
        while (byKey.step()) {
            const std::int64_t id = byKey.integer(2);
            if (++summary.rows % kLinesPerYield == 0 && !sink.keepGoing(QString(), summary.rows)) {
                summary.stopped = true;
                return;
            }
            if (!selection.everything() && !selection.holds(id)) {
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
        std::sort(singles.begin(), singles.end());
        HitReader reader(d_->db, selection);
        for (const std::int64_t id : singles) {
            const std::size_t catalogue = selection.catalogueOf(id);
            if (catalogue >= all.size() || !reader.load(id) || (reader.flags() & (kFolderEntry | kEmptyEntry)) != 0) {
                continue;
            }
            ++summary.hits;
            sink.hit(reader.hit(all[catalogue].path, false));
        }
        for (std::size_t i = 0; i < all.size(); ++i) {
            summary.catalogues += selection.selected(i) ? 1 : 0;
        }
    });
    return summary;
}

IndexUpdate CatalogueIndex::update(const QStringList& paths, IndexProgress& progress) {
    d_->state = State::Ready;
    d_->problem.clear();
    return d_->update(paths, progress);
}

} // namespace kartoma
