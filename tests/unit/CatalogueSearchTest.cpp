#include "CatalogueFixtures.h"
#include "CatalogueSearch.h"
#include "Failure.h"
#include "FileSystem.h"
#include "SheetReader.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <zip.h>

#include <map>
#include <optional>

#include <sys/stat.h>
#include <string>

namespace kartoma {
namespace {

TEST(SheetReader, ReadsTheKartomaSheetWithSharedStringsEscapesAndNumbers) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("book.xlsx"));
    // Shared strings as a spreadsheet application saves them: rich-text runs, a reading aid that is
    // no part of the text, entities, a package escape.
    const std::string shared =
        R"(<si><t>ファイル名</t></si><si><r><t>a&amp;</t></r><r><t xml:space="preserve">b </t></r><rPh><t>ヨミ</t></rPh></si><si><t>x_x005F_y_x0009_</t></si><si><t>_xD83D__xDE00__xD800_z</t></si>)";
    const std::string sheet =
        R"(<x:row r="3" xmlns:x="ns"><x:c r="B3" t="s"><x:v>0</x:v></x:c><x:c t="s"><x:v>1</x:v></x:c></x:row>)"
        R"(<row r="4"><c r="A4"><f>1+1</f><v>3221225472</v></c><c r="C4" t="s"><v>2</v></c><c r="D4"/>)"
        R"(<c r="E4" t="inlineStr"><is><t>&lt;&#x41;&#66;&gt;</t></is></c><c r="F4" t="s"><v>3</v></c></row><row r="5"/>)";
    writeWorkbook(path, {{"Other", inlineRow(1, {"no"})}, {"KARTOMA", sheet}}, shared);

    SheetReader reader(path, QStringLiteral("Kartoma"));
    EXPECT_EQ(reader.sheetName(), QStringLiteral("KARTOMA"));
    SheetRow row;
    ASSERT_TRUE(reader.next(row));
    EXPECT_EQ(row.number(), 3);
    EXPECT_EQ(row.cell(1), "ファイル名");
    EXPECT_EQ(row.cell(2), "a&b ");
    ASSERT_TRUE(reader.next(row));
    EXPECT_EQ(row.number(), 4);
    EXPECT_EQ(row.cell(0), "3221225472");
    EXPECT_EQ(row.cell(2), "x_y\t");
    EXPECT_EQ(row.cell(3), "");
    EXPECT_EQ(row.cell(4), "<AB>");
    EXPECT_EQ(row.cell(5), "\U0001F600\uFFFDz"); // an escaped surrogate pair, then a lone one
    EXPECT_FALSE(reader.next(row)); // row 5 holds nothing

    // Without a "Kartoma" sheet the first one is read.
    SheetReader first(path, QStringLiteral("Missing"));
    EXPECT_EQ(first.sheetName(), QStringLiteral("Other"));
}

TEST(SheetReader, RefusesWhatIsNoWorkbookOrBrokenXml) {
    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("text.xlsx"));
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("plain text");
    file.close();
    const QString broken = dir.filePath(QStringLiteral("broken.xlsx"));
    writeWorkbook(broken, {{"Kartoma", R"(<row r="1"><c r="A1" t="s"><v>7</v></c></row>)"}},
                  "<si><t>a</t></si>");
    const auto codeOf = [](const QString& path) {
        try {
            SheetReader reader(path, QStringLiteral("Kartoma"));
            SheetRow row;
            while (reader.next(row)) {
            }
        } catch (const Failure& error) {
            return std::optional(error.code());
        }
        return std::optional<FailureCode>();
    };
    EXPECT_EQ(codeOf(dir.filePath(QStringLiteral("none.xlsx"))), FailureCode::TemplateMissing);
    EXPECT_EQ(codeOf(text), FailureCode::TemplateInvalid);
    EXPECT_EQ(codeOf(broken), FailureCode::TemplateInvalid); // a shared string the table lacks
}

