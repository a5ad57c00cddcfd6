#pragma once

#include "base/text.h"

#include <cstdint>
#include <string>
#include <string_view>

// The encodings and number formats that directives apply to values. Byte strings hold a
// page's text as the engine narrows it (ASCII as itself, other bytes as they are).

// How fsize shows a size: an exact count or abbreviated.
enum class size_format_t : unsigned char { bytes = 0, abbrev = 1 };

// Character and entity references in file names and variable names, as Apache decodes them:
// the named entities of Latin-1 and numeric ones below 256; a numeric reference to an unused
// character is dropped, an unknown name left as it is.
std::u16string decode_entities(std::u16string_view text);
// escape_html is in base/text.h.
// Apache's escape of a path (echo encoding="url"): all but letters, digits and $-_.+!*'(),:;@&=/~
// as lower-case %xx; with form set, as a form value (space as '+', fewer characters kept).
std::string escape_url(std::string_view text, bool form);
// %xx escapes decoded (with form set, '+' too); false when an escape is malformed, which is
// then kept as it stands.
bool unescape_url(std::string& text, bool form);
// Shell metacharacters get a backslash, as Apache gives them to commands.
std::string escape_shell(std::string_view text);
std::string encode_base64(std::string_view text);
// Stops at the first character that is no base64 digit ('=' included).
std::string decode_base64(std::string_view text);

// Apache's four-character size ("  5 ", "1.0K", " 98K", " 11M").
std::string abbreviated_size(std::uint64_t size);
// Digits in groups of three ("1,234,567").
std::string grouped_size(std::uint64_t size);
// The default dialect's size: an exact count ("bytes") or abbreviated with one cut-off decimal
// and k or M.
std::u16string format_size(std::uint64_t size, size_format_t format);
