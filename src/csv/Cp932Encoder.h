#pragma once

#include <QStringView>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kartoma {

/// Text to the Japanese Windows code page (CP932), as Windows itself writes it.
///
/// The table is derived once from the system's CP932 decoder: where several byte sequences decode to
/// the same character, the one Windows writes is kept (JIS X 0208 rows first, then NEC row 13, then
/// the IBM extensions, then the NEC-selected IBM extensions). The usual JIS variants that other
/// converters produce are mapped as Windows maps them: U+301C to 0x8160, U+2016 to 0x8161, U+2212 to
/// 0x817C, U+00A2/U+00A3/U+00AC to 0x8191/0x8192/0x81CA, U+2014 to 0x815C.
class Cp932Encoder {
public:
    static const Cp932Encoder& instance();

    /// Appends the CP932 bytes of `text` to `out`. A character CP932 cannot hold is written as "?"
    /// and counted in `replaced`; a double quote is written twice when `doubleQuotes` is set.
    void append(QStringView text, std::string& out, std::uint64_t& replaced, bool doubleQuotes) const;

    /// The same for text held as UTF-8, without a detour through UTF-16. Returns false, with `out` and
    /// `replaced` as they were, when `utf8` is not valid UTF-8.
    bool appendUtf8(std::string_view utf8, std::string& out, std::uint64_t& replaced, bool doubleQuotes) const;

    /// The CP932 code of a character: 0x00-0xFF for one byte, 0x8140-0xFCFC for two; -1 for none.
    int codeOf(char32_t c) const;

private:
    Cp932Encoder();
    std::vector<std::uint16_t> table_; // BMP code point -> code; 0xFFFF where there is none
};

} // namespace kartoma
