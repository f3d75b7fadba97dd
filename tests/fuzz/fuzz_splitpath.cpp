// Splitting a default path: the parts come from the path itself, in order, and the base name holds
// neither a separator nor a dot.
#include "FileDialogs.h"
#include "check.h"

#include <QString>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const kartoma::PathParts parts = kartoma::splitPath(path);
    FUZZ_CHECK(parts.drive.isEmpty() || path.startsWith(parts.drive));
    FUZZ_CHECK(parts.folder.isEmpty() ||
               (parts.folder.startsWith(QLatin1Char('/')) && parts.folder.endsWith(QLatin1Char('/'))));
    FUZZ_CHECK(path.contains(parts.folder));
    FUZZ_CHECK(!parts.baseName.contains(QLatin1Char('/')) && !parts.baseName.contains(QLatin1Char('.')));
    FUZZ_CHECK(path.contains(parts.baseName));
    return 0;
}
