#include "WorkbookReport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <zip.h>

#include <QDir>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

namespace kartoma {
namespace {

const QString kTemplate = QStringLiteral(KARTOMA_TEST_TEMPLATE);

/// Saves into a folder of the test's and remembers what it was asked to show.
class FolderPresenter final : public WorkbookPresenter {
public:
    explicit FolderPresenter(QString path) : path_(std::move(path)) {}
    QString destinationFor(const QString&) override { return path_; }
    bool present(const QString& saved) override {
        presented.append(saved);
        return true;
    }
    QStringList presented;

private:
    QString path_;
};

/// What openpyxl reads from a workbook.
QJsonObject readBack(const QString& path) {
    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(KARTOMA_READ_XLSX), path});
    EXPECT_TRUE(reader.waitForFinished(60000));
    EXPECT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
}

QString cellValue(const QJsonObject& book, const char* ref) {
    return book[QStringLiteral("cells")]
        .toObject()[QLatin1String(ref)]
        .toArray()
        .at(0)
        .toVariant()
        .toString();
}
QString cellType(const QJsonObject& book, const char* ref) {
    return book[QStringLiteral("cells")].toObject()[QLatin1String(ref)].toArray().at(1).toString();
}

/// A part of a saved package, as text.
QByteArray partOf(const QString& package, const char* name) {
    int error = 0;
    zip_t* zip = zip_open(QFile::encodeName(package).constData(), ZIP_RDONLY, &error);
    if (zip == nullptr) {
        return {};
    }
    zip_stat_t st;
    QByteArray data;
    if (zip_stat(zip, name, 0, &st) == 0) {
        data.resize(static_cast<qsizetype>(st.size));
        zip_file_t* f = zip_fopen(zip, name, 0);
        zip_fread(f, data.data(), st.size);
        zip_fclose(f);
    }
    zip_discard(zip);
    return data;
}

/// Writes a copy of the template with one part replaced (or removed, with empty text).
QString templateWith(const QTemporaryDir& dir, const char* part, const QByteArray& text) {
    const QString path = dir.path() + QStringLiteral("/variant.xlsx");
    QFile::remove(path);
    QFile::copy(kTemplate, path);
    QFile(path).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    int error = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), 0, &error);
    const zip_int64_t index = zip_name_locate(zip, part, 0);
    if (text.isEmpty()) {
        zip_delete(zip, static_cast<zip_uint64_t>(index));
    } else {
        zip_source_t* source =
            zip_source_buffer(zip, text.constData(), static_cast<zip_uint64_t>(text.size()), 0);
        zip_file_replace(zip, static_cast<zip_uint64_t>(index), source, 0);
    }
    zip_close(zip);
    return path;
}

class WorkbookReportTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString out() const { return dir_.path() + QStringLiteral("/out.xlsx"); }

    /// Runs a job up to a selected sheet on `book`.
    void open(WorkbookReport& report, const QString& book) {
        report.setBookFile(book);
        report.openBook();
        report.setStartOption(0);
        report.selectSheet(QStringLiteral("Kartoma"), QStringLiteral("1-99999"));
    }

    WorkbookErrorCode failureOf(const std::function<void()>& step) {
        try {
            step();
        } catch (const WorkbookError& f) {
            return f.code();
        }
        ADD_FAILURE() << "no failure";
        return WorkbookErrorCode::JobNotOpen;
    }

    QTemporaryDir dir_;
};

