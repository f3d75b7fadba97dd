#include "FileTime.h"

#include <cstdint>
#include <ctime>
#include <iterator>

namespace kartoma {

namespace {

char* twoDigits(unsigned value, char* out) {
    out[0] = static_cast<char>('0' + value / 10 % 10);
    out[1] = static_cast<char>('0' + value % 10);
    return out + 2;
}

constexpr std::int64_t kSecondsPerDay = 86400;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b < 0 ? 1 : 0);
}

LocalStamp packed(std::int64_t year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                  unsigned second) {
    // The columns hold years 1 to 9999. A time before or after them is written as the first or the
    // last moment they can show, whole: a clamped year beside the real month and day would be a date
    // that never was, and the sentinel keeps the row's place when the list is sorted by date.
    if (year < kEarliestStamp.year) {
        return kEarliestStamp;
    }
    if (year > kLatestStamp.year) {
        return kLatestStamp;
    }
    LocalStamp stamp;
    stamp.year = static_cast<std::uint16_t>(year);
    stamp.month = static_cast<std::uint8_t>(month);
    stamp.day = static_cast<std::uint8_t>(day);
    stamp.hour = static_cast<std::uint8_t>(hour);
    stamp.minute = static_cast<std::uint8_t>(minute);
    stamp.second = static_cast<std::uint8_t>(second > 59 ? 59 : second);
    return stamp;
}

bool localFields(std::int64_t secondsSinceEpoch, std::tm& fields) {
    const std::time_t t = static_cast<std::time_t>(secondsSinceEpoch);
    return localtime_r(&t, &fields) != nullptr;
}

LocalStamp packed(const std::tm& fields) {
    return packed(std::int64_t{fields.tm_year} + 1900, static_cast<unsigned>(fields.tm_mon + 1),
                  static_cast<unsigned>(fields.tm_mday), static_cast<unsigned>(fields.tm_hour),
                  static_cast<unsigned>(fields.tm_min), static_cast<unsigned>(fields.tm_sec));
}

/// The calendar fields of a count of local seconds since 1970-01-01 (proleptic Gregorian calendar).
LocalStamp civilStamp(std::int64_t localSeconds) {
    std::int64_t days = floorDiv(localSeconds, kSecondsPerDay);
    const std::int64_t secondOfDay = localSeconds - days * kSecondsPerDay;
    // Days to year, month and day by 400-year eras, counted from 0000-03-01.
    days += 719468;
    const std::int64_t era = floorDiv(days, 146097);
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const auto day = static_cast<unsigned>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const auto month = static_cast<unsigned>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return packed(year, month, day, static_cast<unsigned>(secondOfDay / 3600),
                  static_cast<unsigned>(secondOfDay / 60 % 60), static_cast<unsigned>(secondOfDay % 60));
}

} // namespace

LocalStamp toLocalStamp(std::int64_t secondsSinceEpoch) {
    std::tm fields{};
    if (!localFields(secondsSinceEpoch, fields)) {
        return secondsSinceEpoch < 0 ? kEarliestStamp : kLatestStamp; // past even the calendar's year field
    }
    return packed(fields);
}

LocalStampCache::Day LocalStampCache::probe(std::int64_t day) {
    // The offset is taken as the day's if its first and last second agree on it and the offset alone
    // gives both their local times. No zone has changed its offset and back within one day.
    Day known;
    known.day = day;
    std::tm first{};
    std::tm last{};
    if (day > INT64_MAX / kSecondsPerDay - 1 || day < INT64_MIN / kSecondsPerDay + 1 ||
        !localFields(day * kSecondsPerDay, first) || !localFields(day * kSecondsPerDay + kSecondsPerDay - 1, last) ||
        first.tm_gmtoff != last.tm_gmtoff) {
        return known;
    }
    known.offset = static_cast<std::int32_t>(first.tm_gmtoff);
    const std::int64_t start = day * kSecondsPerDay + known.offset;
    known.uniform = civilStamp(start) == packed(first) && civilStamp(start + kSecondsPerDay - 1) == packed(last);
    return known;
}

LocalStamp LocalStampCache::toLocalStamp(std::int64_t secondsSinceEpoch) {
    const std::int64_t day = floorDiv(secondsSinceEpoch, kSecondsPerDay);
    Day& known = days_[static_cast<std::uint64_t>(day) % std::size(days_)];
    if (known.day != day) {
        known = probe(day);
    }
    if (!known.uniform) {
        return kartoma::toLocalStamp(secondsSinceEpoch);
    }
    return civilStamp(secondsSinceEpoch + known.offset);
}

char* writeDateText(const LocalStamp& stamp, char* out) {
    out = twoDigits(stamp.year / 100u, out);
    out = twoDigits(stamp.year % 100u, out);
    *out++ = '/';
    out = twoDigits(stamp.month, out);
    *out++ = '/';
    return twoDigits(stamp.day, out);
}

char* writeTimeText(const LocalStamp& stamp, char* out) {
    out = twoDigits(stamp.hour, out);
    *out++ = ':';
    out = twoDigits(stamp.minute, out);
    *out++ = ':';
    return twoDigits(stamp.second, out);
}

} // namespace kartoma
