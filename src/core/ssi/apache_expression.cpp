#include "ssi/apache_expression.h"

#ifndef ORRINFOLD_STD_REGEX  // else match_regex is in ssi/regex_std.cpp
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#endif

#include <cctype>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

std::optional<std::string> regex_captures_t::echoed(std::size_t n) const {
    if (whole_only && n > 0) return std::nullopt;
    return group(n);
}

std::optional<std::string> regex_captures_t::group(std::size_t n) const {
    if (n > groups || n >= spans.size() || spans[n].first < 0 || spans[n].second < spans[n].first) return std::nullopt;
    return subject.substr(static_cast<std::size_t>(spans[n].first),
                          static_cast<std::size_t>(spans[n].second - spans[n].first));
}

namespace {
// Enough for any pattern a page means; a catastrophic one stops here instead of hanging the run.
constexpr std::uint32_t match_limit = 1'000'000;
constexpr std::uint32_t depth_limit = 10'000;

bool is_space(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }
}  // namespace

#ifndef ORRINFOLD_STD_REGEX
std::optional<bool> match_regex(const std::string& subject, const std::string& pattern,
                                std::optional<regex_captures_t>* captures, bool ignore_case, std::string& error) {
    int code = 0;
    PCRE2_SIZE offset = 0;
    const std::uint32_t options = PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY | (ignore_case ? PCRE2_CASELESS : 0u);
    const std::unique_ptr<pcre2_code, decltype(&pcre2_code_free)> compiled(
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options, &code, &offset, nullptr),
        &pcre2_code_free);
    if (!compiled) {
        PCRE2_UCHAR text[256];
        pcre2_get_error_message(code, text, sizeof text);
        error = "Regular expression /" + pattern + "/ does not compile: " + reinterpret_cast<const char*>(text);
        return std::nullopt;
    }
    const std::unique_ptr<pcre2_match_context, decltype(&pcre2_match_context_free)> context(
        pcre2_match_context_create(nullptr), &pcre2_match_context_free);
    pcre2_set_match_limit(context.get(), match_limit);
    pcre2_set_depth_limit(context.get(), depth_limit);
    const std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> data(
        pcre2_match_data_create_from_pattern(compiled.get(), nullptr), &pcre2_match_data_free);
    const int result = pcre2_match(compiled.get(), reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0, 0,
                                   data.get(), context.get());
    if (captures != nullptr) {
        regex_captures_t& stored = captures->emplace();
        stored.subject = subject;
        std::uint32_t groups = 0;
        pcre2_pattern_info(compiled.get(), PCRE2_INFO_CAPTURECOUNT, &groups);
        stored.groups = groups;
        stored.spans.fill({-1, -1});
        if (result > 0) {
            const PCRE2_SIZE* vector = pcre2_get_ovector_pointer(data.get());
            for (std::size_t i = 0; i < stored.spans.size() && i < static_cast<std::size_t>(result); ++i)
                if (vector[2 * i] != PCRE2_UNSET)
                    stored.spans[i] = {static_cast<std::ptrdiff_t>(vector[2 * i]),
                                       static_cast<std::ptrdiff_t>(vector[2 * i + 1])};
        }
    }
    if (result >= 0 || result == PCRE2_ERROR_NOMATCH) return result >= 0;
    PCRE2_UCHAR text[256];
    pcre2_get_error_message(result, text, sizeof text);
    error = "Regular expression /" + pattern + "/ failed: " + reinterpret_cast<const char*>(text);
    return std::nullopt;
}
#endif

