#pragma once

#include "platform/clock.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

// Fixes the program's clock for one test and lets it run again afterwards.
class pinned_clock {
public:
    explicit pinned_clock(std::int64_t seconds) { pin_current_time(seconds); }
    pinned_clock(const pinned_clock&) = delete;
    pinned_clock& operator=(const pinned_clock&) = delete;
    ~pinned_clock() { pin_current_time(std::nullopt); }
};

// Sets TZ for one test and puts the previous value back.
class zone_guard {
public:
    explicit zone_guard(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    zone_guard(const zone_guard&) = delete;
    zone_guard& operator=(const zone_guard&) = delete;
    ~zone_guard() {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> old_;
};
