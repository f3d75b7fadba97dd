#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace kartoma {

/// Appends `utf8` as XML character data of a workbook cell, so that it reads back as itself:
/// & < > are escaped; CR is written as a character reference (a parser would fold a raw CR into LF);
/// characters XML 1.0 cannot carry (C0 controls but tab, LF and CR; U+FFFE, U+FFFF) are written in
/// the package's _xHHHH_ form, and an underscore that would read as such an escape is written as
/// _x005F_. Bytes that are not UTF-8 become U+FFFD.
void appendXmlCellText(std::string_view utf8, std::string& out);

/// Appends `text` escaped for an attribute value or element content (& < > " only).
void appendXmlEscaped(std::string_view text, std::string& out);
/// The same, as a string of its own.
QString xmlEscaped(QStringView text);

/// Inserts ` name="value"` (`attribute`, with its leading blank) after the tag name of the element that
/// `element` starts with, whatever prefix the name carries.
void insertAttribute(std::string& element, std::string_view attribute);

/// The code unit of the package's escape "_xHHHH_" at `text[i]`, or -1 when there is none. With
/// `capitalX`, "_XHHHH_" is taken for one too (a writer escapes what any reader might take for one).
int cellEscapeAt(std::string_view text, std::size_t i, bool capitalX = false);

/// The schema's order of a worksheet's children: true when an element named `name` comes after
/// (`worksheetChildAfter`) or before (`worksheetChildBefore`) the element `element`. Unknown names
/// come neither before nor after anything.
bool worksheetChildAfter(std::string_view name, std::string_view element);
bool worksheetChildBefore(std::string_view name, std::string_view element);

/// True when the text needs xml:space="preserve" to keep its blanks (leading or trailing white space).
bool needsSpacePreserve(std::string_view utf8);

} // namespace kartoma
