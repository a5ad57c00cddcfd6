#include "ssi/expr/expression.h"

#include <cctype>
#include <cstdint>
#include <utility>
#include <vector>

namespace {
bool is_space(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }
}  // namespace

// The newer syntax, read by recursive descent. Only what has a meaning without a request is
// known; the rest is refused by name, so that a page never silently takes the wrong branch.
namespace {
// Shell-style wildcards (*, ?, [set], [!set]) for -strmatch and -strcmatch.
bool wildcard_match(std::string_view pattern, std::string_view text, bool fold) {
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
        if (p < pattern.size() && pattern[p] == '[') {
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
        } else if (p < pattern.size()) {
            matched = pattern[p] == '?' || lower(pattern[p]) == lower(text[t]);
        }
        if (matched) {
            p = after;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// The functions of the newer syntax, by name. The SSI variables and the environment are one
// table in a static conversion; a request's notes and headers are always empty.
struct function_t {
    std::string_view name;
    std::string (*apply)(const expression_host_t& host, const std::string& argument);
};

std::string variable(const expression_host_t& host, const std::string& name) { return host.expand("${" + name + "}"); }
std::string nothing(const expression_host_t&, const std::string&) { return {}; }
template <int (*convert)(int)>
std::string converted(const expression_host_t&, const std::string& text) {
    std::string value = text;
    for (char& c : value) c = static_cast<char>(convert(static_cast<unsigned char>(c)));
    return value;
}

int to_lower(int c) { return std::tolower(c); }
int to_upper(int c) { return std::toupper(c); }

constexpr function_t functions[] = {
    {"v", &variable},     {"env", &variable},   {"reqenv", &variable},
    {"osenv", &variable}, {"note", &nothing},   {"resp", &nothing},
    {"req", &nothing},    {"http", &nothing},   {"tolower", &converted<&to_lower>},
    {"toupper", &converted<&to_upper>},
};

class ap_evaluator {
public:
    ap_evaluator(std::string_view text, expression_host_t& host, std::string& error)
        : text_(text), host_(host), error_(error) {}

    std::optional<bool> run() {
        const std::optional<bool> value = disjunction();
        skip_spaces();
        if (value && pos_ < text_.size()) return fail("Unexpected '" + std::string(text_.substr(pos_)) + "'");
        return value;
    }

private:
    std::nullopt_t fail(const std::string& why) {
        if (error_.empty()) error_ = why + " in expression \"" + std::string(text_) + "\"";
        return std::nullopt;
    }
    void skip_spaces() {
        while (pos_ < text_.size() && is_space(text_[pos_])) ++pos_;
    }
    bool take(std::string_view token) {
        skip_spaces();
        if (text_.substr(pos_, token.size()) != token) return false;
        // A word operator must end where the word does.
        const std::size_t end = pos_ + token.size();
        const bool word = token.back() >= 'a' && token.back() <= 'z';
        if (word && end < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[end])) || text_[end] == '_'))
            return false;
        pos_ = end;
        return true;
    }

    // The right side of || and && is read but not evaluated when the left one decides, so that
    // a regular expression there leaves the captures alone.
    std::optional<bool> disjunction() {
        std::optional<bool> value = conjunction();
        while (value && take("||")) {
            const bool live = std::exchange(live_, live_ && !*value);
            const std::optional<bool> right = conjunction();
            live_ = live;
            if (!right) return std::nullopt;
            value = *value || *right;
        }
        return value;
    }
    std::optional<bool> conjunction() {
        std::optional<bool> value = condition();
        while (value && take("&&")) {
            const bool live = std::exchange(live_, live_ && *value);
            const std::optional<bool> right = condition();
            live_ = live;
            if (!right) return std::nullopt;
            value = *value && *right;
        }
        return value;
    }
    // Each !, ( and function call costs a level of the stack: a hostile page must not exhaust it.
    struct level_t {
        int& depth;
        explicit level_t(int& d) : depth(++d) {}
        ~level_t() { --depth; }
        level_t(const level_t&) = delete;
        level_t& operator=(const level_t&) = delete;
    };
    bool too_deep() {
        if (depth_ <= max_depth) return false;
        fail("Expression nested more than " + std::to_string(max_depth) + " levels deep");
        return true;
    }

