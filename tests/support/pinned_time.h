#pragma once

#include "platform/clock.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

// Fixes the program's clock for one test and lets it run again afterwards.
struct pinned_clock {
    explicit pinned_clock(std::int64_t seconds) { pin_current_time(seconds); }
    ~pinned_clock() { pin_current_time(std::nullopt); }
};

// Sets TZ for one test and puts the previous value back.
class zone_guard {
public:
    explicit zone_guard(const char* zone) : had_(std::getenv("TZ") != nullptr), old_(had_ ? std::getenv("TZ") : "") {
        set(zone);
    }
    ~zone_guard() { set(had_ ? old_.c_str() : nullptr); }

private:
    static void set(const char* zone) {
#ifdef _WIN32
        ::_putenv_s("TZ", zone != nullptr ? zone : "");
        ::_tzset();
#else
        zone != nullptr ? ::setenv("TZ", zone, 1) : ::unsetenv("TZ");
        ::tzset();
#endif
    }

    bool had_;
    std::string old_;
};
