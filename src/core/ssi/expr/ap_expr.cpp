#include "ssi/expr/expression.h"

#include "ssi/codecs.h"
#include "ssi/expr/ap_functions.h"

#include <cctype>
#include <cstdlib>
#include <cstdint>
#include <utility>
#include <vector>

namespace {
bool is_space(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }
}  // namespace

// The newer syntax, read by recursive descent. Only what has a meaning without a request is
// known; the rest is refused by name, so that a page never silently takes the wrong branch.
namespace {
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

    // A side that is not evaluated depends on nothing: its reporter is put aside while it is read.
    std::function<void(const std::string&, const std::string&)> quiet() {
        if (live_) return {};
        return std::exchange(host_.request_dependent, nullptr);
    }

    // The right side of || and && is read but not evaluated when the left one decides, so that
    // a regular expression there leaves the captures alone.
    std::optional<bool> disjunction() {
        std::optional<bool> value = conjunction();
        while (value && take("||")) {
            const bool live = std::exchange(live_, live_ && !*value);
            auto stashed = quiet();
            const std::optional<bool> right = conjunction();
            if (stashed) host_.request_dependent = std::move(stashed);
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
            auto stashed = quiet();
            const std::optional<bool> right = condition();
            if (stashed) host_.request_dependent = std::move(stashed);
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
            if (std::string_view("nzTAUFR").find(test) == std::string_view::npos)
                return fail(std::string(text_.substr(pos_, 2)) + " is not available in pages");
            pos_ += 2;
            const std::optional<std::string> operand = word();
            if (!operand) return std::nullopt;
            if (test == 'A' || test == 'U') return url_maps(*operand);
            if (test == 'F') return live_ && host_.file_exists && host_.file_exists(*operand);
            if (test == 'R') {
                if (host_.request_dependent) host_.request_dependent("-R '" + *operand + "'", "false");
                return false;
            }
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
        static constexpr std::string_view strings[] = {"==", "!=", "<=", ">=", "<", ">", "=", "-strcmatch", "-strmatch", "-fnmatch",
                                                       "-eq", "-ne", "-lt", "-le", "-gt", "-ge"};
        for (const std::string_view op : strings) {
            if (!take(op)) continue;
            const std::optional<std::string> right = word();
            if (!right) return std::nullopt;
            if (op == "-strmatch" || op == "-strcmatch" || op == "-fnmatch")
                return wildcard_match(*right, *left, op == "-strcmatch", op == "-fnmatch");
            if (op.front() == '-') {
                // Read as C's strtoll reads them: leading blanks, a sign, digits; the rest ignored.
                const long long a = std::strtoll(left->c_str(), nullptr, 10), b = std::strtoll(right->c_str(), nullptr, 10);
                return op == "-eq" ? a == b : op == "-ne" ? a != b : op == "-lt" ? a < b : op == "-le" ? a <= b
                                                                   : op == "-gt" ? a > b : a >= b;
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

    // -A and -U: whether Apache could map the URL to a subrequest; a page that does not exist
    // still maps. A bad escape, an escaped '/', a NUL or a climb above the root does not.
    static bool url_maps(std::string url) {
        if (url.find("%2f") != std::string::npos || url.find("%2F") != std::string::npos) return false;
        if (const std::size_t query = url.find('?'); query != std::string::npos) url.resize(query);
        if (!unescape_url(url, false) || url.find('\0') != std::string::npos) return false;
        int depth = 0;
        for (std::size_t from = 0; from <= url.size();) {
            const std::size_t slash = std::min(url.find('/', from), url.size());
            const std::string_view part = std::string_view(url).substr(from, slash - from);
            if (part == "..") {
                if (--depth < 0) return false;
            } else if (!part.empty() && part != ".") {
                ++depth;
            }
            from = slash + 1;
        }
        return true;
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

    // %{NAME}, or %{func:argument} for a function called with a constant argument.
    std::optional<std::string> server_variable(const std::string& name) {
        if (const std::size_t colon = name.find(':'); colon != std::string::npos) {
            std::optional<std::string> value = apply_ap_function(name.substr(0, colon), name.substr(colon + 1), host_);
            if (!value) return fail("Unknown function '" + name.substr(0, colon) + "'");
            return value;
        }
        std::string key = name;
        for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        std::optional<std::string> value = host_.server_variable ? host_.server_variable(key) : std::nullopt;
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
                    if (!escape(value)) return std::nullopt;
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
        if (std::optional<std::string> value = apply_ap_function(name, *argument, host_)) return value;
        return fail("Unknown function '" + name + "'");
    }

    // A backslash in a quoted string, pos_ at it: \n \r \t \b \f, up to three octal digits
    // (at most \377), or the character after it as it stands.
    bool escape(std::string& value) {
        const char c = text_[++pos_];
        if (c >= '0' && c <= '7') {
            unsigned code = 0;
            std::size_t end = pos_;
            for (; end < text_.size() && end < pos_ + 3 && text_[end] >= '0' && text_[end] <= '7'; ++end)
                code = code * 8 + static_cast<unsigned>(text_[end] - '0');
            if (code > 0xff) {
                fail("Escape sequence out of range");
                return false;
            }
            value.push_back(static_cast<char>(code));
            pos_ = end - 1;
            return true;
        }
        static constexpr std::string_view letters = "nrtbf", codes = "\n\r\t\b\f";
        const std::size_t known = letters.find(c);
        value.push_back(known == std::string_view::npos ? c : codes[known]);
        return true;
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