TEST_F(WorkbookReportTest, FilledCellsReadBackWithTheTemplatesFormatting) {
    FolderPresenter presenter(out());
    WorkbookReport report(presenter);
    open(report, kTemplate);
    report.pageSetup().setPageText(QString(), QString(), QStringLiteral("&P/&N"));
    const QStringList names = {QStringLiteral("a <b> & \"c\".txt"),
                               QStringLiteral("=SUM(A1)"),
                               QStringLiteral("+1"),
                               QStringLiteral("@x"),
                               QStringLiteral(" lead and trail "),
                               QStringLiteral("ctl\u0001\u001f_x0041_.txt"),
                               QStringLiteral("cr\rlf\ntab\t.txt"),
                               QStringLiteral("日本語のファイル名.txt"),
                               QStringLiteral("😀")};
    for (int i = 0; i < names.size(); ++i) {
        const QString row = QString::number(i + 2);
        report.cell(QStringLiteral("A") + row).setValue(names[i]);
        report.cell(QStringLiteral("B") + row).setValue(QStringLiteral("/データ/dir"));
        report.cell(QStringLiteral("C") + row).setValue(std::int64_t{5} << 30 | i);
        report.cell(QStringLiteral("D") + row).setValue(QStringLiteral("2026/12/08"));
        report.cell(QStringLiteral("G") + row).setValue(QStringLiteral("F"));
        report.pos(0, i + 1).setRowHeight(13.5);
        if (i == 0) {
            report.cell(QStringLiteral("F") + row).setValue(QStringLiteral("VOL"));
        }
    }
    report.closeSheet();
    report.setFinishOption(-2);
    report.finish();
    EXPECT_EQ(report.errorCode(), 0);
    ASSERT_EQ(presenter.presented, QStringList{out()});

    const QJsonObject book = readBack(out());
    // The template's title row is still there, with its look.
    EXPECT_EQ(cellValue(book, "A1"), QStringLiteral("ファイル名"));
    EXPECT_EQ(cellValue(book, "G1"), QStringLiteral("TYPE"));
    EXPECT_TRUE(book[QStringLiteral("looks")]
                    .toObject()[QStringLiteral("A1")]
                    .toObject()[QStringLiteral("bold")]
                    .toBool());
    for (int i = 0; i < names.size(); ++i) {
        const std::string row = std::to_string(i + 2);
        EXPECT_EQ(cellValue(book, ("A" + row).c_str()), names[i]) << i;
        EXPECT_EQ(cellType(book, ("A" + row).c_str()), QStringLiteral("str"));
        EXPECT_EQ(cellType(book, ("C" + row).c_str()), QStringLiteral("int"));
        EXPECT_EQ(book[QStringLiteral("heights")].toObject()[QString::fromStdString(row)].toDouble(), 13.5);
        // The size column keeps the template's thousands separators.
        EXPECT_EQ(book[QStringLiteral("formats")].toObject()[QString::fromStdString("C" + row)].toString(),
                  QStringLiteral("#,##0"));
    }
    EXPECT_EQ(cellValue(book, "C2"), QStringLiteral("5368709120"));
    EXPECT_EQ(cellValue(book, "F2"), QStringLiteral("VOL"));
    EXPECT_FALSE(book[QStringLiteral("cells")].toObject().contains(QStringLiteral("F3")));
    EXPECT_EQ(book[QStringLiteral("footer")].toString(), QStringLiteral("&P/&N"));
    EXPECT_EQ(book[QStringLiteral("dimension")].toString(), QStringLiteral("A1:G10"));
    EXPECT_EQ(book[QStringLiteral("widths")].toObject()[QStringLiteral("B")].toDouble(), 50.0);
    // The used range is written into the sheet part itself.
    EXPECT_TRUE(partOf(out(), "xl/worksheets/sheet1.xml").contains("<dimension ref=\"A1:G10\"/>"));
}