TEST(SheetReader, RefusesAWorkbookOverItsBudgetAndStopsWhenAsked) {
    QTemporaryDir dir;
    SheetBudget small;
    small.sharedText = 64;
    small.sharedTextPerPackedByte = 0;
    small.sharedCount = 4;
    small.rowCells = 8;
    small.rowBytes = 100;
    small.rowBytesFree = 400;
    small.rowBytesPerInflatedByte = 1;
    const std::string longText(101, 'n');
    struct Case {
        const char* what;
        std::string sheet, shared;
        const char* reason; ///< part of the detail; empty when the workbook reads within the budget
    };
    const std::string row = R"(<row><c t="s"><v>0</v></c></row>)";
    std::string repeated;
    for (int i = 0; i < 20; ++i) {
        repeated += R"(<row><c t="s"><v>0</v></c><c t="s"><v>0</v></c></row>)";
    }
    const Case cases[] = {
        {"within the budget", inlineRow(1, {"a", "b"}), "<si><t>" + std::string(60, 's') + "</t></si>", ""},
        {"shared text", row, "<si><t>" + std::string(40, 's') + "</t></si><si><t>" + std::string(40, 's') + "</t></si>",
         "shared strings hold more than"},
        {"shared count", row, "<si/><si/><si/><si/><si/>", "more than 4 shared strings"},
        {"cells of a row", "<row><c/><c/><c/><c/><c/><c/><c/><c/><c/></row>", "",
         "more than 8 cells"},
        {"one long cell", inlineRow(1, {longText}), "", "a row holds more than"},
        {"cells long together", inlineRow(1, {std::string(60, 'a'), std::string(60, 'b')}), "", "a row holds more than"},
        {"a shared string repeated", repeated, "<si><t>" + std::string(50, 's') + "</t></si>", "repeat shared strings"},
    };
    for (const Case& c : cases) {
        const QString path = dir.filePath(QStringLiteral("book.xlsx"));
        writeWorkbook(path, {{"Kartoma", c.sheet}}, c.shared);
        QString detail;
        try {
            SheetReader reader(path, QStringLiteral("Kartoma"), small);
            SheetRow got;
            while (reader.next(got)) {
            }
        } catch (const Failure& error) {
            EXPECT_EQ(error.code(), FailureCode::CatalogueTooLarge) << c.what;
            detail = error.detail();
        }
        EXPECT_EQ(detail.contains(QString::fromUtf8(c.reason)), true) << c.what << ": " << detail.toStdString();
        EXPECT_EQ(detail.isEmpty(), *c.reason == '\0') << c.what;
    }

    // A stop asked for while the sheet inflates ends the reading.
    const QString path = dir.filePath(QStringLiteral("stop.xlsx"));
    writeWorkbook(path, {{"Kartoma", inlineRow(1, {"a"})}});
    try {
        SheetReader reader(path, QStringLiteral("Kartoma"), {}, [] { return false; });
        SheetRow got;
        reader.next(got);
        ADD_FAILURE() << "not stopped";
    } catch (const Failure& error) {
        EXPECT_EQ(error.code(), FailureCode::Cancelled);
    }
}

/// The real file system, but one folder name cannot be opened.
class OneFolderRefused final : public FileSystem {
public:
    explicit OneFolderRefused(std::string name) : name_(std::move(name)) {}
    int openRoot(const std::string& path, FolderHandle& folder) override { return real_.openRoot(path, folder); }
    int openChild(FolderHandle parent, std::string_view name, FolderHandle& folder) override {
        return name == name_ ? EACCES : real_.openChild(parent, name, folder);
    }
    int listFolder(FolderHandle folder, FolderListing& out, std::vector<ListingProblem>& problems) override {
        return real_.listFolder(folder, out, problems);
    }
    void closeFolder(FolderHandle folder) override { real_.closeFolder(folder); }

private:
    std::string name_;
    PosixFileSystem real_;
};

