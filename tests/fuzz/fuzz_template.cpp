// Arbitrary bytes as the template workbook: the engine either fills it or fails with a code and a
// text; it never crashes, and a failed job leaves no output behind.
//
// The first byte chooses what the rest is: 0 the whole file; 1, 2 or 3 the sheet, style or workbook
// part inside the real template (so the XML readers are reached, not only the zip reader).
#include "Presenters.h"
#include "WorkbookReport.h"
#include "check.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <zip.h>

#include <cstdint>

namespace {

bool writePackage(const QString& path, int mode, const char* data, std::size_t size) {
    QFile::remove(path);
    if (mode == 0) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) &&
               f.write(data, static_cast<qint64>(size)) == static_cast<qint64>(size);
    }
    if (!QFile::copy(QStringLiteral(KARTOMA_TEST_TEMPLATE), path)) {
        return false;
    }
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const char* const parts[] = {"xl/worksheets/sheet1.xml", "xl/styles.xml", "xl/workbook.xml"};
    int error = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), 0, &error);
    if (zip == nullptr) {
        return false;
    }
    const zip_int64_t index = zip_name_locate(zip, parts[mode - 1], 0);
    zip_source_t* source = zip_source_buffer(zip, data, size, 0);
    if (index < 0 || source == nullptr ||
        zip_file_replace(zip, static_cast<zip_uint64_t>(index), source, 0) != 0) {
        zip_source_free(source);
        zip_discard(zip);
        return false;
    }
    return zip_close(zip) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    static QTemporaryDir dir;
    const QString book = dir.path() + QStringLiteral("/t.xl_");
    const QString out = dir.path() + QStringLiteral("/out.xlsx");
    QFile::remove(out);
    if (!writePackage(book, data[0] % 4, reinterpret_cast<const char*>(data + 1), size - 1)) {
        return 0;
    }
    kartoma::SaveAtPresenter presenter(out);
    kartoma::WorkbookReport report(presenter);
    try {
        report.setBookFile(book);
        report.openBook();
        report.selectSheet(QStringLiteral("Kartoma"), QStringLiteral("1-9999"));
        report.pos(0, 0, 6, 0).attr().setAttrA(12);
        report.pos(0, 0, 6, 0).attr().setAttrC(22);
        report.cell(QStringLiteral("A2")).setValue(QStringLiteral("x<&>\u0001"));
        report.cell(QStringLiteral("C2")).setValue(std::int64_t{7});
        report.pos(0, 1).setRowHeight(13.5);
        report.pageSetup().setPageText(QString(), QString(), QStringLiteral("&P/&N"));
        report.closeSheet();
        report.finish();
        FUZZ_CHECK(QFile::exists(out));
    } catch (const kartoma::WorkbookError&) {
        FUZZ_CHECK(report.errorCode() != 0);
        FUZZ_CHECK(!report.errorText().isEmpty());
        FUZZ_CHECK(!QFile::exists(out));
    }
    return 0;
}