// The legacy syntax is read the way Apache's module reads it: tokens are hung into a tree one
// at a time, each kind climbing past what binds tighter, and the tree is then evaluated from
// the root. Its quirks (grouping from the right, joined words) are what pages rely on.
namespace {
enum class token_t { string, regex, and_, or_, not_, eq, ne, rbrace, lbrace, group, ge, le, gt, lt };

struct node_t {
    token_t type = token_t::string;
    std::string text;
    int parent = -1, left = -1, right = -1;
    bool value = false;
    bool done = false;
};

bool is_comparison(token_t t) {
    return t == token_t::eq || t == token_t::ne || t == token_t::ge || t == token_t::le || t == token_t::gt ||
           t == token_t::lt;
}

// Reads the next token at pos; false at the end of the text.
bool next_token(std::string_view text, std::size_t& pos, node_t& node) {
    while (pos < text.size() && is_space(text[pos])) ++pos;
    if (pos >= text.size()) return false;
    const char first = text[pos++];
    const char next = pos < text.size() ? text[pos] : '\0';
    char quote = '\0';
    switch (first) {
    case '(': node.type = token_t::lbrace; return true;
    case ')': node.type = token_t::rbrace; return true;
    case '=':
        if (next == '=') ++pos;
        node.type = token_t::eq;
        return true;
    case '!':
        if (next == '=') ++pos;
        node.type = next == '=' ? token_t::ne : token_t::not_;
        return true;
    case '>':
    case '<':
        if (next == '=') ++pos;
        node.type = first == '>' ? (next == '=' ? token_t::ge : token_t::gt) : (next == '=' ? token_t::le : token_t::lt);
        return true;
    case '|':
    case '&':
        if (next == first) {
            ++pos;
            node.type = first == '&' ? token_t::and_ : token_t::or_;
            return true;
        }
        break;
    case '\'': quote = '\''; break;
    case '/':
        node.type = token_t::regex;
        quote = '/';
        break;
    default: break;
    }
    if (quote == '\0') --pos;  // the first character belongs to the word
    // A backslash keeps the character after it in the token and is itself dropped.
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '\\') {
            if (++pos == text.size()) break;
            node.text.push_back(text[pos]);
            continue;
        }
        if (quote != '\0') {
            if (c == quote) {
                quote = '\0';
                ++pos;
                break;
            }
        } else if (is_space(c) || c == '(' || c == ')' || c == '=' || c == '!' || c == '<' || c == '>' ||
                   ((c == '|' || c == '&') && pos + 1 < text.size() && text[pos + 1] == c)) {
            break;
        }
        node.text.push_back(c);
    }
    if (quote != '\0') node.text.clear();  // an unterminated string or pattern is empty
    return true;
}

class legacy_evaluator {
public:
    legacy_evaluator(std::string_view text, expression_host_t& host, std::string& error)
        : text_(text), host_(host), error_(error) {}

    std::optional<bool> run() {
        if (!build()) return std::nullopt;
        return evaluate();
    }

private:
    bool fail(const std::string& why) {
        error_ = why + " in expression \"" + std::string(text_) + "\"";
        return false;
    }
    bool invalid() { return fail("Invalid token"); }

    void attach_right(int node) {
        nodes_[static_cast<std::size_t>(node)].parent = current_;
        at(current_).right = node;
        current_ = node;
    }
    // Puts node above current's right child (or above the root when current is none).
    bool insert_above(int node) {
        node_t& inserted = at(node);
        if (current_ < 0) {
            inserted.left = root_;
            at(root_).parent = node;
            root_ = node;
        } else {
            inserted.left = at(current_).right;
            if (inserted.left < 0) return invalid();
            at(inserted.left).parent = node;
            at(current_).right = node;
            inserted.parent = current_;
        }
        current_ = node;
        return true;
    }
    node_t& at(int index) { return nodes_[static_cast<std::size_t>(index)]; }

