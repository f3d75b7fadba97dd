#include "Workbook.h"

#include "Deflater.h"
#include "ReadBack.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <zip.h>
#include <zlib.h>

#include <QDir>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>

namespace kartoma {
namespace {

const QString kTemplate = QStringLiteral(KARTOMA_TEST_TEMPLATE);

using testing::readBack;

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

class WorkbookTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString out() const { return dir_.path() + QStringLiteral("/out.xlsx"); }

    /// The template's sheet, to be saved at `path` (out() when empty).
    std::unique_ptr<Workbook> open(const QString& book = kTemplate, const QString& path = {},
                                   const std::atomic<bool>* stop = nullptr) {
        const QString destination = path.isEmpty() ? out() : path;
        return std::make_unique<Workbook>(book, QStringLiteral("Kartoma"),
                                          Workbook::Options{99999, stop, [destination] { return destination; }});
    }

    static FailureCode failureOf(const std::function<void()>& step) {
        try {
            step();
        } catch (const Failure& f) {
            return f.code();
        }
        ADD_FAILURE() << "no failure";
        return FailureCode::Cancelled;
    }

    QTemporaryDir dir_;
};

/// A row of texts (UTF-8) from column A on, numbers where a text starts with "#".
struct TextRow {
    std::vector<std::string> texts;
    std::vector<CellValue> cells;
    TextRow(const TextRow&) = delete; // the cells point into the texts
    TextRow& operator=(const TextRow&) = delete;
    TextRow(std::initializer_list<std::pair<int, std::string>> given) {
        texts.reserve(given.size());
        for (const auto& [column, text] : given) {
            texts.push_back(text);
            const std::string& t = texts.back();
            cells.push_back(t.starts_with('#') ? CellValue{column, {}, std::stoll(t.substr(1))}
                                               : CellValue{column, t, {}});
        }
    }
};

const RowLook kHeader{false, {12, StylePart::Bold | StylePart::Border, StylePart::LightGrey}};

TEST_F(WorkbookTest, FilledCellsReadBackWithTheTemplatesFormatting) {
    const std::unique_ptr<Workbook> workbook = open();
    workbook->setFooter(QString(), QString(), QStringLiteral("&P/&N"));
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
        const std::string name = names[i].toStdString();
        const std::string size = "#" + std::to_string(std::int64_t{5} << 30 | i);
        const auto write = [&](const TextRow& row) { workbook->appendRow(i + 1, row.cells, 13.5); };
        if (i == 0) {
            write(TextRow{{0, name}, {1, "/データ/dir"}, {2, size}, {3, "2026/12/08"}, {5, "VOL"}, {6, "F"}});
        } else {
            write(TextRow{{0, name}, {1, "/データ/dir"}, {2, size}, {3, "2026/12/08"}, {6, "F"}});
        }
    }
    EXPECT_EQ(workbook->save(), out());

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
    EXPECT_TRUE(book[QStringLiteral("full_calc_on_load")].toBool());
    // The used range is written into the sheet part itself.
    EXPECT_TRUE(partOf(out(), "xl/worksheets/sheet1.xml").contains("<dimension ref=\"A1:G10\"/>"));
}

