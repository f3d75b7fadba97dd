// Writes the template workbook "Kartoma.xl_": an Office Open XML package with one sheet "Kartoma"
// whose first row holds the seven column titles. Column widths, the size column's number format,
// the Japanese font and the A4 print settings all live here, so the template can be rebuilt and
// reviewed; a user may replace the built file with an edited copy of their own.
//
// Usage: make_template OUTPUT

#include <zip.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Part {
    const char* name;
    std::string text;
};

const char* const kHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

std::string contentTypes() {
    return std::string(kHeader) +
           "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
           "<Default Extension=\"rels\" "
           "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
           "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
           "<Override PartName=\"/xl/workbook.xml\" "
           "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
           "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
           "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
           "<Override PartName=\"/xl/styles.xml\" "
           "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
           "<Override PartName=\"/docProps/core.xml\" "
           "ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>"
           "<Override PartName=\"/docProps/app.xml\" "
           "ContentType=\"application/vnd.openxmlformats-officedocument.extended-properties+xml\"/>"
           "</Types>";
}

std::string packageRelationships() {
    return std::string(kHeader) +
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" "
           "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
           "Target=\"xl/workbook.xml\"/>"
           "<Relationship Id=\"rId2\" "
           "Type=\"http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties\" "
           "Target=\"docProps/core.xml\"/>"
           "<Relationship Id=\"rId3\" "
           "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/extended-properties\" "
           "Target=\"docProps/app.xml\"/>"
           "</Relationships>";
}

std::string workbook() {
    return std::string(kHeader) +
           "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
           "<bookViews><workbookView xWindow=\"0\" yWindow=\"0\" windowWidth=\"28800\" "
           "windowHeight=\"15000\"/>"
           "</bookViews>"
           "<sheets><sheet name=\"Kartoma\" sheetId=\"1\" r:id=\"rId1\"/></sheets>"
           "</workbook>";
}

std::string workbookRelationships() {
    return std::string(kHeader) +
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" "
           "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
           "Target=\"worksheets/sheet1.xml\"/>"
           "<Relationship Id=\"rId2\" "
           "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
           "Target=\"styles.xml\"/>"
           "</Relationships>";
}

// Cell styles: 0 the list's text, 1 the size column (thousands separators, numFmt 3 "#,##0"),
// 2 the title row (bold on light grey with thin borders), 3 centred text (date, time, type).
std::string styles() {
    const std::string font =
        "<sz val=\"10\"/><name val=\"ＭＳ Ｐゴシック\"/><family val=\"3\"/><charset val=\"128\"/>";
    const std::string thin = "<left style=\"thin\"><color indexed=\"64\"/></left>"
                             "<right style=\"thin\"><color indexed=\"64\"/></right>"
                             "<top style=\"thin\"><color indexed=\"64\"/></top>"
                             "<bottom style=\"thin\"><color indexed=\"64\"/></bottom><diagonal/>";
    return std::string(kHeader) +
           "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
           "<fonts count=\"2\"><font>" +
           font + "</font><font><b/>" + font +
           "</font></fonts>"
           "<fills count=\"3\"><fill><patternFill patternType=\"none\"/></fill>"
           "<fill><patternFill patternType=\"gray125\"/></fill>"
           "<fill><patternFill patternType=\"solid\"><fgColor indexed=\"22\"/><bgColor indexed=\"64\"/>"
           "</patternFill></fill></fills>"
           "<borders count=\"2\"><border><left/><right/><top/><bottom/><diagonal/></border>"
           "<border>" +
           thin +
           "</border></borders>"
           "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\">"
           "<alignment vertical=\"center\"/></xf></cellStyleXfs>"
           "<cellXfs count=\"4\">"
           "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"><alignment "
           "vertical=\"center\"/></xf>"
           "<xf numFmtId=\"3\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\">"
           "<alignment vertical=\"center\"/></xf>"
           "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"2\" borderId=\"1\" xfId=\"0\" applyFont=\"1\" "
           "applyFill=\"1\" "
           "applyBorder=\"1\" applyAlignment=\"1\"><alignment horizontal=\"center\" "
           "vertical=\"center\"/></xf>"
           "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyAlignment=\"1\">"
           "<alignment horizontal=\"center\" vertical=\"center\"/></xf>"
           "</cellXfs>"
           "<cellStyles count=\"1\"><cellStyle name=\"標準\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
           "</styleSheet>";
}

