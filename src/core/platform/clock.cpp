#include "platform/clock.h"

#include <atomic>

// What both platforms' clocks share: the pinned time of the tests and the portable part of
// formatting a time.

namespace {
constexpr std::int64_t not_pinned = INT64_MIN;
std::atomic<std::int64_t> pinned_time{not_pinned};
}  // namespace

std::int64_t current_time() {
    const std::int64_t pinned = pinned_time.load(std::memory_order_relaxed);
    return pinned != not_pinned ? pinned : system_time();
}

void pin_current_time(std::optional<std::int64_t> seconds) {
    pinned_time.store(seconds.value_or(not_pinned), std::memory_order_relaxed);
}

std::string expand_composites(std::string_view format) {
    std::string out;
    out.reserve(format.size());
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 == format.size()) {
            out.push_back(format[i]);
            continue;
        }
        const char c = format[++i];
        if (c == 'c')
            out += "%m/%d/%y %H:%M:%S";
        else if (c == 'x')
            out += "%m/%d/%y";
        else if (c == 'X')
            out += "%H:%M:%S";
        else
            out.append({'%', c});
    }
    return out;
}
