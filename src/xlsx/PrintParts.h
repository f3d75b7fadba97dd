#pragma once

#include <QByteArray>

#include <optional>
#include <span>
#include <string>

namespace kartoma {

/// Excel keeps at most 1,026 horizontal page breaks on a sheet and reports a workbook with more as
/// damaged; 1,023, as other writers of the format use, stays clear of that.
constexpr int kMaxRowBreaks = 1023;

/// The sheet part's text around its rows (`head` ends with the rows' start tag, `tail` begins with
/// their end tag), with manual page breaks above each zero-based row of `breaks` (ascending) added to
/// the sheet's own: in its <rowBreaks> when it has one, else in a new one where the sheet's schema
/// order puts it, written with the sheet's namespace prefix. The sheet's own breaks stay as they are;
/// at most kMaxRowBreaks are kept, the first ones. Returns the new tail; nothing when head and tail do
/// not make a well-formed sheet.
std::optional<std::string> tailWithRowBreaks(const std::string& head, const std::string& tail,
                                             std::span<const int> breaks);

/// The workbook part asking for every formula to be calculated anew when the workbook is opened
/// (its <calcPr> gets fullCalcOnLoad="1", its other settings kept; a <calcPr> is added where the
/// schema order puts it when there is none). Nothing when the part is not well-formed XML.
std::optional<QByteArray> workbookWithFullCalcOnLoad(const QByteArray& workbook);

} // namespace kartoma
