#pragma once

#include <QString>

#include <cstdint>

namespace kartoma {

/// A last-write time as local calendar fields, packed into eight bytes so that a list of a million
/// entries keeps its stamps in 8 MB.
struct LocalStamp {
    std::uint16_t year = 0;
    std::uint8_t month = 0;
    std::uint8_t day = 0;
    std::uint8_t hour = 0;
    std::uint8_t minute = 0;
    std::uint8_t second = 0;

    friend bool operator==(const LocalStamp&, const LocalStamp&) = default;
};

/// The first and the last moment a date column can show (years have four digits, and there is no
/// year 0).
inline constexpr LocalStamp kEarliestStamp{1, 1, 1, 0, 0, 0};
inline constexpr LocalStamp kLatestStamp{9999, 12, 31, 23, 59, 59};

/// Converts seconds since 1970-01-01 UTC to local time, with the time-zone rules in force at that
/// moment (TZ and the system's zone data). A time before kEarliestStamp or after kLatestStamp gives
/// that stamp.
LocalStamp toLocalStamp(std::int64_t secondsSinceEpoch);

/// Writes "yyyy/mm/dd" (10 characters) at `out`; returns the position after it.
char* writeDateText(const LocalStamp& stamp, char* out);
/// Writes "hh:mm:ss" (8 characters, 24-hour clock) at `out`; returns the position after it.
char* writeTimeText(const LocalStamp& stamp, char* out);

/// The date text of a last-write time, with its time text in `timeText`: yyyy/mm/dd and hh:mm:ss.
QString formatFileTime(std::int64_t secondsSinceEpoch, QString& timeText);

QString dateText(const LocalStamp& stamp);
QString timeText(const LocalStamp& stamp);

} // namespace kartoma