TEST_F(WorkbookReportTest, AttributesMakeATableHeaderAndRowsMergeWithTheTemplates) {
    FolderPresenter presenter(out());
    WorkbookReport report(presenter);
    open(report, kTemplate);
    // Row 1 is the template's own: B1 is replaced, I1 added between nothing, the rest kept.
    report.cell(QStringLiteral("I1")).setValue(QStringLiteral("extra"));
    report.cell(QStringLiteral("B1")).setValue(QStringLiteral("replaced"));
    // A title row on a row the template does not have.
    report.pos(0, 60, 6, 60).attr().setAttrA(12);
    report.pos(0, 60, 6, 60).attr().setAttrB(9);
    report.pos(0, 60, 6, 60).attr().setAttrC(22);
    report.pos(2, 60, 2, 60).setValue(QStringLiteral("サイズ"));
    report.pos(0, 60).setRowHeight(13.5);
    EXPECT_EQ(failureOf([&] { report.cell(QStringLiteral("A5")).setValue(QStringLiteral("late")); }),
              WorkbookErrorCode::RowOutOfOrder);
    report.closeSheet();
    report.finish();

    const QJsonObject book = readBack(out());
    EXPECT_EQ(cellValue(book, "A1"), QStringLiteral("ファイル名"));
    EXPECT_EQ(cellValue(book, "B1"), QStringLiteral("replaced"));
    EXPECT_EQ(cellValue(book, "I1"), QStringLiteral("extra"));
    const QJsonObject looks = book[QStringLiteral("looks")].toObject();
    for (const char* ref : {"A61", "C61", "G61"}) {
        const QJsonObject look = looks[QLatin1String(ref)].toObject();
        EXPECT_TRUE(look[QStringLiteral("bold")].toBool()) << ref;
        EXPECT_EQ(look[QStringLiteral("size")].toDouble(), 12.0) << ref;
        EXPECT_EQ(look[QStringLiteral("fill")].toInt(), 22) << ref;
        EXPECT_EQ(look[QStringLiteral("border")].toString(), QStringLiteral("thin")) << ref;
    }
    EXPECT_EQ(cellValue(book, "C61"), QStringLiteral("サイズ"));
    // Styles were appended, none changed: one derived style per distinct column style (A/B/F, C, D/E/G)
    // after the template's four.
    const QByteArray styles = partOf(out(), "xl/styles.xml");
    EXPECT_TRUE(styles.contains("<cellXfs count=\"7\">")) << styles.toStdString();
    EXPECT_TRUE(styles.startsWith(partOf(kTemplate, "xl/styles.xml").left(styles.indexOf("<fonts"))));
    EXPECT_EQ(book[QStringLiteral("dimension")].toString(), QStringLiteral("A1:I61"));
}

TEST_F(WorkbookReportTest, TitleRowsLookLikeTheFirstAndPagesBreakAboveThem) {
    FolderPresenter presenter(out());
    WorkbookReport report(presenter);
    open(report, kTemplate);
    for (const int row : {0, 60}) {
        if (row > 0) {
            report.pageSetup().addRowBreak(row);
        }
        report.pos(0, row, 6, row).setTitleLook();
        report.pos(0, row, 6, row).attr().setAttrA(12);
        report.pos(2, row).setValue(QStringLiteral("サイズ"));
    }
    report.closeSheet();
    report.finish();

    const QJsonObject book = readBack(out());
    const QJsonObject looks = book[QStringLiteral("looks")].toObject();
    // Not the size column's look (its thousands separators): the title row's, on every page.
    EXPECT_EQ(looks[QStringLiteral("C61")], looks[QStringLiteral("C1")]);
    EXPECT_EQ(looks[QStringLiteral("C61")].toObject()[QStringLiteral("format")].toString(), QStringLiteral("General"));
    EXPECT_EQ(book[QStringLiteral("row_breaks")].toArray(), QJsonArray{60});
    EXPECT_TRUE(book[QStringLiteral("full_calc_on_load")].toBool());
}

