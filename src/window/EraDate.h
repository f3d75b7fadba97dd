#pragma once

#include <QDate>
#include <QString>

namespace kartoma {

/// A date in the pattern "geemmdd" of the Japanese calendar: the era's initial (M, T, S, H, R), the
/// two-digit year of the era, month and day. 8 December 2026 is "R081208"; 7 January 1989 is
/// "S640107" and the next day "H010108".
QString eraDateText(const QDate& date);

} // namespace kartoma
