// Fills N rows of the entry-row layout (seven cells and a row height) into the template through the
// workbook engine and saves the workbook: the engine's side of bench/engine.
// Usage: engine_fill TEMPLATE OUTPUT ROWS

#include "Presenters.h"
#include "WorkbookReport.h"

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
    kartoma::SaveAtPresenter presenter(QString::fromLocal8Bit(argv[2]));
    kartoma::WorkbookReport report(presenter);
    try {
        report.setBookFile(QString::fromLocal8Bit(argv[1]));
        report.openBook();
        report.selectSheet(QStringLiteral("Kartoma"), QStringLiteral("1-9999"));
        char16_t ref[16];
        for (long i = 0; i < rows; ++i) {
            const long r = i + 2;
            const std::string digits = std::to_string(r);
            const auto cell = [&](char column) {
                ref[0] = static_cast<char16_t>(column);
                for (std::size_t k = 0; k < digits.size(); ++k) {
                    ref[k + 1] = static_cast<char16_t>(digits[k]);
                }
                return report.cell(QStringView(ref, static_cast<qsizetype>(digits.size() + 1)));
            };
            const std::string name = "file" + std::to_string(i) + " 写真.jpg";
            cell('A').setValueUtf8(name);
            cell('B').setValueUtf8("/media/disk/資料/backup_03");
            cell('C').setValue(static_cast<std::int64_t>(i * 37 % 1000003));
            cell('D').setValueUtf8("2026/12/08");
            cell('E').setValueUtf8("09:05:00");
            cell('G').setValueUtf8("F");
            report.pos(0, static_cast<int>(r - 1)).setRowHeight(13.5);
            cell('F').setValueUtf8("BENCH");
        }
        report.closeSheet();
        report.setFinishOption(-2);
        report.finish();
    } catch (const kartoma::WorkbookError& e) {
        std::fprintf(stderr, "engine_fill: error %d: %s\n", static_cast<int>(e.code()),
                     e.diagnostic().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