TEST(CatalogueSearch, NamesEachUnreadableCatalogueWithItsReasonAndSearchesTheRest) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("books"));
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/locked")));
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    const auto writeFile = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    const QByteArray title = "\"ファイル名\",\"ディレクトリ\",\"サイズ\",\"ボリューム\"\r\n";
    // CP932 names: a byte pair that is no character, and a lead byte left alone at the end.
    writeFile(folder + QStringLiteral("/a-good.csv"),
              QStringEncoder("windows-31j").encode(QString::fromUtf8(title)) +
                  "\"hit\x85\x40.txt\",\"/m\",1,\"V\"\r\n\"hit\x82\",\"/m\",2,\"V\"\r\n");
    writeFile(folder + QStringLiteral("/locked/x.csv"), title + "\"hit.txt\",\"/m\",1,\"L\"\r\n");
    writeFile(elsewhere + QStringLiteral("/linked.csv"), title + "\"hit.txt\",\"/m\",1,\"LINK\"\r\n");
    ASSERT_TRUE(QFile::link(elsewhere + QStringLiteral("/linked.csv"), folder + QStringLiteral("/b-link.csv")));
    writeFile(folder + QStringLiteral("/c-damaged.xlsx"), "PK\x03\x04 no package");
    writeFile(folder + QStringLiteral("/d-long.csv"), title + QByteArray((1 << 20) + 1, 'n') + "\r\n");
    writeFile(folder + QStringLiteral("/e-wide.csv"), title + QByteArray(20000, ',') + "\r\n");
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + QStringLiteral("/f-pipe.csv")).constData(), 0600), 0);
    const QString missing = dir.filePath(QStringLiteral("missing.xlsx"));

    OneFolderRefused fileSystem("locked");
    Recorder sink;
    const SearchSummary summary =
        searchCatalogues({folder, missing}, SearchQuery{QStringLiteral("hit*")}, sink, fileSystem);
    const std::vector<std::pair<FailureCode, QString>> expected = {
        {FailureCode::CatalogueFolderUnreadable, folder + QStringLiteral("/locked")},
        {FailureCode::CatalogueDamaged, folder + QStringLiteral("/c-damaged.xlsx")},
        {FailureCode::CatalogueTooLarge, folder + QStringLiteral("/d-long.csv")},
        {FailureCode::CatalogueTooLarge, folder + QStringLiteral("/e-wide.csv")},
        {FailureCode::CatalogueNotFile, folder + QStringLiteral("/f-pipe.csv")},
        {FailureCode::CatalogueUnreadable, missing}};
    EXPECT_EQ(sink.failures, expected);
    EXPECT_EQ(summary.unreadable, expected.size());
    ASSERT_EQ(sink.hits.size(), 2u); // the linked catalogue is not followed
    EXPECT_EQ(sink.hits[0].name, QStringLiteral("hit\uFFFD@.txt"));
    EXPECT_EQ(sink.hits[1].name, QStringLiteral("hit\uFFFD"));
}

