#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace kartoma {

/// Paths are bytes on this system and need not be UTF-8 (a folder from an old Japanese disc, a name
/// written by a program in another code page). Inside the program a path is a QString that keeps
/// every byte: valid UTF-8 is decoded, and each byte that is not part of valid UTF-8 is held as the
/// lone surrogate U+DC80 + (byte - 0x80), which no decoded text ever contains. toNativePath gives
/// those bytes back exactly, so a path read from the system or the command line reaches the system
/// again unchanged. Such a string is for the system, not for a person: see readablePath.

/// The string that stands for `bytes`.
QString fromNativePath(std::string_view bytes);

/// The bytes `path` stands for. Characters that no bytes stand for (a lone surrogate outside the
/// escaped range, or an unpaired high surrogate) are written as U+FFFD.
std::string toNativePath(QStringView path);

/// True when `path` holds a byte that is not UTF-8 (and so must not be shown as it is).
bool hasEscapedBytes(QStringView path);

} // namespace kartoma
