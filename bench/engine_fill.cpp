// Fills N rows of the entry-row layout (seven cells and a row height) into the template through the
// workbook engine and saves the workbook: the engine's side of bench/engine.
// Usage: engine_fill TEMPLATE OUTPUT ROWS

#include "Workbook.h"

#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: engine_fill TEMPLATE OUTPUT ROWS\n");
        return 2;
    }
    const long rows = std::strtol(argv[3], nullptr, 10);
    const QString output = QString::fromLocal8Bit(argv[2]);
    try {
        kartoma::Workbook book(QString::fromLocal8Bit(argv[1]), QStringLiteral("Kartoma"),
                               {9999, nullptr, [&] { return output; }});
        for (long i = 0; i < rows; ++i) {
            const std::string name = "file" + std::to_string(i) + " 写真.jpg";
            const kartoma::CellValue cells[] = {{0, name, {}},
                                                {1, "/media/disk/資料/backup_03", {}},
                                                {2, {}, static_cast<std::int64_t>(i * 37 % 1000003)},
                                                {3, "2026/12/08", {}},
                                                {4, "09:05:00", {}},
                                                {5, "BENCH", {}},
                                                {6, "F", {}}};
            book.appendRow(static_cast<int>(i + 1), cells, 13.5);
        }
        book.save();
    } catch (const kartoma::Failure& e) {
        std::fprintf(stderr, "engine_fill: error %d: %s\n", static_cast<int>(e.code()),
                     e.diagnostic().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
