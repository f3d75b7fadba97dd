#include "CatalogueFixtures.h"
#include "CatalogueIndex.h"
#include "CatalogueSearch.h"
#include "Failure.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kartoma {
namespace {

/// name, folder, size, date, time, label, type
using Line = std::array<std::string, 7>;

const std::string kTitle = "\"ファイル名\",\"ディレクトリ\",\"サイズ\",\"日付\",\"時間\",\"ボリューム\",\"TYPE\"\r\n";

std::string csvLine(const Line& line) {
    std::string text;
    for (const std::string& field : line) {
        text += (text.empty() ? "\"" : ",\"") + field + "\"";
    }
    return text + "\r\n";
}

/// A CSV catalogue, in UTF-8 with a byte-order mark or in CP932.
void writeCsv(const QString& path, const std::vector<Line>& lines, bool cp932 = false) {
    std::string text = kTitle;
    for (const Line& line : lines) {
        text += csvLine(line);
    }
    QByteArray bytes;
    if (cp932) {
        QStringEncoder encoder("Shift_JIS");
        bytes = encoder.encode(QString::fromStdString(text));
        ASSERT_FALSE(encoder.hasError());
    } else {
        bytes = QByteArray("\xEF\xBB\xBF") + QByteArray::fromStdString(text);
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

/// A workbook catalogue with its title on the second row.
void writeBook(const QString& path, const std::vector<Line>& lines) {
    std::string rows = inlineRow(1, {"一覧"}) +
                       inlineRow(2, {"ファイル名", "ディレクトリ", "サイズ", "日付", "時間", "ボリューム", "TYPE"});
    int row = 3;
    for (const Line& line : lines) {
        rows += inlineRow(row++, std::vector<std::string>(line.begin(), line.end()));
    }
    writeWorkbook(path, {{"Kartoma", rows}});
}

class Progress final : public IndexProgress {
public:
    bool reading(const QString&, qsizetype, qsizetype) override { return true; }
    void unreadable(const Failure& failure) override { failures.push_back(failure.subject()); }
    QStringList failures;
};

using HitKey = std::tuple<QString, QString, QString, QString, QString, QString, QString>;

std::vector<HitKey> sorted(const std::vector<SearchHit>& hits) {
    std::vector<HitKey> keys;
    for (const SearchHit& h : hits) {
        keys.emplace_back(h.catalogue, h.label, h.folder, h.name, h.size, h.date, h.time);
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

std::vector<HitKey> directHits(const QStringList& paths, const SearchQuery& query) {
    Recorder direct;
    searchCatalogues(paths, query, direct);
    return sorted(direct.hits);
}

std::vector<HitKey> indexHits(CatalogueIndex& index, const QStringList& paths, const SearchQuery& query) {
    Recorder found;
    index.search(paths, query, found);
    return sorted(found.hits);
}

/// Runs `sql` on the index file as another process would.
void runSql(const QString& database, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(database).constData(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(db);
}

/// A library of three catalogues (a workbook, a UTF-8 CSV and a CP932 CSV) with an index beside it.
class Library : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        folder = dir.filePath(QStringLiteral("library"));
        ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/sub")));
        database = dir.filePath(QStringLiteral("cache/index.sqlite"));
        writeBook(folder + QStringLiteral("/a.xlsx"),
                  {{"写真", "/", "0", "2024/01/02", "10:00:00", "DISC-A", "D"},
                   {"はんかく.txt", "/写真", "120", "2024/01/02", "10:00:00", "DISC-A", "F"},
                   {"report2024.doc", "/文書/2024", "5000", "2024/03/04", "09:15:00", "DISC-A", "F"},
                   {"ｶﾞｲﾄﾞ.pdf", "/文書", "3.2E+3", "2024/03/04", "09:15:00", "DISC-A", "F"},
                   {"ab", "/x", "1", "2020/01/01", "00:00:00", "DISC-A", "F"}});
        writeCsv(folder + QStringLiteral("/b.csv"),
                 {{"report2024.doc", "/backup", "5000", "2024/03/04", "09:15:00", "DISC-B", "F"},
                  {"ＡＢＣ.TXT", "/backup/テキスト", "7", "2023/12/31", "23:59:59", "DISC-B", "F"},
                  {"quote\"\"d,name.txt", "/backup", "8", "2023/12/31", "23:59:59", "DISC-B", "F"}});
        writeCsv(folder + QStringLiteral("/sub/c.csv"),
                 {{"ガイド.PDF", "/資料", "3200", "2024/03/04", "09:15:00", "ディスクC", "F"},
                  {"report2024.doc", "/old", "4999", "2024/03/04", "09:15:00", "ディスクC", "F"},
                  {"abc123", "/資料/ハンカク", "9", "2022/02/02", "12:00:00", "ディスクC", "F"}},
                 true);
        paths = {folder};
    }

    IndexUpdate update(CatalogueIndex& index) {
        Progress progress;
        return index.update(paths, progress);
    }

    QTemporaryDir dir;
    QString folder;
    QString database;
    QStringList paths;
};

TEST_F(Library, TheIndexAnswersAsReadingTheFilesDoes) {
    CatalogueIndex index(database);
    index.setSecondThreadAfter(std::chrono::milliseconds(0));
    const IndexUpdate first = update(index);
    EXPECT_EQ(first.read, 3);
    EXPECT_EQ(index.state(), CatalogueIndex::State::Ready);
    // Patterns with a run of three characters or more go through the trigrams, the others through
    // the folded names; both must give what the files give.
    const std::vector<SearchQuery> queries = {
        {QStringLiteral("ハンカク"), false}, {QStringLiteral("report"), false}, {QStringLiteral("REPORT2024.DOC"), false},
        {QStringLiteral("*.txt"), false},    {QStringLiteral("r?port*"), false}, {QStringLiteral("*#*"), false},
        {QStringLiteral("a"), false},        {QStringLiteral("ab"), false},      {QStringLiteral("がいど"), false},
        {QStringLiteral("[!r]*"), false},    {QStringLiteral("\"d,"), false},    {QStringLiteral("abc*#"), false},
        {QStringLiteral("写真"), true},      {QStringLiteral("*/2024/*"), true}, {QStringLiteral("ハンカク"), true},
        {QStringLiteral("backup/a"), true},  {QStringLiteral("nothing"), false},
        // A [ that opens no list, and an empty list, are no plain text: the index's needle stops there.
        {QStringLiteral("*b[c*"), false},    {QStringLiteral("*r[]ep*"), false},
    };
    std::size_t total = 0;
    for (SearchQuery query : queries) {
        SCOPED_TRACE(query.pattern.toStdString() + (query.matchPath ? " (path)" : ""));
        const std::vector<HitKey> expected = directHits(paths, query);
        EXPECT_EQ(indexHits(index, paths, query), expected);
        query.countMedia = false; // searched on two threads
        EXPECT_EQ(indexHits(index, paths, query), expected);
        total += expected.size();
    }
    EXPECT_GT(total, 20u);

    // The same entry on two media is counted; one that differs in size is another entry.
    const auto expectMedia = [&] {
        Recorder hits;
        index.search(paths, {QStringLiteral("report2024"), false}, hits);
        ASSERT_EQ(hits.hits.size(), 3u);
        for (const SearchHit& hit : hits.hits) {
            EXPECT_EQ(hit.media, hit.size == QStringLiteral("5000") ? 2 : 1) << hit.catalogue.toStdString();
        }
    };
    expectMedia();
    // A second update reads nothing again.
    EXPECT_EQ(update(index).read, 0);
    // A catalogue replaced by a copy of itself (another file, the same lines) is read once more and
    // answers as before.
    const QString b = folder + QStringLiteral("/b.csv");
    ASSERT_TRUE(QFile::copy(b, b + QStringLiteral(".new")));
    ASSERT_EQ(::rename(QFile::encodeName(b + QStringLiteral(".new")).constData(), QFile::encodeName(b).constData()), 0);
    EXPECT_EQ(update(index).read, 1);
    EXPECT_EQ(update(index).read, 0);
    expectMedia();
    EXPECT_EQ(indexHits(index, paths, {QStringLiteral("a"), false}), directHits(paths, {QStringLiteral("a"), false}));

    // A catalogue named twice is searched once, by either route.
    const QStringList twice = {folder, folder + QStringLiteral("/b.csv"), folder + QStringLiteral("/sub/../b.csv")};
    const SearchQuery report{QStringLiteral("report"), false};
    EXPECT_EQ(directHits(twice, report), directHits(paths, report));
    EXPECT_EQ(indexHits(index, twice, report), directHits(paths, report));

    // Copies of a catalogue that is gone, or that was read again, are counted no more, nor twice.
    ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/b.csv")));
    writeBook(folder + QStringLiteral("/a.xlsx"),
              {{"report2024.doc", "/文書/2024", "5000", "2024/03/04", "09:15:00", "DISC-A", "F"},
               {"report2024.doc", "/old", "4999", "2024/03/04", "09:15:00", "DISC-A", "F"}});
    EXPECT_EQ(update(index).dropped, 1);
    Recorder after;
    index.search(paths, {QStringLiteral("report2024"), false}, after);
    ASSERT_EQ(after.hits.size(), 3u);
    for (const SearchHit& hit : after.hits) {
        EXPECT_EQ(hit.media, hit.size == QStringLiteral("4999") ? 2 : 1) << hit.catalogue.toStdString();
    }
}

TEST_F(Library, ALongCatalogueIsSearchedGroupByGroupAndEveryHitIsFound) {
    // Hits in the first, a middle and the last of several groups of names, and runs found in none, in
    // catalogues whose last group is full or holds one name; the lists of names by trigram written in
    // one part, or in many.
    CatalogueIndex index(database);
    for (const int size : {32'769, 32'641, 32'640, 700}) {
        index.setBlockBuffer(size % 2 == 0 ? std::size_t{64} << 10 : std::size_t{16} << 20);
        SCOPED_TRACE(size);
        std::vector<Line> lines;
        std::size_t rareCount = 0;
        for (int i = 0; i < size; ++i) {
            const bool rare = i % 299 == 0 || i == size - 1;
            rareCount += rare ? 1 : 0;
            const std::string name = (rare ? "稀な名前-" : "file") + std::to_string(i) + ".dat";
            lines.push_back({name, "/d" + std::to_string(i % 7), std::to_string(i + 1), "2024/01/02", "10:00:00",
                             "LONG", "F"});
        }
        writeCsv(folder + QStringLiteral("/long.csv"), lines);
        update(index);
        for (const bool blocksGone : {false, true}) {
            // The catalogues changed by another process that has not made their blocks anew yet: each
            // catalogue's names are all read.
            if (blocksGone) {
                runSql(database, "DELETE FROM blocks");
            }
            for (const QString& pattern : {QStringLiteral("稀な名前"), QStringLiteral("*名前-3*"), QStringLiteral("file69"),
                                           QStringLiteral("e%1.dat").arg(size - 1), QStringLiteral("zzzz")}) {
                SCOPED_TRACE(pattern.toStdString());
                const SearchQuery query{pattern, false};
                EXPECT_EQ(indexHits(index, paths, query), directHits(paths, query));
            }
        }
        EXPECT_EQ(indexHits(index, paths, {QStringLiteral("稀な名前"), false}).size(), rareCount);
        EXPECT_FALSE(index.rebuilt()); // the index answered, not the files for a layout read amiss
    }

    // A copy of one of its entries on another medium, read into an index that holds many: both count 2.
    writeCsv(folder + QStringLiteral("/copy.csv"),
             {{"稀な名前-299.dat", "/elsewhere", "300", "2024/01/02", "10:00:00", "OTHER", "F"}});
    update(index);
    Recorder copies;
    index.search(paths, {QStringLiteral("稀な名前-29"), false}, copies);
    ASSERT_EQ(copies.hits.size(), 2u);
    for (const SearchHit& hit : copies.hits) {
        EXPECT_EQ(hit.media, 2) << hit.catalogue.toStdString();
    }
}

TEST_F(Library, ACatalogueGoneFromAnotherFolderLeavesWhenItsOwnFolderIsSearched) {
    const QString other = dir.filePath(QStringLiteral("other"));
    ASSERT_TRUE(QDir().mkpath(other));
    writeCsv(other + QStringLiteral("/d.csv"), {{"banana", "/", "1", "2025/01/01", "00:00:00", "DISC-D", "F"}});
    CatalogueIndex index(database);
    Progress progress;
    EXPECT_EQ(index.update({folder, other}, progress).read, 4);
    ASSERT_TRUE(QFile::remove(other + QStringLiteral("/d.csv")));
    // Not looked at by a search of the library alone (a medium elsewhere may just not be mounted).
    EXPECT_EQ(update(index).dropped, 0);
    EXPECT_EQ(index.update({other}, progress).dropped, 1);
}

TEST_F(Library, HitsFoundOnTwoThreadsComeInTheOrderOfTheCatalogues) {
    // Catalogues of a few lines and of many long ones: more hits than are kept before their turn.
    for (int c = 0; c < 6; ++c) {
        std::vector<Line> lines;
        const int count = c % 2 == 0 ? 3 : 60000;
        for (int i = 0; i < count; ++i) {
            lines.push_back({"file-" + std::to_string(c) + "-" + std::to_string(i) + std::string(120, 'n'), "/d",
                             std::to_string(i + 1), "2024/01/02", "10:00:00", "M" + std::to_string(c), "F"});
        }
        writeCsv(folder + QStringLiteral("/many%1.csv").arg(c), lines);
    }
    CatalogueIndex index(database);
    index.setSecondThreadAfter(std::chrono::milliseconds(0));
    update(index);
    const SearchQuery all{QStringLiteral("file"), false, false};
    Recorder direct;
    searchCatalogues(paths, all, direct);
    ASSERT_EQ(direct.hits.size(), 3u * 60000 + 3 * 3);
    const auto same = [](const SearchHit& a, const SearchHit& b) {
        return a.catalogue == b.catalogue && a.name == b.name && a.folder == b.folder && a.size == b.size;
    };
    Recorder found;
    const SearchSummary summary = index.search(paths, all, found);
    EXPECT_EQ(summary.hits, direct.hits.size());
    ASSERT_EQ(found.hits.size(), direct.hits.size());
    EXPECT_TRUE(std::equal(found.hits.begin(), found.hits.end(), direct.hits.begin(), same));
    // Stopped partway: what came is the beginning of the answer.
    Recorder stopped;
    stopped.allowedCalls = 40;
    EXPECT_TRUE(index.search(paths, all, stopped).stopped);
    ASSERT_LT(stopped.hits.size(), direct.hits.size());
    EXPECT_TRUE(std::equal(stopped.hits.begin(), stopped.hits.end(), direct.hits.begin(), same));
    // Stopped while a catalogue's hits are handed on, on one thread: the rest of them are left.
    Recorder enough;
    enough.allowedHits = 10;
    EXPECT_TRUE(index.search(paths, {QStringLiteral("file"), false, true}, enough).stopped);
    EXPECT_LT(enough.hits.size(), 3u + 4096);
}

TEST_F(Library, ChangedDeletedAndAddedCataloguesAreSeenByTheNextSearch) {
    // A long catalogue, so that the changes below are few against the lines the index holds: the copies
    // of the catalogues replaced or deleted stay behind, and those of the new ones go to the small table.
    std::vector<Line> filler;
    for (int i = 0; i < 160; ++i) {
        filler.push_back({"f" + std::to_string(i), "/", "3", "2020/01/01", "00:00:00", "DISC-F", "F"});
    }
    writeCsv(folder + QStringLiteral("/f.csv"), filler);
    CatalogueIndex index(database);
    update(index);
    const SearchQuery query{QStringLiteral("report"), false};
    ASSERT_EQ(indexHits(index, paths, query).size(), 3u);
    const auto mediaOnA = [&](const QString& name) {
        Recorder found;
        index.search(paths, SearchQuery{name, false}, found);
        for (const SearchHit& hit : found.hits) {
            if (hit.label == QStringLiteral("DISC-A")) {
                return hit.media;
            }
        }
        return -1;
    };
    EXPECT_EQ(mediaOnA(QStringLiteral("report2024.doc")), 2);
    EXPECT_EQ(mediaOnA(QStringLiteral("ab")), 1);

    writeCsv(folder + QStringLiteral("/b.csv"), {{"report-new.doc", "/", "1", "2025/01/01", "00:00:00", "DISC-B", "F"}});
    ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/sub/c.csv")));
    writeCsv(folder + QStringLiteral("/d.csv"), {{"report-d.doc", "/", "1", "2025/01/01", "00:00:00", "DISC-D", "F"},
                                                 {"ab", "/y", "1", "2020/01/01", "00:00:00", "DISC-D", "F"}});
    // Before the update the changed and added catalogues are read from their files.
    EXPECT_EQ(indexHits(index, paths, query), directHits(paths, query));
    const IndexUpdate second = update(index);
    EXPECT_EQ(second.read, 2);
    EXPECT_EQ(second.dropped, 1);
    const std::vector<HitKey> after = indexHits(index, paths, query);
    EXPECT_EQ(after, directHits(paths, query));
    EXPECT_EQ(after.size(), 3u);
    // B's copy is gone, D's is counted.
    EXPECT_EQ(mediaOnA(QStringLiteral("report2024.doc")), 1);
    EXPECT_EQ(mediaOnA(QStringLiteral("ab")), 2);

    // Rewritten in place to the same size with its old times put back, as cp -p does.
    const QByteArray d = QFile::encodeName(folder + QStringLiteral("/d.csv"));
    struct stat before {};
    ASSERT_EQ(::stat(d.constData(), &before), 0);
    ::usleep(20000); // past the clock tick the file system stamps times with
    writeCsv(folder + QStringLiteral("/d.csv"), {{"nonono-d.doc", "/", "1", "2025/01/01", "00:00:00", "DISC-D", "F"}});
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, d.constData(), times, 0), 0);
    EXPECT_EQ(update(index).read, 1);
    EXPECT_EQ(indexHits(index, paths, query), directHits(paths, query));
    EXPECT_EQ(indexHits(index, paths, query).size(), 2u);
}

TEST_F(Library, ASearchDuringAnotherUpdateSeesACatalogueReadAgainBeforeItsBlockIsMadeAnew) {
    CatalogueIndex index(database);
    update(index);
    // The catalogue of the last id rewritten to as many lines; another process searches while this one
    // updates, after it read that catalogue again and before it makes the blocks anew.
    writeCsv(folder + QStringLiteral("/sub/c.csv"),
             {{"zebra.txt", "/", "1", "2024/03/04", "09:15:00", "ディスクC", "F"},
              {"zebra2.txt", "/", "2", "2024/03/04", "09:15:00", "ディスクC", "F"},
              {"zebra3.txt", "/", "3", "2024/03/04", "09:15:00", "ディスクC", "F"}},
             true);
    writeCsv(folder + QStringLiteral("/sub/d.csv"), {{"x.txt", "/", "1", "2024/03/04", "09:15:00", "D", "F"}});
    class SearchMeanwhile final : public IndexProgress {
    public:
        SearchMeanwhile(const QString& database, const QStringList& paths) : database_(database), paths_(paths) {}
        bool reading(const QString&, qsizetype, qsizetype) override {
            CatalogueIndex other(database_);
            Recorder found;
            other.search(paths_, SearchQuery{QStringLiteral("zebra"), false}, found);
            EXPECT_EQ(found.hits.size(), 3u);
            return true;
        }
        void unreadable(const Failure&) override {}

    private:
        const QString& database_;
        const QStringList& paths_;
    } meanwhile(database, paths);
    index.update(paths, meanwhile);
}

TEST_F(Library, ASearchRightAfterAnUpdateSeesWhatAnotherUpdateWroteInBetween) {
    // The search takes the catalogues its own update read only while no other connection has written:
    // here another one read a catalogue again, whose old lines are gone.
    CatalogueIndex index(database);
    CatalogueIndex other(database);
    update(index);
    update(index);
    writeCsv(folder + QStringLiteral("/b.csv"), {{"report2024-new.doc", "/", "1", "2024/03/04", "09:15:00", "DISC-B", "F"}});
    EXPECT_EQ(update(other).read, 1);
    const SearchQuery query{QStringLiteral("report2024"), false};
    EXPECT_EQ(indexHits(index, paths, query), directHits(paths, query));
    EXPECT_FALSE(index.rebuilt());
}

TEST_F(Library, AnUpdateStoppedHalfwayKeepsWhatItReadAndTheSearchReadsTheRest) {
    class StopAtSecond final : public IndexProgress {
    public:
        bool reading(const QString&, qsizetype done, qsizetype) override { return done < 1; }
        void unreadable(const Failure&) override {}
    } stop;
    CatalogueIndex index(database);
    const IndexUpdate stopped = index.update(paths, stop);
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.read, 1);
    const SearchQuery query{QStringLiteral("report"), false};
    EXPECT_EQ(indexHits(index, paths, query), directHits(paths, query));
    EXPECT_EQ(update(index).read, 2);
}

TEST_F(Library, ADamagedIndexOrOneOfAnotherVersionIsBuiltAnew) {
    const SearchQuery query{QStringLiteral("*a*"), false};
    const std::vector<HitKey> expected = directHits(paths, query);
    const std::vector<std::tuple<const char*, std::function<void(const QString&)>, bool>> damages = {
        {"junk", [](const QString& path) {
             QFile file(path);
             ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
             file.write(QByteArray(64 * 1024, 'x'));
         }, true},
        {"cut in half", [](const QString& path) { ASSERT_TRUE(QFile(path).resize(QFile(path).size() / 2)); }, true},
        {"emptied", [](const QString& path) { ASSERT_TRUE(QFile(path).resize(0)); }, false},
        // Another version of the program's index is made again without a word of damage.
        {"another version", [](const QString& path) { runSql(path, "PRAGMA user_version=7"); }, false},
    };
    for (const auto& [name, damage, rebuilt] : damages) {
        SCOPED_TRACE(name);
        {
            CatalogueIndex index(database);
            update(index);
        }
        damage(database);
        QFile::remove(database + QStringLiteral("-wal"));
        CatalogueIndex index(database);
        const IndexUpdate again = update(index);
        EXPECT_EQ(index.rebuilt(), rebuilt); // an emptied file is a new database to SQLite
        EXPECT_EQ(again.read, 3);
        EXPECT_EQ(index.state(), CatalogueIndex::State::Ready);
        EXPECT_EQ(indexHits(index, paths, query), expected);
    }
}

TEST_F(Library, DamageFoundInTheMiddleOfAnAnswerLeavesNoHitOutAndGivesNoneTwice) {
    // Long names, so that the lines of this catalogue fill several pages.
    std::vector<Line> lines;
    for (int i = 0; i < 700; ++i) {
        lines.push_back({"file" + std::to_string(i) + std::string(200, 'x'), "/d", std::to_string(i + 1),
                         "2024/01/02", "10:00:00", "LONG", "F"});
    }
    writeCsv(folder + QStringLiteral("/long.csv"), lines);
    // The last page of lines overwritten (SQLite sees that), or damage it cannot see: names or lists of
    // names by trigram that end early, are emptied or are gone (names also when their block is made anew), lines gone.
    const auto damaged = [&](const char* cut) {
        {
            CatalogueIndex index(database);
            update(index);
        }
        if (cut != nullptr) {
            runSql(database, cut);
            return;
        }
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(database).constData(), &db), SQLITE_OK);
        sqlite3_stmt* leaves = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT max(pageno) FROM dbstat WHERE name = 'lines' AND pagetype = 'leaf'",
                                     -1, &leaves, nullptr),
                  SQLITE_OK);
        ASSERT_EQ(sqlite3_step(leaves), SQLITE_ROW);
        const qint64 page = sqlite3_column_int64(leaves, 0);
        sqlite3_finalize(leaves);
        sqlite3_close(db);
        ASSERT_GT(page, 2);
        QFile file(database);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.seek((page - 1) * 65536));
        file.write(QByteArray(8, '\xFF')); // no kind of page
    };

    for (const char* cut : {static_cast<const char*>(nullptr), "UPDATE names SET folded = substr(folded, 1, length(folded) / 2)",
                            "UPDATE postings SET names = substr(names, 1, length(names) / 2) WHERE length(names) > 1",
                            "DELETE FROM postings", "UPDATE postings SET names = X''",
                            "DELETE FROM blocks; UPDATE names SET folded = substr(folded, 1, length(folded) / 2)",
                            "DELETE FROM lines"}) {
        for (const auto& [pattern, media] : {std::pair{QStringLiteral("file"), true}, std::pair{QStringLiteral("*a*"), true},
                                             std::pair{QStringLiteral("file"), false}}) {
            SCOPED_TRACE(std::string(cut ? cut : "a page overwritten") + " " + pattern.toStdString() +
                         (media ? "" : " (two threads)"));
            damaged(cut);
            CatalogueIndex index(database);
            index.setSecondThreadAfter(std::chrono::milliseconds(0));
            update(index);
            const std::vector<HitKey> found = indexHits(index, paths, {pattern, false, media});
            const std::vector<HitKey> expected = directHits(paths, {pattern, false});
            EXPECT_TRUE(found == expected) << found.size() << " hits, not " << expected.size();
            // The damage is told: the program says so, and the next update builds the index anew. A word
            // found by its trigrams reads lines, not names: names are read when the pattern has no trigrams.
            const bool namesAlone = cut != nullptr && std::string_view(cut).starts_with("UPDATE names");
            if (pattern == (namesAlone ? QStringLiteral("*a*") : QStringLiteral("file"))) {
                EXPECT_TRUE(index.rebuilt());
            }
        }
    }

    Recorder expected;
    CatalogueIndex(QStringLiteral(":memory:")).singleCopies(paths, expected);
    damaged(nullptr);
    Recorder found;
    const SearchSummary summary = CatalogueIndex(database).singleCopies(paths, found);
    EXPECT_TRUE(sorted(found.hits) == sorted(expected.hits)) << found.hits.size() << " hits, not " << expected.hits.size();
    EXPECT_EQ(summary.hits, expected.hits.size());
    EXPECT_TRUE(found.failures.empty());
}

