// Stored option texts: any text converts or takes the default, and what converts is in range and
// reads back the same after being written in the store's own form.
#include "Settings.h"
#include "check.h"

#include <QString>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const std::optional<std::int16_t> n = kartoma::textToInt16(text)) {
        FUZZ_CHECK(kartoma::textToInt16(QString::number(*n)) == n);
        FUZZ_CHECK(kartoma::textToBoolean(text).has_value());
    }
    if (const std::optional<bool> b = kartoma::textToBoolean(text)) {
        FUZZ_CHECK(kartoma::textToBoolean(kartoma::booleanText(*b)) == b);
    }
    return 0;
}
