#include "platform/time_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include <locale.h>
#include <set>
#include <time.h>
#endif

namespace {
const time_zone_t gmt{0, "GMT"};

std::int64_t seconds_at(std::int64_t year, unsigned month, unsigned day, int second_of_day = 0) {
    return days_from_civil(year, month, day) * 86400 + second_of_day;
}

std::tm at(std::int64_t year, unsigned month, unsigned day, int second_of_day = 0) {
    return *break_down(seconds_at(year, month, day, second_of_day));
}
}  // namespace

#ifndef _WIN32
// Every conversion, bare and with the flags and widths where both agree, at the ISO week-based
// years' edges, leap days, midnight and noon, against glibc's own strftime and gmtime.
TEST(TimeFormat, MatchesTheGnuCLibraryInTheCLocale) {
    std::vector<std::int64_t> moments;
    for (const int year : {1969, 1970, 1999, 2004, 2008, 2009, 2010, 2015, 2020, 2021, 2026, 2027, 9999})
        for (const unsigned day : {29u, 30u, 31u})
            moments.insert(moments.end(), {seconds_at(year, 12, day), seconds_at(year + 1, 1, day - 28)});
    for (const auto& [year, month, day] : std::vector<std::tuple<int, unsigned, unsigned>>{
             {2000, 2, 29}, {2024, 2, 29}, {1900, 2, 28}, {1900, 3, 1}, {2100, 3, 1}, {1000, 1, 1}, {123456, 7, 4}})
        moments.push_back(seconds_at(year, month, day));

    // Left out here: the differences tested in KeepsItsOwnFormsWhereGlibcDiffers.
    const std::set<std::string> differ = {"%^P", "%^10P", "%#c",  "%#10c", "%10s",  "%010s", "%^10s", "%#10s",
                                          "%_z", "%-z",   "%10z", "%_10z", "%010z", "%^10z", "%#10z"};
    // E and O where glibc takes them, odd ends, and the Apache dialect's default date.
    std::vector<std::string> formats = {"%Ec", "%EC", "%Ex", "%EY", "%Od", "%Oe", "%OH", "%OV", "%Ow", "%Oy",
                                        "%Q", "at %", "%%Y", "%5%", "%_5%", "%A, %d-%b-%Y %H:%M:%S %Z"};
    for (const std::string flags : {"", "_", "-", "0", "^", "#", "10", "_10", "010", "^10", "#10"})
        for (const char conversion : std::string_view("aAbBcCdDeFgGhHIjklmMnpPrRsStTuUVwWxXyYzZ%"))
            if (const std::string format = "%" + flags + conversion; !differ.contains(format))
                formats.push_back(format);

    const locale_t c_locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    std::string mismatches;
    for (const std::int64_t day : moments) {
        for (const int second_of_day : {0, 1, 12 * 3600, 12 * 3600 + 59 * 60 + 59, 86399}) {
            const time_t seconds = static_cast<time_t>(day + second_of_day);
            std::tm expected;
            ASSERT_NE(::gmtime_r(&seconds, &expected), nullptr);
            // Ours from break_down, glibc's from gmtime: each field is printed by some format.
            const std::tm ours = *break_down(seconds);
            for (const std::string& format : formats) {
                char buffer[256];
                const std::size_t n = ::strftime_l(buffer, sizeof buffer, format.c_str(), &expected, c_locale);
                const std::string text = strftime_c(format, ours, gmt);
                if (text != std::string(buffer, n) && mismatches.size() < 2000)
                    mismatches += format + " at " + std::to_string(seconds) + ": " + text + " | " + buffer + "\n";
            }
        }
    }
    // glibc takes %z and %Z from the tm's own zone fields.
    for (const time_zone_t& zone : {time_zone_t{19800, "IST"}, {-12600, "NST"}, {3600, "Cet"}}) {
        std::tm time = at(2026, 7, 1, 12 * 3600);
        time.tm_gmtoff = zone.offset;
        time.tm_zone = zone.name.c_str();
        for (const std::string format : {"%z", "%^z", "%#z", "%Z", "%^Z", "%#Z", "%_10Z", "%#10Z"}) {
            char buffer[64];
            const std::size_t n = ::strftime_l(buffer, sizeof buffer, format.c_str(), &time, c_locale);
            EXPECT_EQ(strftime_c(format, time, zone), std::string(buffer, n)) << format;
        }
    }
    ::freelocale(c_locale);
    EXPECT_EQ(mismatches, "");
}
#endif