TEST_F(WorkbookReportTest, BadPartsFailWithTheirCodeBeforeTheWalkAndOnTheFirstWrite) {
    // Files that are no workbook at all are the command line's failure table (test_cli_xlsx).
    FolderPresenter presenter(out());
    WorkbookReport report(presenter);
    const QByteArray otherSheet =
        partOf(kTemplate, "xl/workbook.xml").replace("name=\"Kartoma\"", "name=\"Other\"");
    const QByteArray brokenSheet =
        partOf(kTemplate, "xl/worksheets/sheet1.xml").replace("</sheetData>", "</sheetDat>");
    for (const auto& [part, text, expected] :
         {std::tuple{"xl/workbook.xml", otherSheet, WorkbookErrorCode::SheetMissing},
          std::tuple{"xl/worksheets/sheet1.xml", brokenSheet, WorkbookErrorCode::BookInvalid},
          std::tuple{"xl/worksheets/sheet1.xml", QByteArray(), WorkbookErrorCode::SheetMissing},
          std::tuple{"xl/workbook.xml", QByteArray(), WorkbookErrorCode::BookInvalid}}) {
        const QString book = templateWith(dir_, part, text);
        // The check reads everything a fill would, so the fault shows before any walk.
        EXPECT_EQ(failureOf([&] { report.checkBook(book, QStringLiteral("Kartoma")); }), expected) << part;
        report.setBookFile(book);
        report.openBook();
        // A broken sheet shows when it is first written to.
        EXPECT_EQ(failureOf([&] {
                      report.selectSheet(QStringLiteral("Kartoma"), QStringLiteral("1-9999"));
                      report.cell(QStringLiteral("A2")).setValue(QStringLiteral("x"));
                  }),
                  expected)
            << part;
    }
    EXPECT_EQ(report.errorText(), dir_.path() + QStringLiteral("/variant.xlsx: xl/workbook.xml missing"));
    EXPECT_FALSE(QFile::exists(out()));
}

TEST_F(WorkbookReportTest, ARowOutsideTheSheetDataIsPassedOver) {
    // Once a crash: a <row> anywhere but in <sheetData> (found by fuzzing).
    const QByteArray odd = partOf(kTemplate, "xl/worksheets/sheet1.xml")
                               .replace("</cols>", "<row r=\"1\"><c r=\"A1\"/></row></cols>");
    FolderPresenter presenter(out());
    WorkbookReport report(presenter);
    open(report, templateWith(dir_, "xl/worksheets/sheet1.xml", odd));
    report.cell(QStringLiteral("A2")).setValue(QStringLiteral("x"));
    report.closeSheet();
    report.finish();
    EXPECT_EQ(cellValue(readBack(out()), "A2"), QStringLiteral("x"));
}

TEST_F(WorkbookReportTest, ASheetNothingIsWrittenToIsCopiedAsItIs) {
    // Opening a saved list hands it over without reading its rows, whatever their number.
    const QString saved = dir_.path() + QStringLiteral("/saved.xlsx");
    {
        FolderPresenter presenter(saved);
        WorkbookReport report(presenter);
        open(report, kTemplate);
        for (int row = 2; row < 2000; ++row) {
            report.pos(0, row - 1).setValue(QStringLiteral("entry %1").arg(row));
        }
        report.closeSheet();
        report.finish();
    }
    FolderPresenter presenter(out());
    WorkbookReport report(presenter);
    report.setBookFile(saved);
    report.setStartOption(0);
    report.openBook();
    report.selectSheet(QStringLiteral("Kartoma"), QStringLiteral("1-9999"));
    report.closeSheet();
    report.setFinishOption(-2);
    report.finish();
    EXPECT_EQ(report.errorCode(), 0);
    EXPECT_EQ(partOf(out(), "xl/worksheets/sheet1.xml"), partOf(saved, "xl/worksheets/sheet1.xml"));
    EXPECT_EQ(cellValue(readBack(out()), "A1999"), QStringLiteral("entry 1999"));
}

TEST_F(WorkbookReportTest, BadReferencesAndTooManyRowsAreRefused) {
    FolderPresenter presenter(out());
    WorkbookReport report(presenter);
    open(report, kTemplate);
    for (const char* bad : {"A0", "2A", "A 2", "", "A", "XFE1", "A1048577", "Ａ1"}) {
        EXPECT_EQ(failureOf([&] { report.cell(QString::fromUtf8(bad)); }),
                  WorkbookErrorCode::BadCellReference)
            << bad;
    }
    EXPECT_EQ(failureOf([&] { report.pos(0, kMaxRows); }), WorkbookErrorCode::TooManyRows);
    EXPECT_EQ(failureOf([&] { report.pos(-1, 0); }), WorkbookErrorCode::BadCellReference);
    EXPECT_EQ(report.cell(QStringLiteral("xfd1048576")).range(), (CellRange{16383, 1048575, 16383, 1048575}));
    EXPECT_EQ(report.pos(3, 9, 1, 2).range(), (CellRange{1, 2, 3, 9}));
}

