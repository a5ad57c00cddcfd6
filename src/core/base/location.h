#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A place in a document: its path as the user knows it (relative to the site's folder, or as
// resolved when it lies outside), and the 1-based line and column of a directive's opener.
// Line 0 means the whole file, with no line to point at.
struct source_position_t {
    std::string path;
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    std::string file;  // the path to open the document with
    bool operator==(const source_position_t&) const = default;
};

// Where a diagnostic comes from: the position itself and, for an included document, the
// include directives that led to it, innermost first.
struct diagnostic_location_t {
    source_position_t at;
    std::vector<source_position_t> included_from;
    bool operator==(const diagnostic_location_t&) const = default;
};

// "path:line:column" (or "path" alone when there is no line), the form compilers print.
std::string to_string(const source_position_t& position);
