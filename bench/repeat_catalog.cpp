// The load check's program: catalogues one tree to CSV and to a workbook N times in one process,
// printing the resident and peak memory after each round and whether every round wrote the same
// bytes (the CSV file whole; the workbook's sheet part, which holds every cell).
// Usage: repeat_catalog TREE TEMPLATE OUTPUT_FOLDER ROUNDS

#include "Catalogue.h"
#include "Failure.h"
#include "VolumeLabels.h"
#include "Workbook.h"

#include <QCryptographicHash>
#include <QFile>
#include <QString>

#include <zip.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {


long statusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::stol(line.substr(std::string(field).size()));
        }
    }
    return -1;
}

QByteArray digestOfFile(const QString& path) {
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (f.open(QIODevice::ReadOnly)) {
        hash.addData(&f);
    }
    return hash.result().toHex();
}

QByteArray digestOfSheet(const QString& path) {
    int error = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (zip != nullptr) {
        if (zip_file_t* f = zip_fopen(zip, "xl/worksheets/sheet1.xml", 0)) {
            char buffer[1 << 16];
            zip_int64_t n;
            while ((n = zip_fread(f, buffer, sizeof buffer)) > 0) {
                hash.addData(QByteArrayView(buffer, static_cast<qsizetype>(n)));
            }
            zip_fclose(f);
        }
        zip_discard(zip);
    }
    return hash.result().toHex();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: repeat_catalog TREE TEMPLATE OUTPUT_FOLDER ROUNDS\n");
        return 2;
    }
    const QString tree = QString::fromLocal8Bit(argv[1]);
    const QString templatePath = QString::fromLocal8Bit(argv[2]);
    const QString folder = QString::fromLocal8Bit(argv[3]);
    const int rounds = std::atoi(argv[4]);
    kartoma::PosixFileSystem fileSystem;
    kartoma::SystemVolumeLabels labels;
    kartoma::CatalogueProgress quiet;
    QByteArray firstCsv, firstSheet;
    bool identical = true;
    try {
        for (int round = 1; round <= rounds; ++round) {
            const QString csv = folder + QStringLiteral("/repeat.csv");
            const QString book = folder + QStringLiteral("/repeat.xlsx");
            kartoma::CatalogueRequest request;
            request.folder = tree;
            request.scan.record.filterPattern = QStringLiteral("*");
            request.scan.volumeLabel = QStringLiteral("BENCH");
            request.labelPolicy = kartoma::LabelPolicy::Given;
            kartoma::WorkbookOpener workbooks;
            kartoma::EntryList list;
            request.output = kartoma::CsvTarget{csv, kartoma::CsvEncoding::Cp932};
            kartoma::runCatalogue(request, {fileSystem, labels, workbooks}, quiet, list);
            request.output = kartoma::WorkbookTarget{templatePath, true, false, 60, book};
            kartoma::runCatalogue(request, {fileSystem, labels, workbooks}, quiet, list);
            const QByteArray csvDigest = digestOfFile(csv);
            const QByteArray sheetDigest = digestOfSheet(book);
            if (round == 1) {
                firstCsv = csvDigest;
                firstSheet = sheetDigest;
            }
            const bool same = csvDigest == firstCsv && sheetDigest == firstSheet;
            identical = identical && same;
            std::printf("round %2d: %zu entries, resident %ld MiB, peak %ld MiB, %s\n", round, list.count(),
                        statusKb("VmRSS:") / 1024, statusKb("VmHWM:") / 1024,
                        same ? "same output" : "OUTPUT DIFFERS");
            std::fflush(stdout);
        }
    } catch (const kartoma::Failure& f) {
        std::fprintf(stderr, "repeat_catalog: failure %d: %s\n", static_cast<int>(f.code()),
                     qPrintable(f.worded(QStringLiteral("%1"), QStringLiteral(": "))));
        return 1;
    }
    std::printf(identical ? "every round wrote the same CSV bytes and the same cells\n" : "outputs differ\n");
    return identical ? 0 : 1;
}
