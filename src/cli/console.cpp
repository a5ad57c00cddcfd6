#include "console.h"

#include "platform/process.h"

#include <cstdlib>

namespace {
std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}
}  // namespace

console_t process_console() {
    return {is_terminal(standard_stream_t::output), is_terminal(standard_stream_t::error), variable("NO_COLOR"),
            variable("CLICOLOR_FORCE"), variable("TERM")};
}

bool use_color(color_choice_t choice, const console_t& console) {
    if (choice != color_choice_t::automatic) return choice == color_choice_t::always;
    if (console.no_color && !console.no_color->empty()) return false;
    if (console.clicolor_force && *console.clicolor_force != "0") return true;
    return console.err_terminal && console.term != "dumb";
}

std::string grouped(unsigned long long n) {
    const std::string digits = std::to_string(n);
    std::string text;
    for (std::size_t at = 0; at < digits.size(); ++at) {
        if (at > 0 && (digits.size() - at) % 3 == 0) text.push_back(',');
        text.push_back(digits[at]);
    }
    return text;
}
