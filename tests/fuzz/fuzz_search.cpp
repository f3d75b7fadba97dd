// Arbitrary bytes as a saved catalogue to search: the search either reads it or names it with a
// failure of its own; it never crashes, and every hit is written as exactly one CSV line of seven
// fields.
//
// The first byte chooses what the rest is: 0 a CSV catalogue; 1 the sheet part of a workbook; 2 the
// shared-string table of a workbook whose sheet names its first entries.
#include "CatalogueSearch.h"
#include "Failure.h"
#include "check.h"

#include <QFile>
#include <QTemporaryDir>

#include <zip.h>

#include <cstdint>
#include <string>

namespace {

bool writeWorkbook(const QString& path, const std::string& sheet, const std::string& shared) {
    static const std::string workbook =
        R"(<workbook xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
        R"(<sheets><sheet name="Kartoma" sheetId="1" r:id="rId1"/></sheets></workbook>)";
    static const std::string rels =
        R"(<Relationships><Relationship Id="rId1" Type="x/worksheet" Target="worksheets/sheet1.xml"/>)"
        R"(<Relationship Id="rS" Type="x/sharedStrings" Target="sharedStrings.xml"/></Relationships>)";
    int error = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (zip == nullptr) {
        return false;
    }
    const std::pair<const char*, const std::string*> parts[] = {{"xl/workbook.xml", &workbook},
                                                                {"xl/_rels/workbook.xml.rels", &rels},
                                                                {"xl/worksheets/sheet1.xml", &sheet},
                                                                {"xl/sharedStrings.xml", &shared}};
    for (const auto& [name, text] : parts) {
        zip_source_t* source = zip_source_buffer(zip, text->data(), text->size(), 0);
        if (source == nullptr || zip_file_add(zip, name, source, ZIP_FL_OVERWRITE) < 0) {
            zip_source_free(source);
            zip_discard(zip);
            return false;
        }
    }
    return zip_close(zip) == 0;
}

/// The number of CSV records in `line` and of fields in its first, RFC 4180 style.
std::pair<int, int> recordsAndFields(const std::string& line) {
    int records = 0;
    int fields = 1;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < line.size() && line[i + 1] == '"') {
                    ++i;
                } else {
                    quoted = false;
                }
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',' && records == 0) {
            ++fields;
        } else if (c == '\r' && i + 1 < line.size() && line[i + 1] == '\n') {
            ++records;
            ++i;
        }
    }
    FUZZ_CHECK(!quoted);
    return {records, fields};
}

class CheckingSink final : public kartoma::SearchSink {
public:
    void hit(const kartoma::SearchHit& hit) override {
        const std::string line = kartoma::searchHitLine(hit);
        FUZZ_CHECK(recordsAndFields(line) == std::make_pair(1, 7));
    }
    void unreadable(const kartoma::Failure& failure) override {
        using kartoma::FailureCode;
        const FailureCode code = failure.code();
        FUZZ_CHECK(code == FailureCode::NotACatalogue || code == FailureCode::CatalogueDamaged ||
                   code == FailureCode::CatalogueTooLarge || code == FailureCode::CatalogueUnreadable);
        FUZZ_CHECK(!failure.subject().isEmpty());
    }
    bool keepGoing(const QString&, std::uint64_t) override { return true; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > 1 << 16) {
        return 0;
    }
    static QTemporaryDir dir;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const int mode = data[0] % 3;
    QString path;
    if (mode == 0) {
        path = dir.path() + QStringLiteral("/c.csv");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(rest.data(), static_cast<qint64>(rest.size())) != static_cast<qint64>(rest.size())) {
            return 0;
        }
    } else {
        path = dir.path() + QStringLiteral("/c.xlsx");
        std::string sheet = "<worksheet><sheetData>";
        std::string shared = "<sst>";
        if (mode == 1) {
            sheet += rest;
        } else {
            shared += rest;
            sheet += R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c></row>)"
                     R"(<row r="2"><c r="A2" t="s"><v>2</v></c><c r="B2" t="s"><v>3</v></c>)"
                     R"(<c r="C2" t="s"><v>4</v></c></row>)";
        }
        sheet += "</sheetData></worksheet>";
        shared += "</sst>";
        if (!writeWorkbook(path, sheet, shared)) {
            return 0;
        }
    }
    CheckingSink sink;
    const kartoma::SearchSummary summary =
        kartoma::searchCatalogues({path}, kartoma::SearchQuery{QStringLiteral("*")}, sink);
    FUZZ_CHECK(summary.catalogues + summary.unreadable == 1);
    return 0;
}