TEST_F(Library, ALockedIndexIsBypassedAndTheFilesAnswer) {
    {
        CatalogueIndex index(database);
        update(index);
    }
    writeCsv(folder + QStringLiteral("/d.csv"), {{"banana", "/", "1", "2025/01/01", "00:00:00", "DISC-D", "F"}});
    // Another process holds the database for good.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(database).constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; DELETE FROM labels;", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    CatalogueIndex index(database);
    update(index);
    EXPECT_EQ(index.state(), CatalogueIndex::State::Locked);
    EXPECT_FALSE(index.problem().isEmpty());
    for (const QString& pattern : {QStringLiteral("*a*"), QStringLiteral("ban")}) {
        EXPECT_EQ(indexHits(index, paths, {pattern, false}), directHits(paths, {pattern, false}));
    }
    sqlite3_close(other);
}

TEST_F(Library, TheSameCataloguesByAnotherSpellingOfTheirFolderAreNotReadAgain) {
    CatalogueIndex index(database);
    update(index);
    Progress progress;
    EXPECT_EQ(index.update({dir.filePath(QStringLiteral("cache/../library"))}, progress).read, 0);
}

TEST_F(Library, ACatalogueChangedWhileSingleCopiesAreListedIsStillListed) {
    // The sink rewrites a.xlsx as the update reaches b.csv: the report must not leave it out.
    class Rewriter final : public SearchSink {
    public:
        explicit Rewriter(QString folder) : folder_(std::move(folder)) {}
        void hit(const SearchHit& hit) override { names.append(hit.name); }
        void unreadable(const Failure&) override {}
        bool keepGoing(const QString& catalogue, std::uint64_t) override {
            if (!done_ && catalogue.endsWith(QStringLiteral("b.csv"))) {
                done_ = true;
                writeBook(folder_ + QStringLiteral("/a.xlsx"),
                          {{"new.txt", "/", "5", "2025/01/01", "00:00:00", "DISC-A", "F"}});
            }
            return true;
        }
        QStringList names;

    private:
        QString folder_;
        bool done_ = false;
    } sink(folder);
    CatalogueIndex index(database);
    index.singleCopies(paths, sink);
    EXPECT_TRUE(sink.names.contains(QStringLiteral("new.txt")) || sink.names.contains(QStringLiteral("ab")))
        << sink.names.join(QLatin1Char(' ')).toStdString();
}

