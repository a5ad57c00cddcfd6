#pragma once

#include <optional>
#include <string>
#include <string_view>

// What the program's two streams are connected to, and the environment's say on colour:
// read once by main, made up by tests.
struct console_t {
    bool out_terminal = false;
    bool err_terminal = false;
    std::optional<std::string> no_color;        // NO_COLOR: any non-empty value turns colour off
    std::optional<std::string> clicolor_force;  // CLICOLOR_FORCE: any value but "0" turns it on
    std::optional<std::string> term;            // TERM: "dumb" shows no colour
};

// The console of this process.
console_t process_console();

enum class color_choice_t { automatic, always, never };

// Whether diagnostics on standard error are coloured: --color always or never decides;
// otherwise NO_COLOR, then CLICOLOR_FORCE, then whether standard error is a terminal.
bool use_color(color_choice_t choice, const console_t& console);

// The escape sequences of gcc's colours: bold places, red errors, magenta warnings, cyan notes.
namespace sgr {
inline constexpr std::string_view bold = "\x1b[1m";
inline constexpr std::string_view error = "\x1b[1;31m";
inline constexpr std::string_view warning = "\x1b[1;35m";
inline constexpr std::string_view note = "\x1b[1;36m";
inline constexpr std::string_view reset = "\x1b[0m";
}  // namespace sgr

// "5,545": counts grouped by thousands, as the notes and the status line print them.
std::string grouped(unsigned long long n);