    bool build() {
        std::size_t pos = 0;
        for (;;) {
            node_t token;
            if (!next_token(text_, pos, token)) return true;
            nodes_.push_back(std::move(token));
            const int node = static_cast<int>(nodes_.size() - 1);
            const token_t type = nodes_.back().type;
            const token_t under = current_ >= 0 ? at(current_).type : token_t::group;
            switch (type) {
            case token_t::string:
                if (current_ < 0) {
                    root_ = current_ = node;
                } else if (under == token_t::string) {
                    // Adjacent words are one string, joined by a space unless the first is empty.
                    std::string& joined = at(current_).text;
                    joined += (joined.empty() ? "" : " ") + nodes_.back().text;
                    nodes_.pop_back();
                } else if (under == token_t::regex || under == token_t::group || under == token_t::rbrace) {
                    return invalid();
                } else {
                    attach_right(node);
                }
                break;
            case token_t::regex:
                ++regexes_;
                if (current_ < 0) {
                    root_ = current_ = node;
                } else if (under == token_t::eq || under == token_t::ne || under == token_t::and_ ||
                           under == token_t::or_ || under == token_t::lbrace || under == token_t::not_) {
                    attach_right(node);
                } else {
                    return invalid();
                }
                break;
            case token_t::and_:
            case token_t::or_:
                if (current_ < 0) return invalid();
                // Climbs past everything but a parenthesis or another && or ||: both have one
                // rank and group from the right.
                while (current_ >= 0 && at(current_).type != token_t::lbrace && at(current_).type != token_t::and_ &&
                       at(current_).type != token_t::or_) {
                    if (at(current_).type == token_t::rbrace) return invalid();
                    current_ = at(current_).parent;
                }
                if (!insert_above(node)) return false;
                break;
            case token_t::not_:
                if (current_ < 0)
                    root_ = current_ = node;
                else if (under == token_t::string || under == token_t::regex || under == token_t::rbrace ||
                         under == token_t::group)
                    return invalid();
                else
                    attach_right(node);
                break;
            case token_t::eq:
            case token_t::ne:
            case token_t::ge:
            case token_t::le:
            case token_t::gt:
            case token_t::lt:
                if (current_ < 0) return invalid();
                while (current_ >= 0) {
                    const token_t t = at(current_).type;
                    if (t == token_t::lbrace || t == token_t::and_ || t == token_t::or_) break;
                    if (t != token_t::string && t != token_t::regex && t != token_t::group) return invalid();
                    current_ = at(current_).parent;
                }
                if (!insert_above(node)) return false;
                break;
            case token_t::rbrace:
                while (current_ >= 0 && at(current_).type != token_t::lbrace) current_ = at(current_).parent;
                if (current_ < 0) return fail("Unmatched ')'");
                at(current_).type = token_t::group;
                nodes_.pop_back();
                break;
            case token_t::lbrace:
                if (current_ < 0) {
                    root_ = current_ = node;
                } else if (under == token_t::not_ || under == token_t::and_ || under == token_t::or_ ||
                           under == token_t::lbrace || is_comparison(under)) {
                    attach_right(node);
                } else {
                    return invalid();
                }
                break;
            case token_t::group: break;
            }
        }
    }

    void evaluate_string(node_t& node) {
        node.text = host_.expand(node.text);
        node.value = !node.text.empty();
        node.done = true;
    }