TEST_F(WorkbookTest, LooksMakeTitleRowsAndRowsMergeWithTheTemplates) {
    const std::unique_ptr<Workbook> workbook = open();
    // Row 1 is the template's own: B1 is replaced, I1 added, the rest kept; its look is the header's.
    const TextRow first{{1, "replaced"}, {2, "サイズ"}, {8, "extra"}};
    workbook->appendRow(0, first.cells, 13.5, kHeader);
    // A title row on a row the template does not have, and a header row in the columns' looks.
    const TextRow size{{2, "サイズ"}};
    workbook->addRowBreak(60);
    workbook->appendRow(60, size.cells, 13.5, RowLook{true, kHeader.style});
    workbook->appendRow(70, size.cells, 13.5, kHeader);
    EXPECT_EQ(failureOf([&] { workbook->appendRow(4, size.cells, 13.5); }), FailureCode::RowOutOfOrder);
    workbook->save();

    const QJsonObject book = readBack(out());
    EXPECT_EQ(cellValue(book, "A1"), QStringLiteral("ファイル名"));
    EXPECT_EQ(cellValue(book, "B1"), QStringLiteral("replaced"));
    EXPECT_EQ(cellValue(book, "I1"), QStringLiteral("extra"));
    EXPECT_EQ(cellValue(book, "C61"), QStringLiteral("サイズ"));
    const QJsonObject looks = book[QStringLiteral("looks")].toObject();
    for (const char* ref : {"B1", "C61", "C71"}) {
        const QJsonObject look = looks[QLatin1String(ref)].toObject();
        EXPECT_TRUE(look[QStringLiteral("bold")].toBool()) << ref;
        EXPECT_EQ(look[QStringLiteral("size")].toDouble(), 12.0) << ref;
        EXPECT_EQ(look[QStringLiteral("fill")].toInt(), 22) << ref;
        EXPECT_EQ(look[QStringLiteral("border")].toString(), QStringLiteral("thin")) << ref;
    }
    // A title row takes the first row's look, not the size column's (its thousands separators).
    EXPECT_EQ(looks[QStringLiteral("C61")], looks[QStringLiteral("C1")]);
    EXPECT_EQ(looks[QStringLiteral("C61")].toObject()[QStringLiteral("format")].toString(), QStringLiteral("General"));
    EXPECT_EQ(looks[QStringLiteral("C71")].toObject()[QStringLiteral("format")].toString(), QStringLiteral("#,##0"));
    EXPECT_EQ(book[QStringLiteral("row_breaks")].toArray(), QJsonArray{60});
    // Styles were appended, none changed.
    const QByteArray styles = partOf(out(), "xl/styles.xml");
    EXPECT_TRUE(styles.startsWith(partOf(kTemplate, "xl/styles.xml").left(styles.indexOf("<fonts"))));
    EXPECT_EQ(book[QStringLiteral("dimension")].toString(), QStringLiteral("A1:I71"));
}

TEST_F(WorkbookTest, BadPartsFailWithTheirCodeOnTheCheckAndTheOpening) {
    // Files that are no workbook at all are the command line's failure table (test_cli_xlsx).
    const QByteArray otherSheet =
        partOf(kTemplate, "xl/workbook.xml").replace("name=\"Kartoma\"", "name=\"Other\"");
    const QByteArray brokenSheet =
        partOf(kTemplate, "xl/worksheets/sheet1.xml").replace("</sheetData>", "</sheetDat>");
    // A name XML does not allow was once copied into the filled sheet, which no reader could open.
    const QByteArray badName = partOf(kTemplate, "xl/worksheets/sheet1.xml").replace(" r=\"A1\"", " $r=\"A1\"");
    // Rows filled into a sheet of another namespace are rows no reader sees.
    const QByteArray otherNamespace = partOf(kTemplate, "xl/worksheets/sheet1.xml")
                                          .replace("http://schemas.openxmlformats.org/spreadsheetml/2006/main", "urn:x");
    QString diagnostic;
    for (const auto& [part, text, expected] :
         {std::tuple{"xl/workbook.xml", otherSheet, FailureCode::SheetMissing},
          std::tuple{"xl/worksheets/sheet1.xml", brokenSheet, FailureCode::TemplateInvalid},
          std::tuple{"xl/worksheets/sheet1.xml", badName, FailureCode::TemplateInvalid},
          std::tuple{"xl/worksheets/sheet1.xml", otherNamespace, FailureCode::TemplateInvalid},
          std::tuple{"xl/worksheets/sheet1.xml", QByteArray(), FailureCode::SheetMissing},
          std::tuple{"xl/styles.xml", QByteArray("<styleSheet/>"), FailureCode::TemplateInvalid},
          // Copied unread, it once made a workbook no reader opens.
          std::tuple{"[Content_Types].xml", partOf(kTemplate, "[Content_Types].xml").chopped(10),
                     FailureCode::TemplateInvalid},
          std::tuple{"xl/workbook.xml", QByteArray(), FailureCode::TemplateInvalid}}) {
        const QString book = templateWith(dir_, part, text);
        // The check reads everything a fill would, so the fault shows before any walk.
        EXPECT_EQ(failureOf([&] { Workbook::check(book, QStringLiteral("Kartoma")); }), expected) << part;
        try {
            open(book)->appendRow(1, TextRow{{0, "x"}}.cells, 13.5, kHeader);
            ADD_FAILURE() << part;
        } catch (const Failure& f) {
            EXPECT_EQ(f.code(), expected) << part;
            diagnostic = f.diagnostic();
        }
    }
    EXPECT_EQ(diagnostic, dir_.path() + QStringLiteral("/variant.xlsx: xl/workbook.xml missing"));
    EXPECT_FALSE(QFile::exists(out()));
}

