#pragma once

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct SSIDirectoryPreferences;

// The Convert and Skip mask sets of a conversion, and the two questions the walk asks of
// every entry name. Which question wins is the walk's business (Skip first).
class FolderSettings;

class MyFileFilter {
public:
    using mask_set_t = std::set<std::string>;

    explicit MyFileFilter(const SSIDirectoryPreferences& preferences);

    bool should_skip(std::string_view name) const { return matches_any(skip_masks, name); }
    bool should_convert(std::string_view name) const { return matches_any(convert_masks, name); }

    // Splits a list at spaces (only U+0020) and adds each mask to the set.
    static void add_masks(mask_set_t& masks, std::string_view text);
    static bool matches_any(const mask_set_t& masks, std::string_view name);

    mask_set_t convert_masks;
    mask_set_t skip_masks;
    // The Apache dialect's settings of each folder, which also decide what is converted.
    std::shared_ptr<FolderSettings> folders;
    // Settings files, never part of the output: the one read and the site's own.
    std::vector<std::string> left_out;
};

// The filter of a site's walk: the masks, and in the Apache dialect each folder's settings
// from Apache's configuration (whose errors are std::runtime_error).
MyFileFilter site_filter(const std::string& source, const SSIDirectoryPreferences& preferences);

// Matches a whole name against a mask of '*' (any run), '?' (one character) and characters
// compared with ASCII letters folded. A valid UTF-8 sequence is one character.
// Runs in time proportional to mask length times name length at worst, however many stars.
bool match_mask(std::string_view mask, std::string_view name);
