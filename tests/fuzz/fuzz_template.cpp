// Arbitrary bytes as the template workbook: the engine either fills it or fails with a code and a
// text; it never crashes, and a failed job leaves no output behind.
//
// The first byte chooses what the rest is: 0 the whole file; 1, 2 or 3 the sheet, style or workbook
// part inside the real template (so the XML readers are reached, not only the zip reader).
#include "Workbook.h"
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
    try {
        kartoma::Workbook workbook(book, QStringLiteral("Kartoma"), {9999, nullptr, [&] { return out; }});
        const kartoma::CellValue title[] = {{0, "T", {}}, {6, "G", {}}};
        workbook.appendRow(0, title, 13.5, {true, {12, -1, 22}});
        const kartoma::CellValue row[] = {{0, "x<&>\u0001", {}}, {2, {}, 7}};
        workbook.appendRow(1, row, 13.5);
        workbook.setFooter(QString(), QString(), QStringLiteral("&P/&N"));
        workbook.save();
        FUZZ_CHECK(QFile::exists(out));
    } catch (const kartoma::Failure&) {
        FUZZ_CHECK(!QFile::exists(out));
    }
    return 0;
}