std::string sheet() {
    const char* const titles[] = {"ファイル名", "ディレクトリ", "サイズ", "日付",
                                  "時間",       "ボリューム",   "TYPE"};
    std::string row = "<row r=\"1\" ht=\"13.5\" customHeight=\"1\">";
    for (int c = 0; c < 7; ++c) {
        row += std::string("<c r=\"") + static_cast<char>('A' + c) + "1\" s=\"2\" t=\"inlineStr\"><is><t>" +
               titles[c] + "</t></is></c>";
    }
    row += "</row>";
    return std::string(kHeader) +
           "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
           "<sheetPr><pageSetUpPr fitToPage=\"1\"/></sheetPr>"
           "<dimension ref=\"A1:G1\"/>"
           "<sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\">"
           "<pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" state=\"frozen\"/>"
           "<selection pane=\"bottomLeft\" activeCell=\"A2\" sqref=\"A2\"/></sheetView></sheetViews>"
           "<sheetFormatPr defaultRowHeight=\"13.5\"/>"
           "<cols>"
           "<col min=\"1\" max=\"1\" width=\"36\" customWidth=\"1\"/>"
           "<col min=\"2\" max=\"2\" width=\"50\" customWidth=\"1\"/>"
           "<col min=\"3\" max=\"3\" width=\"14\" style=\"1\" customWidth=\"1\"/>"
           "<col min=\"4\" max=\"4\" width=\"11\" style=\"3\" customWidth=\"1\"/>"
           "<col min=\"5\" max=\"5\" width=\"9\" style=\"3\" customWidth=\"1\"/>"
           "<col min=\"6\" max=\"6\" width=\"16\" customWidth=\"1\"/>"
           "<col min=\"7\" max=\"7\" width=\"6\" style=\"3\" customWidth=\"1\"/>"
           "</cols>"
           "<sheetData>" +
           row +
           "</sheetData>"
           // The printed pages are the list's pages: the all-titles layout breaks the sheet above every
           // title row, so a page of 51 to 69 rows of 13.5 pt (up to 932 pt) must fit one sheet, and no
           // print title may repeat row 1 (the list's own title rows, or its first page only, do that).
           // A4 portrait, fitted to one page wide: the seven columns (142 characters, some 670 to 780 pt
           // depending on the font's digit width) are scaled to the 523 pt between the margins, 67 % to
           // 78 %, where 69 rows take at most 733 pt of the 756 pt between top and bottom margins. The
           // scale of 65 % serves a user who switches the fitting off: the columns still fit the width.
           "<printOptions horizontalCentered=\"1\"/>"
           "<pageMargins left=\"0.5\" right=\"0.5\" top=\"0.6\" bottom=\"0.6\" header=\"0.3\" "
           "footer=\"0.3\"/>"
           "<pageSetup paperSize=\"9\" scale=\"65\" orientation=\"portrait\" fitToWidth=\"1\" "
           "fitToHeight=\"0\"/>"
           "</worksheet>";
}

std::string coreProperties() {
    return std::string(kHeader) +
           "<cp:coreProperties "
           "xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
           "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
           "<dc:title>Kartoma</dc:title><dc:creator>Kartoma</dc:creator>"
           "</cp:coreProperties>";
}

std::string appProperties() {
    return std::string(kHeader) +
           "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\">"
           "<Application>Kartoma</Application></Properties>";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_template OUTPUT\n");
        return 2;
    }
    std::remove(argv[1]);
    int error = 0;
    zip_t* zip = zip_open(argv[1], ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (zip == nullptr) {
        std::fprintf(stderr, "make_template: cannot create %s (libzip error %d)\n", argv[1], error);
        return 1;
    }
    const std::vector<Part> parts = {{"[Content_Types].xml", contentTypes()},
                                     {"_rels/.rels", packageRelationships()},
                                     {"docProps/core.xml", coreProperties()},
                                     {"docProps/app.xml", appProperties()},
                                     {"xl/workbook.xml", workbook()},
                                     {"xl/_rels/workbook.xml.rels", workbookRelationships()},
                                     {"xl/styles.xml", styles()},
                                     {"xl/worksheets/sheet1.xml", sheet()}};
    for (const Part& part : parts) {
        zip_source_t* source = zip_source_buffer(zip, part.text.data(), part.text.size(), 0);
        const zip_int64_t index =
            source == nullptr ? -1 : zip_file_add(zip, part.name, source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            std::fprintf(stderr, "make_template: %s\n", zip_strerror(zip));
            zip_source_free(source);
            zip_discard(zip);
            return 1;
        }
        // A fixed time stamp keeps the built template the same from build to build.
        zip_file_set_mtime(zip, static_cast<zip_uint64_t>(index), 1577836800, 0);
    }
    if (zip_close(zip) != 0) {
        std::fprintf(stderr, "make_template: %s\n", zip_strerror(zip));
        zip_discard(zip);
        return 1;
    }
    return 0;
}
