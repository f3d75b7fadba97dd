#include "SheetWriter.h"
#include "EnglishMessages.h"
#include "Failure.h"
#include "Presenters.h"
#include "ReadBack.h"
#include "Workbook.h"
#include "CatalogueProgress.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <map>

namespace kartoma {
namespace {

/// Saves where the test says and remembers what it was asked to show.
class RecordingPresenter final : public WorkbookPresenter {
public:
    explicit RecordingPresenter(QString path) : path_(std::move(path)) {}
    QString destinationFor(const QString& templatePath) override {
        asked.append(templatePath);
        return path_;
    }
    bool present(const QString& saved) override {
        presented.append(saved);
        return shows;
    }
    QStringList asked, presented;
    bool shows = true;

private:
    QString path_;
};

using testing::readBack;

/// A written workbook as openpyxl reads it: its cells' values ("#n" for numbers), looks and the rest.
struct Written {
    QJsonObject book;
    QString operator[](const char* ref) const {
        const QJsonArray cell = book[QStringLiteral("cells")].toObject()[QLatin1String(ref)].toArray();
        if (cell.isEmpty()) {
            return QStringLiteral("(none)");
        }
        const QString value = cell.at(0).toVariant().toString();
        return cell.at(1).toString() == QLatin1String("int") ? QLatin1Char('#') + value : value;
    }
    QJsonValue look(const char* ref) const { return book[QStringLiteral("looks")].toObject()[QLatin1String(ref)]; }
};

class SheetWriterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString out() const { return dir_.path() + QStringLiteral("/out.xlsx"); }
    Written written() const { return Written{readBack(out())}; }

