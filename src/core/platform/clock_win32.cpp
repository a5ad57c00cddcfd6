#include "platform/clock.h"

#include <cstdlib>
#include <time.h>

// The Windows C library breaks no time before 1970 down, has no strftime_l, knows fewer
// conversions than the GNU one (and ends the program on an unknown one), and its %Z and %z
// differ. Times are therefore broken down and formatted here, as the GNU C library does in
// the C locale; only the zone's offset and daylight saving come from the C library (TZ).

namespace {
// A universal time carries tm_isdst = -1: the Windows tm has no zone field, and %Z and %z
// must tell GMT from the local zone.
constexpr int universal_mark = -1;

// Days since 1970-01-01 of a civil date, and back (the proleptic Gregorian calendar).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) noexcept {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool is_leap(std::int64_t year) noexcept { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

// Seconds since 1970 as a broken-down time; nullopt when the year does not fit the tm.
std::optional<std::tm> break_down(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) rest += 86400, --days;
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned day = doy - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2);
    if (year - 1900 > INT32_MAX || year - 1900 < INT32_MIN) return std::nullopt;
    std::tm result{};
    result.tm_year = static_cast<int>(year - 1900);
    result.tm_mon = static_cast<int>(month - 1);
    result.tm_mday = static_cast<int>(day);
    result.tm_hour = static_cast<int>(rest / 3600);
    result.tm_min = static_cast<int>(rest / 60 % 60);
    result.tm_sec = static_cast<int>(rest % 60);
    result.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    result.tm_yday = static_cast<int>(days - days_from_civil(year, 1, 1));
    return result;
}

long zone_offset(bool daylight) {  // seconds east of UTC
    return -(_timezone + (daylight ? _dstbias : 0));
}

long utc_offset(const std::tm& time) { return time.tm_isdst == universal_mark ? 0 : zone_offset(time.tm_isdst > 0); }

// The zone's names as TZ gives them ("EET-2", "<+03>-3", "EST5EDT"), else the C library's.
std::string zone_name(const std::tm& time) {
    if (time.tm_isdst == universal_mark) return "GMT";
    const char* tz = std::getenv("TZ");
    if (tz == nullptr || *tz == '\0') return ::_tzname[time.tm_isdst > 0 ? 1 : 0];
    std::string_view zone(tz);
    if (zone.starts_with(':')) zone.remove_prefix(1);
    const auto name_at = [&zone](std::size_t& i) {
        std::string name;
        if (i < zone.size() && zone[i] == '<') {
            const std::size_t end = zone.find('>', i);
            name = std::string(zone.substr(i + 1, end == std::string_view::npos ? std::string_view::npos : end - i - 1));
            i = end == std::string_view::npos ? zone.size() : end + 1;
        } else {
            for (; i < zone.size() && ((zone[i] >= 'A' && zone[i] <= 'Z') || (zone[i] >= 'a' && zone[i] <= 'z')); ++i)
                name.push_back(zone[i]);
        }
        return name;
    };
    std::size_t i = 0;
    const std::string standard = name_at(i);
    if (time.tm_isdst <= 0) return standard;
    while (i < zone.size() && (zone[i] == '+' || zone[i] == '-' || zone[i] == ':' || (zone[i] >= '0' && zone[i] <= '9'))) ++i;
    const std::string daylight = name_at(i);
    return daylight.empty() ? standard : daylight;
}


constexpr const char* weekdays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char* months[] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};

// Days from the start of the ISO 8601 week-based year (weeks start on Monday; week 1 holds
// the year's first Thursday); negative: the day belongs to the year before.
int iso_week_days(int yday, int wday) noexcept { return yday - (yday - wday + 4 + 378) % 7 + 3; }

// The ISO 8601 week-based year and week of a time.
void iso_week(const std::tm& t, std::int64_t& year, int& week) {
    year = std::int64_t{t.tm_year} + 1900;
    int days = iso_week_days(t.tm_yday, t.tm_wday);
    if (days < 0) {
        days = iso_week_days(t.tm_yday + (is_leap(year - 1) ? 366 : 365), t.tm_wday);
        --year;
    } else if (const int next = iso_week_days(t.tm_yday - (is_leap(year) ? 366 : 365), t.tm_wday); next >= 0) {
        days = next;
        ++year;
    }
    week = days / 7 + 1;
}

