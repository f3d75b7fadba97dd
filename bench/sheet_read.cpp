// The catalogue reader's speed: reads every row of a saved workbook's sheet ROUNDS times and prints
// the inflated megabytes of the sheet per second, beside what inflating the same part alone takes
// (the share of the time that is the reader's own).
// Usage: sheet_read WORKBOOK [ROUNDS]

#include "Failure.h"
#include "SheetReader.h"

#include <QFile>
#include <QString>

#include <zip.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

/// Inflates the largest part of the package (the sheet of a catalogue) into nothing: its size.
std::uint64_t inflateOnly(const QString& path) {
    int error = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (zip == nullptr) {
        return 0;
    }
    zip_uint64_t largest = 0, size = 0;
    for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
        zip_stat_t st;
        if (zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &st) == 0 && st.size > size) {
            size = st.size;
            largest = static_cast<zip_uint64_t>(i);
        }
    }
    std::uint64_t total = 0;
    if (zip_file_t* f = zip_fopen_index(zip, largest, 0)) {
        std::vector<char> buffer(256 * 1024);
        zip_int64_t n;
        while ((n = zip_fread(f, buffer.data(), buffer.size())) > 0) {
            total += static_cast<std::uint64_t>(n);
        }
        zip_fclose(f);
    }
    zip_discard(zip);
    return total;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: sheet_read WORKBOOK [ROUNDS]\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    for (int round = 0; round < rounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        const std::uint64_t inflated = inflateOnly(path);
        const double inflating = seconds(start);
        start = std::chrono::steady_clock::now();
        std::uint64_t rows = 0, cells = 0, bytes = 0;
        try {
            kartoma::SheetReader reader(path, QStringLiteral("Kartoma"));
            kartoma::SheetRow row;
            while (reader.next(row)) {
                ++rows;
                cells += row.cellCount();
            }
            bytes = reader.bytesRead();
        } catch (const kartoma::Failure& failure) {
            std::fprintf(stderr, "%s\n", qPrintable(failure.detail()));
            return 1;
        }
        const double reading = seconds(start);
        std::printf("round %d: %llu rows, %llu cells, %.1f MB; read %.3f s (%.0f MB/s), inflate alone %.3f s "
                    "(%.0f MB/s), reader's own %.0f MB/s\n",
                    round + 1, static_cast<unsigned long long>(rows), static_cast<unsigned long long>(cells),
                    static_cast<double>(bytes) / 1e6, reading, static_cast<double>(bytes) / 1e6 / reading,
                    inflating, static_cast<double>(inflated) / 1e6 / inflating,
                    static_cast<double>(bytes) / 1e6 / (reading - inflating));
    }
    return 0;
}
