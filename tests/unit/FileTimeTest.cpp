#include "FileTime.h"

#include <gtest/gtest.h>

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace kartoma {
namespace {

QString dateOf(const LocalStamp& stamp) {
    char text[10];
    writeDateText(stamp, text);
    return QString::fromLatin1(text, 10);
}

QString timeOf(const LocalStamp& stamp) {
    char text[8];
    writeTimeText(stamp, text);
    return QString::fromLatin1(text, 8);
}

/// Sets TZ for one test and puts the old value back.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            old_ = old;
            hadOld_ = true;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (hadOld_) {
            setenv("TZ", old_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::string old_;
    bool hadOld_ = false;
};

struct TimeCase {
    const char* zone;
    std::int64_t utcSeconds;
    const char* date;
    const char* time;
};

class FileTimeTable : public ::testing::TestWithParam<TimeCase> {};

TEST_P(FileTimeTable, FormatsLocalDateAndTime) {
    const TimeCase& c = GetParam();
    ZoneGuard zone(c.zone);
    const LocalStamp stamp = toLocalStamp(c.utcSeconds);
    EXPECT_EQ(dateOf(stamp), QString::fromLatin1(c.date));
    EXPECT_EQ(timeOf(stamp), QString::fromLatin1(c.time));
}

INSTANTIATE_TEST_SUITE_P(
    Zones, FileTimeTable,
    ::testing::Values(
        // 1999-03-05 00:05:00 UTC is 09:05 in Tokyo: padded month, day and hour.
        TimeCase{"Asia/Tokyo", 920592300, "1999/03/05", "09:05:00"},
        // An afternoon time is written with hours 13 to 23.
        TimeCase{"Asia/Tokyo", 920592300 + 9 * 3600 + 59, "1999/03/05", "18:05:59"},
        // Crossing midnight moves the date.
        TimeCase{"Asia/Tokyo", 946652400, "2000/01/01", "00:00:00"},
        TimeCase{"UTC", 946652400, "1999/12/31", "15:00:00"},
        // Historic rules: Berlin in summer 2020 is UTC+2, in winter UTC+1.
        TimeCase{"Europe/Berlin", 1593561600, "2020/07/01", "02:00:00"},
        TimeCase{"Europe/Berlin", 1577836800, "2020/01/01", "01:00:00"},
        // Japan kept summer time from 1948 to 1951: 23:00 UTC is 09:00 (UTC+10), not 08:00.
        TimeCase{"Asia/Tokyo", -586659600, "1951/05/31", "09:00:00"},
        TimeCase{"UTC", 0, "1970/01/01", "00:00:00"},
        // Times the columns cannot show are written as the nearest moment they can, never as a
        // clamped year with the real month and day; one that fits is written as it is.
        TimeCase{"UTC", -62135596801, "0001/01/01", "00:00:00"},
        TimeCase{"UTC", -62135596800, "0001/01/01", "00:00:00"},
        // The bound is local: Tokyo kept its mean solar time (UTC+9:18:59) then.
        TimeCase{"Asia/Tokyo", -62135596800 - 33539 - 1, "0001/01/01", "00:00:00"},
        TimeCase{"Asia/Tokyo", -62135596800 - 33539 + 61, "0001/01/01", "00:01:01"},
        TimeCase{"UTC", 253402300799, "9999/12/31", "23:59:59"},
        TimeCase{"UTC", 253402300800, "9999/12/31", "23:59:59"},
        TimeCase{"UTC", 9999999999999, "9999/12/31", "23:59:59"},
        TimeCase{"UTC", INT64_MAX, "9999/12/31", "23:59:59"},
        TimeCase{"UTC", INT64_MIN, "0001/01/01", "00:00:00"},
        TimeCase{"UTC", -2208988800, "1900/01/01", "00:00:00"}));

TEST(FileTime, CachedConversionGivesWhatTheZoneRulesGive) {
    // Zones with summer time, historic offsets, a half-hour shift, a skipped day and leap seconds;
    // stamps every 97 minutes over a year around a transition, and far off ones.
    for (const char* zone : {"Asia/Tokyo", "Europe/Berlin", "America/New_York", "Australia/Lord_Howe",
                             "Pacific/Apia", "Europe/Amsterdam", "right/UTC", "UTC"}) {
        ZoneGuard guard(zone);
        LocalStampCache cache;
        for (const std::int64_t from : std::initializer_list<std::int64_t>{-586659600LL - 200 * 86400, -1830383032LL, 1325203200LL - 180 * 86400,
                                        1711846800LL - 180 * 86400}) {
            for (std::int64_t t = from; t < from + 366 * 86400; t += 97 * 60 + 1) {
                ASSERT_EQ(cache.toLocalStamp(t), toLocalStamp(t)) << zone << " at " << t;
            }
        }
        for (const std::int64_t t : std::initializer_list<std::int64_t>{-62135596800LL - 1, 0, 253402300799LL + 1, INT64_MIN, INT64_MAX, -1}) {
            EXPECT_EQ(cache.toLocalStamp(t), toLocalStamp(t)) << zone << " at " << t;
        }
    }
}

TEST(FileTime, PackedStampWritesTheSameTexts) {
    const LocalStamp stamp{2026, 12, 8, 7, 4, 3};
    char buffer[19];
    char* end = writeDateText(stamp, buffer);
    *end++ = ' ';
    end = writeTimeText(stamp, end);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(end - buffer)), "2026/12/08 07:04:03");
    EXPECT_EQ(dateOf(stamp), QStringLiteral("2026/12/08"));
    EXPECT_EQ(timeOf(stamp), QStringLiteral("07:04:03"));
}

} // namespace
} // namespace kartoma
