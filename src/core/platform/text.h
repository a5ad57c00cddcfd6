#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Narrow strings hold UTF-8 (paths, masks, log lines); wide strings hold UTF-16 code units
// (everything inside the SSI engine). Bytes that are not valid UTF-8 travel through wide text
// as the lone low surrogates U+DC80..U+DCFF, so narrow -> wide -> narrow never loses a byte.

// Length of the valid UTF-8 sequence starting at s[pos] with its code point, or 0 if the byte
// there does not start one (overlong forms, encoded surrogates and values past U+10FFFF are invalid).
std::size_t decode_utf8(std::string_view s, std::size_t pos, char32_t& code_point) noexcept;

std::u16string to_wide(std::string_view narrow);
std::string to_narrow(std::u16string_view wide);

// How an 8-bit document's byte becomes an engine character: the exact reverse of to_narrow.
constexpr char16_t widen_byte(unsigned char b) noexcept {
    return b < 0x80 ? char16_t{b} : static_cast<char16_t>(0xDC00 + b);
}

// Text bound for a UTF-16 document: runs of escaped bytes are decoded as UTF-8 (invalid bytes
// become U+FFFD), so a value taken from a UTF-8 document reads right in a UTF-16 one.
std::u16string decode_escaped_bytes(std::u16string_view wide);

std::string to_decimal(std::uint64_t value);
std::u16string to_decimal_w(std::uint64_t value);
