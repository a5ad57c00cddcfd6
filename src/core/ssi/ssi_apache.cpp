#include "ssi/ssi_parser.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "ssi/apache_document.h"
#include "ssi/apache_expression.h"
#include "ssi/document_output.h"
#include "ssi/preferences.h"
#include "version.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>

// The Apache dialect: what Apache httpd's mod_include does for a page served from the virtual
// root with includes but no exec, the page's URL being its path under the root. Where Apache's
// behaviour is odd (flow control after a bad expression, encodings, formats), pages rely on
// it, so it is kept.

namespace {
constexpr std::u16string_view apache_time_format = u"%A, %d-%b-%Y %H:%M:%S %Z";

std::u16string upper(std::u16string_view text) {
    std::u16string result(text);
    for (char16_t& c : result)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    return result;
}

std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string folder_of(const std::string& url) { return url.substr(0, url.rfind('/') + 1); }

// A byte as the engine holds it: ASCII as itself, others as escaped bytes.
char16_t byte_char(unsigned value) { return widen_byte(static_cast<unsigned char>(value)); }

// Character and entity references in file names and variable names, as Apache decodes them:
// the named entities of Latin-1 and numeric ones below 256; a numeric reference to an unused
// character is dropped, an unknown name left as it is.
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

std::string escape_html(std::string_view text) {
    std::string result;
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

// Apache's escape of a path (echo encoding="url"): all but letters, digits and $-_.+!*'(),:;@&=/~
// as lower-case %xx; with form set, as a form value (space as '+', fewer characters kept).
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

// %xx escapes decoded (with form set, '+' too); false when an escape is malformed, which is
// then kept as it stands.
bool unescape_url(std::string& text, bool form) {
    std::string result;
    const bool valid = append_percent_decoded(result, text, form);
    text = std::move(result);
    return valid;
}

// QUERY_STRING_UNESCAPED: shell metacharacters get a backslash, as Apache gives them to commands.
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

constexpr char base64_digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

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

// Apache's four-character size ("  5 ", "1.0K", " 98K", " 11M").
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

// Apache refuses to include a file whose MIME type is not text/* (it could be a program).
// These are the common such types' extensions, as Debian's mime.types gives them.
bool is_non_text_type(const std::string& name) {
    static constexpr std::string_view extensions[] = {
        "7z",   "atom", "avi",  "bin",  "bmp",  "bz2",  "class", "dll",  "dmg", "doc",   "docx", "eot",
        "eps",  "epub", "exe",  "flac", "gif",  "gz",   "ico",   "iso",  "jar", "jpeg",  "jpg",  "json",
        "m4a",  "mov",  "mp3",  "mp4",  "mpeg", "mpg",  "odp",   "ods",  "odt", "oga",   "ogg",  "ogv",
        "otf",  "pdf",  "png",  "ppt",  "pptx", "ps",   "rar",   "rss",  "rtf", "svg",   "swf",  "tar",
        "tgz",  "tif",  "tiff", "ttf",  "wasm", "wav",  "webm",  "webp", "woff", "woff2", "xhtml", "xls",
        "xlsx", "xml",  "xz",   "zip"};
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string extension = name.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return std::binary_search(std::begin(extensions), std::end(extensions), extension);
}

// Folds "." and ".." out of a path of '/'-separated parts; nullopt when ".." climbs above its start.
std::optional<std::string> normalized(std::string_view path) {
    std::vector<std::string_view> parts;
    for (std::size_t from = 0; from <= path.size();) {
        const std::size_t slash = std::min(path.find('/', from), path.size());
        const std::string_view part = path.substr(from, slash - from);
        if (part == "..") {
            if (parts.empty()) return std::nullopt;
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        from = slash + 1;
    }
    std::string result;
    for (const std::string_view part : parts) (result += '/') += part;
    if (!path.empty() && path.back() == '/' && !result.empty()) result += '/';
    return result;
}
}  // namespace

struct SSIParser::apache_target_t {
    std::string path;
    std::optional<std::string> url;
    std::optional<std::string> query;
};

void SSIParser::start_apache(bool top_level) {
    apache_ = std::make_unique<apache_document_t>();
    time_format_ = apache_time_format;
    if (!top_level) return;
    state_->shared_time_format = apache_time_format;
    // The page's URL is its path under the virtual root (or else the site's folder).
    std::string url = "/" + base_name(path_);
    for (const std::string_view folder : {std::string_view(preferences_->virtual_root), state_->site_folder}) {
        if (!folder.empty() && path_.size() > folder.size() && path_.starts_with(folder) && path_[folder.size()] == '/') {
            url = normalized(path_.substr(folder.size())).value_or(url);
            break;
        }
    }
    apache_->url = url;
    apache_assign(u"DOCUMENT_NAME", to_wide(base_name(path_)));
    apache_assign(u"DOCUMENT_URI", to_wide(url));
    apache_assign(u"DOCUMENT_ARGS", u"");
    apache_assign(u"QUERY_STRING", u"");
    apache_assign(u"SERVER_SOFTWARE", to_wide(orrinfold::product_name));
}

void SSIParser::finish_apache() {
    if (apache_->open_ifs.empty()) return;
    directive_offset_ = apache_->open_ifs.back();
    report(severity_t::error, "'if' without 'endif' before the end of the document");
}

const std::u16string& SSIParser::apache_error_text() const { return apache_->error_text; }
bool SSIParser::apache_stalled() const { return apache_->stalled; }
void SSIParser::stall_apache() { apache_->stalled = true; }

void SSIParser::fail(const std::string& text) {
    report(severity_t::error, text);
    write(apache_->error_text);
    raise(ssi_command_exception{});
}

std::optional<std::u16string> SSIParser::apache_variable(std::u16string_view name) {
    if (name.size() == 1 && name[0] >= u'0' && name[0] <= u'9') {
        const auto& captures = apache_->captures;
        if (!captures) return std::nullopt;
        const std::optional<std::string> group = captures->echoed(static_cast<std::size_t>(name[0] - u'0'));
        return group ? std::optional(to_wide(*group)) : std::nullopt;
    }
    const std::u16string key = upper(name);
    if (const auto found = state_->variables.find(key); found != state_->variables.end()) return found->second;
    // Worked out when first asked for, as Apache does, in the last time format configured.
    const std::u16string& format = state_->shared_time_format;
    if (key == u"DATE_LOCAL" || key == u"DATE_GMT") uses_time();
    if (key == u"DATE_LOCAL") return format_time(format, local_time(current_time()), true);
    if (key == u"DATE_GMT") return format_time(format, universal_time(current_time()), true);
    if (key == u"LAST_MODIFIED" && state_->last_modified) return format_time(format, state_->last_modified, true);
    if (key == u"USER_NAME") {
        const SSIParser* page = this;
        while (page->parent_ != nullptr) page = page->parent_;
        return to_wide(page->path_.empty() ? std::string("<unknown>") : owner_name(page->path_));
    }
    return std::nullopt;
}

bool SSIParser::apache_assign(std::u16string_view name, const std::u16string& value) {
    return assign_variable(upper(name), value);
}

std::u16string SSIParser::apache_expand(std::u16string_view value) {
    std::u16string result;
    result.reserve(value.size());
    for (std::size_t i = 0; i < value.size();) {
        const char16_t c = value[i];
        if (c == u'\\') {
            const bool dollar = i + 1 < value.size() && value[i + 1] == u'$';
            result.push_back(dollar ? u'$' : u'\\');
            i += dollar ? 2 : 1;
        } else if (c != u'$') {
            result.push_back(c);
            ++i;
        } else if (i + 1 < value.size() && value[i + 1] == u'{') {
            const std::size_t close = value.find(u'}', i + 2);
            if (close == std::u16string_view::npos) {
                report(severity_t::error, "Missing '}' on variable \"" + to_narrow(value.substr(i)) + "\"");
                break;  // the rest of the value is dropped
            }
            if (close == i + 2) {
                result.push_back(u'$');
                ++i;
            } else {
                result += apache_variable(value.substr(i + 2, close - i - 2)).value_or(u"");
                i = close + 1;
            }
        } else {
            std::size_t j = i + 1;
            while (j < value.size() && (value[j] == u'_' || (value[j] < 128 && std::isalnum(value[j])))) ++j;
            if (j == i + 1)
                result.push_back(u'$');
            else
                result += apache_variable(value.substr(i + 1, j - i - 1)).value_or(u"");
            i = std::max(j, i + 1);
        }
        if (result.size() > max_value_length) raise(value_too_long{});
    }
    return result;
}

SSIParser::apache_target_t SSIParser::apache_target(const Argument& argument) {
    std::string value;
    try {
        value = to_narrow(apache_expand(decode_entities(*argument.value)));
    } catch (const value_too_long&) {
        fail("Path of '" + to_narrow(argument.name) + "' is longer than " + std::to_string(max_value_length) +
             " characters");
    }
    apache_target_t target;
    if (argument.name == u"file") {
        // Only the document's own folder and below, as Apache allows.
        const std::optional<std::string> relative = value.starts_with('/') ? std::nullopt : normalized(value);
        if (!relative || relative->empty()) fail("Unable to access file \"" + value + "\": only paths below the document's folder are allowed");
        target.path = directory_ + *relative;
        if (apache_->url && relative->rfind('/') == 0) target.url = folder_of(*apache_->url) + relative->substr(1);
        return target;
    }
    if (const std::size_t question = value.find('?'); question != std::string::npos) {
        target.query = value.substr(question + 1);
        value.resize(question);
    }
    if (!unescape_url(value, false) || value.find('\0') != std::string::npos)
        fail("Unable to include \"" + value + "\": bad escape in the URL");
    if (!value.starts_with('/')) {
        if (!apache_->url)
            fail("Unable to include \"" + value + "\": a document included by file= from another folder has no URL "
                 "that relative paths could start from");
        value = folder_of(*apache_->url) + value;
    }
    target.url = normalized(value);
    if (!target.url) fail("Unable to include \"" + value + "\": the path leads above the virtual root");
    const std::string& root = preferences_->virtual_root;
    target.path = (root.empty() ? directory_ : root) + *target.url;
    return target;
}

void SSIParser::do_apache_include(SSIParser& parser, const Command& command) {
    if (command.list.empty()) parser.fail("Missing argument for 'include'");
    for (const Argument& argument : command.list) {
        if (!argument.value) break;
        if (argument.name != u"virtual" && argument.name != u"file")
            parser.fail("Unknown parameter '" + to_narrow(argument.name) + "' in command 'include'");
        const apache_target_t target = parser.apache_target(argument);
        std::optional<SSIParser> child;
        try {
            parser.require_readable(target.path);
            const file_status_t status = stat_path(target.path);
            parser.depends_on(target.path, status);
            if (status.kind == file_kind_t::directory)
                raise(std::runtime_error(target.path + ": Is a directory"));
            if (is_non_text_type(base_name(target.path)))
                raise(std::runtime_error(target.path + ": not included, its type is not text (as in Apache)"));
            const auto& parses = parser.preferences_->parses_include;
            if (parses && !parses(base_name(target.path))) {
                // Included as it stands, byte for byte, as Apache does with what it does not parse.
                File file(target.path, File::access_t::read);
                unsigned char chunk[64 * 1024];
                for (std::size_t got; (got = file.read(chunk, sizeof chunk)) > 0;) parser.output_->write(chunk, got);
                continue;
            }
            if (target.query) {
                std::string unescaped = *target.query;
                unescape_url(unescaped, false);
                parser.apache_assign(u"QUERY_STRING", to_wide(*target.query));
                parser.apache_assign(u"QUERY_STRING_UNESCAPED", to_wide(escape_shell(unescaped)));
            }
            child.emplace(target.path, *parser.output_, *parser.preferences_, *parser.state_, *parser.log_);
        } catch (const std::runtime_error& e) {
            parser.fail(e.what());
        }
        child->parent_ = &parser;
        child->apache_->url = target.url;
        child->process();
    }
}

// Apache's value encodings, for echo and set; nullopt for an unknown name.
static std::optional<std::string> encoded(const std::string& text, const std::u16string& encoding) {
    if (encoding == u"NONE") return text;
    if (encoding == u"ENTITY") return escape_html(text);
    if (encoding == u"URL" || encoding == u"URLENCODED") return escape_url(text, encoding == u"URLENCODED");
    if (encoding == u"BASE64") return encode_base64(text);
    return std::nullopt;
}

void SSIParser::do_apache_echo(SSIParser& parser, const Command& command) {
    if (command.list.empty()) parser.fail("Missing argument for 'echo'");
    // An encoding holds for every var after it; an unknown one fails only when a value is shown.
    std::u16string encoding = u"ENTITY";
    for (const Argument& argument : command.list) {
        if (!argument.value) break;
        const std::u16string value = decode_entities(*argument.value);
        if (argument.name == u"var") {
            const std::optional<std::u16string> found = parser.apache_variable(parser.apache_expand(value));
            if (!found) {
                parser.write(parser.apache_->echo_text);
                continue;
            }
            const std::optional<std::string> text = encoded(to_narrow(*found), upper(encoding));
            if (!text) parser.fail("Unknown value '" + to_narrow(encoding) + "' of 'encoding' in command 'echo'");
            parser.write(to_wide(*text));
        } else if (argument.name == u"encoding") {
            encoding = value;
        } else {
            parser.fail("Unknown parameter '" + to_narrow(argument.name) + "' in command 'echo'");
        }
    }
}

void SSIParser::do_apache_set(SSIParser& parser, const Command& command) {
    if (command.list.size() < 2) parser.fail("Missing argument for 'set'");
    std::optional<std::u16string> name;
    std::u16string decoding = u"NONE", encoding = u"NONE";
    const auto known = [](const std::u16string& coding) {
        return coding == u"NONE" || coding == u"URL" || coding == u"URLENCODED" || coding == u"BASE64" ||
               coding == u"ENTITY";
    };
    for (const Argument& argument : command.list) {
        if (!argument.value) break;
        if (argument.name == u"var") {
            name = parser.apache_expand(decode_entities(*argument.value));
        } else if (argument.name == u"decoding" || argument.name == u"encoding") {
            std::u16string& coding = argument.name == u"decoding" ? decoding : encoding;
            coding = upper(decode_entities(*argument.value));
            if (!known(coding))
                parser.fail("Unknown value '" + to_narrow(*argument.value) + "' of '" + to_narrow(argument.name) +
                            "' in command 'set'");
        } else if (argument.name == u"value") {
            if (!name) parser.fail("'var' must come before 'value' in command 'set'");
            std::string value = to_narrow(parser.apache_expand(*argument.value));
            if (decoding == u"URL" || decoding == u"URLENCODED")
                unescape_url(value, decoding == u"URLENCODED");
            else if (decoding == u"BASE64")
                value = decode_base64(value);
            else if (decoding == u"ENTITY")
                value = to_narrow(decode_entities(to_wide(value)));
            value = *encoded(value, encoding);
            if (!parser.apache_assign(*name, to_wide(value)))
                parser.fail("Variables would hold more than " + std::to_string(max_variables_length) +
                            " characters in all; 'set' dropped");
        } else {
            parser.fail("Unknown parameter '" + to_narrow(argument.name) + "' in command 'set'");
        }
    }
}

void SSIParser::do_apache_config(SSIParser& parser, const Command& command) {
    if (command.list.empty()) parser.fail("Missing argument for 'config'");
    apache_document_t& document = *parser.apache_;
    for (const Argument& argument : command.list) {
        if (!argument.value) break;
        const std::u16string value = parser.apache_expand(*argument.value);
        if (argument.name == u"errmsg") {
            document.error_text = value;
        } else if (argument.name == u"echomsg") {
            document.echo_text = value;
        } else if (argument.name == u"timefmt") {
            parser.time_format_ = value;
            parser.state_->shared_time_format = value;
        } else if (argument.name == u"sizefmt") {
            const std::u16string format = decode_entities(value);
            if (format == u"bytes")
                parser.size_format_ = size_format_t::bytes;
            else if (format == u"abbrev")
                parser.size_format_ = size_format_t::abbrev;
            else
                parser.fail("Unknown value '" + to_narrow(format) + "' of 'sizefmt' in command 'config'");
        } else {
            parser.fail("Unknown parameter '" + to_narrow(argument.name) + "' in command 'config'");
        }
    }
}

// fsize and flastmod: one handler, told apart by the directive's name.
void SSIParser::do_apache_file_info(SSIParser& parser, const Command& command) {
    const bool size = command.name == u"fsize";
    const std::string name = size ? "fsize" : "flastmod";
    if (command.list.empty()) parser.fail("Missing argument for '" + name + "'");
    for (const Argument& argument : command.list) {
        if (!argument.value) break;
        if (argument.name != u"virtual" && argument.name != u"file")
            parser.fail("Unknown parameter '" + to_narrow(argument.name) + "' in command '" + name + "'");
        const apache_target_t target = parser.apache_target(argument);
        file_status_t status;
        try {
            parser.require_readable(target.path);
            status = stat_path(target.path);
            parser.depends_on(target.path, status);
        } catch (const std::runtime_error& e) {
            parser.fail(e.what());
        }
        if (!size)
            parser.write(format_time(parser.time_format_, local_time(status.modified), true));
        else
            parser.write(to_wide(parser.size_format_ == size_format_t::bytes ? grouped_size(status.size)
                                                                            : abbreviated_size(status.size)));
    }
}

void SSIParser::do_apache_printenv(SSIParser& parser, const Command& command) {
    if (!command.list.empty()) parser.fail("'printenv' takes no arguments");
    variables_t shown = parser.state_->variables;
    for (const std::u16string_view lazy : {u"DATE_LOCAL", u"DATE_GMT", u"LAST_MODIFIED", u"USER_NAME"})
        if (const auto value = parser.apache_variable(lazy)) shown.try_emplace(std::u16string(lazy), *value);
    for (const auto& [name, value] : shown)
        parser.write(to_wide(escape_html(to_narrow(name)) + "=" + escape_html(to_narrow(value)) + "\n"));
}

void SSIParser::do_apache_comment(SSIParser&, const Command&) {}

void SSIParser::do_apache_exec(SSIParser& parser, const Command&) {
    parser.fail("'exec' is not supported: a static conversion never runs commands");
}

void SSIParser::apache_branch_error(const std::string& text) {
    report(severity_t::error, text);
    write(apache_->error_text);
    // As Apache does: the branch is not taken, a later elif may still be, and the next else
    // does not switch the output.
    printing_ = false;
    apache_->taken = false;
    apache_->else_ignored = true;
    raise(ssi_command_exception{});
}

// The expr argument of if or elif; a missing or extra argument fails the branch.
const SSIParser::Argument& SSIParser::apache_expression(const Command& command, const char* directive) {
    const std::string name = directive;
    if (command.list.size() != 1)
        apache_branch_error((command.list.empty() ? "Missing 'expr' argument for '" : "Too many arguments for '") +
                            name + "'");
    const Argument& argument = command.list.front();
    if (argument.name != u"expr")
        apache_branch_error("Unknown parameter '" + to_narrow(argument.name) + "' in command '" + name + "'");
    if (!argument.value) apache_branch_error("Missing value of 'expr' in command '" + name + "'");
    return argument;
}

// Takes the branch or not; a malformed expression fails it.
void SSIParser::apache_branch(const Argument& expression) {
    expression_host_t host;
    host.expand = [this](std::string_view text) { return to_narrow(apache_expand(to_wide(text))); };
    host.warn = [this](const std::string& text) { report(severity_t::error, text); };
    host.captures = &apache_->captures;
    host.server_variable = [this](const std::string& name) { return apache_server_variable(name); };
    std::string error;
    const std::string text = to_narrow(*expression.value);
    std::optional<bool> value;
    try {
        value = preferences_->ap_expressions ? evaluate_ap_expression(text, host, error)
                                             : evaluate_legacy_expression(text, host, error);
    } catch (const value_too_long&) {
        error = "A value in the expression would be longer than " + std::to_string(max_value_length) + " characters";
    }
    if (!value) apache_branch_error(error);
    printing_ = apache_->taken = *value;
}

// The request variables of the newer syntax that a static page has: those of a plain GET of it.
std::optional<std::string> SSIParser::apache_server_variable(const std::string& name) {
    if (name == "REQUEST_URI" || name == "DOCUMENT_URI")
        return to_narrow(apache_variable(u"DOCUMENT_URI").value_or(u""));
    if (name == "QUERY_STRING" || name == "PATH_INFO") return std::string();
    if (name == "REQUEST_METHOD") return std::string("GET");
    if (name == "REQUEST_SCHEME") return std::string("http");
    if (name == "HTTPS") return std::string("off");
    if (name == "IS_SUBREQ") return std::string(parent_ != nullptr ? "true" : "false");
    if (name == "SERVER_SOFTWARE") return std::string(orrinfold::product_name);
    return std::nullopt;
}

void SSIParser::do_apache_if(SSIParser& parser, const Command& command) {
    apache_document_t& document = *parser.apache_;
    document.open_ifs.push_back(parser.directive_offset_);
    if (!parser.printing_) {
        ++document.skipped_ifs;
        return;
    }
    parser.apache_branch(parser.apache_expression(command, "if"));
    document.skipped_ifs = 0;
}

void SSIParser::do_apache_elif(SSIParser& parser, const Command& command) {
    apache_document_t& document = *parser.apache_;
    if (document.open_ifs.empty()) parser.report(severity_t::error, "'elif' without 'if'");
    if (document.skipped_ifs > 0) return;
    const Argument& expression = parser.apache_expression(command, "elif");
    if (document.taken)
        parser.printing_ = false;
    else
        parser.apache_branch(expression);
}

void SSIParser::do_apache_else(SSIParser& parser, const Command& command) {
    apache_document_t& document = *parser.apache_;
    if (document.open_ifs.empty()) parser.report(severity_t::error, "'else' without 'if'");
    if (document.skipped_ifs > 0) return;
    if (!command.list.empty()) {
        parser.report(severity_t::error, "'else' takes no arguments");
        if (parser.printing_) parser.write(document.error_text);
        return;
    }
    if (document.else_ignored) {
        document.else_ignored = false;
        return;
    }
    parser.printing_ = !document.taken;
    document.taken = true;
}

void SSIParser::do_apache_endif(SSIParser& parser, const Command& command) {
    apache_document_t& document = *parser.apache_;
    if (document.open_ifs.empty())
        parser.report(severity_t::error, "'endif' without 'if'");
    else
        document.open_ifs.pop_back();
    if (document.skipped_ifs > 0) {
        --document.skipped_ifs;
        return;
    }
    if (!command.list.empty()) parser.fail("'endif' takes no arguments");
    parser.printing_ = document.taken = true;
    document.else_ignored = false;
}