    std::optional<bool> condition() {
        const level_t level(depth_);
        if (too_deep()) return std::nullopt;
        if (take("!")) {
            const std::optional<bool> value = condition();
            return value ? std::optional(!*value) : std::nullopt;
        }
        if (take("(")) {
            const std::optional<bool> value = disjunction();
            if (!value) return std::nullopt;
            if (!take(")")) return fail("Missing ')'");
            return value;
        }
        if (take("true")) return true;
        if (take("false")) return false;
        skip_spaces();
        if (pos_ + 2 < text_.size() && text_[pos_] == '-' && std::isalpha(static_cast<unsigned char>(text_[pos_ + 1])) &&
            is_space(text_[pos_ + 2])) {
            // The string tests; the others look at files or the request, which pages may not.
            const char test = text_[pos_ + 1];
            if (test != 'n' && test != 'z' && test != 'T')
                return fail(std::string(text_.substr(pos_, 2)) + " is not available in pages");
            pos_ += 2;
            const std::optional<std::string> operand = word();
            if (!operand) return std::nullopt;
            if (test == 'T')
                return !(operand->empty() || *operand == "0" || *operand == "off" || *operand == "false" ||
                         *operand == "no");
            return operand->empty() == (test == 'z');
        }
        const std::optional<std::string> left = word();
        if (!left) return std::nullopt;
        if (take("=~") || take("!~")) return matches(*left, text_[pos_ - 2] == '!');
        if (take("in") || take("-in")) {
            if (!take("{")) return fail("Expected '{' after 'in'");
            bool found = false;
            do {
                const std::optional<std::string> item = word();
                if (!item) return std::nullopt;
                found = found || *item == *left;
            } while (take(","));
            if (!take("}")) return fail("Expected '}' to end the list");
            return found;
        }
        if (take("-ipmatch")) {
            const std::optional<std::string> network = word();
            if (!network) return std::nullopt;
            return ip_matches(*left, *network);
        }
        static constexpr std::string_view strings[] = {"==", "!=", "<=", ">=", "<", ">", "=", "-strcmatch", "-strmatch",
                                                       "-eq", "-ne", "-lt", "-le", "-gt", "-ge"};
        for (const std::string_view op : strings) {
            if (!take(op)) continue;
            const std::optional<std::string> right = word();
            if (!right) return std::nullopt;
            if (op == "-strmatch" || op == "-strcmatch") return wildcard_match(*right, *left, op == "-strcmatch");
            if (op.front() == '-') {
                const std::optional<long long> a = number(*left), b = number(*right);
                if (!a || !b) return fail("Not a number: '" + (a ? *right : *left) + "'");
                return op == "-eq" ? *a == *b : op == "-ne" ? *a != *b : op == "-lt" ? *a < *b : op == "-le" ? *a <= *b
                                                                    : op == "-gt" ? *a > *b : *a >= *b;
            }
            const int order = left->compare(*right);
            return op == "==" || op == "=" ? order == 0 : op == "!=" ? order != 0 : op == "<" ? order < 0
                                                      : op == "<=" ? order <= 0 : op == ">" ? order > 0 : order >= 0;
        }
        return fail("Expected an operator after '" + *left + "'");
    }

    // The pattern after =~ or !~, matched against left.
    std::optional<bool> matches(const std::string& left, bool negate) {
        bool fold = false;
        const std::optional<std::string> pattern = regex(fold);
        if (!pattern) return std::nullopt;
        if (!live_) return false;
        std::string problem;
        std::optional<regex_captures_t> captures;
        const std::optional<bool> matched = match_regex(left, *pattern, &captures, fold, problem, host_.regexes);
        if (!matched) return fail(problem);
        // As Apache keeps them: only a pattern with a group replaces the captures, and pages
        // then see its $0 alone.
        if (host_.captures != nullptr && captures && captures->groups > 0) {
            captures->whole_only = true;
            *host_.captures = std::move(captures);
        }
        return *matched != negate;
    }

    static std::optional<std::uint32_t> ipv4(std::string_view text) {
        std::uint32_t address = 0;
        int parts = 0;
        for (std::size_t from = 0; from <= text.size() && parts < 5; ++parts) {
            const std::size_t dot = std::min(text.find('.', from), text.size());
            const std::optional<long long> part = number(std::string(text.substr(from, dot - from)));
            if (!part || *part < 0 || *part > 255) return std::nullopt;
            address = (address << 8u) | static_cast<std::uint32_t>(*part);
            from = dot + 1;
        }
        return parts == 4 ? std::optional(address) : std::nullopt;
    }
    // An IPv4 address against an address or a network in CIDR form; anything else does not match.
    static bool ip_matches(const std::string& address, const std::string& network) {
        const std::size_t slash = network.find('/');
        const std::optional<std::uint32_t> a = ipv4(address), n = ipv4(network.substr(0, slash));
        const std::optional<long long> bits = slash == std::string::npos ? 32 : number(network.substr(slash + 1));
        if (!a || !n || !bits || *bits < 0 || *bits > 32) return false;
        const std::uint32_t mask = *bits == 0 ? 0 : ~std::uint32_t{0} << (32 - *bits);
        return (*a & mask) == (*n & mask);
    }

