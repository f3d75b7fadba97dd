#pragma once

#include <QString>

#include <cstdint>
#include <string>
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

/// The text of bytes known to be CP932 (a CSV catalogue's fields): each byte that is no part of a
/// CP932 character reads as U+FFFD, as nameText shows the bytes of a name that are no text.
QString cp932Text(std::string_view bytes);

/// The text of a path: each of its names between "/" read as nameText reads it (a path may join
/// UTF-8 names and CP932 ones).
QString pathText(std::string_view bytes);

/// The text a person reads for a path held with escaped bytes (NativePath.h): `path` itself when
/// it has none, else pathText of its bytes.
QString readablePath(const QString& path);

/// How many names of the path `bytes` are neither UTF-8 nor CP932.
std::uint64_t undecodableNamesIn(std::string_view bytes);

/// `text` with each character upper-cased on its own (ß stays ß rather than becoming SS), so that a
/// name and its key have the same characters one for one: "?" stands for one character in both.
QString upperCased(QStringView text);

/// Appends `name` (UTF-8) upper-cased, as the walk sorts and the name filter compares it, to `out`:
/// ASCII by a table, the rest by `upperCased` of the name's text (`nameText`).
void appendUpperUtf8(std::string_view name, std::string& out);

/// Joins a folder path and a name with "/", unless the folder already ends with "/" (the root).
QString joinPath(const QString& folder, const QString& name);
/// The same join for names held as UTF-8 (or other) bytes.
std::string joinPathBytes(const std::string& folder, std::string_view name);

} // namespace kartoma
