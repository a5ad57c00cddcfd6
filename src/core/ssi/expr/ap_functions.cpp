#include "ssi/expr/ap_functions.h"

#include "base/text.h"
#include "ssi/codecs.h"
#include "ssi/expr/digest.h"

#include <cctype>

bool wildcard_match(std::string_view pattern, std::string_view text, bool fold, bool pathname) {
    const auto lower = [fold](char c) { return fold && c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    std::size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
            continue;
        }
        bool matched = false;
        std::size_t after = p + 1;
        const bool slash = pathname && text[t] == '/';
        if (p < pattern.size() && pattern[p] == '[' && !slash) {
            std::size_t q = p + 1;
            const bool negate = q < pattern.size() && (pattern[q] == '!' || pattern[q] == '^');
            if (negate) ++q;
            bool in = false;
            const std::size_t first = q;
            for (; q < pattern.size() && (pattern[q] != ']' || q == first); ++q) {
                if (q + 2 < pattern.size() && pattern[q + 1] == '-' && pattern[q + 2] != ']') {
                    in = in || (lower(text[t]) >= lower(pattern[q]) && lower(text[t]) <= lower(pattern[q + 2]));
                    q += 2;
                } else {
                    in = in || lower(text[t]) == lower(pattern[q]);
                }
            }
            matched = q < pattern.size() && in != negate;
            after = q + 1;
        } else if (p < pattern.size() && pattern[p] == '\\' && p + 1 < pattern.size()) {
            matched = lower(pattern[p + 1]) == lower(text[t]);
            after = p + 2;
        } else if (p < pattern.size()) {
            matched = (pattern[p] == '?' && !slash) || lower(pattern[p]) == lower(text[t]);
        }
        if (matched) {
            p = after;
            ++t;
        } else if (star != std::string_view::npos && !(pathname && text[resume] == '/')) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

namespace {
std::string converted(const std::string& text, int (*convert)(int)) {
    std::string value = text;
    for (char& c : value) c = static_cast<char>(convert(static_cast<unsigned char>(c)));
    return value;
}

// As Apache's unescape(): a malformed escape, or one that gives a NUL, makes it empty; "%2f"
// stays as it is.
std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
            return {};
        const int value = std::stoi(text.substr(i + 1, 2), nullptr, 16);
        if (value == 0) return {};
        if (value == '/') {
            out += text.substr(i, 3);
        } else {
            out.push_back(static_cast<char>(value));
        }
        i += 2;
    }
    return out;
}
}  // namespace

std::optional<std::string> apply_ap_function(std::string_view name, const std::string& argument,
                                             const expression_host_t& host) {
    std::string key(name);
    for (char& c : key) c = ascii_lower(c);
    if (key == "v" || key == "env" || key == "reqenv" || key == "osenv") return host.expand("${" + argument + "}");
    if (key == "req" || key == "http" || key == "req_novary" || key == "resp" || key == "note") {
        if (host.request_dependent) host.request_dependent(key + "('" + argument + "')", "");
        return std::string();
    }
    if (key == "tolower") return converted(argument, [](int c) { return std::tolower(c); });
    if (key == "toupper") return converted(argument, [](int c) { return std::toupper(c); });
    if (key == "escape") return escape_url(argument, false);
    if (key == "unescape") return unescaped(argument);
    if (key == "base64") return encode_base64(argument);
    if (key == "unbase64") return decode_base64(argument);
    if (key == "md5") return md5_hex(argument);
    if (key == "sha1") return sha1_hex(argument);
    return std::nullopt;
}