TEST(CatalogueSearch, FindsColumnsByTheirTitlesInEveryFormAndRefusesOtherFiles) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("books"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/deeper")));
    const std::vector<std::string> titles = {"ファイル名", "ディレクトリ", "サイズ", "日付",
                                             "時間",       "ボリューム",   "TYPE"};
    // Every page titled; a row of notes above the first title; the entries in the usual columns.
    writeWorkbook(
        folder + QStringLiteral("/a.xlsx"),
        {{"Kartoma", inlineRow(1, {"notes"}) + inlineRow(2, titles) +
                         inlineRow(3, {"hit1.txt", "/m/a", "", "2024/01/02", "03:04:05", "A", "F"}) +
                         inlineRow(4, titles) + inlineRow(5, {"miss.doc", "/m/a", "", "", "", "A", "F"}) +
                         inlineRow(6, {"HIT2.TXT", "/m/a/sub", "", "", "", "A", "F"})}});
    // Columns moved and one added by a user.
    writeWorkbook(folder + QStringLiteral("/deeper/b.xlsx"),
                  {{"Kartoma", inlineRow(1, {"メモ", "ボリューム", "ディレクトリ", "ファイル名"}) +
                                   inlineRow(2, {"x", "B", "/m/b", "hit3.txt"})}});
    const auto writeFile = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    QStringEncoder cp932("windows-31j");
    writeFile(folder + QStringLiteral("/c.csv"),
              cp932.encode(
                  QStringLiteral("\"ディレクトリ\",\"ファイル名\",\"ボリューム\",\"サイズ\"\r\n"
                                 "\"/m/c\",\"hit4.txt\",\"写真\",12\r\n\"/m/c\",\"x.txt\",\"写真\",1\r\n")));
    writeFile(folder + QStringLiteral("/d.csv"),
              QStringLiteral("\xFEFF\"ファイル名\",\"ディレクトリ\",\"サイズ\",\"ボリューム\"\r\n"
                             "\"hit\"\"5\"\".txt\",\"/m/d\",3.2E+9,\"U\"\r\n")
                  .toUtf8());
    writeFile(folder + QStringLiteral("/expenses.csv"), "date,amount\n2024/01/01,300\n");
    writeWorkbook(folder + QStringLiteral("/other.xlsx"), {{"Sheet1", inlineRow(1, {"a", "b"})}});

    Recorder sink;
    const SearchSummary summary = searchCatalogues({folder}, SearchQuery{QStringLiteral("hit*.txt")}, sink);
    std::vector<std::pair<QString, QString>> got;
    for (const SearchHit& h : sink.hits) {
        got.emplace_back(h.label, h.name);
    }
    const std::vector<std::pair<QString, QString>> expected = {
        {QStringLiteral("A"), QStringLiteral("hit1.txt")},
        {QStringLiteral("A"), QStringLiteral("HIT2.TXT")},
        {QStringLiteral("写真"), QStringLiteral("hit4.txt")},
        {QStringLiteral("U"), QStringLiteral("hit\"5\".txt")},
        {QStringLiteral("B"), QStringLiteral("hit3.txt")}};
    EXPECT_EQ(got, expected);
    EXPECT_EQ(sink.hits[0].date, QStringLiteral("2024/01/02"));
    EXPECT_EQ(sink.hits[2].size, QStringLiteral("12"));
    EXPECT_EQ(sink.hits[3].size, QStringLiteral("3200000000"));
    EXPECT_EQ(sink.hits[4].catalogue, folder + QStringLiteral("/deeper/b.xlsx"));
    ASSERT_EQ(sink.failures.size(), 2u);
    EXPECT_EQ(sink.failures[0],
              std::make_pair(FailureCode::NotACatalogue, folder + QStringLiteral("/expenses.csv")));
    EXPECT_EQ(sink.failures[1],
              std::make_pair(FailureCode::NotACatalogue, folder + QStringLiteral("/other.xlsx")));
    EXPECT_EQ(summary.catalogues, 4u);
    EXPECT_EQ(summary.hits, 5u);

    // Folder and name together.
    Recorder byPath;
    searchCatalogues({folder}, SearchQuery{QStringLiteral("*/SUB/*"), true}, byPath);
    ASSERT_EQ(byPath.hits.size(), 1u);
    EXPECT_EQ(byPath.hits[0].name, QStringLiteral("HIT2.TXT"));

    // A stop ends the search at once.
    Recorder stopper;
    stopper.allowedCalls = 1;
    EXPECT_TRUE(searchCatalogues({folder}, SearchQuery{QStringLiteral("*")}, stopper).stopped);
    EXPECT_LE(stopper.hits.size(), 3u);
}

TEST(CatalogueSearch, HitLinesAreQuotedAsTheCsvWriterQuotes) {
    EXPECT_EQ(searchHitLine(SearchHit{QStringLiteral("L"), QStringLiteral("/a,b"), QStringLiteral("q\"x"),
                                      QStringLiteral("5"), QStringLiteral("2024/01/02"),
                                      QStringLiteral("03:04:05"), QStringLiteral("c.xlsx")}),
              "\"L\",\"/a,b\",\"q\"\"x\",5,\"2024/01/02\",\"03:04:05\",\"c.xlsx\"\r\n");
    // A size that is no number is text: it cannot end the line or add fields to it.
    EXPECT_EQ(searchHitLine(SearchHit{QStringLiteral("L"), QStringLiteral("/d"), QStringLiteral("n"),
                                      QStringLiteral("1,\"X\"\r\n\"f\""), QString(), QString(), QStringLiteral("c")}),
              "\"L\",\"/d\",\"n\",\"1,\"\"X\"\"\r\n\"\"f\"\"\",\"\",\"\",\"c\"\r\n");
}

} // namespace
} // namespace kartoma
