#include "platform/time_format.h"

#include <algorithm>
#include <cstdint>

std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) noexcept {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

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

namespace {
bool is_leap(std::int64_t year) noexcept { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

// Days from the start of the ISO 8601 week-based year (weeks start on Monday; week 1 holds
// the year's first Thursday); negative: the day belongs to the year before.
int iso_week_days(int yday, int wday) noexcept { return yday - (yday - wday + 4 + 378) % 7 + 3; }
}  // namespace

iso_week_t iso_week(const std::tm& t) noexcept {
    std::int64_t year = std::int64_t{t.tm_year} + 1900;
    int days = iso_week_days(t.tm_yday, t.tm_wday);
    if (days < 0) {
        days = iso_week_days(t.tm_yday + (is_leap(year - 1) ? 366 : 365), t.tm_wday);
        --year;
    } else if (const int next = iso_week_days(t.tm_yday - (is_leap(year) ? 366 : 365), t.tm_wday); next >= 0) {
        days = next;
        ++year;
    }
    return {year, days / 7 + 1};
}

std::string tz_zone_name(std::string_view zone, bool daylight_saving) {
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
    if (!daylight_saving) return standard;
    while (i < zone.size() && (zone[i] == '+' || zone[i] == '-' || zone[i] == ':' || (zone[i] >= '0' && zone[i] <= '9'))) ++i;
    const std::string name = name_at(i);
    return name.empty() ? standard : name;
}

namespace {
constexpr const char* weekdays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char* months[] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};

std::string name(const char* const* names, int count, int index, bool abbreviated) {
    if (index < 0 || index >= count) return "?";
    const std::string full = names[index];
    return abbreviated ? full.substr(0, 3) : full;
}

// "+hhmm" or "-hhmm" of an offset in seconds east of UTC.
std::string offset_text(long offset) {
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    std::string value = offset < 0 ? "-" : "+";
    const std::string digits = std::to_string(minutes / 60 * 100 + minutes % 60);
    return value + std::string(digits.size() < 4 ? 4 - digits.size() : 0, '0') + digits;
}

// One conversion's flags and width, and how it writes its text or number.
struct field_t {
    std::string& out;
    char pad = 0;  // '_', '-' or '0'; 0 for the conversion's own
    bool upper = false;
    bool swap = false;
    int width = -1;
    bool modified = false;

    // to_lower: the text is upper case and # turns it to lower case.
    void text(std::string value, bool to_lower = false) const {
        if (upper || (swap && !to_lower))
            for (char& c : value) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        else if (swap && to_lower)
            for (char& c : value) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        if (pad != '-' && width > static_cast<int>(value.size()))
            out.append(static_cast<std::size_t>(width) - value.size(), pad == '0' ? '0' : ' ');
        out += value;
    }

    void number(int digits, std::int64_t value, char default_pad = '0') const {
        const bool negative = value < 0;
        const std::string body =
            std::to_string(negative ? -static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value));
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
    }
};

// Reads the flags, width and modifier after a '%' from i on; i is left on the conversion.
void read_flags(std::string_view f, std::size_t& i, field_t& field) {
    for (; i < f.size(); ++i) {
        const char c = f[i];
        if (c == '_' || c == '-' || c == '0' || c == '+') field.pad = c == '+' ? '0' : c;
        else if (c == '^') field.upper = true;
        else if (c == '#') field.swap = true;
        else break;
    }
    for (; i < f.size() && f[i] >= '0' && f[i] <= '9'; ++i)
        field.width = std::min(field.width < 0 ? 0 : field.width, 100'000'000) * 10 + (f[i] - '0');
    if (i < f.size() && (f[i] == 'E' || f[i] == 'O')) field.modified = true, ++i;
}

// Writes one conversion; written is its whole text from the '%' on, as the format spells it.
void convert(std::string_view written, field_t& field, const std::tm& t, const time_zone_t& zone) {
    const auto sub = [&](std::string_view format) { field.text(strftime_c(format, t, zone)); };
    const std::int64_t year = std::int64_t{t.tm_year} + 1900;
    const int hour12 = t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12;
    const char conversion = written.back();
    switch (conversion) {
        case '%': field.text(field.modified ? std::string(written) : "%"); break;
        case 'a': field.text(name(weekdays, 7, t.tm_wday, true)); break;
        case 'A': field.text(name(weekdays, 7, t.tm_wday, false)); break;
        case 'b':
        case 'h': field.text(name(months, 12, t.tm_mon, true)); break;
        case 'B': field.text(name(months, 12, t.tm_mon, false)); break;
        case 'c': sub("%a %b %e %H:%M:%S %Y"); break;
        case 'C': field.number(2, year >= 0 ? year / 100 : -((-year + 99) / 100)); break;
        case 'd': field.number(2, t.tm_mday); break;
        case 'D': sub("%m/%d/%y"); break;
        case 'e': field.number(2, t.tm_mday, '_'); break;
        case 'F': sub("%Y-%m-%d"); break;
        case 'g': field.number(2, ((iso_week(t).year % 100) + 100) % 100); break;
        case 'G': field.number(4, iso_week(t).year); break;
        case 'V': field.number(2, iso_week(t).week); break;
        case 'H': field.number(2, t.tm_hour); break;
        case 'I': field.number(2, hour12); break;
        case 'j': field.number(3, t.tm_yday + 1); break;
        case 'k': field.number(2, t.tm_hour, '_'); break;
        case 'l': field.number(2, hour12, '_'); break;
        case 'm': field.number(2, t.tm_mon + 1); break;
        case 'M': field.number(2, t.tm_min); break;
        case 'n': field.text("\n"); break;
        case 'p': field.text(t.tm_hour < 12 ? "AM" : "PM", true); break;
        case 'P': {
            const bool keep_upper = field.upper;
            field.upper = false;
            field.swap = false;
            field.text(t.tm_hour < 12 ? (keep_upper ? "AM" : "am") : (keep_upper ? "PM" : "pm"));
            break;
        }
        case 'r': sub("%I:%M:%S %p"); break;
        case 'R': sub("%H:%M"); break;
        case 's': {
            const std::int64_t days = days_from_civil(year, static_cast<unsigned>(t.tm_mon + 1), 1) + t.tm_mday - 1;
            field.number(1, days * 86400 + t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec - zone.offset);
            break;
        }
        case 'S': field.number(2, t.tm_sec); break;
        case 't': field.text("\t"); break;
        case 'T': sub("%H:%M:%S"); break;
        case 'u': field.number(1, (t.tm_wday + 6) % 7 + 1); break;
        case 'U': field.number(2, (t.tm_yday - t.tm_wday + 7) / 7); break;
        case 'w': field.number(1, t.tm_wday); break;
        case 'W': field.number(2, (t.tm_yday - (t.tm_wday - 1 + 7) % 7 + 7) / 7); break;
        case 'x': sub("%m/%d/%y"); break;
        case 'X': sub("%H:%M:%S"); break;
        case 'y': field.number(2, ((year % 100) + 100) % 100); break;
        case 'Y': field.number(4, year); break;
        case 'z': field.text(offset_text(zone.offset)); break;
        case 'Z': field.text(zone.name, true); break;
        default: field.out.append(written); break;  // unknown: copied as it is
    }
}
}  // namespace

std::string strftime_c(std::string_view f, const std::tm& t, const time_zone_t& zone) {
    std::string out;
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (f[i] != '%') {
            out.push_back(f[i]);
            continue;
        }
        const std::size_t start = i++;
        field_t field{out};
        read_flags(f, i, field);
        if (i >= f.size()) {  // '%' (and flags) at the end: copied as they are
            out.append(f.substr(start));
            break;
        }
        convert(f.substr(start, i - start + 1), field, t, zone);
    }
    return out;
}
