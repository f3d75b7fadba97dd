#pragma once

// Catalogue files made in tests, and a sink that records what a search reports.

#include "CatalogueSearch.h"
#include "Failure.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QString>

#include <zip.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kartoma {

/// Writes a package of the given parts.
inline void writePackage(const QString& path, const std::map<std::string, std::string>& parts) {
    int error = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(zip, nullptr);
    for (const auto& [name, text] : parts) {
        zip_source_t* source = zip_source_buffer(zip, text.data(), text.size(), 0);
        ASSERT_GE(zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE), 0);
    }
    ASSERT_EQ(zip_close(zip), 0);
}

/// A workbook whose sheets are given by name and XML, with a shared-string table when one is given.
inline void writeWorkbook(const QString& path, const std::vector<std::pair<std::string, std::string>>& sheets,
                   const std::string& shared = {}) {
    std::string book =
        R"(<workbook xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>)";
    std::string rels = "<Relationships>";
    std::map<std::string, std::string> parts;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        book += "<sheet name=\"" + sheets[i].first + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        rels += "<Relationship Id=\"rId" + n + "\" Type=\"x/worksheet\" Target=\"worksheets/sheet" + n +
                ".xml\"/>";
        parts["xl/worksheets/sheet" + n + ".xml"] =
            "<worksheet><sheetData>" + sheets[i].second + "</sheetData></worksheet>";
    }
    if (!shared.empty()) {
        rels += R"(<Relationship Id="rS" Type="x/sharedStrings" Target="sharedStrings.xml"/>)";
        parts["xl/sharedStrings.xml"] = "<?xml version=\"1.0\"?><sst>" + shared + "</sst>";
    }
    parts["xl/workbook.xml"] = book + "</sheets></workbook>";
    parts["xl/_rels/workbook.xml.rels"] = rels + "</Relationships>";
    writePackage(path, parts);
}

inline std::string inlineRow(int row, const std::vector<std::string>& values) {
    std::string xml = "<row r=\"" + std::to_string(row) + "\">";
    for (std::size_t c = 0; c < values.size(); ++c) {
        if (!values[c].empty()) {
            xml += "<c r=\"" + std::string(1, static_cast<char>('A' + c)) + std::to_string(row) +
                   "\" t=\"inlineStr\"><is><t>" + values[c] + "</t></is></c>";
        }
    }
    return xml + "</row>";
}

class Recorder final : public SearchSink {
public:
    void hit(const SearchHit& h) override { hits.push_back(h); }
    void unreadable(const Failure& failure) override {
        failures.emplace_back(failure.code(), failure.subject());
    }
    bool keepGoing(const QString&, std::uint64_t) override {
        return ++calls <= allowedCalls && hits.size() < allowedHits;
    }
    std::vector<SearchHit> hits;
    std::vector<std::pair<FailureCode, QString>> failures;
    int calls = 0;
    int allowedCalls = 1 << 30;
    std::size_t allowedHits = SIZE_MAX;
};

} // namespace kartoma
