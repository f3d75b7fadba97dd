// Arbitrary bytes as the template workbook: the engine either fills it or fails with a code and a
// text; it never crashes, and a failed job leaves no output behind.
#include "Failure.h"
#include "Presenters.h"
#include "WorkbookReport.h"
#include "check.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>


extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    const QString book = dir.path() + QStringLiteral("/t.xl_");
    const QString out = dir.path() + QStringLiteral("/out.xlsx");
    QFile::remove(out);
    {
        QFile f(book);
        if (!f.open(QIODevice::WriteOnly)) {
            return 0;
        }
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    kartoma::SaveAtPresenter presenter(out);
    kartoma::WorkbookReport report(presenter);
    try {
        report.setBookFile(book);
        report.openBook();
        report.selectSheet(QStringLiteral("Kartoma"), QStringLiteral("1-9999"));
        report.pos(0, 0, 6, 0).attr().setAttrA(12);
        report.cell(QStringLiteral("A2")).setValue(QStringLiteral("x<&>\u0001"));
        report.cell(QStringLiteral("C2")).setValue(std::int64_t{7});
        report.pos(0, 1).setRowHeight(13.5);
        report.closeSheet();
        report.finish();
        FUZZ_CHECK(QFile::exists(out));
    } catch (const kartoma::Failure& failure) {
        FUZZ_CHECK(report.errorCode() != 0);
        FUZZ_CHECK(!report.errorText().isEmpty());
        FUZZ_CHECK(!QFile::exists(out));
    }
    return 0;
}
