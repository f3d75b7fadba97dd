#include "CellReference.h"

#include <charconv>
#include <string>

namespace kartoma {

int leadingColumn(std::string_view reference, std::size_t* letters) {
    int column = 0;
    std::size_t i = 0;
    for (; i < reference.size() && i < 3; ++i) {
        const char c = reference[i];
        if (c >= 'A' && c <= 'Z') {
            column = column * 26 + (c - 'A' + 1);
        } else if (c >= 'a' && c <= 'z') {
            column = column * 26 + (c - 'a' + 1);
        } else {
            break;
        }
    }
    if (letters != nullptr) {
        *letters = i;
    }
    return i == 0 ? -1 : column - 1;
}

std::optional<CellRange> parseCellReference(std::string_view reference) {
    std::size_t i = 0;
    const int column = leadingColumn(reference, &i);
    if (column < 0 || column >= kMaxColumns || i == reference.size() || reference[i] == '0') {
        return std::nullopt;
    }
    long row = 0;
    for (; i < reference.size(); ++i) {
        const char c = reference[i];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        row = row * 10 + (c - '0');
        if (row > kMaxRows) {
            return std::nullopt;
        }
    }
    const int y = static_cast<int>(row - 1);
    return CellRange{column, y, column, y};
}

std::string columnLetters(int column) {
    std::string letters;
    int n = column + 1;
    while (n > 0) {
        const int digit = (n - 1) % 26;
        letters.insert(letters.begin(), static_cast<char>('A' + digit));
        n = (n - 1) / 26;
    }
    return letters;
}

void appendCellReference(int column, int row, std::string& out) {
    if (column < 26) {
        out += static_cast<char>('A' + column);
    } else {
        out += columnLetters(column);
    }
    char digits[12];
    const auto end = std::to_chars(digits, digits + sizeof digits, row + 1).ptr;
    out.append(digits, end);
}

} // namespace kartoma