    static std::optional<long long> number(const std::string& text) {
        if (text.empty() || text.size() > 18) return std::nullopt;
        long long value = 0;
        std::size_t i = text[0] == '-' ? 1 : 0;
        if (i == text.size()) return std::nullopt;
        for (; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            value = value * 10 + (text[i] - '0');
        }
        return text[0] == '-' ? -value : value;
    }

    // /pattern/ or m#pattern# (any delimiter after m), with an optional i.
    std::optional<std::string> regex(bool& fold) {
        skip_spaces();
        char delimiter = '/';
        if (pos_ + 1 < text_.size() && text_[pos_] == 'm' && !std::isalnum(static_cast<unsigned char>(text_[pos_ + 1])))
            delimiter = text_[++pos_];
        else if (pos_ >= text_.size() || text_[pos_] != '/')
            return fail("Expected a regular expression");
        const std::size_t end = text_.find(delimiter, pos_ + 1);
        if (end == std::string_view::npos) return fail("Unterminated regular expression");
        std::string pattern(text_.substr(pos_ + 1, end - pos_ - 1));
        pos_ = end + 1;
        fold = pos_ < text_.size() && text_[pos_] == 'i';
        if (fold) ++pos_;
        return pattern;
    }

    // Terms joined with '.'.
    std::optional<std::string> word() {
        std::optional<std::string> value = term();
        while (value && take(".")) {
            const std::optional<std::string> more = term();
            if (!more) return std::nullopt;
            *value += *more;
        }
        return value;
    }

    std::optional<std::string> server_variable(const std::string& name) {
        std::optional<std::string> value = host_.server_variable ? host_.server_variable(name) : std::nullopt;
        if (!value) return fail("Variable '" + name + "' does not exist");
        return value;
    }

    std::optional<std::string> term() {
        const level_t level(depth_);
        if (too_deep()) return std::nullopt;
        skip_spaces();
        if (pos_ >= text_.size()) return fail("Unexpected end");
        const char c = text_[pos_];
        if (c == '\'' || c == '"') {
            std::string value;
            for (++pos_; pos_ < text_.size() && text_[pos_] != c; ++pos_) {
                if (text_[pos_] == '\\' && pos_ + 1 < text_.size()) {
                    value.push_back(text_[++pos_]);
                } else if (text_[pos_] == '$' && pos_ + 1 < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_ + 1]))) {
                    // $0 to $9: the groups of the last regular expression matched.
                    const auto& captures = host_.captures;
                    if (captures != nullptr && *captures)
                        value += (*captures)->group(static_cast<std::size_t>(text_[++pos_] - '0')).value_or("");
                    else
                        ++pos_;
                } else if (text_[pos_] == '%' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '{') {
                    const std::size_t end = text_.find('}', pos_);
                    if (end == std::string_view::npos) return fail("Missing '}'");
                    const std::optional<std::string> found = server_variable(std::string(text_.substr(pos_ + 2, end - pos_ - 2)));
                    if (!found) return std::nullopt;
                    value += *found;
                    pos_ = end;
                } else {
                    value.push_back(text_[pos_]);
                }
            }
            if (pos_ >= text_.size()) return fail("Unterminated string");
            ++pos_;
            return value;
        }
        if (c == '%' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '{') {
            const std::size_t end = text_.find('}', pos_);
            if (end == std::string_view::npos) return fail("Missing '}'");
            const std::string name(text_.substr(pos_ + 2, end - pos_ - 2));
            pos_ = end + 1;
            return server_variable(name);
        }
        const std::size_t start = pos_;
        while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_' ||
                                       (pos_ == start && text_[pos_] == '-')))
            ++pos_;
        const std::string name(text_.substr(start, pos_ - start));
        if (name.empty()) return fail("Unexpected '" + std::string(text_.substr(pos_, 1)) + "'");
        if (!take("(")) {
            if (number(name)) return name;
            return fail("Unknown word '" + name + "'");
        }
        const std::optional<std::string> argument = word();
        if (!argument) return std::nullopt;
        if (!take(")")) return fail("Missing ')'");
        for (const function_t& function : functions)
            if (function.name == name) return function.apply(host_, *argument);
        return fail("Unknown function '" + name + "'");
    }

    std::string_view text_;
    expression_host_t& host_;
    std::string& error_;
    std::size_t pos_ = 0;
    bool live_ = true;  // false while reading a side whose value cannot matter
    static constexpr int max_depth = 1000;
    int depth_ = 0;
};
}  // namespace

std::optional<bool> evaluate_ap_expression(std::string_view text, expression_host_t& host, std::string& error) {
    return ap_evaluator(text, host, error).run();
}
