#pragma once

#include "ssi/expr/expression.h"

#include <optional>
#include <string>
#include <string_view>

// The string functions of Apache's newer expression syntax, by name (any letter case):
// v/env/reqenv/osenv read the page's variables; req/http/req_novary/resp/note read the request,
// which a static page does not have (""); tolower, toupper, escape, unescape, base64, unbase64,
// md5 and sha1 compute from their argument. nullopt: no function has that name.
std::optional<std::string> apply_ap_function(std::string_view name, const std::string& argument,
                                             const expression_host_t& host);

// Shell-style wildcards (*, ?, [set], [!set], \x) for -strmatch, -strcmatch and -fnmatch; with
// pathname, as -fnmatch, no wildcard matches a '/'.
bool wildcard_match(std::string_view pattern, std::string_view text, bool fold, bool pathname = false);
