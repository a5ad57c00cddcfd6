#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Links in the pages of a converted site: finding the URLs a page refers to, rewriting those
// that lead to renamed pages, and resolving them against the site for a check.

// Where a URL stands in a text: its bytes are text[begin, end), without quotes or the white
// space around it; entity_coded when it came from an HTML attribute (so "&amp;" is "&").
struct link_t {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool entity_coded = false;
};

enum class text_kind_t { html, css };

// The URL a link holds, with the character references of an HTML attribute decoded.
std::string link_url(std::string_view text, const link_t& link);

// Finds the URLs of an HTML page the way a browser's tokenizer sees its tags: the URL
// attributes (href, src, action, srcset items, ...), the url= of a meta refresh and url(...)
// in style attributes and style elements; text, comments, scripts and other raw text are
// never read as markup. For CSS: url(...) and @import strings, outside comments.
void find_links(std::string_view text, text_kind_t kind, const std::function<void(const link_t&)>& found);

// Line and column (both from 1, columns in UTF-8 characters) of offsets in a text. Counting
// goes on from the offset asked last, so offsets asked in rising order (links as the finder
// reports them) cost one pass over the text in all. An earlier offset (a meta refresh comes
// after the other links of its tag) reads back only the bytes between the two, and the start
// of its line when a line feed lies between.
class LineCounter {
public:
    explicit LineCounter(std::string_view text) : text_(text) {}
    std::pair<std::uint64_t, std::uint64_t> at(std::size_t offset);

private:
    std::string_view text_;
    std::size_t offset_ = 0;
    std::uint64_t line_ = 1, column_ = 1;
};

// A local URL resolved within the site: the path from the site's root, "/"-separated,
// without query or fragment (empty for the root), and whether it names a folder ("x/").
struct local_target_t {
    std::string path;
    bool folder = false;
};
// nullopt for URLs with a scheme or a host, fragments and queries alone, empty URLs, and
// paths that climb above the root. page is the referring page's path from the root.
std::optional<local_target_t> resolve_local(std::string_view url, std::string_view page);

// Rewrites the links of pages to pages that were renamed. renamed maps the path of each
// renamed page (from the site's root) to its new name.
class LinkRewriter {
public:
    explicit LinkRewriter(std::map<std::string, std::string> renamed);

    // The text with every link to a renamed page changed (only the name in the URL; query,
    // fragment and every other byte stay), or nullopt when nothing changes.
    std::optional<std::string> rewrite(std::string_view text, text_kind_t kind, std::string_view page) const;
    // Renamed pages by their old path from the site's root, with their new names.
    const std::unordered_map<std::string, std::string>& renamed() const noexcept { return renamed_; }

private:
    // Whether the text holds the end of a renamed page's name at all: most pages and style
    // sheets can be passed over without being read as markup.
    bool may_refer(std::string_view text) const;

    std::unordered_map<std::string, std::string> renamed_;  // looked up once per link
    std::vector<std::string> endings_;  // what renaming removes from names (".shtml" ...)
};

// The name a renamed page gets: its name without its last extension, then ".extension".
std::string renamed_name(std::string_view name, std::string_view extension);
