#include "base/text.h"

#include <algorithm>

namespace {
constexpr bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }
constexpr bool is_high_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool is_low_surrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
constexpr bool is_escaped_byte(char32_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

void append_utf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}


// Decodes UTF-8 into UTF-16, handing each byte of an invalid sequence to on_invalid.
template <class OnInvalid>
std::u16string decode(std::string_view s, OnInvalid on_invalid) {
    // Most text is ASCII: its start is widened unit by unit, the rest decoded.
    std::size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
    std::u16string out(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(i));
    if (i == s.size()) return out;
    out.reserve(s.size());
    while (i < s.size()) {
        char32_t c;
        if (std::size_t n = decode_utf8(s, i, c); n != 0) {
            append_utf16(out, c);
            i += n;
        } else {
            on_invalid(out, static_cast<unsigned char>(s[i]));
            ++i;
        }
    }
    return out;
}
}  // namespace

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::size_t decode_utf8(std::string_view s, std::size_t pos, char32_t& code_point) noexcept {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    if (b0 < 0x80) {
        code_point = b0;
        return 1;
    }
    std::size_t length;
    char32_t c, min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, c = b0 & 0x1Fu, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, c = b0 & 0x0Fu, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, c = b0 & 0x07u, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() - pos < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(s[pos + k]);
        if (!is_continuation(b)) return 0;
        c = (c << 6) | (b & 0x3Fu);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    code_point = c;
    return length;
}

std::u16string to_wide(std::string_view narrow) {
    return decode(narrow, [](std::u16string& out, unsigned char b) { out.push_back(widen_byte(b)); });
}

std::string to_narrow(std::u16string_view wide) {
    // Most text is ASCII: its start is narrowed unit by unit, the rest encoded.
    std::size_t i = 0;
    while (i < wide.size() && wide[i] < 0x80) ++i;
    std::string out(i, '\0');
    std::transform(wide.begin(), wide.begin() + static_cast<std::ptrdiff_t>(i), out.begin(),
                   [](char16_t unit) { return static_cast<char>(unit); });
    if (i == wide.size()) return out;
    out.reserve(wide.size());
    for (; i < wide.size(); ++i) {
        const char32_t c = wide[i];
        if (is_high_surrogate(c) && i + 1 < wide.size() && is_low_surrogate(wide[i + 1])) {
            append_utf8(out, 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00u));
            ++i;
        } else if (is_escaped_byte(c)) {
            out.push_back(static_cast<char>(c - 0xDC00));
        } else if (is_high_surrogate(c) || is_low_surrogate(c)) {
            out.push_back('?');
        } else {
            append_utf8(out, c);
        }
    }
    return out;
}

std::u16string decode_escaped_bytes(std::u16string_view wide) {
    std::u16string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size();) {
        if (is_high_surrogate(wide[i]) && i + 1 < wide.size() && is_low_surrogate(wide[i + 1])) {
            out.append(wide.substr(i, 2));
            i += 2;
        } else if (is_escaped_byte(wide[i])) {
            std::string bytes;
            for (; i < wide.size() && is_escaped_byte(wide[i]); ++i)
                bytes.push_back(static_cast<char>(wide[i] - 0xDC00));
            out += decode(bytes, [](std::u16string& o, unsigned char) { o.push_back(u'\xFFFD'); });
        } else {
            out.push_back(wide[i++]);
        }
    }
    return out;
}

std::string to_decimal(std::uint64_t value) {
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

std::u16string to_decimal_w(std::uint64_t value) {
    const std::string digits = to_decimal(value);
    return {digits.begin(), digits.end()};
}

int hex_digit_value(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool append_percent_decoded(std::string& out, std::string_view text, bool form) {
    bool valid = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex_digit_value(text[i + 1]) >= 0 &&
            hex_digit_value(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex_digit_value(text[i + 1]) * 16 + hex_digit_value(text[i + 2])));
            i += 2;
        } else {
            valid = valid && text[i] != '%';
            out.push_back(form && text[i] == '+' ? ' ' : text[i]);
        }
    }
    return valid;
}

std::u16string to_ascii_upper(std::u16string_view text) {
    std::u16string result(text);
    for (char16_t& c : result) c = ascii_upper(c);
    return result;
}

bool equals_folded(std::string_view text, std::string_view lower) noexcept {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (ascii_lower(text[i]) != lower[i]) return false;
    return true;
}

bool ends_with_folded(std::string_view text, std::string_view lower_suffix) noexcept {
    return text.size() >= lower_suffix.size() && equals_folded(text.substr(text.size() - lower_suffix.size()), lower_suffix);
}

bool equals_ignoring_case(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

std::string escape_html(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '<': result += "&lt;"; break;
        case '>': result += "&gt;"; break;
        case '&': result += "&amp;"; break;
        case '"': result += "&quot;"; break;
        default: result.push_back(c);
        }
    }
    return result;
}

std::string_view base_name(std::string_view path) noexcept {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view folder_of(std::string_view path) noexcept {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

bool fold_dot_segments(std::string& path) {
    std::size_t out = 0;
    for (std::size_t from = 0; from <= path.size();) {
        const std::size_t slash = std::min(path.find('/', from), path.size());
        const std::size_t length = slash - from;
        if (length == 2 && path[from] == '.' && path[from + 1] == '.') {
            if (out == 0) return false;
            const std::size_t previous = path.rfind('/', out - 1);
            out = previous == std::string::npos ? 0 : previous;
        } else if (length > 0 && !(length == 1 && path[from] == '.')) {
            if (out > 0) path[out++] = '/';
            std::copy(path.begin() + static_cast<std::ptrdiff_t>(from), path.begin() + static_cast<std::ptrdiff_t>(slash),
                      path.begin() + static_cast<std::ptrdiff_t>(out));
            out += length;
        }
        from = slash + 1;
    }
    path.resize(out);
    return true;
}
