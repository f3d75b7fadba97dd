#include "Walk.h"
#include "EntryRecorder.h"
#include "Failure.h"
#include "FakeFileSystem.h"
#include "NameText.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kartoma {
namespace {

using testing::FakeFileSystem;

/// Records what the walk reports, in one sequence, so that order across calls is visible.
class Recorder final : public WalkObserver {
public:
    void searching(const QString& folder) override { events.append(QStringLiteral("searching ") + folder); }
    void yieldNow() override { ++yields; }
    void skipped(const QString& path, int errnum) override {
        events.append(QStringLiteral("skipped %1 (%2)").arg(path).arg(errnum));
    }
    QStringList events;
    int yields = 0;
};

/// One entry of a list, as a person reads it.
struct Entry {
    QString dir, name;
    std::int64_t size;
    QString volume;
    EntryType type;
};

Entry entryOf(const EntryList& list, std::size_t i) {
    const EntryList::Record& r = list.record(i);
    return Entry{list.folderPath(r.folder), nameText(r.nameBytes()), r.size, list.volumeLabel(), r.type};
}

QString typeText(EntryType type) {
    return type == EntryType::Folder ? QStringLiteral("D") : QStringLiteral("F");
}

/// Every entry as "dir|name|type|size", in list order.
QStringList lines(const EntryList& list) {
    QStringList out;
    for (std::size_t i = 0; i < list.count(); ++i) {
        const Entry e = entryOf(list, i);
        out.append(QStringLiteral("%1|%2|%3|%4").arg(e.dir, e.name, typeText(e.type)).arg(e.size));
    }
    return out;
}

CatalogueOptions everything(int depth = 8) {
    CatalogueOptions options;
    options.walk.depth = depth;
    options.record.listFolders = true;
    options.record.filterPattern = QStringLiteral("*");
    return options;
}

/// A/B/C with a file at each level, entries given out of order.
FakeFileSystem abcTree() {
    FakeFileSystem fs;
    fs.folder("/A").entries = {
        {"b", EntryKind::Folder}, {"a1.txt", EntryKind::File, 10}, {"Z", EntryKind::File, 1}};
    fs.folder("/A/b").entries = {{"C", EntryKind::Folder}, {"b1.txt", EntryKind::File, 20}};
    fs.folder("/A/b/C").entries = {{"c1.txt", EntryKind::File, 30}};
    return fs;
}

TEST(Walk, EntriesOfAFolderComeSortedBeforeItsSubfoldersWhichAreWalkedDepthFirst) {
    FakeFileSystem fs = abcTree();
    Recorder observer;
    EntryList list;
    const WalkStats stats = collectEntries(QStringLiteral("/A"), everything(), fs, observer, list);
    EXPECT_EQ(lines(list), (QStringList{QStringLiteral("/A|a1.txt|F|10"), QStringLiteral("/A|b|D|0"),
                                        QStringLiteral("/A|Z|F|1"), QStringLiteral("/A/b|b1.txt|F|20"),
                                        QStringLiteral("/A/b|C|D|0"), QStringLiteral("/A/b/C|c1.txt|F|30")}));
    EXPECT_EQ(observer.events,
              (QStringList{QStringLiteral("searching /A/b"), QStringLiteral("searching /A/b/C")}));
    EXPECT_EQ(observer.yields, 6);
    EXPECT_EQ(stats.entriesSeen, 6u);
    EXPECT_EQ(stats.skipped(), 0u);
    // Subfolders are opened from their parent's handle, and every handle is given back once.
    EXPECT_EQ(fs.opened, (std::vector<std::string>{"/A", "/A/b", "/A/b/C"}));
    EXPECT_EQ(fs.closed, (std::vector<int>{1, 1, 1}));
}

TEST(Walk, DepthLimitsTheLevelsListed) {
    {
        // Depth 2: A's entries and B's entries, nothing inside C; C is listed but not opened.
        FakeFileSystem fs = abcTree();
        Recorder observer;
        EntryList list;
        collectEntries(QStringLiteral("/A"), everything(2), fs, observer, list);
        EXPECT_EQ(list.count(), 5u);
        EXPECT_EQ(fs.opened, (std::vector<std::string>{"/A", "/A/b"}));
        // The status still names C: the level below is called and returns at once.
        EXPECT_EQ(observer.events.size(), 2);
    }
    {
        // Depth 1: only the chosen folder, but each subfolder still shows in the status text.
        FakeFileSystem fs = abcTree();
        Recorder observer;
        EntryList list;
        collectEntries(QStringLiteral("/A"), everything(1), fs, observer, list);
        EXPECT_EQ(list.count(), 3u);
        EXPECT_EQ(observer.events, QStringList{QStringLiteral("searching /A/b")});
    }
    for (const int depth : {0, -5}) {
        // Zero or less: nothing is opened, recorded or shown.
        FakeFileSystem fs = abcTree();
        Recorder observer;
        EntryList list;
        const WalkStats stats = collectEntries(QStringLiteral("/A"), everything(depth), fs, observer, list);
        EXPECT_EQ(list.count(), 0u);
        EXPECT_TRUE(fs.opened.empty());
        EXPECT_TRUE(observer.events.isEmpty());
        EXPECT_EQ(stats.entriesSeen, 0u);
    }
}

TEST(Walk, DepthAboveEightActsAsEight) {
    FakeFileSystem fs;
    std::string path = "/r";
    for (int level = 1; level <= 12; ++level) {
        fs.folder(path).entries = {{"d", EntryKind::Folder}, {"f.txt", EntryKind::File}};
        path += "/d";
    }
    Recorder observer;
    EntryList list;
    collectEntries(QStringLiteral("/r"), everything(32767), fs, observer, list);
    EXPECT_EQ(fs.opened.size(), 8u);
    EXPECT_EQ(list.count(), 16u);
    // The eighth level lists its folder but neither opens it nor names it in the status.
    EXPECT_EQ(observer.events.size(), 7);
}

TEST(Walk, RootPathIsJoinedWithoutADoubledSeparator) {
    FakeFileSystem fs;
    fs.folder("/").entries = {{"etc", EntryKind::Folder}, {"vmlinuz", EntryKind::File}};
    fs.folder("/etc").entries = {{"hosts", EntryKind::File, 5}};
    Recorder observer;
    EntryList list;
    collectEntries(QStringLiteral("/"), everything(), fs, observer, list);
    EXPECT_EQ(lines(list), (QStringList{QStringLiteral("/|etc|D|0"), QStringLiteral("/|vmlinuz|F|0"),
                                        QStringLiteral("/etc|hosts|F|5")}));
    EXPECT_EQ(observer.events, QStringList{QStringLiteral("searching /etc")});
    EXPECT_EQ(fs.opened, (std::vector<std::string>{"/", "/etc"}));
}

TEST(Walk, UnreadableFoldersAndVanishedEntriesAreCountedAndTheWalkGoesOn) {
    FakeFileSystem fs;
    fs.folder("/r").entries = {
        {"locked", EntryKind::Folder}, {"ok", EntryKind::Folder}, {"x.txt", EntryKind::File}};
    fs.folder("/r").vanished = {"gone.txt"};
    fs.folder("/r/locked").openError = EACCES;
    fs.folder("/r/ok").entries = {{"y.txt", EntryKind::File}};
    Recorder observer;
    EntryList list;
    const WalkStats stats = collectEntries(QStringLiteral("/r"), everything(), fs, observer, list);
    EXPECT_EQ(lines(list), (QStringList{QStringLiteral("/r|locked|D|0"), QStringLiteral("/r|ok|D|0"),
                                        QStringLiteral("/r|x.txt|F|0"), QStringLiteral("/r/ok|y.txt|F|0")}));
    EXPECT_EQ(stats.unreadableFolders, 1u);
    EXPECT_EQ(stats.unreadableEntries, 1u);
    EXPECT_TRUE(observer.events.contains(QStringLiteral("skipped /r/locked (%1)").arg(EACCES)));
    EXPECT_TRUE(observer.events.contains(QStringLiteral("skipped /r/gone.txt (2)")));
}

TEST(Walk, AnUnreadableRootIsAFailure) {
    FakeFileSystem fs;
    fs.folder("/locked").openError = EACCES;
    Recorder observer;
    EntryList list;
    try {
        collectEntries(QStringLiteral("/missing"), everything(), fs, observer, list);
        FAIL() << "no failure";
    } catch (const Failure& f) {
        EXPECT_EQ(f.code(), FailureCode::RootNotFound);
        EXPECT_EQ(f.subject(), QStringLiteral("/missing"));
    }
    try {
        collectEntries(QStringLiteral("/locked"), everything(), fs, observer, list);
        FAIL() << "no failure";
    } catch (const Failure& f) {
        EXPECT_EQ(f.code(), FailureCode::RootUnreadable);
    }
}

TEST(Walk, SortsByUpperCasedNameInCodePointOrderWithTiesByBytes) {
    FakeFileSystem fs;
    fs.folder("/s").entries = {{"b", EntryKind::File},
                               {"日本", EntryKind::File},
                               {"A", EntryKind::Folder},
                               {"a", EntryKind::File},
                               {"_x", EntryKind::File},
                               {"Ä", EntryKind::File},
                               {"\xF0\x9F\x98\x80", EntryKind::File},
                               {"ｱ", EntryKind::File},
                               {"B", EntryKind::File}};
    Recorder observer;
    EntryList list;
    collectEntries(QStringLiteral("/s"), everything(), fs, observer, list);
    QStringList names;
    for (std::size_t i = 0; i < list.count(); ++i) {
        names.append(entryOf(list, i).name);
    }
    EXPECT_EQ(names,
              (QStringList{QStringLiteral("A"), QStringLiteral("a"), QStringLiteral("B"), QStringLiteral("b"),
                           QStringLiteral("_x"), QStringLiteral("Ä"), QStringLiteral("日本"),
                           QStringLiteral("ｱ"), QString::fromUtf8("\xF0\x9F\x98\x80")}));
}

TEST(Recorder, FolderOptionAndFilterDecideWhatIsRecorded) {
    FakeFileSystem fs;
    fs.folder("/f").entries = {{"README", EntryKind::File},
                               {"a.txt", EntryKind::File},
                               {"B.TXT", EntryKind::File},
                               {"c.doc", EntryKind::File},
                               {"sub", EntryKind::Folder}};
    fs.folder("/f/sub").entries = {{"d.txt", EntryKind::File}, {"nodot", EntryKind::Folder}};
    Recorder observer;
    EntryList list;

    CatalogueOptions options;
    options.record.filterPattern = QStringLiteral("*.txt");
    options.record.listFolders = false;
    options.volumeLabel = QStringLiteral("DATA");
    collectEntries(QStringLiteral("/f"), options, fs, observer, list);
    // Folders are left out but still opened; the filter ignores letter case.
    EXPECT_EQ(lines(list), (QStringList{QStringLiteral("/f|a.txt|F|0"), QStringLiteral("/f|B.TXT|F|0"),
                                        QStringLiteral("/f/sub|d.txt|F|0")}));
    EXPECT_EQ(entryOf(list, 0).volume, QStringLiteral("DATA"));

    // Folders listed: every folder, whatever the pattern; files still filtered. The default "*.*" needs a
    // dot.
    options.record.filterPattern = QStringLiteral("*.*");
    options.record.listFolders = true;
    options.volumeLabel.clear();
    collectEntries(QStringLiteral("/f"), options, fs, observer, list);
    EXPECT_EQ(lines(list),
              (QStringList{QStringLiteral("/f|a.txt|F|0"), QStringLiteral("/f|B.TXT|F|0"),
                           QStringLiteral("/f|c.doc|F|0"), QStringLiteral("/f|sub|D|0"),
                           QStringLiteral("/f/sub|d.txt|F|0"), QStringLiteral("/f/sub|nodot|D|0")}));
    EXPECT_TRUE(entryOf(list, 0).volume.isEmpty());
}

/// The walk's calls to its sink and its observer, in one sequence.
class CallLog final : public EntrySink, public WalkObserver {
public:
    void beginFolder(int level, std::string_view name) override {
        calls.push_back("begin " + std::to_string(level) + " " + std::string(name));
    }
    void offer(std::string_view name, std::string_view upperName, const FolderListing::Item& item) override {
        calls.push_back("offer " + std::string(name) + "|" + std::string(upperName) + "|" +
                        std::to_string(item.size) + "|" + std::to_string(item.mtime));
        if (++offers == throwAtOffer) {
            throw std::runtime_error("stop");
        }
    }
    void searching(const QString& folder) override { calls.push_back("search " + folder.toStdString()); }
    void yieldNow() override {
        if (++yields == throwAtYield) {
            throw std::runtime_error("stop");
        }
    }
    void skipped(const QString& path, int errnum) override {
        calls.push_back("skip " + path.toStdString() + " " + std::to_string(errnum));
    }
    std::vector<std::string> calls;
    int offers = 0;
    int yields = 0;
    int throwAtOffer = 0;
    int throwAtYield = 0;
};

/// A tree of 1,500 folders down to ten levels, with unreadable folders and vanished entries, the same
/// for the same seed.
FakeFileSystem randomTree(unsigned seed) {
    FakeFileSystem fs;
    std::mt19937 random(seed);
    std::vector<std::pair<std::string, int>> folders = {{"/t", 1}};
    while (folders.size() < 1500) {
        // Mostly below one of the latest folders, so that the tree grows deep as well as wide.
        std::size_t pick = folders.size() - 1 - random() % std::min<std::size_t>(folders.size(), 40);
        while (folders[pick].second == 10) {
            pick = random() % folders.size();
        }
        const auto [parent, level] = folders[pick];
        const std::string name = (random() % 2 ? "D" : "d") + std::to_string(folders.size());
        fs.folder(parent).entries.push_back({name, EntryKind::Folder});
        folders.emplace_back(parent + "/" + name, level + 1);
        if (random() % 25 == 0) {
            fs.folder(folders.back().first).openError = EACCES;
        }
    }
    for (const auto& [path, level] : folders) {
        FakeFileSystem::Folder& folder = fs.folder(path);
        const int files = static_cast<int>(random() % 8);
        for (int i = 0; i < files; ++i) {
            folder.entries.push_back({"f" + std::to_string(random() % 1000) + (i % 3 ? ".txt" : ".TXT"),
                                      EntryKind::File, static_cast<std::int64_t>(random() % 5000),
                                      static_cast<std::int64_t>(random())});
        }
        if (random() % 9 == 0) {
            folder.vanished.push_back("gone" + std::to_string(level));
        }
    }
    return fs;
}

/// Every handle given out was given back exactly once.
void expectAllClosed(const FakeFileSystem& fs) {
    for (std::size_t i = 0; i < fs.closed.size(); ++i) {
        EXPECT_EQ(fs.closed[i], 1) << "handle " << i;
    }
}

TEST(Walk, EveryNumberOfWorkersOffersAndReportsTheSameInTheSameOrder) {
    for (const unsigned seed : {1u, 2u, 3u}) {
        for (const int depth : {8, 3}) {
            std::vector<std::string> alone;
            for (const int workers : {0, 1, 2, 8, kChooseWorkers}) {
                FakeFileSystem fs = randomTree(seed);
                CallLog log;
                WalkOptions options;
                options.depth = depth;
                options.workers = workers;
                const WalkStats stats = walkTree(QStringLiteral("/t"), options, fs, log, log);
                EXPECT_EQ(stats.entriesSeen, static_cast<std::uint64_t>(log.offers));
                EXPECT_GE(log.yields, log.offers); // and more while it waits for a folder
                expectAllClosed(fs);
                if (workers == 0) {
                    alone = log.calls;
                    EXPECT_GT(alone.size(), 100u);
                } else {
                    EXPECT_EQ(log.calls, alone) << "seed " << seed << ", depth " << depth << ", workers " << workers;
                }
            }
        }
    }
}

TEST(Walk, WhateverIsThrownEndsTheWalkWithEveryFolderClosed) {
    struct Case {
        int workers;
        int throwAtOffer;
        int throwAtYield;
    };
    for (const Case c : {Case{0, 1, 0}, Case{2, 1, 0}, Case{2, 300, 0}, Case{8, 300, 0}, Case{2, 0, 1},
                         Case{8, 0, 2000}, Case{kChooseWorkers, 0, 700}}) {
        FakeFileSystem fs = randomTree(7);
        CallLog log;
        log.throwAtOffer = c.throwAtOffer;
        log.throwAtYield = c.throwAtYield;
        WalkOptions options;
        options.workers = c.workers;
        EXPECT_THROW(walkTree(QStringLiteral("/t"), options, fs, log, log), std::runtime_error);
        expectAllClosed(fs);
    }
}

TEST(Walk, WaitingForASlowFolderLetsTheObserverRunAndStopTheWalk) {
    FakeFileSystem fs;
    fs.folder("/r").entries = {{"a.txt", EntryKind::File}, {"slow", EntryKind::Folder}};
    fs.folder("/r/slow").entries = {{"b.txt", EntryKind::File}};
    fs.folder("/r/slow").readTime = std::chrono::milliseconds(400);
    for (const int workers : {1, 4}) {
        CallLog log;
        log.throwAtYield = 6; // the first two offers, then four turns while "slow" is read
        WalkOptions options;
        options.workers = workers;
        EXPECT_THROW(walkTree(QStringLiteral("/r"), options, fs, log, log), std::runtime_error);
        EXPECT_EQ(log.offers, 2);
        expectAllClosed(fs);
    }
}

TEST(UpperKeys, AreTheBytesOfTheNamesTextUpperCased) {
    const std::vector<std::string> names = {
        "", "abc-XYZ_09.txt", "straße", "ǅungla", "ıi İI", "ΣΊΣΥΦΟΣ ς σ", "ｆｕｌｌ　ＷＩＤＴＨ",
        "日本語ファイル", "ﾊﾝｶｸ", "\xF0\x9F\x98\x80 emoji", "ﬁ ligature", "ǰ", "\xEF\xBB\xBF" "bom",
        "\xEF\xBF\xBD replacement", "bad\xFF\xFEutf8", "\x82\xA0\x82\xA2 sjis", "\x83\x5C ka",
        "cut \xE6\x97", "overlong \xC0\xAF", "surrogate \xED\xA0\x80", "high \xF4\x90\x80\x80",
        "\x80 lone", "mixed ä \xFF"};
    for (const std::string& name : names) {
        std::string key = "prefix/";
        appendUpperUtf8(name, key);
        const QByteArray expected = upperCased(nameText(name)).toUtf8();
        EXPECT_EQ(key, "prefix/" + expected.toStdString()) << name;
    }
}

// The real file system, on a tree made here.
class RealTree : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    std::string root() const { return QFile::encodeName(dir_.path()).toStdString(); }
    void file(const std::string& rel, const std::string& content = {}) {
        const int fd = open((root() + "/" + rel).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << rel;
        ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        close(fd);
    }
    void folder(const std::string& rel) { ASSERT_EQ(mkdir((root() + "/" + rel).c_str(), 0755), 0) << rel; }
    void link(const std::string& target, const std::string& rel) {
        ASSERT_EQ(symlink(target.c_str(), (root() + "/" + rel).c_str()), 0) << rel;
    }
    EntryList walk() {
        PosixFileSystem fs;
        Recorder observer;
        EntryList list;
        stats_ = collectEntries(dir_.path(), everything(), fs, observer, list);
        return list;
    }
    QTemporaryDir dir_;
    WalkStats stats_;
};

TEST_F(RealTree, LinksAreListedAsFilesAndNeverFollowed) {
    folder("d");
    file("d/inner.txt", "12345");
    link("d", "to-d");
    link("/", "to-root");
    link("nowhere", "dangling");
    link("loop", "loop");
    link("..", "d/up");
    const EntryList list = walk();
    QStringList names;
    for (std::size_t i = 0; i < list.count(); ++i) {
        const Entry e = entryOf(list, i);
        names.append(e.name + QLatin1Char(':') + typeText(e.type));
        if (e.name == QLatin1String("dangling")) {
            EXPECT_EQ(e.size, 7); // the link's own size: the length of its target
        }
    }
    EXPECT_EQ(names,
              (QStringList{QStringLiteral("d:D"), QStringLiteral("dangling:F"), QStringLiteral("loop:F"),
                           QStringLiteral("to-d:F"), QStringLiteral("to-root:F"),
                           QStringLiteral("inner.txt:F"), QStringLiteral("up:F")}));
    EXPECT_EQ(stats_.skipped(), 0u);
}

TEST_F(RealTree, OddNamesAreListedAsTheyAre) {
    const std::vector<std::string> odd = {
        " leading blank", "trailing blank ",    "q\"uote",         "com,ma", "line\nbreak", "car\rriage",
        "100%",           "日本語ファイル.txt", "bad\xFF\xFEutf8", "tab\tx"};
    for (const std::string& name : odd) {
        file(name, "x");
    }
    const EntryList list = walk();
    ASSERT_EQ(list.count(), odd.size());
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < list.count(); ++i) {
        seen.emplace_back(list.record(i).nameBytes());
        EXPECT_EQ(list.record(i).size, 1);
    }
    std::sort(seen.begin(), seen.end());
    std::vector<std::string> expected = odd;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen, expected);
    // Bytes that are not UTF-8 show as U+FFFD in the text, and nothing else changes.
    bool found = false;
    for (std::size_t i = 0; i < list.count(); ++i) {
        if (entryOf(list, i).name == QStringLiteral("bad\uFFFD\uFFFDutf8")) {
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(RealTree, SizesBeyondFourGigabytesAreKept) {
    const std::string path = root() + "/sparse.bin";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const std::int64_t size = 5LL * 1024 * 1024 * 1024;
    if (ftruncate(fd, size) != 0) {
        close(fd);
        GTEST_SKIP() << "this file system cannot hold a sparse file of 5 GiB";
    }
    close(fd);
    const EntryList list = walk();
    ASSERT_EQ(list.count(), 1u);
    EXPECT_EQ(list.record(0).size, size);
}

TEST_F(RealTree, PathsBeyondTheSystemLimitAreWalked) {
    // The chosen folder lies 2,500 bytes deep and eight levels of long names go further, well past
    // the 4,096 bytes a path may have.
    const std::string longName(250, 'n');
    std::string rootRel;
    for (int i = 0; i < 10; ++i) {
        rootRel += (i == 0 ? "" : "/") + longName;
        folder(rootRel);
    }
    int fd = open((root() + "/" + rootRel).c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int level = 2; level <= 8; ++level) {
        ASSERT_EQ(mkdirat(fd, longName.c_str(), 0755), 0);
        const int next = openat(fd, longName.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    const int leaf = openat(fd, "deep.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(leaf, 0);
    close(leaf);
    close(fd);
    PosixFileSystem fs;
    Recorder observer;
    EntryList list;
    CatalogueOptions options = everything();
    options.record.listFolders = false;
    const WalkStats stats = collectEntries(dir_.path() + QLatin1Char('/') + QString::fromStdString(rootRel),
                                           options, fs, observer, list);
    EXPECT_EQ(stats.skipped(), 0u);
    ASSERT_EQ(list.count(), 1u);
    EXPECT_EQ(entryOf(list, 0).name, QStringLiteral("deep.txt"));
    EXPECT_GT(entryOf(list, 0).dir.size(), 4096);
}

TEST_F(RealTree, AFolderSwappedForALinkDuringTheWalkIsNeverFollowed) {
    // Someone who owns part of the tree keeps exchanging a folder with a link to a folder outside it
    // whose layout is the same; whatever the timing, nothing of the outside may be listed.
    QTemporaryDir outside;
    ASSERT_TRUE(outside.isValid());
    const std::string out = QFile::encodeName(outside.path()).toStdString();
    folder("x");
    std::string inner = "x";
    for (const char* level : {"/s1", "/s2", "/s3"}) {
        inner += level;
        folder(inner);
        ASSERT_EQ(mkdir((out + "/" + inner.substr(2)).c_str(), 0755), 0);
    }
    file(inner + "/inside.txt");
    const int secret = open((out + "/s1/s2/s3/secret.txt").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(secret, 0);
    close(secret);
    link(out, "y");
    const std::string x = root() + "/x";
    const std::string y = root() + "/y";
    if (renameat2(AT_FDCWD, x.c_str(), AT_FDCWD, y.c_str(), RENAME_EXCHANGE) != 0) {
        GTEST_SKIP() << "this file system cannot exchange names: " << std::strerror(errno);
    }
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        while (!stop.load()) {
            renameat2(AT_FDCWD, x.c_str(), AT_FDCWD, y.c_str(), RENAME_EXCHANGE);
        }
    });
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    int walks = 0;
    bool leaked = false;
    while (!leaked && std::chrono::steady_clock::now() < until) {
        const EntryList list = walk();
        ++walks;
        for (std::size_t i = 0; i < list.count(); ++i) {
            leaked = leaked || list.record(i).nameBytes() == "secret.txt";
        }
    }
    stop = true;
    swapper.join();
    EXPECT_FALSE(leaked) << "after " << walks << " walks";
}

} // namespace
} // namespace kartoma

namespace kartoma {
namespace {

TEST(EntryList, KeepsEveryNameWhateverItsLength) {
    // An empty first name once read past the end of the name blocks (found by fuzzing).
    EntryList list;
    const std::uint32_t folder = list.addFolder("/x");
    list.append(folder, "", 0, LocalStamp{}, EntryType::File);
    const std::string longName(65535, 'n');
    list.append(folder, longName, 1, LocalStamp{}, EntryType::File);
    for (int i = 0; i < 70000; ++i) {
        list.append(folder, "name-" + std::to_string(i), i, LocalStamp{}, EntryType::File);
    }
    EXPECT_EQ(list.record(0).nameBytes(), "");
    EXPECT_TRUE(list.record(1).nameBytes() == longName);
    EXPECT_EQ(list.record(70001).nameBytes(), "name-69999");
    EXPECT_EQ(list.record(70001).size, 69999);
    EXPECT_EQ(list.count(), 70002u);
}

} // namespace
} // namespace kartoma
