#include "serve/site_files.h"

#include "base/exceptions.h"
#include "base/text.h"
#include "html/links.h"
#include "platform/time_format.h"
#include "site/folder_settings.h"
#include "ssi/preferences.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <utility>

namespace {
bool equal_ascii_nocase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string extension_of(std::string_view name) {
    const std::size_t slash = name.rfind('/');
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
    return lower(name.substr(dot + 1));
}

// Splits a request path into its names; false when one of them could reach outside the
// folder or name something other than a plain file or folder below it.
bool split_plain(std::string_view path, std::vector<std::string>& names, bool& folder) {
    if (path.empty() || path.front() != '/') return false;
    if (path.find_first_of(std::string_view("\\:\0", 3)) != std::string_view::npos) return false;
    path.remove_prefix(1);
    folder = path.empty() || path.back() == '/';
    if (folder && !path.empty()) path.remove_suffix(1);
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view name = path.substr(0, slash);
        if (name.empty() || name == "." || name == "..") return false;
        names.emplace_back(name);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    return true;
}

// The status of a regular file or folder at path that lies within root once links are
// followed; nullopt for anything else.
std::optional<file_status_t> inside(const std::string& root, const std::string& path) {
    try {
        const std::optional<file_status_t> status = try_stat_path(path);
        if (!status || (status->kind != file_kind_t::regular && status->kind != file_kind_t::directory))
            return std::nullopt;
        if (!path_within(real_path(path), root)) return std::nullopt;
        return status;
    } catch (const std::exception&) {
        return std::nullopt;  // unreadable, or gone meanwhile
    }
}
}  // namespace

lookup_t look_up(const std::string& root, std::string_view url_path, const index_names_for_t& index_names) {
    lookup_t found;
    std::vector<std::string> names;
    bool folder = false;
    if (!split_plain(url_path, names, folder)) return found;
    std::string relative;
    for (const std::string& name : names) relative += (relative.empty() ? "" : "/") + name;
    const std::string path = relative.empty() ? root : root + "/" + relative;
    const std::optional<file_status_t> status = inside(root, path);
    if (!status) return found;
    if (status->kind == file_kind_t::regular) {
        if (folder) return found;  // "page.html/" names no folder
        return {lookup_t::kind_t::file, path, relative, *status, {}};
    }
    if (!folder) {
        found.kind = lookup_t::kind_t::redirect;
        found.location = encode_url_path(std::string(url_path) + "/");
        return found;
    }
    const std::vector<std::string> given = index_names ? index_names(relative) : std::vector<std::string>{};
    for (const std::string& below : index_places(relative, given, {"index.html", "index.htm", "index.shtml"})) {
        // Each place is looked up as a request for it would be.
        std::vector<std::string> parts;
        bool ends_with_slash = false;
        if (!split_plain("/" + below, parts, ends_with_slash) || ends_with_slash) continue;
        const std::string candidate = root + "/" + below;
        const std::optional<file_status_t> page = inside(root, candidate);
        if (page && page->kind == file_kind_t::regular) return {lookup_t::kind_t::file, candidate, below, *page, {}};
    }
    return found;
}

index_names_for_t directory_index(const std::string& source, const SSIDirectoryPreferences& preferences) {
    if (preferences.dialect != dialect_t::apache) return {};
    return [source, preferences](const std::string& folder) {
        std::vector<std::string> names;
        try {
            FolderSettings settings(source, preferences);
            for (const std::string& name : settings.index_names(folder)) {
                names.push_back(name);
                if (!preferences.rename_pages.empty() && name != "disabled") {
                    std::string renamed = renamed_name(name, preferences.rename_pages);
                    if (renamed != name) names.push_back(std::move(renamed));
                }
            }
        } catch (const std::exception&) {
            // A configuration that cannot be read: the run reports it; the usual names serve.
        }
        return names;
    };
}

std::string encode_url_path(std::string_view path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || std::string_view("-._~/").find(c) != std::string_view::npos) {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 15];
        }
    }
    return out;
}

bool is_page_name(std::string_view name, const std::vector<std::string>& more) {
    const std::string extension = extension_of(name);
    if (extension.empty()) return false;
    for (const char* page : {"html", "htm", "shtml", "shtm", "stm"})
        if (extension == page) return true;
    return std::any_of(more.begin(), more.end(),
                       [&](const std::string& other) { return equal_ascii_nocase(other, extension); });
}

std::string content_type(std::string_view name, bool page, std::string_view content) {
    if (page) {
        const std::string charset = page_charset(content);
        return charset.empty() ? "text/html" : "text/html; charset=" + charset;
    }
    static constexpr std::array<std::pair<const char*, const char*>, 24> types{{
        {"css", "text/css"},          {"js", "text/javascript"},       {"mjs", "text/javascript"},
        {"json", "application/json"}, {"txt", "text/plain"},           {"xml", "application/xml"},
        {"svg", "image/svg+xml"},     {"png", "image/png"},            {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},       {"gif", "image/gif"},            {"webp", "image/webp"},
        {"ico", "image/x-icon"},      {"avif", "image/avif"},          {"pdf", "application/pdf"},
        {"woff", "font/woff"},        {"woff2", "font/woff2"},         {"ttf", "font/ttf"},
        {"otf", "font/otf"},          {"mp4", "video/mp4"},            {"webm", "video/webm"},
        {"mp3", "audio/mpeg"},        {"zip", "application/zip"},      {"wasm", "application/wasm"},
    }};
    const std::string extension = extension_of(name);
    for (const auto& [known, type] : types) {
        if (extension != known) continue;
        const std::string_view text(type);
        if (text.starts_with("text/") || extension == "svg" || extension == "json")
            return std::string(type) + "; charset=utf-8";
        return type;
    }
    return "application/octet-stream";
}