TEST_F(WorkbookTest, ARowOutsideTheSheetDataIsPassedOver) {
    // Once a crash: a <row> anywhere but in <sheetData> (found by fuzzing).
    const QByteArray odd = partOf(kTemplate, "xl/worksheets/sheet1.xml")
                               .replace("</cols>", "<row r=\"1\"><c r=\"A1\"/></row></cols>");
    const std::unique_ptr<Workbook> workbook = open(templateWith(dir_, "xl/worksheets/sheet1.xml", odd));
    workbook->appendRow(1, TextRow{{0, "x"}}.cells, 13.5);
    workbook->save();
    EXPECT_EQ(cellValue(readBack(out()), "A2"), QStringLiteral("x"));
}

TEST_F(WorkbookTest, RowsColumnsHeightsAndLooksTheSheetCannotHoldAreRefused) {
    const std::unique_ptr<Workbook> workbook = open();
    const TextRow one{{0, "x"}};
    const TextRow backwards{{2, "x"}, {1, "y"}};
    const TextRow tooWide{{kMaxColumns, "x"}};
    const std::function<void()> bad[] = {
        [&] { workbook->appendRow(-1, one.cells, 13.5); },
        [&] { workbook->appendRow(kMaxRows, one.cells, 13.5); },
        [&] { workbook->appendRow(5, backwards.cells, 13.5); },
        [&] { workbook->appendRow(5, tooWide.cells, 13.5); },
        [&] { workbook->appendRow(5, one.cells, 410); },
        [&] { workbook->appendRow(5, one.cells, 13.5, RowLook{false, {0, -1, -1}}); },
        [&] { workbook->appendRow(5, one.cells, 13.5, RowLook{false, {-1, 16, -1}}); },
        [&] { workbook->appendRow(5, one.cells, 13.5, RowLook{false, {-1, -1, 7}}); },
        [&] { workbook->addRowBreak(0); },
    };
    for (std::size_t i = 0; i < std::size(bad); ++i) {
        EXPECT_EQ(failureOf(bad[i]), FailureCode::BadCellReference) << i;
    }
    // Nothing refused was written: the row is still free.
    workbook->appendRow(kMaxRows - 1, one.cells, 13.5);
}

TEST_F(WorkbookTest, RowsReadBackAsWritten) {
    // A gap, a row the template has itself, texts that need escaping or their blanks kept, a
    // missing column, a height other than the default; enough of them to go out in several pieces.
    const std::unique_ptr<Workbook> workbook = open();
    for (int row = 0; row < 9000; row += row == 3 ? 3 : 1) {
        const std::string text = row % 7 == 0 ? " <a&b> _x0041_ " : "ファイル" + std::to_string(row);
        std::vector<CellValue> cells = {{0, text, {}}, {2, {}, std::int64_t{row} << 33}, {6, "F", {}}};
        if (row % 3 == 0) {
            cells.insert(cells.begin() + 2, CellValue{3, "2026/12/08", {}});
        }
        workbook->appendRow(row, cells, row == 8 ? 20 : 13.5);
    }
    workbook->save();
    const QJsonObject book = readBack(out());
    EXPECT_EQ(book[QStringLiteral("dimension")].toString(), QStringLiteral("A1:G9000"));
    EXPECT_EQ(cellValue(book, "A8"), QStringLiteral(" <a&b> _x0041_ "));
    EXPECT_EQ(cellValue(book, "C8996"), QString::number(std::int64_t{8995} << 33));
    EXPECT_EQ(cellValue(book, "D4"), QStringLiteral("2026/12/08"));
    EXPECT_FALSE(book[QStringLiteral("cells")].toObject().contains(QStringLiteral("A5")));
    EXPECT_FALSE(book[QStringLiteral("cells")].toObject().contains(QStringLiteral("D5")));
    // Row 1 keeps its template cells beside the written ones.
    EXPECT_EQ(cellValue(book, "B1"), QStringLiteral("ディレクトリ"));
    EXPECT_EQ(book[QStringLiteral("heights")].toObject()[QStringLiteral("9")].toDouble(), 20);
}

TEST_F(WorkbookTest, AStopWhileRowsStreamOrDuringTheSaveLeavesNoFile) {
    QFile existing(out());
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("kept");
    existing.close();
    const TextRow row{{0, std::string(200, 'x')}, {2, "#7"}};
    for (const bool inSave : {false, true}) {
        std::atomic<bool> stop = false;
        {
            const std::unique_ptr<Workbook> workbook = open(kTemplate, {}, &stop);
            for (int r = 1; r < 20000; ++r) {
                workbook->appendRow(r, row.cells, 13.5);
            }
            if (!inSave) {
                stop = true;
                EXPECT_EQ(failureOf([&] { workbook->appendRow(20000, row.cells, 13.5); }), FailureCode::Cancelled);
            } else {
                // Set from another thread while the save waits for the rows to be written.
                std::thread stopper([&] { stop = true; });
                EXPECT_EQ(failureOf([&] {
                              stopper.join();
                              workbook->save();
                          }),
                          FailureCode::Cancelled);
            }
        }
        EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList{QStringLiteral("out.xlsx")})
            << inSave;
        QFile kept(out());
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), QByteArray("kept"));
    }
}