TEST(LibrarySingleCopies, ListsTheEntriesOneMediumHolds) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("library"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const auto file = [](const std::string& name, const std::string& size, const std::string& label) {
        return Line{name, "/f", size, "2024/01/01", "12:00:00", label, "F"};
    };
    writeCsv(folder + QStringLiteral("/a.csv"),
             {file("only-a.txt", "10", "A"), file("a-and-b.txt", "20", "A"), file("all.txt", "30", "A"),
              file("sizes.txt", "40", "A"), Line{"folder", "/", "0", "2024/01/01", "12:00:00", "A", "D"},
              file("empty.txt", "0", "A"), file("twice-on-a.txt", "50", "A"),
              Line{"twice-on-a.txt", "/g", "50", "2024/01/01", "12:00:00", "A", "F"}});
    writeCsv(folder + QStringLiteral("/b.csv"),
             {file("a-and-b.txt", "20", "B"), file("all.txt", "30", "B"), file("sizes.txt", "41", "B")});
    writeCsv(folder + QStringLiteral("/c.csv"), {file("all.txt", "30", "C")});
    // A second catalogue of the same medium A: its entries are no further copies, and a file it lists
    // again is listed once (the one in /g is another file of A).
    writeCsv(folder + QStringLiteral("/a2.csv"), {file("twice-on-a.txt", "50", "A")});
    CatalogueIndex index(dir.filePath(QStringLiteral("index.sqlite")));
    Recorder singles;
    index.singleCopies({folder}, singles);
    std::vector<std::tuple<QString, QString, QString>> found;
    for (const SearchHit& hit : singles.hits) {
        found.emplace_back(hit.name, hit.folder, hit.label);
        EXPECT_EQ(hit.media, 1);
    }
    std::sort(found.begin(), found.end());
    const QString f = QStringLiteral("/f");
    const QString a = QStringLiteral("A");
    const std::vector<std::tuple<QString, QString, QString>> expected = {
        {QStringLiteral("only-a.txt"), f, a},
        {QStringLiteral("sizes.txt"), f, a},
        {QStringLiteral("sizes.txt"), f, QStringLiteral("B")},
        {QStringLiteral("twice-on-a.txt"), f, a},
        {QStringLiteral("twice-on-a.txt"), QStringLiteral("/g"), a},
    };
    EXPECT_EQ(found, expected);

    // Among the given catalogues only: without C's, all.txt is on A and B, still no single copy;
    // without B's, a-and-b.txt is on A alone.
    Recorder someSingles;
    index.singleCopies({folder + QStringLiteral("/a.csv"), folder + QStringLiteral("/c.csv")}, someSingles);
    std::vector<QString> names;
    for (const SearchHit& hit : someSingles.hits) {
        names.push_back(hit.name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<QString>{QStringLiteral("a-and-b.txt"), QStringLiteral("only-a.txt"),
                                           QStringLiteral("sizes.txt"), QStringLiteral("twice-on-a.txt"),
                                           QStringLiteral("twice-on-a.txt")}));
}

} // namespace
} // namespace kartoma