    QTemporaryDir dir_;
    RecordingPresenter presenter_{out()};
    WorkbookOpener opener_;
    WorkbookOutput output_{opener_, presenter_};
};

/// Records the stages, the writer's positions and its yields.
class RecordingProgress final : public CatalogueProgress {
public:
    using Stage = std::pair<CatalogueStage, std::uint64_t>;
    void reached(CatalogueStage stage, std::uint64_t total) override { stages.emplace_back(stage, total); }
    void rowReached(std::uint64_t position) override { positions.push_back(position); }
    void yieldNow() override { ++yields; }
    std::vector<Stage> stages;
    std::vector<std::uint64_t> positions;
    int yields = 0;
};

/// The stages of a workbook written whole after `filling`.
std::vector<RecordingProgress::Stage> workbookStages(CatalogueStage filling, std::uint64_t total) {
    return {{filling, total},
            {CatalogueStage::SheetFilled, 0},
            {CatalogueStage::SavingWorkbook, 0},
            {CatalogueStage::WorkbookSaved, 0}};
}

EntryList makeList(int entries, const QString& label = QStringLiteral("VOL")) {
    EntryList list;
    list.setVolumeLabel(label);
    const std::uint32_t folder = list.addFolder("/media/disk");
    for (int i = 0; i < entries; ++i) {
        const std::string name = "file" + std::to_string(i) + ".txt";
        list.append(folder, name, i, LocalStamp{2026, 12, 8, 9, 5, 0},
                    i % 5 == 0 ? EntryType::Folder : EntryType::File);
    }
    return list;
}

TEST(SheetGeometry, PageCountsAndRowsNeeded) {
    EXPECT_EQ(pageCount(1, 60), 1);
    EXPECT_EQ(pageCount(59, 60), 1);
    EXPECT_EQ(pageCount(60, 60), 2);
    EXPECT_EQ(pageCount(118, 60), 2);
    EXPECT_EQ(pageCount(119, 60), 3);
    EXPECT_EQ(pageCount(7199, 60), 123);
    // Stored values below 2 leave no room for entries: the default takes their place.
    EXPECT_EQ(usablePageLines(1), 60);
    EXPECT_EQ(usablePageLines(-3), 60);
    EXPECT_EQ(pageCount(59, 0), 1);
    EXPECT_EQ(rowsNeededTitledOnFirstPage(1048575), 1048576);
    EXPECT_EQ(rowsNeededTitledOnEveryPage(60, 60), 62);
}

const QString kTemplate = QStringLiteral(KARTOMA_TEST_TEMPLATE);

/// The failure `step` throws.
Failure failureOf(const std::function<void()>& step) {
    try {
        step();
    } catch (const Failure& f) {
        return f;
    }
    ADD_FAILURE() << "no failure";
    return Failure(FailureCode::Cancelled, QString());
}

TEST_F(SheetWriterTest, TitledOnEveryPageLayoutPutsATitleRowAtTheTopOfEveryPage) {
    const EntryList list = makeList(60);
    RecordingProgress progress;
    ASSERT_TRUE(writeTitledOnEveryPage(output_, list, 60, kTemplate, progress));
    EXPECT_EQ(presenter_.asked, QStringList{kTemplate});
    EXPECT_EQ(presenter_.presented, QStringList{out()});
    const Written book = written();
    // Page 1: title in row 1, entries 0..58 in rows 2..60; page 2: title in row 61, entry 59 in row 62.
    // Entry rows: size as a number (0 too), folder, date, time, label, type.
    const std::pair<const char*, const char*> cells[] = {
        {"A1", "ファイル名"},  {"G1", "TYPE"},       {"A2", "file0.txt"},  {"A60", "file58.txt"},
        {"F61", "ボリューム"}, {"A62", "file59.txt"}, {"A63", "(none)"},     {"C2", "#0"},
        {"B2", "/media/disk"}, {"D2", "2026/12/08"}, {"E2", "09:05:00"},   {"F2", "VOL"},
        {"G2", "D"},           {"G3", "F"}};
    for (const auto& [ref, text] : cells) {
        EXPECT_EQ(book[ref], QString::fromUtf8(text)) << ref;
    }
    // Every title row: the first row's look, 12 points, bold, bordered, light grey.
    for (const char* ref : {"A61", "C61", "G61"}) {
        const std::string first = std::string(1, ref[0]) + "1";
        EXPECT_EQ(book.look(ref), book.look(first.c_str())) << ref;
        const QJsonObject look = book.look(ref).toObject();
        EXPECT_TRUE(look[QStringLiteral("bold")].toBool()) << ref;
        EXPECT_EQ(look[QStringLiteral("size")].toDouble(), 12.0) << ref;
        EXPECT_EQ(look[QStringLiteral("fill")].toInt(), 22) << ref;
    }
    // The second page is printed on a page of its own: a break above its title row.
    EXPECT_EQ(book.book[QStringLiteral("row_breaks")].toArray(), QJsonArray{60});
    // Every row 13.5 points high.
    const QJsonObject heights = book.book[QStringLiteral("heights")].toObject();
    for (const char* row : {"1", "2", "61", "62"}) {
        EXPECT_EQ(heights[QLatin1String(row)].toDouble(13.5), 13.5) << row;
    }
    // Progress runs from 0 to EntryCount - 1 across the pages, with a yield per entry.
    ASSERT_EQ(progress.positions.size(), 60u);
    EXPECT_EQ(progress.positions.front(), 0u);
    EXPECT_EQ(progress.positions.back(), 59u);
    EXPECT_EQ(progress.yields, 60);
    EXPECT_EQ(progress.stages, workbookStages(CatalogueStage::FillingPages, 60));
}

TEST_F(SheetWriterTest, ManyPagesEachHoldAtLeastOneEntry) {
    RecordingProgress progress;
    writeTitledOnEveryPage(output_, makeList(7199), 60, kTemplate, progress);
    // 123 pages: the last title at row 122 * 60 + 1, holding one entry.
    const Written book = written();
    EXPECT_EQ(book["A7321"], QStringLiteral("ファイル名"));
    EXPECT_EQ(book["A7322"], QStringLiteral("file7198.txt"));
    EXPECT_EQ(book["A7323"], QStringLiteral("(none)"));
    const QJsonArray breaks = book.book[QStringLiteral("row_breaks")].toArray();
    ASSERT_EQ(breaks.size(), 122);
    EXPECT_EQ(breaks.last().toInt(), 122 * 60);
    // A page length below 2 uses the default instead of looping.
    writeTitledOnEveryPage(output_, makeList(61), 1, kTemplate, progress);
    EXPECT_EQ(written()["A61"], QStringLiteral("ファイル名"));
}

TEST_F(SheetWriterTest, TitledOnFirstPageLayoutWritesFromRowTwoWithPageNumbersInTheFooter) {
    RecordingProgress progress;
    ASSERT_TRUE(writeTitledOnFirstPage(output_, makeList(3, QString()), kTemplate, progress));
    const Written book = written();
    EXPECT_EQ(book["A1"], QStringLiteral("ファイル名")); // the template's own
    EXPECT_EQ(book["A2"], QStringLiteral("file0.txt"));
    EXPECT_EQ(book["A4"], QStringLiteral("file2.txt"));
    // No label: column F is left as the template has it.
    EXPECT_EQ(book["F2"], QStringLiteral("(none)"));
    EXPECT_EQ(book.book[QStringLiteral("footer")].toString(), QStringLiteral("&P/&N"));
    EXPECT_TRUE(book.book[QStringLiteral("row_breaks")].toArray().isEmpty());
    EXPECT_EQ(progress.positions, (std::vector<std::uint64_t>{1, 2, 3}));
    EXPECT_EQ(progress.stages, workbookStages(CatalogueStage::FillingSheet, 3));
}

TEST_F(SheetWriterTest, AWorkbookNoApplicationShowsIsNamedAndKept) {
    RecordingProgress progress;
    presenter_.shows = false;
    const Failure f = failureOf([&] { writeTitledOnFirstPage(output_, makeList(3), kTemplate, progress); });
    EXPECT_EQ(f.code(), FailureCode::PresentFailed);
    EXPECT_EQ(f.subject(), out());
    EXPECT_TRUE(QFile::exists(out()));
}

TEST_F(SheetWriterTest, AnEmptyListMakesNoWorkbook) {
    const EntryList list;
    RecordingProgress progress;
    EXPECT_FALSE(writeTitledOnFirstPage(output_, list, kTemplate, progress));
    EXPECT_FALSE(writeTitledOnEveryPage(output_, list, 60, kTemplate, progress));
    EXPECT_TRUE(presenter_.asked.isEmpty());
    EXPECT_EQ(progress.stages, (std::vector<RecordingProgress::Stage>{{CatalogueStage::NothingToList, 0},
                                                                     {CatalogueStage::NothingToList, 0}}));
}

TEST_F(SheetWriterTest, AListLongerThanASheetIsRefusedBeforeWriting) {
    EntryList list;
    const std::uint32_t folder = list.addFolder("/");
    for (int i = 0; i < kMaxRows; ++i) {
        list.append(folder, "f", 0, LocalStamp{}, EntryType::File);
    }
    RecordingProgress progress;
    const Failure f = failureOf([&] { writeTitledOnFirstPage(output_, list, kTemplate, progress); });
    EXPECT_EQ(f.code(), FailureCode::TooManyRows);
    EXPECT_TRUE(englishText(f).contains(QStringLiteral("write CSV instead")));
    EXPECT_TRUE(presenter_.asked.isEmpty());
}

} // namespace
} // namespace kartoma
