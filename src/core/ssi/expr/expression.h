#pragma once

#include "ssi/expr/regex.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The expressions of if and elif in the Apache dialect, on bytes (a UTF-16 document's text is
// handed over as UTF-8).

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
    // The newer syntax only: whether -F's path (relative to the document) names an existing,
    // readable file.
    std::function<bool(const std::string& path)> file_exists;
    // A value only a request could give: what the expression asked for and what it took instead.
    std::function<void(const std::string& what, const std::string& instead)> request_dependent;
    // Patterns kept for the run, when given.
    RegexCache* regexes = nullptr;
};

// Apache's legacy syntax, as its module evaluates it: '...' strings, unquoted words joined with
// one space, $var and ${var}, = != < <= > >=, /regex/, !, && and || (same rank, grouped from
// the right), parentheses. Returns nullopt for a malformed expression, with why in error.
std::optional<bool> evaluate_legacy_expression(std::string_view text, expression_host_t& host, std::string& error);

// Apache's newer expression syntax as a static page sees it: strings with backslash escapes,
// %{VAR}, %{func:arg} and func('x') (see ap_functions.h), comparisons (integers read as strtoll
// reads them), =~ and !~, -strmatch, -strcmatch, -fnmatch and -ipmatch, -n -z -T, the
// subrequest tests -A -U -F, -R (false: there is no client), !, && and ||, parentheses, true
// and false. The other file tests are refused, as Apache refuses them in pages.
std::optional<bool> evaluate_ap_expression(std::string_view text, expression_host_t& host, std::string& error);
