#pragma once

#include "platform/file_system.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SSIDirectoryPreferences;

// What a request path leads to in the served folder.
struct lookup_t {
    enum class kind_t { file, redirect, not_found };
    kind_t kind = kind_t::not_found;
    std::string path;      // file: the file to send
    std::string relative;  // file: its path below the folder, "/"-separated
    file_status_t status;  // file: its status
    std::string location;  // redirect: where to (the folder's URL with its slash)
};

// Resolves a decoded request path ("/news/", "/a b.html") below root (a resolved path, see
// real_path). Only files that really lie in root are found: a path with "..", ".", an empty
// segment, a backslash, a NUL byte or a colon, or one that leads out through a link, finds
// nothing. A folder asked for without its slash is redirected to it; a folder is answered by
// the first of its index names that is there, else by nothing: no listings. index_names gives
// a folder's names (its path below root, "" for root) as Apache's DirectoryIndex does ("/x"
// from the root, "disabled" for none); without it, or when it gives none, index.html,
// index.htm and index.shtml.
using index_names_for_t = std::function<std::vector<std::string>(const std::string& folder)>;
lookup_t look_up(const std::string& root, std::string_view url_path, const index_names_for_t& index_names = {});

// A folder's index pages as the Apache configuration of the site in source names them
// (DirectoryIndex), for look_up; nothing for a site converted in the default dialect. The
// configuration is read afresh for each folder asked for, so that an edited .htaccess counts
// at once; pages renamed by the run are found under their new names too.
index_names_for_t directory_index(const std::string& source, const SSIDirectoryPreferences& preferences);

// The path with every byte outside the URL's unreserved set and "/" percent-encoded.
std::string encode_url_path(std::string_view path);

// Whether a file of this name is served as a page: .html, .htm, .shtml, .shtm, .stm, and any
// extension in more (such as the one pages are renamed to), compared without regard to case.
bool is_page_name(std::string_view name, const std::vector<std::string>& more = {});

// The Content-Type for a file: pages are text/html with the charset their content declares
// or starts with (a byte order mark, <meta charset>, or UTF-8 text), other types by extension,
// anything unknown application/octet-stream.
std::string content_type(std::string_view name, bool page, std::string_view content);

// The charset a page is in: "utf-16le"/"utf-16be"/"utf-8" by byte order mark, else the one
// its first kilobytes declare in a meta element, else "utf-8" when it is valid UTF-8 text;
// empty when unknown (the browser then decides).
std::string page_charset(std::string_view content);

// The page with snippet (ASCII text) placed before its closing </body> (any case), or at its
// end when it has none. A UTF-16 page (by its byte order mark) gets the snippet in UTF-16.
std::string inject_before_body_end(std::string_view page, std::string_view snippet);

// Dates as HTTP writes them: "Sun, 06 Nov 1994 08:49:37 GMT", seconds since 1970 in UTC.
std::string http_date(std::int64_t seconds);
std::optional<std::int64_t> parse_http_date(std::string_view text);
