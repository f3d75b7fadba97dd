#include "EraDate.h"

#include <array>

namespace kartoma {

namespace {

struct Era {
    char initial;
    int year, month, day; // first day of the era
};

// Newest first. The Meiji era counts from the start of 1868, as the calendar conversion tables do.
constexpr std::array<Era, 5> kEras{
    {{'R', 2019, 5, 1}, {'H', 1989, 1, 8}, {'S', 1926, 12, 25}, {'T', 1912, 7, 30}, {'M', 1868, 1, 1}}};

} // namespace

QString eraDateText(const QDate& date) {
    for (const Era& era : kEras) {
        if (date >= QDate(era.year, era.month, era.day) || era.initial == 'M') {
            const int year = date.year() - era.year + 1;
            return QStringLiteral("%1%2%3%4")
                .arg(QLatin1Char(era.initial))
                .arg(year % 100, 2, 10, QLatin1Char('0'))
                .arg(date.month(), 2, 10, QLatin1Char('0'))
                .arg(date.day(), 2, 10, QLatin1Char('0'));
        }
    }
    return {};
}

} // namespace kartoma
