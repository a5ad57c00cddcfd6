#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

// Calendar arithmetic and strftime as the GNU C library runs it in the C locale, as pure
// functions of a broken-down time and its zone, for C libraries that lack them (Windows).

// The zone a broken-down time is in, for %z, %Z and %s.
struct time_zone_t {
    long offset = 0;   // seconds east of UTC
    std::string name;  // what %Z prints
};

// Days since 1970-01-01 of a civil date in the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) noexcept;

// Seconds since 1970 as a broken-down time with tm_isdst 0; nullopt when the year does not
// fit the tm.
std::optional<std::tm> break_down(std::int64_t seconds);

// The ISO 8601 week-based year of a time and its week in it (1 to 53).
struct iso_week_t {
    std::int64_t year;
    int week;
};
iso_week_t iso_week(const std::tm& time) noexcept;

// The name of a POSIX TZ value's standard or daylight zone ("EET-2", "<+03>-3", "EST5EDT");
// the standard name where the value names no daylight zone.
std::string tz_zone_name(std::string_view tz, bool daylight_saving);

// strftime as the GNU C library runs it in the C locale: flags _ - 0 + ^ # and a width, the E
// and O modifiers (which change nothing in the C locale), and an unknown conversion copied as
// it is. The tm's own tm_isdst and zone fields are not read: the zone comes from zone. Like GNU
// date and unlike glibc, years before 1000 have four digits, - never pads and a narrow width
// narrows a number; a few rarer flag uses differ too (the tests list them), kept as they are.
std::string strftime_c(std::string_view format, const std::tm& time, const time_zone_t& zone);
