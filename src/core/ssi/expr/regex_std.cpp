// Regular expressions for builds without PCRE2 (the Windows cross-build: Debian ships no PCRE2
// for MinGW): the C++ library's ECMAScript grammar, with '.' matching line breaks too as
// PCRE2_DOTALL makes it, and '$' matching only at the end as with PCRE2_DOLLAR_ENDONLY. Patterns
// in the common subset (classes, groups, alternatives, quantifiers, lazy quantifiers, \d \w \s,
// anchors, look-ahead) mean the same; PCRE-only syntax ((?i), look-behind, named groups,
// possessive quantifiers) does not compile, and there is no match limit.
#include "ssi/expr/regex.h"

#include <regex>

namespace {
std::string with_dot_all(const std::string& pattern) {
    std::string out;
    out.reserve(pattern.size());
    bool in_class = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\\' && i + 1 < pattern.size()) {
            out.append({c, pattern[++i]});
        } else if (in_class) {
            in_class = c != ']';
            out.push_back(c);
        } else if (c == '[') {
            in_class = true;
            out.push_back(c);
            if (i + 1 < pattern.size() && pattern[i + 1] == '^') out.push_back(pattern[++i]);
            if (i + 1 < pattern.size() && pattern[i + 1] == ']') out += "\\]", ++i;  // a leading ']' is literal in PCRE
        } else if (c == '.') {
            out += "[\\s\\S]";
        } else {
            out.push_back(c);
        }
    }
    return out;
}
}  // namespace

struct compiled_regex_t {
    std::regex code;
};

pattern_t compile_regex(const std::string& pattern, bool ignore_case) {
    auto compiled = std::make_shared<compiled_regex_t>();
    try {
        compiled->code.assign(with_dot_all(pattern),
                              std::regex::ECMAScript | (ignore_case ? std::regex::icase : std::regex::flag_type{}));
    } catch (const std::regex_error& e) {
        return {nullptr, "Regular expression /" + pattern + "/ does not compile: " + e.what()};
    }
    return {std::move(compiled), {}};
}

std::optional<bool> run_regex(const compiled_regex_t& compiled, const std::string& pattern, const std::string& subject,
                              std::optional<regex_captures_t>* captures, std::string& error) {
    std::smatch match;
    bool found = false;
    try {
        found = std::regex_search(subject, match, compiled.code);
    } catch (const std::regex_error& e) {
        error = "Regular expression /" + pattern + "/ failed: " + e.what();
        return std::nullopt;
    }
    if (captures != nullptr) {
        regex_captures_t& stored = captures->emplace();
        stored.subject = subject;
        stored.groups = compiled.code.mark_count();
        stored.spans.fill({-1, -1});
        if (found)
            for (std::size_t i = 0; i < stored.spans.size() && i < match.size(); ++i)
                if (match[i].matched)
                    stored.spans[i] = {match.position(static_cast<int>(i)),
                                       match.position(static_cast<int>(i)) + match.length(static_cast<int>(i))};
    }
    return found;
}
