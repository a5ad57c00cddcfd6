#include "html/web_text.h"

#include "base/text.h"

std::optional<text_kind_t> web_text_kind(std::string_view name) {
    if (ends_with_folded(name, ".html") || ends_with_folded(name, ".htm")) return text_kind_t::html;
    if (ends_with_folded(name, ".css")) return text_kind_t::css;
    return std::nullopt;
}

std::string redirect_page(const std::string& target) {
    const std::string escaped = escape_html(target);
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<meta http-equiv=\"refresh\" content=\"0; url=" +
           escaped + "\">\n<link rel=\"canonical\" href=\"" + escaped + "\">\n<title>Moved</title></head>\n<body><p>This page has moved to <a href=\"" +
           escaped + "\">" + escaped + "</a>.</p></body></html>\n";
}

page_encoding_t page_encoding(std::string_view bytes) noexcept {
    if (bytes.starts_with("\xFF\xFE")) return page_encoding_t::utf16le;
    if (bytes.starts_with("\xFE\xFF")) return page_encoding_t::utf16be;
    return page_encoding_t::utf8;
}

namespace {
void append_unit(std::string& out, char32_t unit, page_encoding_t encoding) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    if (encoding == page_encoding_t::utf16be) {
        out.push_back(high);
        out.push_back(low);
    } else {
        out.push_back(low);
        out.push_back(high);
    }
}
}  // namespace

std::string utf16_page_text(std::string_view bytes, page_encoding_t encoding, bool& exact) {
    const bool big_endian = encoding == page_encoding_t::utf16be;
    const auto unit_at = [&](std::size_t i) -> char32_t {
        const auto first = static_cast<unsigned char>(bytes[i]), second = static_cast<unsigned char>(bytes[i + 1]);
        return big_endian ? char32_t(first) << 8 | second : char32_t(second) << 8 | first;
    };
    exact = true;
    std::string text;
    text.reserve(bytes.size() / 2);
    std::size_t i = 2;  // after the byte order mark
    for (; i + 1 < bytes.size(); i += 2) {
        char32_t c = unit_at(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size() && unit_at(i + 2) >= 0xDC00 && unit_at(i + 2) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit_at(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
            exact = false;
        }
        append_utf8(text, c);
    }
    if (i < bytes.size()) {
        append_utf8(text, 0xFFFD);
        exact = false;
    }
    return text;
}

std::string utf16_page_bytes(std::string_view text, page_encoding_t encoding) {
    std::string bytes;
    bytes.reserve(2 + text.size() * 2);
    append_unit(bytes, 0xFEFF, encoding);
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0xFFFD;
        const std::size_t length = decode_utf8(text, i, c);
        i += length == 0 ? 1 : length;
        if (length == 0) c = 0xFFFD;
        if (c < 0x10000) {
            append_unit(bytes, c, encoding);
        } else {
            append_unit(bytes, 0xD800 + ((c - 0x10000) >> 10), encoding);
            append_unit(bytes, 0xDC00 + ((c - 0x10000) & 0x3FF), encoding);
        }
    }
    return bytes;
}
