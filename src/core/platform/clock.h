#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

// The one place the program reads the clock and breaks times down.

std::int64_t current_time();
// Pins current_time() to a value (tests); nullopt restores the real clock.
void pin_current_time(std::optional<std::int64_t> seconds);
// The system's clock itself, which each platform provides; the program reads current_time().
std::int64_t system_time();

// nullopt when the C library cannot break the time down (out of its range).
std::optional<std::tm> local_time(std::int64_t seconds);
std::optional<std::tm> universal_time(std::int64_t seconds);

// strftime in the C locale whatever the machine's locale, with %c, %x and %X in the forms
// "%m/%d/%y %H:%M:%S", "%m/%d/%y" and "%H:%M:%S" (with library_composites, in the C
// library's own forms, as web servers print them). The result is cut to kept bytes.
std::string format_calendar_time(std::string_view format, const std::tm& time, bool library_composites = false,
                                 std::size_t kept = 511);

// C libraries differ in %c, %x and %X: a format with those spelled out in the forms above.
std::string expand_composites(std::string_view format);
