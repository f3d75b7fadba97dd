#include "CellReference.h"

#include <charconv>
#include <string>

namespace kartoma {

std::optional<CellRange> parseCellReference(QStringView reference) {
    qsizetype i = 0;
    long column = 0;
    while (i < reference.size() && reference[i].isLetter() && reference[i].unicode() < 0x80) {
        column = column * 26 + (reference[i].toUpper().unicode() - u'A' + 1);
        if (column > kMaxColumns) {
            return std::nullopt;
        }
        ++i;
    }
    if (i == 0 || i == reference.size() || reference[i] == QLatin1Char('0')) {
        return std::nullopt;
    }
    long row = 0;
    for (; i < reference.size(); ++i) {
        const char16_t c = reference[i].unicode();
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        row = row * 10 + (c - u'0');
        if (row > kMaxRows) {
            return std::nullopt;
        }
    }
    const int x = static_cast<int>(column - 1);
    const int y = static_cast<int>(row - 1);
    return CellRange{x, y, x, y};
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