    std::optional<bool> evaluate() {
        int index = root_;
        while (index >= 0) {
            node_t& node = at(index);
            switch (node.type) {
            case token_t::string: evaluate_string(node); break;
            case token_t::regex: fail("No operator before regex"); return std::nullopt;
            case token_t::and_:
            case token_t::or_: {
                if (node.left < 0 || node.right < 0) return invalid(), std::nullopt;
                node_t& left = at(node.left);
                node_t& right = at(node.right);
                if (!left.done) {
                    if (left.type != token_t::string) {
                        index = node.left;
                        continue;
                    }
                    evaluate_string(left);
                }
                const bool is_and = node.type == token_t::and_;
                // Stops early only when no regular expression is left whose captures would be seen.
                if (!right.done && regexes_ == 0 && left.value != is_and) {
                    node.value = left.value;
                } else {
                    if (!right.done) {
                        if (right.type != token_t::string) {
                            index = node.right;
                            continue;
                        }
                        evaluate_string(right);
                    }
                    node.value = is_and ? left.value && right.value : left.value || right.value;
                }
                break;
            }
            case token_t::eq:
            case token_t::ne:
            case token_t::ge:
            case token_t::le:
            case token_t::gt:
            case token_t::lt: {
                const bool pattern = node.right >= 0 && at(node.right).type == token_t::regex;
                if (node.left < 0 || node.right < 0 || at(node.left).type != token_t::string ||
                    (at(node.right).type != token_t::string && !(pattern && (node.type == token_t::eq || node.type == token_t::ne))))
                    return invalid(), std::nullopt;
                const std::string left = host_.expand(at(node.left).text);
                const std::string right = host_.expand(at(node.right).text);
                if (pattern) {
                    --regexes_;
                    std::string problem;
                    const std::optional<bool> matched = match_regex(left, right, host_.captures, false, problem);
                    // A pattern that does not compile is reported, and compares as a match.
                    if (!matched && host_.warn) host_.warn(problem);
                    node.value = matched.value_or(true) != (node.type == token_t::ne);
                } else {
                    const int order = left.compare(right);
                    switch (node.type) {
                    case token_t::eq: node.value = order == 0; break;
                    case token_t::ne: node.value = order != 0; break;
                    case token_t::ge: node.value = order >= 0; break;
                    case token_t::le: node.value = order <= 0; break;
                    case token_t::gt: node.value = order > 0; break;
                    default: node.value = order < 0; break;
                    }
                }
                break;
            }
            case token_t::not_:
            case token_t::group:
                if (node.right >= 0 && !at(node.right).done) {
                    index = node.right;
                    continue;
                }
                node.value = node.right >= 0 ? at(node.right).value != (node.type == token_t::not_)
                                             : node.type == token_t::group;
                break;
            case token_t::lbrace: fail("Unmatched '('"); return std::nullopt;
            case token_t::rbrace: fail("Unmatched ')'"); return std::nullopt;
            }
            node.done = true;
            index = node.parent;
        }
        return root_ >= 0 && at(root_).value;
    }

    std::string_view text_;
    expression_host_t& host_;
    std::string& error_;
    std::vector<node_t> nodes_;
    int root_ = -1;
    int current_ = -1;
    int regexes_ = 0;  // regular expressions not yet evaluated
};
}  // namespace

std::optional<bool> evaluate_legacy_expression(std::string_view text, expression_host_t& host, std::string& error) {
    return legacy_evaluator(text, host, error).run();
}

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
        if (take("=~") || take("!~")) {
            const bool negate = text_[pos_ - 2] == '!';
            bool fold = false;
            const std::optional<std::string> pattern = regex(fold);
            if (!pattern) return std::nullopt;
            if (!live_) return false;
            std::string problem;
            std::optional<regex_captures_t> captures;
            const std::optional<bool> matched = match_regex(*left, *pattern, &captures, fold, problem);
            if (!matched) return fail(problem);
            // As Apache keeps them: only a pattern with a group replaces the captures, and pages
            // then see its $0 alone.
            if (host_.captures != nullptr && captures && captures->groups > 0) {
                captures->whole_only = true;
                *host_.captures = std::move(captures);
            }
            return *matched != negate;
        }
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

    std::optional<std::string> variable(const std::string& name) { return host_.expand("${" + name + "}"); }
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
        // The SSI variables and the environment are one table in a static conversion; a request's
        // notes are always empty.
        if (name == "v" || name == "env" || name == "reqenv" || name == "osenv") return variable(*argument);
        if (name == "note" || name == "resp" || name == "req" || name == "http") return std::string();
        if (name == "tolower" || name == "toupper") {
            std::string value = *argument;
            for (char& ch : value)
                ch = static_cast<char>(name == "tolower" ? std::tolower(static_cast<unsigned char>(ch))
                                                         : std::toupper(static_cast<unsigned char>(ch)));
            return value;
        }
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
