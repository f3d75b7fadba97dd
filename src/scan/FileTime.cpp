#include "FileTime.h"

#include <ctime>

namespace kartoma {

namespace {

char* twoDigits(unsigned value, char* out) {
    out[0] = static_cast<char>('0' + value / 10 % 10);
    out[1] = static_cast<char>('0' + value % 10);
    return out + 2;
}

} // namespace

LocalStamp toLocalStamp(std::int64_t secondsSinceEpoch) {
    const std::time_t t = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm fields{};
    // The columns hold years 1 to 9999. A time before or after them is written as the first or the
    // last moment they can show, whole: a clamped year beside the real month and day would be a date
    // that never was, and the sentinel keeps the row's place when the list is sorted by date.
    if (localtime_r(&t, &fields) == nullptr) {
        return secondsSinceEpoch < 0 ? kEarliestStamp : kLatestStamp; // past even the calendar's year field
    }
    const long long year = static_cast<long long>(fields.tm_year) + 1900;
    if (year < kEarliestStamp.year) {
        return kEarliestStamp;
    }
    if (year > kLatestStamp.year) {
        return kLatestStamp;
    }
    LocalStamp stamp;
    stamp.year = static_cast<std::uint16_t>(year);
    stamp.month = static_cast<std::uint8_t>(fields.tm_mon + 1);
    stamp.day = static_cast<std::uint8_t>(fields.tm_mday);
    stamp.hour = static_cast<std::uint8_t>(fields.tm_hour);
    stamp.minute = static_cast<std::uint8_t>(fields.tm_min);
    stamp.second = static_cast<std::uint8_t>(fields.tm_sec > 59 ? 59 : fields.tm_sec);
    return stamp;
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

QString dateText(const LocalStamp& stamp) {
    char buffer[10];
    writeDateText(stamp, buffer);
    return QString::fromLatin1(buffer, 10);
}

QString timeText(const LocalStamp& stamp) {
    char buffer[8];
    writeTimeText(stamp, buffer);
    return QString::fromLatin1(buffer, 8);
}

QString formatFileTime(std::int64_t secondsSinceEpoch, QString& timeOut) {
    const LocalStamp stamp = toLocalStamp(secondsSinceEpoch);
    timeOut = timeText(stamp);
    return dateText(stamp);
}

} // namespace kartoma
