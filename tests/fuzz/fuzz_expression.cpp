// Fuzzes the Apache dialect's if/elif expressions: the first byte picks the syntax (bit 0: the
// newer one) and whether patterns are cached (bit 1), the rest is the expression. Variables $a
// and ${b} hold fixed values; of the newer syntax's server variables, REQUEST_URI and
// TIME_YEAR are known, HTTP_HOST depends on the request; -F finds a.shtml only.
#include "ssi/expr/expression.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::optional<regex_captures_t> captures;
    expression_host_t host;
    host.expand = [](std::string_view value) {
        std::string out;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value.substr(i, 2) == "$a") {
                out += "abc";
                ++i;
            } else if (value.substr(i, 4) == "${b}") {
                out += "a b\n";
                i += 3;
            } else {
                out += value[i];
            }
        }
        return out;
    };
    host.warn = [](const std::string&) {};
    host.captures = &captures;
    // Bit 1 sends the patterns through a cache kept across inputs, as a run keeps it.
    static RegexCache regexes;
    if ((data[0] & 2U) != 0) host.regexes = &regexes;
    host.server_variable = [](const std::string& name) -> std::optional<std::string> {
        if (name == "REQUEST_URI") return "/a.shtml";
        if (name == "TIME_YEAR") return "2026";
        if (name == "HTTP_HOST") return "";
        return std::nullopt;
    };
    host.file_exists = [](const std::string& path) { return path == "a.shtml"; };
    // Whatever depends on the request is named.
    host.request_dependent = [](const std::string& what, const std::string&) {
        if (what.empty()) __builtin_trap();
    };
    std::string error;
    const std::optional<bool> value = (data[0] & 1U) != 0 ? evaluate_ap_expression(text, host, error)
                                                          : evaluate_legacy_expression(text, host, error);
    // Every failure says why; a result never comes with an error.
    if (value.has_value() == !error.empty()) __builtin_trap();
    if (captures) (void)captures->echoed(static_cast<std::size_t>(size % 12));
    return 0;
}