TEST_F(WorkbookReportTest, AnAbortedJobFailsEveryLaterOperationAndWritesNothing) {
    FolderPresenter presenter(out());
    WorkbookReport report(presenter);
    open(report, kTemplate);
    report.cell(QStringLiteral("A2")).setValue(QStringLiteral("x"));
    // The stop steps, as the window takes them while the writer yields.
    report.closeSheet();
    report.setFinishOption(-2);
    report.abort();
    EXPECT_EQ(failureOf([&] { report.cell(QStringLiteral("A3")).setValue(QStringLiteral("y")); }),
              WorkbookErrorCode::JobAborted);
    EXPECT_NE(report.errorCode(), 0);
    EXPECT_EQ(report.errorText(), QStringLiteral("error 106"));
    EXPECT_EQ(failureOf([&] { report.finish(); }), WorkbookErrorCode::JobAborted);
    EXPECT_FALSE(QFile::exists(out()));
    EXPECT_TRUE(presenter.presented.isEmpty());

    // A new job starts afresh.
    open(report, kTemplate);
    EXPECT_EQ(report.errorCode(), 0);
    report.closeSheet();
    report.finish();
    EXPECT_TRUE(QFile::exists(out()));
}

TEST_F(WorkbookReportTest, OperationsOutOfOrderFail) {
    FolderPresenter presenter(out());
    WorkbookReport report(presenter);
    EXPECT_EQ(failureOf([&] { report.openBook(); }), WorkbookErrorCode::JobNotOpen);
    report.setBookFile(kTemplate);
    EXPECT_EQ(failureOf([&] { report.cell(QStringLiteral("A1")); }), WorkbookErrorCode::JobNotOpen);
    report.openBook();
    EXPECT_EQ(failureOf([&] { report.selectSheet(QStringLiteral("Kartoma"), QStringLiteral("9-1")); }),
              WorkbookErrorCode::BadCellReference);
    report.selectSheet(QStringLiteral("kartoma"), QStringLiteral("1-9999"));
    report.closeSheet();
    EXPECT_EQ(failureOf([&] { report.cell(QStringLiteral("A2")).setValue(QStringLiteral("x")); }),
              WorkbookErrorCode::JobNotOpen);
}

/// Rows written whole: a gap, a row the template has itself, texts that need escaping or their blanks
/// kept, a missing column, a height other than the default; enough of them to go out in several pieces.
void writeRows(ReportComponent& report, bool whole) {
    for (int row = 0; row < 9000; row += row == 3 ? 3 : 1) {
        const std::string text = row % 7 == 0 ? " <a&b> _x0041_ " : "ファイル" + std::to_string(row);
        std::vector<RowCell> cells = {{0, text, {}}, {2, {}, std::int64_t{row} << 33}, {6, "F", {}}};
        if (row % 3 == 0) {
            cells.insert(cells.begin() + 2, RowCell{3, "2026/12/08", {}});
        }
        const double height = row == 8 ? 20 : 13.5;
        if (whole) {
            if (row == 9) {
                report.pos(1, row).setValueUtf8("B given first");
            }
            report.appendRow(row, cells, height);
            continue;
        }
        if (row == 9) {
            report.pos(1, row).setValueUtf8("B given first");
        }
        for (const RowCell& c : cells) {
            CellHandle cell = report.pos(c.column, row);
            c.number ? cell.setValue(*c.number) : cell.setValueUtf8(c.text);
        }
        report.pos(0, row).setRowHeight(height);
    }
}