TEST_F(WorkbookTest, AFailedSaveLeavesNothing) {
    const QString target = dir_.path() + QStringLiteral("/no/such/folder/out.xlsx");
    EXPECT_EQ(failureOf([&] { open(kTemplate, target)->save(); }), FailureCode::WorkbookSave);
    EXPECT_FALSE(QFile::exists(target));
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

TEST_F(WorkbookTest, ASmallFilledSheetMatchesTheGoldenParts) {
    const std::unique_ptr<Workbook> workbook = open();
    workbook->setFooter(QString(), QString(), QStringLiteral("&P/&N"));
    workbook->appendRow(1, TextRow{{0, "ファイル名"}, {3, "日付"}}.cells, 13.5, kHeader);
    workbook->appendRow(2, TextRow{{0, " a&b<c> "}, {2, "#1234567"}, {6, "F"}}.cells, 15);
    workbook->appendRow(4, TextRow{{0, "x\u0002y\rz"}}.cells, 13.5);
    workbook->save();
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
    const std::string worksheet =
        "<?xml version=\"1.0\"?><worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
    const std::string xml =
        worksheet + "<dimension ref=\"A1\"/>"
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
        EXPECT_EQ(t->head("A1:G9"), worksheet + "<dimension ref=\"A1:G9\"/>"
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

namespace kartoma {
namespace {

/// `deflated` inflated as one raw stream, which must end exactly where the data ends.
std::optional<std::string> inflated(const std::string& deflated) {
    z_stream s{};
    inflateInit2(&s, -MAX_WBITS);
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
    s.avail_in = static_cast<uInt>(deflated.size());
    std::string out;
    int status = Z_OK;
    while (status == Z_OK) {
        char buffer[65536];
        s.next_out = reinterpret_cast<Bytef*>(buffer);
        s.avail_out = sizeof buffer;
        status = inflate(&s, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - s.avail_out);
    }
    inflateEnd(&s);
    return status == Z_STREAM_END && s.avail_in == 0 ? std::optional(out) : std::nullopt;
}

TEST(Deflater, ChunksOfAnyKindAndLengthJoinIntoOneStream) {
    // Chunks that compress to stored, fixed and dynamic blocks, each ending at any bit of its last
    // byte; fed in pieces that straddle the chunks.
    std::mt19937 random(20);
    const auto text = [&](std::size_t n, int alphabet) {
        std::string s(n, ' ');
        for (char& c : s) {
            c = static_cast<char>('A' + random() % static_cast<unsigned>(alphabet));
        }
        return s;
    };
    std::string sheet;
    for (int row = 1; sheet.size() < 3 * Deflater::kChunkBytes; ++row) {
        sheet += "<row><c r=\"A" + std::to_string(row) + "\" t=\"inlineStr\"><is><t>" + text(12, 26) +
                 "</t></is></c></row>";
    }
    const std::size_t chunk = Deflater::kChunkBytes;
    const std::vector<std::string> inputs = {
        "",
        "x",
        std::string(chunk, 'a'),
        text(chunk + 1, 256) + std::string(chunk - 1, 'b'),
        sheet,
        text(chunk / 2, 2) + text(chunk, 256) + text(chunk, 4) + std::string(3, 'z'),
    };
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        for (const std::size_t piece : {std::size_t{65536 + 3}, chunk, 3 * chunk}) {
            Deflater deflater;
            std::string out;
            // As the sheet's stream does: the end comes apart, after the last piece.
            for (std::string_view rest = inputs[i]; !rest.empty(); rest.remove_prefix(std::min(piece, rest.size()))) {
                deflater.deflate(rest.substr(0, piece), false, out);
            }
            deflater.deflate({}, true, out);
            EXPECT_EQ(inflated(out), inputs[i]) << i << " in pieces of " << piece;
        }
    }
    // The XML sheet compresses as a sheet should.
    EXPECT_LT(deflateWhole(sheet).size(), sheet.size() / 3);
}

} // namespace
} // namespace kartoma
