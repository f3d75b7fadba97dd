#pragma once

#include "CatalogueSearch.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstddef>
#include <memory>

namespace kartoma {

class Failure;

/// What an index update reports while it runs.
class IndexProgress {
public:
    virtual ~IndexProgress() = default;
    /// Called before the catalogue `catalogue` is looked at (`done` of `total` catalogues are behind)
    /// and every few thousand lines while it is read; returning false stops the update there (what
    /// was read of that catalogue is dropped, the catalogues before it stay indexed).
    virtual bool reading(const QString& catalogue, qsizetype done, qsizetype total) = 0;
    /// A catalogue that cannot be read, or a folder of catalogues that cannot be read, as the search
    /// names them (see SearchSink::unreadable). The update goes on with the next one.
    virtual void unreadable(const Failure& failure) = 0;
};

/// What an update did.
struct IndexUpdate {
    qsizetype read = 0;       ///< catalogues read anew (new or changed)
    qsizetype dropped = 0;    ///< catalogues whose files are gone, taken out of the index
    qsizetype unreadable = 0; ///< catalogues and folders named to IndexProgress::unreadable
    bool stopped = false;     ///< IndexProgress::reading returned false
};

/// A derived index of catalogue files in one SQLite database: the entries' lines, their folded names
/// (appendSearchFold) with the trigrams of each group of them, and what each catalogue file was when
/// it was read (size, modification time, inode and device). The files stay the truth: a catalogue is read again when its
/// file changed, a catalogue whose file is gone is dropped, and deleting the database loses nothing.
///
/// Nothing is thrown at the caller. A database that is no database or is damaged is deleted and built
/// anew; one that cannot be opened, or that another process holds locked past the busy timeout, leaves
/// the index unusable (state()), and search() then reads the catalogue files directly
/// (searchCatalogues). Several objects, in one process or several, may use the same database at once
/// (WAL, a busy timeout); one object belongs to one thread at a time.
class CatalogueIndex {
public:
    enum class State {
        Ready,       ///< the index answers
        Locked,      ///< another process holds the database: updates are skipped, files read directly
        Unavailable, ///< the database cannot be opened or created: the files are read directly
    };

    /// Opens (or creates) the database at `databasePath`, creating its folder.
    explicit CatalogueIndex(const QString& databasePath = defaultPath());
    ~CatalogueIndex();
    CatalogueIndex(const CatalogueIndex&) = delete;
    CatalogueIndex& operator=(const CatalogueIndex&) = delete;

    /// `index.sqlite` in the application's cache folder: CacheLocation of the application "Kartoma"
    /// (GenericCacheLocation + "/Kartoma"), whatever name the running program gives itself.
    static QString defaultPath();

    /// Whether the index could be used by the last operation.
    State state() const;
    /// The system's or SQLite's words for why the index is not Ready (empty when it is).
    QString problem() const;
    /// True when the last open or update found a damaged database and built it anew, or a search or
    /// report found it damaged, answered from the catalogue files and removed it for the next update.
    bool rebuilt() const;

    /// Brings the index up to date with the catalogue files `paths` name (as findCatalogueFiles
    /// finds them): reads the new and changed ones, one transaction each, and drops every indexed
    /// catalogue whose file no longer exists. A catalogue that cannot be read is remembered as such
    /// (search names it again without reading it) until its file changes.
    IndexUpdate update(const QStringList& paths, IndexProgress& progress);

    /// Searches the catalogues `paths` name, as searchCatalogues does and with the same answers:
    /// catalogues indexed and unchanged from the index, the others (new, changed since the update,
    /// or all of them when the index is unusable) from their files. Hits from the index carry
    /// `media`: how many distinct volume labels among these catalogues hold an entry of the same
    /// name, size, date and time (0, not counted, for a folder, an empty file, or a hit read from
    /// its file; 0 for every hit when the query does not ask for `countMedia`). Hits stream in the order the index holds them, catalogue by catalogue as they were read;
    /// `SearchSummary::rows` counts the index's lines looked at.
    SearchSummary search(const QStringList& paths, const SearchQuery& query, SearchSink& sink);
    /// How long a search that counts no media runs on the calling thread before a second thread joins
    /// it (10 ms unless set); zero joins at once.
    void setSecondThreadAfter(std::chrono::milliseconds delay);
    /// The most bytes of a block's lists of names by trigram that an update holds while it makes the
    /// block (16 MiB unless set); the lists go out in parts of about this size.
    void setBlockBuffer(std::size_t bytes);

    /// The entries of the catalogues `paths` name that exactly one volume label holds (no entry of
    /// the same name, size, date and time under another label among them); folders and empty files
    /// are left out. Every line of such an entry is a hit (media 1). The catalogues are read into the
    /// index first (update; stopping it through SearchSink::keepGoing stops the report); when the
    /// index is unusable, the report is made in a private index in memory.
    SearchSummary singleCopies(const QStringList& paths, SearchSink& sink);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace kartoma
