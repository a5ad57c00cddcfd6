#include "site/file_filter.h"

#include "base/text.h"
#include "site/folder_settings.h"
#include "site/settings_file.h"
#include "ssi/preferences.h"

#include <algorithm>
#include <vector>

namespace {
// Characters as numbers: code points of valid UTF-8, and bytes of anything else moved above
// the Unicode range so a stray byte never equals a real character.
std::vector<char32_t> characters(std::string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c;
        if (const std::size_t n = decode_utf8(text, i, c); n != 0) {
            out.push_back(ascii_lower(c));
            i += n;
        } else {
            out.push_back(0x110000 + static_cast<unsigned char>(text[i]));
            ++i;
        }
    }
    return out;
}
}  // namespace

MyFileFilter::MyFileFilter(const SSIDirectoryPreferences& preferences) {
    add_masks(convert_masks, preferences.convert_filter);
    add_masks(skip_masks, preferences.skip_filter);
}

void MyFileFilter::add_masks(mask_set_t& masks, std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        const std::size_t end = std::min(text.find(' ', i), text.size());
        masks.emplace(text.substr(i, end - i));
        i = end;
    }
}

namespace {
// Greedy matching that, on a mismatch, lets the latest star take one more character.
// Earlier stars never need to move again, which keeps this free of exponential backtracking
// and gives the same answers as trying every split. mask and name give characters, folded.
template <typename Characters>
bool greedy_match(const Characters& mask, const Characters& name) {
    std::size_t i = 0, j = 0;
    std::size_t star = mask.size(), star_j = 0;
    while (j < name.size()) {
        if (i < mask.size() && mask[i] == U'*') {
            star = i++;
            star_j = j;
        } else if (i < mask.size() && (mask[i] == U'?' || mask[i] == name[j])) {
            ++i;
            ++j;
        } else if (star != mask.size()) {
            i = star + 1;
            j = ++star_j;
        } else {
            return false;
        }
    }
    while (i < mask.size() && mask[i] == U'*') ++i;
    return i == mask.size();
}

// ASCII text as characters, read in place: each byte is its character.
struct ascii_characters_t {
    std::string_view text;
    std::size_t size() const { return text.size(); }
    char32_t operator[](std::size_t i) const { return ascii_lower(static_cast<char32_t>(text[i])); }
};

bool is_ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// name_ascii: whether name_text is all ASCII, found once for all the masks it is matched with.
bool matches(std::string_view mask_text, std::string_view name_text, bool name_ascii) {
    // Most names and masks are ASCII: matched where they lie, with nothing decoded or copied.
    if (name_ascii && is_ascii(mask_text)) {
        // The usual mask, a star and an ending ("*.shtml"): the name's end, letters folded.
        if (mask_text.size() > 1 && mask_text[0] == '*' && mask_text.find_first_of("*?", 1) == std::string_view::npos) {
            const std::string_view ending = mask_text.substr(1);
            return name_text.size() >= ending.size() &&
                   equals_ignoring_case(name_text.substr(name_text.size() - ending.size()), ending);
        }
        return greedy_match(ascii_characters_t{mask_text}, ascii_characters_t{name_text});
    }
    return greedy_match(characters(mask_text), characters(name_text));
}
}  // namespace

bool match_mask(std::string_view mask, std::string_view name) { return matches(mask, name, is_ascii(name)); }

bool MyFileFilter::matches_any(const mask_set_t& masks, std::string_view name) {
    const bool ascii = is_ascii(name);
    return std::any_of(masks.begin(), masks.end(), [&](const std::string& mask) { return matches(mask, name, ascii); });
}

MyFileFilter site_filter(const std::string& source, const SSIDirectoryPreferences& preferences) {
    MyFileFilter filter(preferences);
    filter.left_out = {source + "/" + settings_file_name};
    if (!preferences.settings_file.empty()) filter.left_out.push_back(preferences.settings_file);
    if (preferences.dialect == dialect_t::apache) filter.folders = std::make_shared<FolderSettings>(source, preferences);
    return filter;
}