TEST_F(WorkbookReportTest, RowsWrittenWholeReadBackAsWrittenCellByCell) {
    QJsonObject books[2];
    for (const bool whole : {false, true}) {
        const QString path = dir_.path() + (whole ? QStringLiteral("/whole.xlsx") : QStringLiteral("/cells.xlsx"));
        FolderPresenter presenter(path);
        WorkbookReport report(presenter);
        open(report, kTemplate);
        writeRows(report, whole);
        report.finish();
        books[whole] = readBack(path);
    }
    EXPECT_EQ(books[1], books[0]);
    EXPECT_EQ(books[1][QStringLiteral("dimension")].toString(), QStringLiteral("A1:G9000"));
    EXPECT_EQ(cellValue(books[1], "A8"), QStringLiteral(" <a&b> _x0041_ "));
    EXPECT_EQ(cellValue(books[1], "C8996"), QString::number(std::int64_t{8995} << 33));
    EXPECT_FALSE(books[1][QStringLiteral("cells")].toObject().contains(QStringLiteral("A5")));
    EXPECT_EQ(books[1][QStringLiteral("heights")].toObject()[QStringLiteral("9")].toDouble(), 20);
}

TEST_F(WorkbookReportTest, AStopWhileRowsStreamOrDuringTheFinishLeavesNoFile) {
    QFile existing(out());
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("kept");
    existing.close();
    for (const bool inFinish : {false, true}) {
        std::atomic<bool> stop = false;
        FolderPresenter presenter(out());
        WorkbookReport report(presenter);
        report.setCancelFlag(&stop);
        open(report, kTemplate);
        writeRows(report, true);
        if (!inFinish) {
            stop = true;
            EXPECT_EQ(failureOf([&] { writeRows(report, true); }), WorkbookErrorCode::JobAborted);
        } else {
            report.closeSheet();
            // Set from another thread while the finish waits for the rows to be written.
            std::thread stopper([&] { stop = true; });
            EXPECT_EQ(failureOf([&] {
                          stopper.join();
                          report.finish();
                      }),
                      WorkbookErrorCode::JobAborted);
        }
        EXPECT_EQ(report.errorCode(), static_cast<int>(WorkbookErrorCode::JobAborted));
        EXPECT_EQ(failureOf([&] { report.finish(); }), WorkbookErrorCode::JobAborted);
        EXPECT_TRUE(presenter.presented.isEmpty());
        EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList{QStringLiteral("out.xlsx")})
            << inFinish;
        QFile kept(out());
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), QByteArray("kept"));
    }
}

TEST_F(WorkbookReportTest, AFailedSaveLeavesTheExistingFileAlone) {
    const QString target = dir_.path() + QStringLiteral("/no/such/folder/out.xlsx");
    FolderPresenter presenter(target);
    WorkbookReport report(presenter);
    open(report, kTemplate);
    report.closeSheet();
    EXPECT_EQ(failureOf([&] { report.finish(); }), WorkbookErrorCode::SaveFailed);
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_TRUE(presenter.presented.isEmpty());
}

} // namespace
} // namespace kartoma

namespace kartoma {
namespace {

/// The golden files under tests/golden hold the sheet and style parts of a small filled workbook.
/// They are compared byte for byte, with one normalisation: a line break is put after each row and
/// each top-level element so that a failure shows a readable diff. The package's time stamps and
/// compression are not compared. KARTOMA_UPDATE_GOLDEN=1 rewrites them.
QByteArray readable(QByteArray xml) {
    xml.replace("<row ", "\n<row ");
    xml.replace("<row>", "\n<row>");
    xml.replace("</sheetData>", "\n</sheetData>");
    xml.replace("<xf ", "\n<xf ");
    xml.replace("<font>", "\n<font>");
    return xml + '\n';
}

void compareWithGolden(const QByteArray& actual, const char* name) {
    const QString path = QStringLiteral(KARTOMA_GOLDEN_DIR "/") + QLatin1String(name);
    if (qEnvironmentVariableIsSet("KARTOMA_UPDATE_GOLDEN")) {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(actual);
        return;
    }
    QFile golden(path);
    ASSERT_TRUE(golden.open(QIODevice::ReadOnly)) << path.toStdString();
    EXPECT_EQ(actual.toStdString(), golden.readAll().toStdString()) << name;
}

TEST_F(WorkbookReportTest, ASmallFilledSheetMatchesTheGoldenParts) {
    FolderPresenter presenter(out());
    WorkbookReport report(presenter);
    open(report, kTemplate);
    report.pageSetup().setPageText(QString(), QString(), QStringLiteral("&P/&N"));
    report.pos(0, 1, 6, 1).attr().setAttrA(12);
    report.pos(0, 1, 6, 1).attr().setAttrB(9);
    report.pos(0, 1, 6, 1).attr().setAttrC(22);
    report.pos(0, 1).setValue(QStringLiteral("ファイル名"));
    report.pos(0, 1).setRowHeight(13.5);
    report.cell(QStringLiteral("A3")).setValue(QStringLiteral(" a&b<c> "));
    report.cell(QStringLiteral("C3")).setValue(std::int64_t{1234567});
    report.cell(QStringLiteral("G3")).setValue(QStringLiteral("F"));
    report.cell(QStringLiteral("A5")).setValue(QStringLiteral("x\u0002y\rz"));
    report.closeSheet();
    report.finish();
    compareWithGolden(readable(partOf(out(), "xl/worksheets/sheet1.xml")), "small-sheet.xml");
    compareWithGolden(readable(partOf(out(), "xl/styles.xml")), "small-styles.xml");
}

} // namespace
} // namespace kartoma

