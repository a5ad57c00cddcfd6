#include "site/redirects.h"

#include "base/text.h"

#include <algorithm>
#include <cctype>

namespace {
// The status word or number that may come first: permanent, temp, seeother, gone or 3xx.
bool is_status(const std::string& word) {
    if (same_name(word, "permanent") || same_name(word, "temp") || same_name(word, "seeother") ||
        same_name(word, "gone"))
        return true;
    return word.size() == 3 && std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The one path a RedirectMatch pattern matches, when it names a single path: anchored at both
// ends (or not: Apache then matches it anywhere, which a page cannot), with only '\'-escaped
// characters and no other regular-expression syntax.
std::optional<std::string> literal_pattern(std::string_view pattern) {
    if (!pattern.starts_with('^') || !pattern.ends_with('$') || pattern.size() < 2) return std::nullopt;
    pattern = pattern.substr(1, pattern.size() - 2);
    std::string path;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\\' && i + 1 < pattern.size() && std::ispunct(static_cast<unsigned char>(pattern[i + 1]))) {
            path += pattern[++i];
        } else if (std::string_view(".[]()*+?{}|^$\\").find(c) != std::string_view::npos) {
            return std::nullopt;
        } else {
            path += c;
        }
    }
    return path;
}
}  // namespace

bool is_redirect_directive(const apache_directive_t& directive) {
    return same_name(directive.name, "Redirect") || same_name(directive.name, "RedirectPermanent") ||
           same_name(directive.name, "RedirectTemp") || same_name(directive.name, "RedirectMatch");
}

std::variant<static_redirect_t, std::string> static_redirect(const apache_directive_t& directive,
                                                             const std::string& place) {
    std::vector<std::string> arguments = directive.arguments;
    const bool takes_status = same_name(directive.name, "Redirect") || same_name(directive.name, "RedirectMatch");
    if (takes_status && arguments.size() >= 2 && is_status(arguments.front())) {
        const std::string status = arguments.front();
        const bool moved = same_name(status, "permanent") || same_name(status, "temp") ||
                           same_name(status, "seeother") || (status.starts_with('3'));
        if (!moved) return std::string("sends no page on, so no page stands for it");
        arguments.erase(arguments.begin());
    }
    if (arguments.size() != 2) return std::string("names no target, so no page stands for it");
    static_redirect_t redirect{arguments[0], arguments[1], place, directive.name};
    for (const std::string& argument : directive.arguments) redirect.written += " " + argument;
    if (same_name(directive.name, "RedirectMatch")) {
        const std::optional<std::string> path = literal_pattern(redirect.from);
        if (!path) return std::string("matches a pattern, not one path, so no page stands for it");
        if (redirect.to.find('$') != std::string::npos)
            return std::string("takes back parts of the path matched, so no page stands for it");
        redirect.from = *path;
    }
    if (!redirect.from.starts_with('/')) return std::string("redirects no path of the site");
    return redirect;
}
