#pragma once

#include <QString>

#include <string_view>

namespace kartoma {

/// How the bytes of a name read. Names are bytes on this system: most are UTF-8, but old Japanese
/// media and archives unpacked without conversion carry CP932 (Shift-JIS) bytes.
enum class NameEncoding { Utf8, Cp932, Neither };

/// UTF-8 when the bytes are valid UTF-8; else CP932 when they are a valid CP932 sequence; else
/// Neither.
NameEncoding nameEncoding(std::string_view bytes);

/// The text of a name: UTF-8 as it is, CP932 decoded, and anything else with U+FFFD in place of
/// each byte that is not text.
QString nameText(std::string_view bytes);

} // namespace kartoma
