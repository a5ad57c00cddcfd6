#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Narrow strings hold UTF-8 (paths, masks, log lines); wide strings hold UTF-16 code units
// (everything inside the SSI engine). Bytes that are not valid UTF-8 travel through wide text
// as the lone low surrogates U+DC80..U+DCFF, so narrow -> wide -> narrow never loses a byte.

// Length of the valid UTF-8 sequence starting at s[pos] with its code point, or 0 if the byte
// there does not start one (overlong forms, encoded surrogates and values past U+10FFFF are invalid).
std::size_t decode_utf8(std::string_view s, std::size_t pos, char32_t& code_point) noexcept;

std::u16string to_wide(std::string_view narrow);
// Appends a code point as UTF-8 (surrogates too, as the three bytes that would encode them).
void append_utf8(std::string& out, char32_t code_point);
std::string to_narrow(std::u16string_view wide);

// How an 8-bit document's byte becomes an engine character: the exact reverse of to_narrow.
constexpr char16_t widen_byte(unsigned char b) noexcept {
    return b < 0x80 ? char16_t{b} : static_cast<char16_t>(0xDC00 + b);
}

// Text bound for a UTF-16 document: runs of escaped bytes are decoded as UTF-8 (invalid bytes
// become U+FFFD), so a value taken from a UTF-8 document reads right in a UTF-16 one.
std::u16string decode_escaped_bytes(std::u16string_view wide);

// The value of a hexadecimal digit, or -1.
int hex_digit_value(char c) noexcept;
// Appends text with its %xx escapes decoded (with form, a '+' as a space too); false when a
// '%' starts no valid escape (it is then kept as it stands).
bool append_percent_decoded(std::string& out, std::string_view text, bool form = false);

// ASCII letters only, whatever the character type: names in markup, directives, masks and
// variables are ASCII, and the C library's tolower would follow the locale.
template <class C>
constexpr bool is_ascii_alpha(C c) noexcept {
    return (c >= C('a') && c <= C('z')) || (c >= C('A') && c <= C('Z'));
}
template <class C>
constexpr C ascii_lower(C c) noexcept {
    return c >= C('A') && c <= C('Z') ? static_cast<C>(c + 32) : c;
}
template <class C>
constexpr C ascii_upper(C c) noexcept {
    return c >= C('a') && c <= C('z') ? static_cast<C>(c - 32) : c;
}
std::u16string to_ascii_upper(std::u16string_view text);
// Whether text, with its ASCII letters in lower case, is lower (which is already in lower case).
bool equals_folded(std::string_view text, std::string_view lower) noexcept;
bool ends_with_folded(std::string_view text, std::string_view lower_suffix) noexcept;
// Whether a and b are the same with the ASCII letters of both folded.
bool equals_ignoring_case(std::string_view a, std::string_view b) noexcept;

// &, <, > and " as character references, for text put into HTML (also inside attributes).
std::string escape_html(std::string_view text);

// The last part of a "/"-separated path, and what comes before it with its "/" (empty for a
// path with none).
std::string_view base_name(std::string_view path) noexcept;
std::string_view folder_of(std::string_view path) noexcept;

// Folds "." and ".." segments and empty ones out of a "/"-separated path, in place; the result
// has no leading or trailing "/". False when ".." climbs above the start.
bool fold_dot_segments(std::string& path);

std::string to_decimal(std::uint64_t value);
std::u16string to_decimal_w(std::uint64_t value);

// The first occurrence of needle's bytes in data's, or nullptr: memmem, where the C library has
// it (it is a GNU and BSD extension), else a search for each candidate's first byte.
inline const void* find_bytes(const void* data, std::size_t size, const void* needle, std::size_t needle_size) noexcept {
#ifdef _WIN32
    if (needle_size == 0) return data;
    const auto* p = static_cast<const unsigned char*>(data);
    const auto* const end = p + size;
    const unsigned char first = *static_cast<const unsigned char*>(needle);
    while (static_cast<std::size_t>(end - p) >= needle_size) {
        p = static_cast<const unsigned char*>(std::memchr(p, first, static_cast<std::size_t>(end - p) - needle_size + 1));
        if (p == nullptr) return nullptr;
        if (std::memcmp(p, needle, needle_size) == 0) return p;
        ++p;
    }
    return nullptr;
#else
    return ::memmem(data, size, needle, needle_size);
#endif
}

// The same, found by looking for needle's byte at pivot with memchr and comparing the rest
// around each one: many times faster than a general search when that byte is rare in data
// (the "!" of "<!--#" in a web page), never wrong when it is not.
inline const void* find_bytes_around(const void* data, std::size_t size, const void* needle, std::size_t needle_size,
                                     std::size_t pivot) noexcept {
    if (pivot >= needle_size) return find_bytes(data, size, needle, needle_size);
    if (size < needle_size) return nullptr;
    const auto* const start = static_cast<const unsigned char*>(data);
    const auto* const wanted = static_cast<const unsigned char*>(needle);
    const std::size_t after = needle_size - pivot;  // the pivot byte and those after it
    const unsigned char* from = start + pivot;
    while (static_cast<std::size_t>(start + size - from) >= after) {
        const auto* hit = static_cast<const unsigned char*>(
            std::memchr(from, wanted[pivot], static_cast<std::size_t>(start + size - from) - after + 1));
        if (hit == nullptr) return nullptr;
        if (std::memcmp(hit - pivot, wanted, needle_size) == 0) return hit - pivot;
        from = hit + 1;
    }
    return nullptr;
}