// strftime as the GNU C library runs it in the C locale: flags _ - 0 ^ # and a width, the E and
// O modifiers (which change nothing in the C locale), and an unknown conversion copied as it is.
std::string format_c(std::string_view f, const std::tm& t) {
    std::string out;
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (f[i] != '%') {
            out.push_back(f[i]);
            continue;
        }
        const std::size_t start = i++;
        char pad = 0;
        bool upper = false, swap = false;
        for (; i < f.size(); ++i) {
            const char c = f[i];
            if (c == '_' || c == '-' || c == '0' || c == '+') pad = c == '+' ? '0' : c;
            else if (c == '^') upper = true;
            else if (c == '#') swap = true;
            else break;
        }
        int width = -1;
        for (; i < f.size() && f[i] >= '0' && f[i] <= '9'; ++i)
            width = std::min(width < 0 ? 0 : width, 100'000'000) * 10 + (f[i] - '0');
        bool modified = false;
        if (i < f.size() && (f[i] == 'E' || f[i] == 'O')) modified = true, ++i;
        if (i >= f.size()) {  // '%' (and flags) at the end: copied as they are
            out.append(f.substr(start));
            break;
        }

        const auto text = [&](std::string value, bool to_lower = false) {
            if (upper || (swap && !to_lower))
                for (char& c : value) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
            else if (swap && to_lower)
                for (char& c : value) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            if (pad != '-' && width > static_cast<int>(value.size()))
                out.append(static_cast<std::size_t>(width) - value.size(), pad == '0' ? '0' : ' ');
            out += value;
        };
        const auto number = [&](int digits, std::int64_t value, char default_pad = '0') {
            const bool negative = value < 0;
            std::string body = std::to_string(negative ? -static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value));
            const char use = pad != 0 ? pad : default_pad;
            const int field = width >= 0 ? width : digits;
            const int missing = field - static_cast<int>(body.size()) - (negative ? 1 : 0);
            if (use == '-' || missing <= 0) {
                out += (negative ? "-" : "") + body;
            } else if (use == '_') {
                out.append(static_cast<std::size_t>(missing), ' ');
                out += (negative ? "-" : "") + body;
            } else {
                out += negative ? "-" : "";
                out.append(static_cast<std::size_t>(missing), '0');
                out += body;
            }
        };
        const auto sub = [&](std::string_view format) { text(format_c(format, t)); };
        const std::int64_t year = std::int64_t{t.tm_year} + 1900;
        const int hour12 = t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12;
        const auto name = [](const char* const* names, int count, int index, bool abbreviated) {
            if (index < 0 || index >= count) return std::string("?");
            const std::string full = names[index];
            return abbreviated ? full.substr(0, 3) : full;
        };
        switch (f[i]) {
            case '%': modified ? text(std::string(f.substr(start, i - start + 1))) : text("%"); break;
            case 'a': text(name(weekdays, 7, t.tm_wday, true)); break;
            case 'A': text(name(weekdays, 7, t.tm_wday, false)); break;
            case 'b':
            case 'h': text(name(months, 12, t.tm_mon, true)); break;
            case 'B': text(name(months, 12, t.tm_mon, false)); break;
            case 'c': sub("%a %b %e %H:%M:%S %Y"); break;
            case 'C': number(2, year >= 0 ? year / 100 : -((-year + 99) / 100)); break;
            case 'd': number(2, t.tm_mday); break;
            case 'D': sub("%m/%d/%y"); break;
            case 'e': number(2, t.tm_mday, '_'); break;
            case 'F': sub("%Y-%m-%d"); break;
            case 'g':
            case 'G':
            case 'V': {
                std::int64_t iso_year = 0;
                int week = 0;
                iso_week(t, iso_year, week);
                if (f[i] == 'V') number(2, week);
                else if (f[i] == 'G') number(4, iso_year);
                else number(2, ((iso_year % 100) + 100) % 100);
                break;
            }
            case 'H': number(2, t.tm_hour); break;
            case 'I': number(2, hour12); break;
            case 'j': number(3, t.tm_yday + 1); break;
            case 'k': number(2, t.tm_hour, '_'); break;
            case 'l': number(2, hour12, '_'); break;
            case 'm': number(2, t.tm_mon + 1); break;
            case 'M': number(2, t.tm_min); break;
            case 'n': text("\n"); break;
            case 'p': text(t.tm_hour < 12 ? "AM" : "PM", true); break;
            case 'P': {
                const bool keep_upper = upper;
                upper = false;
                swap = false;
                text(t.tm_hour < 12 ? (keep_upper ? "AM" : "am") : (keep_upper ? "PM" : "pm"));
                break;
            }
            case 'r': sub("%I:%M:%S %p"); break;
            case 'R': sub("%H:%M"); break;
            case 's': {
                const std::int64_t days = days_from_civil(year, static_cast<unsigned>(t.tm_mon + 1), 1) + t.tm_mday - 1;
                number(1, days * 86400 + t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec - utc_offset(t));
                break;
            }
            case 'S': number(2, t.tm_sec); break;
            case 't': text("\t"); break;
            case 'T': sub("%H:%M:%S"); break;
            case 'u': number(1, (t.tm_wday + 6) % 7 + 1); break;
            case 'U': number(2, (t.tm_yday - t.tm_wday + 7) / 7); break;
            case 'w': number(1, t.tm_wday); break;
            case 'W': number(2, (t.tm_yday - (t.tm_wday - 1 + 7) % 7 + 7) / 7); break;
            case 'x': sub("%m/%d/%y"); break;
            case 'X': sub("%H:%M:%S"); break;
            case 'y': number(2, ((year % 100) + 100) % 100); break;
            case 'Y': number(4, year); break;
            case 'z': {
                const long offset = utc_offset(t);
                const long minutes = (offset < 0 ? -offset : offset) / 60;
                std::string value = (offset < 0 ? "-" : "+");
                const std::string digits = std::to_string(minutes / 60 * 100 + minutes % 60);
                value += std::string(digits.size() < 4 ? 4 - digits.size() : 0, '0') + digits;
                text(value);
                break;
            }
            case 'Z': text(zone_name(t), true); break;
            default: out.append(f.substr(start, i - start + 1)); break;  // unknown: copied as it is
        }
    }
    return out;
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

std::string format_calendar_time(std::string_view format, const std::tm& time, bool library_composites) {
    constexpr std::size_t kept = 511;
    const std::string expanded = library_composites ? std::string(format) : expand_composites(format);
    if (expanded.empty()) return {};
    // As on other systems: a text past what the largest buffer would hold gives nothing.
    const std::size_t limit = expanded.size() * 128 + 1024;
    std::size_t capacity = kept + 1;
    while (capacity < limit) capacity *= 4;
    std::string text = format_c(expanded, time);
    if (text.size() >= capacity) return {};
    if (text.size() > kept) text.resize(kept);
    return text;
}
