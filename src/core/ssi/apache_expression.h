#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// The expressions of if and elif in the Apache dialect, on bytes (a UTF-16 document's text is
// handed over as UTF-8). Regular expressions are PCRE2 with Apache's options (DOTALL,
// DOLLAR_ENDONLY), with match limits so that no pattern can run away.

// The groups of the last regular expression a document evaluated, read as $0 to $9.
struct regex_captures_t {
    std::string subject;
    std::size_t groups = 0;  // capturing groups in the pattern
    std::array<std::pair<std::ptrdiff_t, std::ptrdiff_t>, 10> spans{};  // {-1, -1}: took no part
    // Set by the newer syntax, after which pages see only $0 (as Apache shows them); the
    // expressions themselves still read every group.
    bool whole_only = false;
    // The text of group n; nullopt when the pattern has no such group or it took no part.
    std::optional<std::string> group(std::size_t n) const;
    // Group n as echo and the legacy syntax's $n see it.
    std::optional<std::string> echoed(std::size_t n) const;
};

// What an expression needs from the document it stands in.
struct expression_host_t {
    // An operand with its variables replaced, as the dialect's argument values are.
    std::function<std::string(std::string_view)> expand;
    // A problem that does not make the expression fail (a pattern that does not compile).
    std::function<void(const std::string&)> warn;
    // The document's captures, replaced by each regular expression evaluated.
    std::optional<regex_captures_t>* captures = nullptr;
    // The newer syntax only: the value of %{NAME}; nullopt when there is no such variable.
    std::function<std::optional<std::string>(const std::string& name)> server_variable;
};

// Apache's legacy syntax, as its module evaluates it: '...' strings, unquoted words joined with
// one space, $var and ${var}, = != < <= > >=, /regex/, !, && and || (same rank, grouped from
// the right), parentheses. Returns nullopt for a malformed expression, with why in error.
std::optional<bool> evaluate_legacy_expression(std::string_view text, expression_host_t& host, std::string& error);

// The parts of Apache's newer expression syntax that mean something without a request:
// strings, %{VAR} and v('x') style functions, comparisons, =~ and !~, -strmatch, -strcmatch
// and -ipmatch, !, && and ||, parentheses, true and false. File tests are refused, as Apache
// refuses them in pages.
std::optional<bool> evaluate_ap_expression(std::string_view text, expression_host_t& host, std::string& error);

// Whether a regular expression matches, with the captures stored; nullopt when the pattern does
// not compile or the match passes PCRE2's limits (error says which).
std::optional<bool> match_regex(const std::string& subject, const std::string& pattern,
                                std::optional<regex_captures_t>* captures, bool ignore_case, std::string& error);
