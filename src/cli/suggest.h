#pragma once

#include <optional>
#include <string>
#include <vector>

// The first argument that names no option, with the nearest known one when a typing slip
// explains it: "unknown option '--chek'; did you mean '--check'?". Arguments after "--" are
// names, and values of options that take one ("--skip -x") are not looked at: takes_value
// says which do.
struct option_names_t {
    std::vector<std::string> names;        // "--check", "-q", ...
    std::vector<std::string> with_values;  // those that take the next argument as their value
};
std::optional<std::string> unknown_option(const std::vector<std::string>& args, const option_names_t& options);

// The number of single-character edits (insert, delete, replace, swap two neighbours) from
// one word to the other.
std::size_t edit_distance(const std::string& a, const std::string& b);
