#pragma once

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

/// toLocalStamp for many stamps in a row: each day's offset from UTC is asked of the zone rules once
/// and remembered, instead of once per stamp. The results are toLocalStamp's, historic rules
/// included; a day whose offset changes (a switch to or from summer time) or whose local time is not
/// the offset alone (zones that count leap seconds) is converted stamp by stamp. The zone (TZ) must
/// not change while one is in use: make one per walk.
class LocalStampCache {
public:
    LocalStamp toLocalStamp(std::int64_t secondsSinceEpoch);

private:
    struct Day {
        std::int64_t day = INT64_MIN; ///< days since 1970-01-01 UTC; INT64_MIN: nothing known yet
        std::int32_t offset = 0;      ///< seconds east of UTC, all day long
        bool uniform = false;         ///< false: the offset alone does not give the local time
    };
    static Day probe(std::int64_t day);

    Day days_[1024];
};

/// Writes "yyyy/mm/dd" (10 characters) at `out`; returns the position after it.
char* writeDateText(const LocalStamp& stamp, char* out);
/// Writes "hh:mm:ss" (8 characters, 24-hour clock) at `out`; returns the position after it.
char* writeTimeText(const LocalStamp& stamp, char* out);


} // namespace kartoma
