#include "SheetWriter.h"
#include "EnglishMessages.h"
#include "Failure.h"
#include "WorkbookReport.h"
#include "CatalogueProgress.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <map>
#include <utility>
#include <vector>

namespace kartoma {
namespace {

/// A report component that only records what it is asked, cell by cell.
class RecordingReport final : public ReportComponent {
public:
    void setBookFile(const QString& path) override { log.append(QStringLiteral("BookFile ") + path); }
    void openBook() override { log.append(QStringLiteral("OpenBook")); }
    void setStartOption(int option) override { log.append(QStringLiteral("StartOption %1").arg(option)); }
    void selectSheet(const QString& name, const QString& range) override {
        log.append(QStringLiteral("SelectSheet %1 %2").arg(name, range));
    }
    void closeSheet() override { log.append(QStringLiteral("CloseSheet")); }
    void setFinishOption(int option) override { log.append(QStringLiteral("FinishOption %1").arg(option)); }
    void finish() override { log.append(QStringLiteral("Finish")); }
    void abort() override { log.append(QStringLiteral("Abort")); }
    void checkBook(const QString& path, const QString& sheet) override {
        log.append(QStringLiteral("CheckBook %1 %2").arg(path, sheet));
    }
    int errorCode() const override { return 0; }
    QString errorText() const override { return {}; }
    CellRange resolveReference(QStringView reference) override { return *parseCellReference(reference); }
    CellRange resolvePosition(int x1, int y1, int x2, int y2) override { return CellRange{x1, y1, x2, y2}; }
    void setText(const CellRange& r, std::string_view utf8) override {
        cells[key(r)] = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    }
    void setNumber(const CellRange& r, std::int64_t number) override {
        cells[key(r)] = QStringLiteral("#%1").arg(number);
    }
    void setRowHeight(const CellRange& r, double points) override { heights[r.y1 + 1] = points; }
    void setAttr(const CellRange& r, AttrMember m, int value) override {
        attrs.append(QStringLiteral("%1 %2=%3").arg(key(r)).arg(static_cast<int>(m)).arg(value));
    }
    void setPageText(const QString& a, const QString& b, const QString& c) override {
        log.append(QStringLiteral("SetPageText '%1' '%2' '%3'").arg(a, b, c));
    }
    void setTitleLook(const CellRange& r) override { attrs.append(key(r) + QStringLiteral(" title look")); }
    void addRowBreak(int row) override { breaks.push_back(row); }

    static QString key(const CellRange& r) {
        QString k = QString::fromStdString(columnLetters(r.x1)) + QString::number(r.y1 + 1);
        if (r.x2 != r.x1 || r.y2 != r.y1) {
            k += QLatin1Char(':') + QString::fromStdString(columnLetters(r.x2)) + QString::number(r.y2 + 1);
        }
        return k;
    }

