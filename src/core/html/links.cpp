#include "html/links.h"

#include "base/text.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
bool is_html_space(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// Where a URL's path ends: at its query or fragment, or at its end.
std::size_t path_end_of(std::string_view url) noexcept {
    std::size_t i = 0;
    while (i < url.size() && url[i] != '?' && url[i] != '#') ++i;
    return i;
}

// The attributes whose whole value is one URL.
bool is_url_attribute(std::string_view name) {
    // Most attributes of a page (class, id, alt, rel, ...) are told apart by their first letter.
    if (name.size() < 3 || std::string_view("abcdfhilmpsux").find(name[0]) == std::string_view::npos) return false;
    static constexpr std::string_view names[] = {"action",  "background", "cite",     "codebase", "data",
                                                 "formaction", "href",   "icon",     "longdesc", "manifest",
                                                 "poster",  "profile",    "src",      "usemap",   "xlink:href"};
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

// Trims white space off [begin, end) and reports what is left, if anything.
void report(std::string_view text, std::size_t begin, std::size_t end, bool entity_coded,
            const std::function<void(const link_t&)>& found) {
    while (begin < end && is_html_space(text[begin])) ++begin;
    while (end > begin && is_html_space(text[end - 1])) --end;
    if (begin < end) found({begin, end, entity_coded});
}

// url(...) and @import "..." in CSS between begin and end.
void find_css_links(std::string_view text, std::size_t begin, std::size_t end, bool entity_coded,
                    const std::function<void(const link_t&)>& found) {
    for (std::size_t i = begin; i < end;) {
        if (text.compare(i, 2, "/*") == 0) {
            const std::size_t close = text.substr(0, end).find("*/", i + 2);
            i = close == std::string_view::npos ? end : close + 2;
            continue;
        }
        const char c = text[i];
        if (c == '"' || c == '\'') {  // a string: an @import's URL, or text to step over
            std::size_t close = i + 1;
            while (close < end && text[close] != c && text[close] != '\n') close += text[close] == '\\' ? 2 : 1;
            close = std::min(close, end);
            std::size_t before = i;
            while (before > begin && is_html_space(text[before - 1])) --before;
            if (before >= begin + 7 && equals_folded(text.substr(before - 7, 7), "@import"))
                report(text, i + 1, close, entity_coded, found);
            i = close + 1;
            continue;
        }
        if (ascii_lower(c) == 'u' && i + 4 <= end && equals_folded(text.substr(i, 4), "url(") &&
            (i == begin || !(is_ascii_alpha(text[i - 1]) || text[i - 1] == '-' || text[i - 1] == '_'))) {
            std::size_t open = i + 4;
            while (open < end && is_html_space(text[open])) ++open;
            if (open < end && (text[open] == '"' || text[open] == '\'')) {
                const char quote = text[open];
                std::size_t close = open + 1;
                while (close < end && text[close] != quote) ++close;
                report(text, open + 1, std::min(close, end), entity_coded, found);
                i = close + 1;
            } else {
                std::size_t close = open;
                while (close < end && text[close] != ')') ++close;
                report(text, open, close, entity_coded, found);
                i = close + 1;
            }
            continue;
        }
        ++i;
    }
}

// The candidates of a srcset value: a URL, then descriptors up to a comma.
void find_srcset_links(std::string_view text, std::size_t begin, std::size_t end,
                       const std::function<void(const link_t&)>& found) {
    for (std::size_t i = begin; i < end;) {
        while (i < end && (is_html_space(text[i]) || text[i] == ',')) ++i;
        std::size_t url_end = i;
        while (url_end < end && !is_html_space(text[url_end])) ++url_end;
        std::size_t trimmed = url_end;
        while (trimmed > i && text[trimmed - 1] == ',') --trimmed;
        if (trimmed > i) found({i, trimmed, true});
        i = url_end;
        if (trimmed == url_end)
            while (i < end && text[i] != ',') ++i;
    }
}

// The URL in the content of a meta refresh: "5; url=page.html" or "5, 'page.html'".
void find_refresh_link(std::string_view text, std::size_t begin, std::size_t end,
                       const std::function<void(const link_t&)>& found) {
    std::size_t i = begin;
    while (i < end && (is_html_space(text[i]) || (text[i] >= '0' && text[i] <= '9') || text[i] == '.')) ++i;
    if (i >= end || (text[i] != ';' && text[i] != ',')) return;
    ++i;
    while (i < end && is_html_space(text[i])) ++i;
    if (i + 3 < end && equals_folded(text.substr(i, 3), "url")) {
        std::size_t equals = i + 3;
        while (equals < end && is_html_space(text[equals])) ++equals;
        if (equals < end && text[equals] == '=') {
            i = equals + 1;
            while (i < end && is_html_space(text[i])) ++i;
        }
    }
    std::size_t close = end;
    if (i < end && (text[i] == '"' || text[i] == '\'')) {
        const std::size_t quote = text.substr(0, end).find(text[i], i + 1);
        close = quote == std::string_view::npos ? end : quote;
        ++i;
    }
    report(text, i, close, true, found);
}

struct attribute_t {
    std::string name;
    std::size_t begin = 0, end = 0;  // the value, without quotes
    bool has_value = false;
};

// Where the raw text of an element that holds no markup ends: at "</name" followed by white
// space, "/" or ">" (letter case ignored), or at the end of the document.
std::size_t raw_text_end(std::string_view text, std::size_t from, std::string_view name) {
    for (std::size_t i = from; (i = text.find("</", i)) != std::string_view::npos; i += 2) {
        const std::size_t after = i + 2 + name.size();
        if (after <= text.size() && equals_folded(text.substr(i + 2, name.size()), name) &&
            (after == text.size() || is_html_space(text[after]) || text[after] == '/' || text[after] == '>'))
            return i;
    }
    return text.size();
}

// Reads a tag from just after its name to its '>'; false when the document ends first (an
// unfinished tag is no tag). Attribute names are folded to lower case.
bool read_attributes(std::string_view text, std::size_t& i, std::vector<attribute_t>& attributes) {
    const std::size_t n = text.size();
    for (;;) {
        while (i < n && (is_html_space(text[i]) || text[i] == '/')) ++i;
        if (i >= n) return false;
        if (text[i] == '>') {
            ++i;
            return true;
        }
        attribute_t attribute;
        // The first character may be '=' (a parse error that names the attribute "=...").
        do {
            attribute.name.push_back(ascii_lower(text[i]));
            ++i;
        } while (i < n && !is_html_space(text[i]) && text[i] != '/' && text[i] != '>' && text[i] != '=');
        while (i < n && is_html_space(text[i])) ++i;
        if (i < n && text[i] == '=') {
            ++i;
            while (i < n && is_html_space(text[i])) ++i;
            if (i >= n) return false;
            attribute.has_value = true;
            if (text[i] == '"' || text[i] == '\'') {
                const std::size_t close = text.find(text[i], i + 1);
                if (close == std::string_view::npos) return false;
                attribute.begin = i + 1;
                attribute.end = close;
                i = close + 1;
            } else if (text[i] != '>') {
                attribute.begin = i;
                while (i < n && !is_html_space(text[i]) && text[i] != '>') ++i;
                attribute.end = i;
            }
        }
        // A repeated attribute is dropped, as the tokenizer drops it.
        if (std::none_of(attributes.begin(), attributes.end(),
                         [&](const attribute_t& a) { return a.name == attribute.name; }))
            attributes.push_back(std::move(attribute));
    }
}

void find_html_links(std::string_view text, const std::function<void(const link_t&)>& found) {
    const std::size_t n = text.size();
    std::vector<attribute_t> attributes;
    for (std::size_t i = 0; i < n;) {
        const void* hit = std::memchr(text.data() + i, '<', n - i);
        if (hit == nullptr) return;
        const std::size_t open = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        i = open + 1;
        if (i >= n) return;
        if (text.compare(open, 4, "<!--") == 0) {
            // "<!-->" and "<!--->" are whole comments; otherwise "-->" or "--!>" ends one.
            std::size_t from = open + 4;
            if (text.compare(from, 1, ">") == 0 || text.compare(from, 2, "->") == 0) {
                i = text.find('>', from) + 1;
                continue;
            }
            std::size_t close = from;
            for (; (close = text.find("--", close)) != std::string_view::npos; ++close) {
                if (text.compare(close + 2, 1, ">") == 0) break;
                if (text.compare(close + 2, 2, "!>") == 0) break;
            }
            if (close == std::string_view::npos) return;
            i = text.find('>', close) + 1;
            continue;
        }
        const char c = text[i];
        if (c == '!' || c == '?' || (c == '/' && i + 1 < n && !is_ascii_alpha(text[i + 1]) && text[i + 1] != '>')) {
            const std::size_t close = text.find('>', i);  // a doctype or a bogus comment
            if (close == std::string_view::npos) return;
            i = close + 1;
            continue;
        }
        const bool end_tag = c == '/';
        if (end_tag) ++i;
        if (i >= n || !is_ascii_alpha(text[i])) continue;  // "<" followed by text is text
        std::string name;
        while (i < n && !is_html_space(text[i]) && text[i] != '/' && text[i] != '>') name.push_back(ascii_lower(text[i++]));
        attributes.clear();
        if (!read_attributes(text, i, attributes)) return;
        if (end_tag) continue;

        const auto value_of = [&](std::string_view wanted) -> const attribute_t* {
            for (const attribute_t& a : attributes)
                if (a.name == wanted) return &a;
            return nullptr;
        };
        for (const attribute_t& a : attributes) {
            if (!a.has_value) continue;
            if (is_url_attribute(a.name))
                report(text, a.begin, a.end, true, found);
            else if (a.name == "srcset" || a.name == "imagesrcset")
                find_srcset_links(text, a.begin, a.end, found);
            else if (a.name == "style")
                find_css_links(text, a.begin, a.end, true, found);
        }
        if (name == "meta") {
            const attribute_t* equiv = value_of("http-equiv");
            const attribute_t* content = value_of("content");
            if (equiv != nullptr && content != nullptr &&
                equals_folded(text.substr(equiv->begin, equiv->end - equiv->begin), "refresh"))
                find_refresh_link(text, content->begin, content->end, found);
        }
        // Elements whose content is not markup: CSS is read for its URLs, the rest skipped.
        static constexpr std::string_view raw[] = {"iframe", "noembed", "noframes", "script",
                                                   "style",  "textarea", "title",    "xmp"};
        if (name == "plaintext") return;
        if (std::find(std::begin(raw), std::end(raw), name) != std::end(raw)) {
            const std::size_t close = raw_text_end(text, i, name);
            if (name == "style") find_css_links(text, i, close, false, found);
            i = close;
        }
    }
}
}  // namespace

void find_links(std::string_view text, text_kind_t kind, const std::function<void(const link_t&)>& found) {
    if (kind == text_kind_t::css)
        find_css_links(text, 0, text.size(), false, found);
    else
        find_html_links(text, found);
}

namespace {
bool starts_character(char c) noexcept { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }
}  // namespace

std::pair<std::uint64_t, std::uint64_t> LineCounter::at(std::size_t offset) {
    offset = std::min(offset, text_.size());
    if (offset < offset_) {
        bool other_line = false;
        for (std::size_t i = offset; i < offset_; ++i) {
            if (text_[i] == '\n') {
                --line_;
                other_line = true;
            } else if (starts_character(text_[i])) {
                --column_;
            }
        }
        if (other_line) {
            std::size_t start = offset;
            while (start > 0 && text_[start - 1] != '\n') --start;
            column_ = 1;
            for (std::size_t i = start; i < offset; ++i) column_ += starts_character(text_[i]) ? 1 : 0;
        }
        offset_ = offset;
    }
    for (; offset_ < offset; ++offset_) {
        if (text_[offset_] == '\n') {
            ++line_;
            column_ = 1;
        } else if (starts_character(text_[offset_])) {
            ++column_;
        }
    }
    return {line_, column_};
}

namespace {
std::string percent_decoded(std::string_view text) {
    std::string result;
    append_percent_decoded(result, text);
    return result;
}

// The entity references a URL attribute is likely to hold; others stay as they are.
std::string entities_decoded(std::string_view text) {
    if (text.find('&') == std::string_view::npos) return std::string(text);
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            result.push_back(text[i]);
            continue;
        }
        static constexpr std::pair<std::string_view, char> named[] = {
            {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&lt;", '<'}, {"&gt;", '>'}, {"&sol;", '/'},
            {"&period;", '.'}, {"&num;", '#'}, {"&quest;", '?'}};
        bool done = false;
        for (const auto& [entity, c] : named) {
            if (text.compare(i, entity.size(), entity) == 0) {
                result.push_back(c);
                i += entity.size() - 1;
                done = true;
                break;
            }
        }
        if (!done && text.compare(i, 2, "&#") == 0) {
            const bool hex = i + 2 < text.size() && ascii_lower(text[i + 2]) == 'x';
            std::size_t j = i + (hex ? 3 : 2);
            unsigned value = 0;
            for (; j < text.size() && (hex ? hex_digit_value(text[j]) >= 0 : text[j] >= '0' && text[j] <= '9') && value < 0x110000; ++j)
                value = value * (hex ? 16 : 10) + static_cast<unsigned>(hex ? hex_digit_value(text[j]) : text[j] - '0');
            if (value > 0 && value < 128 && j > i + (hex ? 3 : 2)) {
                result.push_back(static_cast<char>(value));
                i = j < text.size() && text[j] == ';' ? j : j - 1;
                done = true;
            }
        }
        if (!done) result.push_back('&');
    }
    return result;
}

bool has_scheme(std::string_view url) {
    if (url.empty() || !is_ascii_alpha(url[0])) return false;
    for (const char c : url) {
        if (c == ':') return true;
        if (!is_ascii_alpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
    }
    return false;
}
}  // namespace

std::string link_url(std::string_view text, const link_t& link) {
    const std::string_view raw = text.substr(link.begin, link.end - link.begin);
    return link.entity_coded ? entities_decoded(raw) : std::string(raw);
}

namespace {
// resolve_local into a buffer the caller reuses, so that a page's links cost no allocation.
bool resolve_into(std::string_view url, std::string_view page, std::string& path, bool& folder) {
    if (url.empty() || url[0] == '#' || url[0] == '?' || url.starts_with("//") || has_scheme(url)) return false;
    const std::string_view raw = url.substr(0, path_end_of(url));
    if (raw.empty()) return false;
    path.clear();
    if (raw[0] != '/') {
        const std::size_t slash = page.rfind('/');
        if (slash != std::string_view::npos) path.append(page.substr(0, slash + 1));
    }
    append_percent_decoded(path, raw);
    folder = path.back() == '/' || path.ends_with("/.") || path.ends_with("/..") || path == "." || path == "..";
    if (!fold_dot_segments(path)) return false;
    folder = folder || path.empty();
    return true;
}
}  // namespace

std::optional<local_target_t> resolve_local(std::string_view url, std::string_view page) {
    local_target_t target;
    if (!resolve_into(url, page, target.path, target.folder)) return std::nullopt;
    return target;
}

std::string renamed_name(std::string_view name, std::string_view extension) {
    const std::size_t dot = name.rfind('.');
    const std::string_view stem = dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
    return std::string(stem) + "." + std::string(extension);
}

LinkRewriter::LinkRewriter(std::map<std::string, std::string> renamed) : renamed_(renamed.begin(), renamed.end()) {
    for (const auto& [path, name] : renamed_) {
        const std::size_t slash = path.rfind('/');
        const std::string_view old_name = std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
        const std::size_t dot = old_name.rfind('.');
        const std::string ending(dot == std::string_view::npos || dot == 0 ? std::string_view() : old_name.substr(dot));
        if (std::find(endings_.begin(), endings_.end(), ending) == endings_.end()) endings_.push_back(ending);
    }
}

bool LinkRewriter::may_refer(std::string_view text) const {
    return std::any_of(endings_.begin(), endings_.end(), [text](const std::string& ending) {
        return ending.empty() || find_bytes(text.data(), text.size(), ending.data(), ending.size()) != nullptr;
    });
}

std::optional<std::string> LinkRewriter::rewrite(std::string_view text, text_kind_t kind, std::string_view page) const {
    if (!may_refer(text)) return std::nullopt;
    struct change_t {
        std::size_t begin, end;
        std::string replacement;
    };
    std::vector<change_t> changes;
    std::string url, path;  // reused for every link
    find_links(text, kind, [&](const link_t& link) {
        const std::string_view raw = text.substr(link.begin, link.end - link.begin);
        // Only the extension at the end of the path changes, and only where the URL spells it
        // out plainly, so every other byte (escapes in the name too) stays.
        const std::size_t path_end = path_end_of(raw);
        const std::string_view raw_path = raw.substr(0, path_end);
        if (std::none_of(endings_.begin(), endings_.end(),
                         [raw_path](const std::string& ending) { return raw_path.ends_with(ending); }))
            return;
        url.assign(raw);
        if (link.entity_coded && raw.find('&') != std::string_view::npos) url = entities_decoded(raw);
        bool folder = false;
        if (!resolve_into(url, page, path, folder) || folder) return;
        const auto found = renamed_.find(path);
        if (found == renamed_.end()) return;
        const std::size_t name_begin = raw.rfind('/', path_end == 0 ? 0 : path_end - 1);
        const std::size_t start = name_begin == std::string_view::npos || name_begin >= path_end ? 0 : name_begin + 1;
        const std::string_view old_name = raw.substr(start, path_end - start);
        const std::size_t slash = path.rfind('/');
        const std::string_view source_name = std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
        if (old_name != source_name && percent_decoded(old_name) != source_name) return;
        const std::string& new_name = found->second;
        std::size_t stem = 0;  // the part both names share
        while (stem < source_name.size() && stem < new_name.size() && source_name[stem] == new_name[stem]) ++stem;
        stem = std::min(stem, source_name.rfind('.') == std::string_view::npos ? source_name.size() : source_name.rfind('.'));
        const std::string_view removed = source_name.substr(stem);
        if (!old_name.ends_with(removed)) return;
        changes.push_back({link.begin + path_end - removed.size(), link.begin + path_end, new_name.substr(stem)});
    });
    if (changes.empty()) return std::nullopt;
    // A meta refresh is found after the other attributes of its tag.
    std::sort(changes.begin(), changes.end(), [](const change_t& a, const change_t& b) { return a.begin < b.begin; });
    std::string result;
    result.reserve(text.size() + changes.size() * 4);
    std::size_t copied = 0;
    for (const change_t& change : changes) {
        result.append(text.substr(copied, change.begin - copied));
        result += change.replacement;
        copied = change.end;
    }
    result.append(text.substr(copied));
    return result;
}
