#pragma once

#include "build/manifest.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

// The pieces of the record's text that the journal writes and reads the same way.
namespace manifest_text {
// A record written whole at the end of a run, its dependencies first.
constexpr std::string_view header = "orrinfold-manifest 2";
// One written as the run goes: a journal, whose entries end with a line ".", and which takes
// dependencies and leftovers between them; with its last line "end N" it is a record.
constexpr std::string_view streamed_header = "orrinfold-manifest 3";

// Whether a first line is one of those above.
bool is_header(std::string_view line);

// Paths may hold any byte but NUL: the few that would end a field or a line are escaped.
void append_escaped(std::string& out, std::string_view text);
std::string unescaped(std::string_view text);
// A source or an output: joined onto a root, so it must stay below it.
std::string relative_path(std::string_view text);
// Five numbers: device, inode, size, seconds and nanoseconds of the modification time.
void append_stamp(std::string& out, const file_stamp_t& stamp);
file_stamp_t parse_stamp(std::string_view text);

// The first lines: first_line (a header above), then the destination and the options.
void append_head(std::string& out, std::string_view first_line, std::string_view destination, std::string_view options);
// A line naming a file and its stamp, after kind ("t\t", "x\t", "o\t").
void append_file(std::string& out, std::string_view kind, const manifest_entry_t::file_t& file);
// An entry's lines: the source, its outputs, and its dependencies' places (renumbered, when
// given, by place).
void append_entry(std::string& out, std::string_view source, const manifest_entry_t& entry,
                  const std::vector<std::uint32_t>* renumbered = nullptr);

// A line's fields, separated by tabs: at most five (more is an error).
struct fields_t {
    std::array<std::string_view, 5> part;
    std::size_t size = 0;
    std::string_view operator[](std::size_t i) const { return part[i]; }
};
fields_t fields(std::string_view line);
}  // namespace manifest_text