namespace kartoma {
namespace {

TEST(SheetTemplate, ReadInPiecesOfAnySizeItIsTakenApartTheSame) {
    // Enough rows that the part is dropped behind the reading, and text whose characters straddle
    // the pieces.
    std::string rows;
    for (int r = 2; r <= 60000; ++r) {
        rows += "<row r=\"" + std::to_string(r) + "\"><c/><c r=\"C" + std::to_string(r) +
                "\" s=\"1\"/><c r=\"D" + std::to_string(r) + "\"/></row>";
    }
    const std::string xml =
        "<?xml version=\"1.0\"?><worksheet xmlns=\"m\"><dimension ref=\"A1\"/>"
        "<cols><col min=\"2\" max=\"3\" style=\"4\"/></cols><sheetData><row r=\"1\"><c r=\"A1\" "
        "t=\"inlineStr\"><is><t>ファイル名</t></is></c></row>" +
        rows +
        "</sheetData><headerFooter><oddHeader>見出し</oddHeader></headerFooter>"
        "<drawing/></worksheet>";
    QString error;
    const std::optional<SheetTemplate> whole =
        SheetTemplate::parse(QByteArray(xml.data(), static_cast<qsizetype>(xml.size())), error);
    ASSERT_TRUE(whole) << error.toStdString();
    std::size_t at = 0;
    const std::optional<SheetTemplate> pieces = SheetTemplate::parse(
        [&](char* data, qint64 size) {
            const std::size_t n = std::min<std::size_t>({static_cast<std::size_t>(size), 7, xml.size() - at});
            std::memcpy(data, xml.data() + at, n);
            at += n;
            return static_cast<qint64>(n);
        },
        error);
    ASSERT_TRUE(pieces) << error.toStdString();
    for (const SheetTemplate* t : {&*whole, &*pieces}) {
        EXPECT_EQ(t->head("A1:G9"), "<?xml version=\"1.0\"?><worksheet xmlns=\"m\"><dimension ref=\"A1:G9\"/>"
                                    "<cols><col min=\"2\" max=\"3\" style=\"4\"/></cols><sheetData>");
        EXPECT_EQ(t->tail(QStringLiteral("p&P")),
                  "</sheetData><headerFooter><oddHeader>見出し</oddHeader>"
                  "<oddFooter>p&amp;P</oddFooter></headerFooter><drawing/></worksheet>");
        ASSERT_EQ(t->rows().size(), 60000u);
        // Cells with nothing but their place are not kept; the styled one is, in its place.
        const SheetTemplate::Row& last = t->rows().back();
        ASSERT_EQ(last.cells.size(), 1u);
        EXPECT_EQ(last.cells[0].column, 2);
        EXPECT_EQ(last.cells[0].xml, "<c r=\"C60000\" s=\"1\"/>");
        EXPECT_EQ(t->columnStyle(2), 4);
    }
}

} // namespace
} // namespace kartoma
