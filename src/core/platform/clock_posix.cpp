#include "platform/clock.h"

#include <locale.h>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <time.h>

namespace {
// The C library's own locale, so month and day names are English whatever LC_TIME says.
locale_t c_locale() {
    static const locale_t locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

// tzset reads the zone's file again on every call (two looks at /etc/localtime for each page
// converted), and frees and copies its saved TZ: it is called again only when TZ changed, so a
// changed TZ still takes effect, as with localtime.
void refresh_zone() {
    static std::mutex mutex;
    static std::optional<std::string> last;
    const char* zone = std::getenv("TZ");
    std::string now = zone != nullptr ? std::string("=") + zone : std::string();
    const std::lock_guard lock(mutex);
    if (last == now) return;
    ::tzset();
    last = std::move(now);
}
}  // namespace

std::int64_t system_time() { return static_cast<std::int64_t>(::time(nullptr)); }

std::optional<std::tm> local_time(std::int64_t seconds) {
    refresh_zone();
    const time_t t = static_cast<time_t>(seconds);
    std::tm result;
    if (::localtime_r(&t, &result) == nullptr) return std::nullopt;
    return result;
}

std::optional<std::tm> universal_time(std::int64_t seconds) {
    const time_t t = static_cast<time_t>(seconds);
    std::tm result;
    if (::gmtime_r(&t, &result) == nullptr) return std::nullopt;
    return result;
}

std::string format_calendar_time(std::string_view format, const std::tm& time, bool library_composites,
                                 std::size_t kept) {
    const std::string expanded = library_composites ? std::string(format) : expand_composites(format);
    if (expanded.empty()) return {};
    // strftime gives 0 both for "did not fit" and for an empty result: grow the buffer
    // until the text surely fits, then keep the first `kept` bytes.
    const std::size_t limit = expanded.size() * 128 + 1024;
    char on_stack[512];  // dates are short: the first try needs no allocation
    std::unique_ptr<char[]> on_heap;
    for (std::size_t capacity = kept + 1;; capacity *= 4) {
        char* buffer = on_stack;
        if (capacity > sizeof on_stack) {
            on_heap = std::make_unique_for_overwrite<char[]>(capacity);
            buffer = on_heap.get();
        }
        const std::size_t n = ::strftime_l(buffer, capacity, expanded.c_str(), &time, c_locale());
        if (n > 0) return std::string(buffer, n < kept ? n : kept);
        if (capacity >= limit) return {};
    }
}
