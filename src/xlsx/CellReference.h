#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kartoma {

/// The largest sheet of the workbook format: 16,384 columns (A to XFD) by 1,048,576 rows.
inline constexpr int kMaxColumns = 16384;
inline constexpr int kMaxRows = 1048576;

/// A cell or a rectangle of cells, zero-based: column 0 is A, row 0 is sheet row 1.
struct CellRange {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    friend bool operator==(const CellRange&, const CellRange&) = default;
};

/// The zero-based column named by the letters `reference` begins with, either case, at most three
/// ("C12" -> 2, "ab" -> 27); -1 when it begins with none. `letters`, when given, gets their count.
int leadingColumn(std::string_view reference, std::size_t* letters = nullptr);

/// "A2" -> column 0, row 1. Letters (either case) then a row number from 1, nothing else; within the
/// sheet's limits. Nothing for anything else ("A0", "2A", "A 2", "XFE1", "A1048577").
std::optional<CellRange> parseCellReference(std::string_view reference);

/// Column letters of a zero-based column: 0 -> "A", 25 -> "Z", 26 -> "AA".
std::string columnLetters(int column);

/// Appends the reference of a zero-based cell ("A1" for 0, 0).
void appendCellReference(int column, int row, std::string& out);

} // namespace kartoma
