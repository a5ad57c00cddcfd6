#include "platform/clock.h"

#include "platform/time_format.h"

#include <cstdlib>
#include <time.h>

// The Windows C library breaks no time before 1970 down, has no strftime_l, knows fewer
// conversions than the GNU one (and ends the program on an unknown one), and its %Z and %z
// differ. Times are therefore broken down and formatted by time_format.h, as the GNU C library
// does in the C locale; only the zone's offset, names and daylight saving come from here (TZ).

namespace {
// A universal time carries tm_isdst = -1: the Windows tm has no zone field, and %Z and %z
// must tell GMT from the local zone.
constexpr int universal_mark = -1;

long zone_offset(bool daylight) {  // seconds east of UTC
    return -(_timezone + (daylight ? _dstbias : 0));
}

long utc_offset(const std::tm& time) { return time.tm_isdst == universal_mark ? 0 : zone_offset(time.tm_isdst > 0); }

// The zone's names as TZ gives them ("EET-2", "<+03>-3", "EST5EDT"), else the C library's.
std::string zone_name(const std::tm& time) {
    if (time.tm_isdst == universal_mark) return "GMT";
    const char* tz = std::getenv("TZ");
    if (tz == nullptr || *tz == '\0') return ::_tzname[time.tm_isdst > 0 ? 1 : 0];
    return tz_zone_name(tz, time.tm_isdst > 0);
}
}  // namespace

std::int64_t system_time() { return static_cast<std::int64_t>(::_time64(nullptr)); }

std::optional<std::tm> local_time(std::int64_t seconds) {
    ::_tzset();  // a changed TZ takes effect, as with localtime
    // The C library knows daylight saving from 1970 to 3000; outside that, standard time.
    if (seconds >= 0 && seconds <= 32'503'680'000) {
        const __time64_t t = seconds;
        std::tm result;
        if (::_localtime64_s(&result, &t) == 0) return result;
    }
    const std::int64_t offset = zone_offset(false);
    if ((offset > 0 && seconds > INT64_MAX - offset) || (offset < 0 && seconds < INT64_MIN - offset)) return std::nullopt;
    std::optional<std::tm> result = break_down(seconds + offset);
    if (result) result->tm_isdst = 0;
    return result;
}

std::optional<std::tm> universal_time(std::int64_t seconds) {
    std::optional<std::tm> result = break_down(seconds);
    if (result) result->tm_isdst = universal_mark;
    return result;
}

std::string format_calendar_time(std::string_view format, const std::tm& time, bool library_composites,
                                 std::size_t kept) {
    const std::string expanded = library_composites ? std::string(format) : expand_composites(format);
    if (expanded.empty()) return {};
    // As on other systems: a text past what the largest buffer would hold gives nothing.
    const std::size_t limit = expanded.size() * 128 + 1024;
    std::size_t capacity = kept + 1;
    while (capacity < limit) capacity *= 4;
    std::string text = strftime_c(expanded, time, {utc_offset(time), zone_name(time)});
    if (text.size() >= capacity) return {};
    if (text.size() > kept) text.resize(kept);
    return text;
}