    QStringList log;
    QStringList attrs;
    std::map<QString, QString> cells;
    std::map<int, double> heights;
    std::vector<int> breaks;
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
    EXPECT_EQ(rowsNeededOneTitle(1048575), 1048576);
    EXPECT_EQ(rowsNeededAllTitles(60, 60), 62);
}

TEST(SheetWriter, AllTitlesLayoutPutsATitleRowAtTheTopOfEveryPage) {
    const EntryList list = makeList(60);
    RecordingReport report;
    RecordingProgress progress;
    ASSERT_TRUE(excelOutAllTitle(report, list, 60, QStringLiteral("/opt/Kartoma.xl_"), progress));
    EXPECT_EQ(report.log,
              (QStringList{QStringLiteral("BookFile /opt/Kartoma.xl_"), QStringLiteral("OpenBook"),
                           QStringLiteral("StartOption 0"), QStringLiteral("SelectSheet Kartoma 1-99999"),
                           QStringLiteral("CloseSheet"), QStringLiteral("FinishOption -2"),
                           QStringLiteral("Finish")}));
    // Page 1: title in row 1, entries 0..58 in rows 2..60; page 2: title in row 61, entry 59 in row 62.
    EXPECT_EQ(report.cells[QStringLiteral("A1")], QStringLiteral("ファイル名"));
    EXPECT_EQ(report.cells[QStringLiteral("G1")], QStringLiteral("TYPE"));
    EXPECT_EQ(report.cells[QStringLiteral("A2")], QStringLiteral("file0.txt"));
    EXPECT_EQ(report.cells[QStringLiteral("A60")], QStringLiteral("file58.txt"));
    EXPECT_EQ(report.cells[QStringLiteral("F61")], QStringLiteral("ボリューム"));
    EXPECT_EQ(report.cells[QStringLiteral("A62")], QStringLiteral("file59.txt"));
    EXPECT_EQ(report.cells.count(QStringLiteral("A63")), 0u);
    EXPECT_EQ(report.attrs,
              (QStringList{QStringLiteral("A1:G1 title look"), QStringLiteral("A1:G1 0=12"),
                           QStringLiteral("A1:G1 1=9"), QStringLiteral("A1:G1 2=22"),
                           QStringLiteral("A61:G61 title look"), QStringLiteral("A61:G61 0=12"),
                           QStringLiteral("A61:G61 1=9"), QStringLiteral("A61:G61 2=22")}));
    // The second page is printed on a page of its own: a break above its title row.
    EXPECT_EQ(report.breaks, std::vector<int>{60});
    // Entry rows: size as a number (0 too), folder, date, time, label, type; every row 13.5 high.
    EXPECT_EQ(report.cells[QStringLiteral("C2")], QStringLiteral("#0"));
    EXPECT_EQ(report.cells[QStringLiteral("B2")], QStringLiteral("/media/disk"));
    EXPECT_EQ(report.cells[QStringLiteral("D2")], QStringLiteral("2026/12/08"));
    EXPECT_EQ(report.cells[QStringLiteral("E2")], QStringLiteral("09:05:00"));
    EXPECT_EQ(report.cells[QStringLiteral("F2")], QStringLiteral("VOL"));
    EXPECT_EQ(report.cells[QStringLiteral("G2")], QStringLiteral("D"));
    EXPECT_EQ(report.cells[QStringLiteral("G3")], QStringLiteral("F"));
    EXPECT_EQ(report.heights.size(), 62u);
    EXPECT_EQ(report.heights[61], 13.5);
    // The position runs from 0 to EntryCount - 1 across the pages, one yield per row.
    ASSERT_EQ(progress.positions.size(), 60u);
    EXPECT_EQ(progress.positions.front(), 0u);
    EXPECT_EQ(progress.positions.back(), 59u);
    EXPECT_EQ(progress.yields, 60);
    EXPECT_EQ(progress.stages, workbookStages(CatalogueStage::FillingPages, 60));
}

TEST(SheetWriter, ManyPagesEachHoldAtLeastOneEntry) {
    const EntryList list = makeList(7199);
    RecordingReport report;
    RecordingProgress progress;
    excelOutAllTitle(report, list, 60, QStringLiteral("t"), progress);
    // 123 pages: the last title at row 122 * 60 + 1, holding one entry.
    EXPECT_EQ(report.cells[QStringLiteral("A7321")], QStringLiteral("ファイル名"));
    EXPECT_EQ(report.cells[QStringLiteral("A7322")], QStringLiteral("file7198.txt"));
    EXPECT_EQ(report.cells.count(QStringLiteral("A7323")), 0u);
    EXPECT_EQ(report.attrs.size(), 123 * 4);
    ASSERT_EQ(report.breaks.size(), 122u);
    EXPECT_EQ(report.breaks.back(), 122 * 60);
    // A page length below 2 uses the default instead of looping.
    RecordingReport small;
    excelOutAllTitle(small, makeList(61), 1, QStringLiteral("t"), progress);
    EXPECT_EQ(small.cells[QStringLiteral("A61")], QStringLiteral("ファイル名"));
}

TEST(SheetWriter, OneTitleLayoutWritesFromRowTwoWithPageNumbersInTheFooter) {
    const EntryList list = makeList(3, QString());
    RecordingReport report;
    RecordingProgress progress;
    ASSERT_TRUE(excelOutOneTitle(report, list, QStringLiteral("/opt/Kartoma.xl_"), progress));
    EXPECT_EQ(report.log,
              (QStringList{QStringLiteral("BookFile /opt/Kartoma.xl_"), QStringLiteral("OpenBook"),
                           QStringLiteral("SelectSheet Kartoma 1-9999"),
                           QStringLiteral("SetPageText '' '' '&P/&N'"), QStringLiteral("CloseSheet"),
                           QStringLiteral("FinishOption -2"), QStringLiteral("Finish")}));
    EXPECT_EQ(report.cells.count(QStringLiteral("A1")), 0u);
    EXPECT_EQ(report.cells[QStringLiteral("A2")], QStringLiteral("file0.txt"));
    EXPECT_EQ(report.cells[QStringLiteral("A4")], QStringLiteral("file2.txt"));
    // No label: column F is left as the template has it.
    EXPECT_EQ(report.cells.count(QStringLiteral("F2")), 0u);
    EXPECT_TRUE(report.attrs.isEmpty());
    EXPECT_TRUE(report.breaks.empty());
    EXPECT_EQ(progress.positions, (std::vector<std::uint64_t>{1, 2, 3}));
    EXPECT_EQ(progress.stages, workbookStages(CatalogueStage::FillingSheet, 3));
}

TEST(SheetWriter, AnEmptyListMakesNoWorkbook) {
    const EntryList list;
    RecordingReport report;
    RecordingProgress progress;
    EXPECT_FALSE(excelOutOneTitle(report, list, QStringLiteral("t"), progress));
    EXPECT_FALSE(excelOutAllTitle(report, list, 60, QStringLiteral("t"), progress));
    EXPECT_TRUE(report.log.isEmpty());
    EXPECT_EQ(progress.stages, (std::vector<RecordingProgress::Stage>{{CatalogueStage::NothingToList, 0},
                                                                     {CatalogueStage::NothingToList, 0}}));
}

TEST(SheetWriter, AListLongerThanASheetIsRefusedBeforeWriting) {
    EntryList list;
    const std::uint32_t folder = list.addFolder("/");
    for (int i = 0; i < kMaxRows; ++i) {
        list.append(folder, "f", 0, LocalStamp{}, EntryType::File);
    }
    RecordingReport report;
    RecordingProgress progress;
    try {
        excelOutOneTitle(report, list, QStringLiteral("t"), progress);
        FAIL() << "no failure";
    } catch (const Failure& f) {
        EXPECT_EQ(f.code(), FailureCode::TooManyRows);
        EXPECT_TRUE(englishText(f).contains(QStringLiteral("write CSV instead")));
    }
    EXPECT_TRUE(report.log.isEmpty());
}

} // namespace
} // namespace kartoma