namespace {
bool valid_utf8(std::string_view content) {
    char32_t code_point = 0;
    for (std::size_t pos = 0; pos < content.size();) {
        const std::size_t length = decode_utf8(content, pos, code_point);
        if (length == 0) return false;
        pos += length;
    }
    return true;
}

// The value of charset= in a page's first kilobytes (<meta charset="x"> and the http-equiv
// form both hold it), lower-cased; empty when none.
std::string declared_charset(std::string_view content) {
    const std::string head = lower(content.substr(0, 2048));
    for (std::size_t at = head.find("<meta"); at != std::string::npos; at = head.find("<meta", at + 1)) {
        const std::size_t end = head.find('>', at);
        const std::size_t name = head.find("charset=", at);
        if (name == std::string::npos || (end != std::string::npos && name > end)) continue;
        std::size_t pos = name + 8;
        while (pos < head.size() && (head[pos] == '"' || head[pos] == '\'' || head[pos] == ' ')) ++pos;
        std::size_t stop = pos;
        while (stop < head.size() && (std::isalnum(static_cast<unsigned char>(head[stop])) || head[stop] == '-' ||
                                      head[stop] == '_' || head[stop] == ':' || head[stop] == '.'))
            ++stop;
        if (stop > pos) return head.substr(pos, stop - pos);
    }
    return {};
}
}  // namespace

std::string page_charset(std::string_view content) {
    if (content.starts_with("\xFF\xFE")) return "utf-16le";
    if (content.starts_with("\xFE\xFF")) return "utf-16be";
    if (content.starts_with("\xEF\xBB\xBF")) return "utf-8";
    std::string declared = declared_charset(content);
    if (!declared.empty()) return declared;
    return valid_utf8(content) ? "utf-8" : "";
}

std::string inject_before_body_end(std::string_view page, std::string_view snippet) {
    // Code units of one or two bytes; ASCII letters compared on their low byte.
    const bool le = page.starts_with("\xFF\xFE"), be = page.starts_with("\xFE\xFF");
    const std::size_t unit = le || be ? 2 : 1;
    const std::size_t low = be ? 1 : 0;
    const auto encode = [&](std::string_view text) {
        std::string out;
        for (const char c : text) {
            if (be) out += '\0';
            out += c;
            if (le) out += '\0';
        }
        return out;
    };
    constexpr std::string_view close = "</body";
    const std::size_t units = page.size() / unit;
    std::size_t found = std::string_view::npos;
    for (std::size_t at = units >= close.size() ? units - close.size() + 1 : 0; at-- > 0;) {
        bool match = true;
        for (std::size_t i = 0; i < close.size() && match; ++i) {
            const std::size_t byte = (at + i) * unit;
            const bool high_zero = unit == 1 || page[byte + (1 - low)] == '\0';
            match = high_zero && std::tolower(static_cast<unsigned char>(page[byte + low])) == close[i];
        }
        if (match) {
            found = at * unit;
            break;
        }
    }
    std::string out;
    out.reserve(page.size() + snippet.size() * unit);
    const std::size_t split = found == std::string_view::npos ? units * unit : found;
    out.append(page.substr(0, split));
    out += encode(snippet);
    out.append(page.substr(split));
    return out;
}

namespace {
constexpr const char* day_names[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* month_names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string http_date(std::int64_t seconds) {
    const std::optional<std::tm> time = break_down(seconds);
    if (!time) return "Thu, 01 Jan 1970 00:00:00 GMT";  // no file of a site is dated beyond the tm's years
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04lld %02d:%02d:%02d GMT", day_names[time->tm_wday],
                  time->tm_mday, month_names[time->tm_mon], static_cast<long long>(time->tm_year) + 1900,
                  time->tm_hour, time->tm_min, time->tm_sec);
    return text;
}

std::optional<std::int64_t> parse_http_date(std::string_view text) {
    char weekday[4] = {}, month[4] = {};
    unsigned day = 0, hour = 0, minute = 0, second = 0;
    long long year = 0;
    const std::string copy(text);
    if (std::sscanf(copy.c_str(), "%3s, %u %3s %lld %u:%u:%u GMT", weekday, &day, month, &year, &hour, &minute,
                    &second) != 7)
        return std::nullopt;
    for (unsigned m = 0; m < 12; ++m) {
        if (std::string_view(month) != month_names[m]) continue;
        if (day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
        return days_from_civil(year, m + 1, day) * 86400 + hour * 3600 + minute * 60 + second;
    }
    return std::nullopt;
}