// Where the formatter differs from glibc (2.36, whose output each comment gives), it keeps what
// the Windows build has always printed; most of these are what GNU date prints.
TEST(TimeFormat, KeepsItsOwnFormsWhereGlibcDiffers) {
    std::tm far_future{};
    far_future.tm_year = INT_MAX;
    far_future.tm_mday = 1;
    const struct {
        const char* format;
        std::tm time;
        time_zone_t zone;
        const char* text;
    } cases[] = {
        // Years before 1000 have four digits, with the sign before them (glibc: 1|0|1|1-01-01).
        {"%Y|%C|%G|%F", at(1, 1, 1), gmt, "0001|00|0001|0001-01-01"},
        {"%Y|%C|%G|%g|%y", at(0, 1, 1), gmt, "0000|00|-001|99|00"},            // 0|0|-1|99|00
        {"%Y|%C|%c", at(-99, 6, 1), gmt, "-099|-1|Sat Jun  1 00:00:00 -099"},  // -99|-1|... -99
        // The year is worked out in 64 bits (glibc overflows: -2147481749|-21474818|-2147481750).
        {"%Y|%C|%G", far_future, gmt, "2147485547|21474855|2147485546"},
        // - never pads, and a width narrower than the number narrows it (glibc: "    Sunday|   6"
        // and "00|06|006|006"); %s pads with zeros (" 61", "       -62").
        {"%-10A|%-4d", at(2026, 12, 6), gmt, "Sunday|6"},
        {"%1H|%1d|%1j|%2j", at(2026, 1, 6), gmt, "0|6|6|06"},
        {"%3s", at(1970, 1, 1, 61), gmt, "061"},
        {"%10s", at(1969, 12, 31, 86399 - 61), gmt, "-000000062"},
        // %s counts from the time's own zone; glibc reads TZ's (here UTC: 0).
        {"%s", at(1970, 1, 1), {3600, "CET"}, "-3600"},
        // Flags and widths pad the whole offset (glibc pads its digits: "+ 530|+530|         +0000000530").
        {"%_z|%-z|%10z|%010z", at(2026, 1, 6), {19800, "IST"}, "+0530|+0530|     +0530|00000+0530"},
        {"%^P|%^6P|%#c", at(2026, 1, 6), gmt, "AM|    AM|TUE JAN  6 00:00:00 2026"},  // am|    am|Tue Jan ...
        // E and O go with any conversion, + is 0 (glibc copies "%Ea" and "%+6Y" as they are, and
        // prints "%" for "%E%"); a conversion cut off at the end is copied as it is (glibc: " %_5").
        {"%Ea|%OA|%E%|%+6Y|%+3d", at(2026, 1, 6), gmt, "Tue|Tuesday|%E%|002026|006"},
        {"%_5", at(2026, 1, 6), gmt, "%_5"},
    };
    for (const auto& c : cases) EXPECT_EQ(strftime_c(c.format, c.time, c.zone), c.text) << c.format;
}

// The same calendar on every platform, whatever its C library knows (the Windows one breaks no
// time before 1970 down): ISO weeks at the years' edges, leap days, the last second that fits.
TEST(TimeFormat, CalendarEdgesOnEveryPlatform) {
    const struct {
        std::int64_t seconds;
        const char* text;
    } cases[] = {
        {seconds_at(2026, 12, 31), "2026-12-31 2026-W53-4 365 52 52 Thu"},
        {seconds_at(2024, 12, 30), "2024-12-30 2025-W01-1 365 52 53 Mon"},
        {seconds_at(2021, 1, 3), "2021-01-03 2020-W53-7 003 01 00 Sun"},
        {seconds_at(2000, 2, 29), "2000-02-29 2000-W09-2 060 09 09 Tue"},
        {seconds_at(1900, 3, 1), "1900-03-01 1900-W09-4 060 08 09 Thu"},
        {seconds_at(-99, 6, 1), "-099-06-01 -099-W22-6 152 21 21 Sat"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(strftime_c("%F %G-W%V-%u %j %U %W %a", *break_down(c.seconds), gmt), c.text) << c.seconds;
    const std::int64_t last = seconds_at(std::int64_t{INT_MAX} + 1900, 12, 31, 86399);
    EXPECT_EQ(strftime_c("%Y-%m-%d %T", *break_down(last), gmt), "2147485547-12-31 23:59:59");
    EXPECT_FALSE(break_down(last + 1));
    EXPECT_FALSE(break_down(INT64_MAX));
}

TEST(TimeFormat, ZoneNamesOfTzValues) {
    const struct {
        const char* tz;
        bool daylight;
        const char* name;
    } cases[] = {
        {"EET-2EEST", true, "EEST"},
        {"EST5EDT", false, "EST"},
        {"EST5EDT", true, "EDT"},
        {"<+03>-3<+04>", true, "+04"},
        {"UTC0", true, "UTC"},
        {"<cut", false, "cut"},
        {"NZST-12:00:00NZDT", true, "NZDT"},
        {":CET-1CEST,M3.5.0,M10.5.0/3", true, "CEST"},
    };
    for (const auto& c : cases) EXPECT_EQ(tz_zone_name(c.tz, c.daylight), c.name) << c.tz;
}
