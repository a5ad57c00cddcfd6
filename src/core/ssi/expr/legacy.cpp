#include "ssi/expr/expression.h"

#include <cctype>
#include <cstdint>
#include <utility>
#include <vector>

namespace {
bool is_space(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }
}  // namespace

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
            const bool operand =
                type == token_t::string || type == token_t::regex || type == token_t::not_ || type == token_t::lbrace;
            if (!(operand ? place_operand(node, type) : place_operator(node, type))) return false;
        }
    }

    // Hangs a string, pattern, ! or ( into the tree.
    bool place_operand(int node, token_t type) {
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
            return true;
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
            return true;
        case token_t::not_:
            if (current_ < 0)
                root_ = current_ = node;
            else if (under == token_t::string || under == token_t::regex || under == token_t::rbrace ||
                     under == token_t::group)
                return invalid();
            else
                attach_right(node);
            return true;
        case token_t::lbrace:
            if (current_ < 0) {
                root_ = current_ = node;
            } else if (under == token_t::not_ || under == token_t::and_ || under == token_t::or_ ||
                       under == token_t::lbrace || is_comparison(under)) {
                attach_right(node);
            } else {
                return invalid();
            }
            return true;
        default: return true;
        }
    }

    // Hangs an operator above what binds tighter, or closes a parenthesis.
    bool place_operator(int node, token_t type) {
        switch (type) {
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
            return insert_above(node);
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
            return insert_above(node);
        case token_t::rbrace:
            while (current_ >= 0 && at(current_).type != token_t::lbrace) current_ = at(current_).parent;
            if (current_ < 0) return fail("Unmatched ')'");
            at(current_).type = token_t::group;
            nodes_.pop_back();
            return true;
        default: return true;
        }
    }

    void evaluate_string(node_t& node) {
        node.text = host_.expand(node.text);
        node.value = !node.text.empty();
        node.done = true;
    }

    // A comparison of two strings, or = and != with a pattern; false when an operand is missing
    // or of the wrong kind.
    bool compare(node_t& node) {
        const bool pattern = node.right >= 0 && at(node.right).type == token_t::regex;
        if (node.left < 0 || node.right < 0 || at(node.left).type != token_t::string ||
            (at(node.right).type != token_t::string && !(pattern && (node.type == token_t::eq || node.type == token_t::ne))))
            return false;
        const std::string left = host_.expand(at(node.left).text);
        const std::string right = host_.expand(at(node.right).text);
        if (pattern) {
            --regexes_;
            std::string problem;
            const std::optional<bool> matched = match_regex(left, right, host_.captures, false, problem, host_.regexes);
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
        return true;
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
            case token_t::lt:
                if (!compare(node)) return invalid(), std::nullopt;
                break;
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
