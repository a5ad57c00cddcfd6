#include "ssi/codecs.h"

#include "base/text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {
// A byte as the engine holds it: ASCII as itself, others as escaped bytes.
char16_t byte_char(unsigned value) { return widen_byte(static_cast<unsigned char>(value)); }

constexpr char base64_digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}  // namespace

std::u16string decode_entities(std::u16string_view text) {
    struct entity_t {
        std::u16string_view name;
        unsigned char value;
    };
    static constexpr entity_t entities[] = {
        {u"lt", 60},      {u"gt", 62},      {u"amp", 38},     {u"ETH", 208},    {u"eth", 240},    {u"quot", 34},
        {u"Auml", 196},   {u"Euml", 203},   {u"Iuml", 207},   {u"Ouml", 214},   {u"Uuml", 220},   {u"auml", 228},
        {u"euml", 235},   {u"iuml", 239},   {u"ouml", 246},   {u"uuml", 252},   {u"yuml", 255},   {u"Acirc", 194},
        {u"Aring", 197},  {u"AElig", 198},  {u"Ecirc", 202},  {u"Icirc", 206},  {u"Ocirc", 212},  {u"Ucirc", 219},
        {u"THORN", 222},  {u"szlig", 223},  {u"acirc", 226},  {u"aring", 229},  {u"aelig", 230},  {u"ecirc", 234},
        {u"icirc", 238},  {u"ocirc", 244},  {u"ucirc", 251},  {u"thorn", 254},  {u"Agrave", 192}, {u"Aacute", 193},
        {u"Atilde", 195}, {u"Ccedil", 199}, {u"Egrave", 200}, {u"Eacute", 201}, {u"Igrave", 204}, {u"Iacute", 205},
        {u"Ntilde", 209}, {u"Ograve", 210}, {u"Oacute", 211}, {u"Otilde", 213}, {u"Oslash", 216}, {u"Ugrave", 217},
        {u"Uacute", 218}, {u"Yacute", 221}, {u"agrave", 224}, {u"aacute", 225}, {u"atilde", 227}, {u"ccedil", 231},
        {u"egrave", 232}, {u"eacute", 233}, {u"igrave", 236}, {u"iacute", 237}, {u"ntilde", 241}, {u"ograve", 242},
        {u"oacute", 243}, {u"otilde", 245}, {u"oslash", 248}, {u"ugrave", 249}, {u"uacute", 250}, {u"yacute", 253},
    };
    std::u16string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t end = text[i] == u'&' ? text.find(u';', i + 1) : std::u16string_view::npos;
        if (end == std::u16string_view::npos) {
            result.push_back(text[i]);
            continue;
        }
        const std::u16string_view body = text.substr(i + 1, end - i - 1);
        if (!body.empty() && body[0] == u'#') {
            unsigned value = 0;
            std::size_t j = 1;
            for (; j < body.size() && body[j] >= u'0' && body[j] <= u'9' && value < 1000; ++j)
                value = value * 10 + (body[j] - u'0');
            const bool unused = j < body.size() || value <= 8 || (value >= 11 && value <= 31) ||
                                (value >= 127 && value <= 160) || value >= 256;
            if (!unused) result.push_back(byte_char(value));
            i = end;
            continue;
        }
        bool found = false;
        for (const entity_t& entity : entities) {
            if (entity.name == body) {
                result.push_back(byte_char(entity.value));
                i = end;
                found = true;
                break;
            }
        }
        if (!found) result.push_back(u'&');
    }
    return result;
}

std::string escape_url(std::string_view text, bool form) {
    constexpr char hex[] = "0123456789abcdef";
    const std::string_view kept = form ? ".-*_" : "$-_.+!*'(),:;@&=/~";
    std::string result;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 128 && std::isalnum(byte)) || kept.find(c) != std::string_view::npos) {
            result.push_back(c);
        } else if (form && c == ' ') {
            result.push_back('+');
        } else {
            result.push_back('%');
            result.push_back(hex[byte >> 4]);
            result.push_back(hex[byte & 15]);
        }
    }
    return result;
}

bool unescape_url(std::string& text, bool form) {
    std::string result;
    const bool valid = append_percent_decoded(result, text, form);
    text = std::move(result);
    return valid;
}

std::string escape_shell(std::string_view text) {
    std::string result;
    for (const char c : text) {
        if (std::string_view("&;`'\"|*?~<>^()[]{}$\\\n").find(c) != std::string_view::npos ||
            static_cast<unsigned char>(c) == 0xFF)
            result.push_back('\\');
        result.push_back(c);
    }
    return result;
}

std::string encode_base64(std::string_view text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, text.size() - i);  // bytes in this block
        std::uint32_t block = 0;
        for (std::size_t k = 0; k < 3; ++k)
            block = (block << 8u) | (k < count ? static_cast<unsigned char>(text[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            result.push_back(k <= count ? base64_digits[(block >> (18 - 6 * k)) & 63] : '=');
    }
    return result;
}

std::string decode_base64(std::string_view text) {
    std::string result;
    std::uint32_t block = 0;
    int bits = 0;
    for (const char c : text) {
        const char* digit = c == '\0' ? nullptr : std::strchr(base64_digits, c);
        if (digit == nullptr) break;
        block = (block << 6u) | static_cast<std::uint32_t>(digit - base64_digits);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            result.push_back(static_cast<char>((block >> bits) & 0xFF));
        }
    }
    return result;
}

std::string abbreviated_size(std::uint64_t size) {
    char text[16];
    if (size < 973) {
        std::snprintf(text, sizeof text, "%3d ", static_cast<int>(size));
        return text;
    }
    for (const char* unit = "KMGTPE";; ++unit) {
        std::uint64_t remain = size & 1023;
        size >>= 10;
        if (size >= 973 && unit[1] != '\0') continue;
        if (size < 9 || (size == 9 && remain < 973)) {
            remain = (remain * 5 + 256) / 512;
            if (remain >= 10) ++size, remain = 0;
            std::snprintf(text, sizeof text, "%d.%d%c", static_cast<int>(size), static_cast<int>(remain), *unit);
        } else {
            if (remain >= 512) ++size;
            std::snprintf(text, sizeof text, "%3d%c", static_cast<int>(size), *unit);
        }
        return text;
    }
}

std::string grouped_size(std::uint64_t size) {
    const std::string digits = to_decimal(size);
    std::string result;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) result.push_back(',');
        result.push_back(digits[i]);
    }
    return result;
}

std::u16string format_size(std::uint64_t size, size_format_t format) {
    if (format == size_format_t::bytes) return to_decimal_w(size);
    constexpr std::uint64_t kilo = 1024, mega = 1024 * 1024;
    // One decimal, cut off rather than rounded, below 100 of the unit.
    const auto abbreviate = [size](std::uint64_t unit, char16_t suffix) {
        std::u16string text = to_decimal_w(size / unit);
        if (size < 100 * unit) {
            text.push_back(u'.');
            text.push_back(static_cast<char16_t>(u'0' + (size * 10 / unit) % 10));
        }
        text.push_back(suffix);
        return text;
    };
    return size < mega ? abbreviate(kilo, u'k') : abbreviate(mega, u'M');
}
