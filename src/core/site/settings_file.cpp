#include "site/settings_file.h"

#include "base/text.h"
#include "platform/file_system.h"
#include "site/folder_settings.h"
#include "ssi/preferences.h"

#include <toml++/toml.h>

#include <algorithm>
#include <functional>
#include <sstream>

namespace {
[[noreturn]] void fail(const std::string& path, const toml::source_region& where, const std::string& text) {
    throw settings_error(path + ":" + std::to_string(where.begin.line) + ":" + std::to_string(where.begin.column) +
                         ": error: " + text);
}

using string_field = std::optional<std::string> settings_file_t::*;
using bool_field = std::optional<bool> settings_file_t::*;
using list_field = std::optional<std::vector<std::string>> settings_file_t::*;

struct setting_key_t {
    const char* name;
    std::function<void(settings_file_t&, const toml::node&, const std::string& path)> read;
};

std::string text_of(const toml::node& node, const std::string& path, const char* key) {
    if (const auto* value = node.as_string()) return value->get();
    fail(path, node.source(), std::string("'") + key + "' takes a string");
}

setting_key_t string_key(const char* name, string_field field) {
    return {name, [name, field](settings_file_t& s, const toml::node& n, const std::string& p) {
                s.*field = text_of(n, p, name);
            }};
}

setting_key_t bool_key(const char* name, bool_field field) {
    return {name, [name, field](settings_file_t& s, const toml::node& n, const std::string& p) {
                if (const auto* value = n.as_boolean())
                    s.*field = value->get();
                else
                    fail(p, n.source(), std::string("'") + name + "' takes true or false");
            }};
}

// Masks or places: one string (masks separated by spaces) or an array of strings.
setting_key_t list_key(const char* name, list_field field, bool split) {
    return {name, [name, field, split](settings_file_t& s, const toml::node& n, const std::string& p) {
                std::vector<std::string> items;
                if (const auto* array = n.as_array()) {
                    for (const toml::node& item : *array) items.push_back(text_of(item, p, name));
                } else if (split) {
                    std::istringstream words(text_of(n, p, name));
                    for (std::string word; words >> word;) items.push_back(word);
                } else {
                    items.push_back(text_of(n, p, name));
                }
                s.*field = std::move(items);
            }};
}

const std::vector<setting_key_t>& keys() {
    static const std::vector<setting_key_t> table{
        list_key("convert", &settings_file_t::convert, true),
        list_key("skip", &settings_file_t::skip, true),
        list_key("allow-outside", &settings_file_t::allow_outside, false),
        {"dialect",
         [](settings_file_t& s, const toml::node& n, const std::string& p) {
             s.dialect = text_of(n, p, "dialect");
             if (*s.dialect != "orrinfold" && *s.dialect != "apache")
                 fail(p, n.source(), "'dialect' is \"orrinfold\" or \"apache\", not \"" + *s.dialect + "\"");
         }},
        string_key("virtual-root", &settings_file_t::virtual_root),
        bool_key("ap-expr", &settings_file_t::ap_expr),
        {"rename-pages",
         [](settings_file_t& s, const toml::node& n, const std::string& p) {
             s.rename_pages = text_of(n, p, "rename-pages");
             if (s.rename_pages->find_first_of("/.") != std::string::npos)
                 fail(p, n.source(), "'rename-pages' is a file name extension without a dot, such as \"html\"");
         }},
        bool_key("redirects", &settings_file_t::redirects),
        bool_key("check-links", &settings_file_t::check_links),
        bool_key("keep-going", &settings_file_t::keep_going),
        {"jobs",
         [](settings_file_t& s, const toml::node& n, const std::string& p) {
             const auto* value = n.as_integer();
             if (value == nullptr || value->get() < 1 || value->get() > 1024)
                 fail(p, n.source(), "'jobs' takes a whole number from 1 to 1024");
             s.jobs = static_cast<unsigned>(value->get());
         }},
        string_key("destination", &settings_file_t::destination),
        string_key("state-dir", &settings_file_t::state_dir),
        string_key("apache-config", &settings_file_t::apache_config),
        string_key("apache", &settings_file_t::apache),
    };
    return table;
}
}  // namespace

settings_file_t parse_settings(std::string_view text, const std::string& path) {
    settings_file_t settings;
    settings.path = path;
    toml::table table;
    try {
        table = toml::parse(text, path);
    } catch (const toml::parse_error& e) {
        fail(path, e.source(), std::string(e.description()));
    }
    for (const auto& [key, node] : table) {
        const auto& table_keys = keys();
        const std::string_view name = key.str();  // a lambda may not capture a structured binding in C++20 everywhere
        const auto found = std::find_if(table_keys.begin(), table_keys.end(),
                                        [name](const setting_key_t& known) { return name == known.name; });
        if (found == table_keys.end()) fail(path, key.source(), "unknown key '" + std::string(key.str()) + "'");
        found->read(settings, node, path);
    }
    return settings;
}

settings_file_t read_settings_file(const std::string& path) { return parse_settings(read_text_file(path), path); }

namespace {
std::string quoted(const std::string& text) {
    std::ostringstream out;
    out << toml::value<std::string>(text);
    return out.str();
}

std::string list(const std::vector<std::string>& items) {
    std::string out = "[";
    for (const std::string& item : items) out += (out.size() > 1 ? ", " : "") + quoted(item);
    return out + "]";
}

// One key: set when given, else commented out with what it means by default.
void line(std::string& out, const char* comment, const char* key, const std::optional<std::string>& value,
          const char* default_value) {
    out += std::string("\n# ") + comment + "\n" + (value ? "" : "# ") + key + " = " + (value ? *value : default_value) +
           "\n";
}

template <class T>
std::optional<std::string> shown(const std::optional<T>& value, std::function<std::string(const T&)> show) {
    return value ? std::optional(show(*value)) : std::nullopt;
}
}  // namespace

std::string settings_file_text(const settings_file_t& s, const std::vector<std::string>& notes) {
    const std::function<std::string(const std::string&)> text = quoted;
    const std::function<std::string(const std::vector<std::string>&)> items = list;
    const std::function<std::string(const bool&)> flag = [](bool b) { return std::string(b ? "true" : "false"); };
    const std::function<std::string(const unsigned&)> number = [](unsigned n) { return std::to_string(n); };
    std::string out =
        "# Orrinfold's settings for this site. Options given on the command line win over these.\n"
        "# Paths are taken from this file's folder.\n";
    for (const std::string& note : notes) out += "# " + note + "\n";
    line(out, "Where the static site is written when no DEST is given.", "destination", shown(s.destination, text),
         "\"../static\"");
    line(out, "SSI dialect: \"orrinfold\" or \"apache\".", "dialect", shown(s.dialect, text), "\"orrinfold\"");
    line(out, "Masks of documents to convert: one string or a list.", "convert", shown(s.convert, items),
         "\"*.shtml *.shtm *.sht\"");
    line(out, "Masks of files and folders to leave out.", "skip", shown(s.skip, items), "\"*.inc include\"");
    line(out, "Folder that \"/\" paths are taken from ('' for none).", "virtual-root", shown(s.virtual_root, text),
         "\".\"");
    line(out, "Places outside the site that pages may read.", "allow-outside", shown(s.allow_outside, items), "[]");
    line(out, "Apache dialect: Apache's newer expression syntax in if and elif.", "ap-expr", shown(s.ap_expr, flag),
         "false");
    line(out, "Write converted pages with this extension and rewrite links to them.", "rename-pages",
         shown(s.rename_pages, text), "\"html\"");
    line(out, "With rename-pages: a page under each old name that redirects.", "redirects", shown(s.redirects, flag),
         "false");
    line(out, "Report local links that lead nowhere.", "check-links", shown(s.check_links, flag), "false");
    line(out, "Report a file that fails and go on.", "keep-going", shown(s.keep_going, flag), "false");
    line(out, "Files converted at once (default: one per processor).", "jobs", shown(s.jobs, number), "4");
    line(out, "Folder for the record of runs.", "state-dir", shown(s.state_dir, text), "\"\"");
    line(out, "Apache dialect: a server or virtual-host configuration to read.", "apache-config",
         shown(s.apache_config, text), "\"/etc/apache2/sites-enabled/000-default.conf\"");
    line(out, "Apache dialect: Apache directives for the whole site, as in its configuration.", "apache",
         shown(s.apache, text), "\"AddOutputFilter INCLUDES .html\\nSSILegacyExprParser on\"");
    return out;
}

std::optional<std::string> settings_file_for(const std::string& config_option, const std::string& source) {
    if (!config_option.empty()) return config_option;
    if (source.empty()) return std::nullopt;
    const std::string path = source + "/" + settings_file_name;
    if (const std::optional<file_status_t> status = try_stat_path(path); status && status->kind == file_kind_t::regular)
        return path;
    return std::nullopt;
}

std::string from_settings_folder(const std::string& settings_path, const std::string& path) {
    if (is_absolute_path(path)) return path;
    const std::string folder(folder_of(settings_path));
    if (path.empty() || path == ".") return folder.empty() ? "." : folder.substr(0, folder.size() - 1);
    return folder + path;
}

namespace {
std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : " ") + item;
    return text;
}
}  // namespace

void merge_settings(const settings_file_t& file, const std::function<bool(const char* option)>& given,
                    SSIDirectoryPreferences& preferences, std::string& destination) {
    const auto path = [&file](const std::string& written) { return from_settings_folder(file.path, written); };
    preferences.settings_file = file.path;
    if (file.convert && !given("--convert")) preferences.convert_filter = joined(*file.convert);
    if (file.skip && !given("--skip")) preferences.skip_filter = joined(*file.skip);
    if (file.allow_outside && !given("--allow-outside"))
        for (const std::string& place : *file.allow_outside) preferences.allow_outside.push_back(path(place));
    if (file.dialect && !given("--dialect"))
        preferences.dialect = *file.dialect == "apache" ? dialect_t::apache : dialect_t::orrinfold;
    if (file.virtual_root && !given("--virtual-root")) {
        // '' keeps its meaning: no virtual root at all.
        preferences.virtual_root = file.virtual_root->empty() ? std::string() : path(*file.virtual_root);
        preferences.source_as_root = false;
    }
    if (file.ap_expr && !given("--ap-expr")) preferences.ap_expressions = *file.ap_expr;
    if (file.rename_pages && !given("--rename-pages")) preferences.rename_pages = *file.rename_pages;
    if (file.redirects && !given("--redirects")) preferences.redirects = *file.redirects;
    if (file.check_links && !given("--check-links")) preferences.check_links = *file.check_links;
    if (file.keep_going && !given("--keep-going")) preferences.keep_going = *file.keep_going;
    if (file.jobs && !given("--jobs")) preferences.jobs = *file.jobs;
    if (file.state_dir && !given("--state-dir")) preferences.state_folder = path(*file.state_dir);
    if (file.apache_config && !given("--apache-config")) preferences.apache_config = path(*file.apache_config);
    if (file.apache) preferences.apache_directives = *file.apache;
    if (file.destination && destination.empty()) destination = path(*file.destination);
}

settings_file_t settings_of(const SSIDirectoryPreferences& preferences) {
    const auto masks = [](const std::string& list) {
        std::vector<std::string> items;
        std::istringstream words(list);
        for (std::string word; words >> word;) items.push_back(word);
        return items;
    };
    settings_file_t settings;
    settings.convert = masks(preferences.convert_filter);
    settings.skip = masks(preferences.skip_filter);
    if (!preferences.allow_outside.empty()) settings.allow_outside = preferences.allow_outside;
    settings.dialect = preferences.dialect == dialect_t::apache ? "apache" : "orrinfold";
    settings.virtual_root = preferences.source_as_root ? std::string(".") : preferences.virtual_root;
    settings.ap_expr = preferences.ap_expressions;
    if (!preferences.rename_pages.empty()) settings.rename_pages = preferences.rename_pages;
    settings.redirects = preferences.redirects;
    settings.check_links = preferences.check_links;
    settings.keep_going = preferences.keep_going;
    if (!preferences.apache_config.empty()) settings.apache_config = preferences.apache_config;
    if (!preferences.apache_directives.empty()) settings.apache = preferences.apache_directives;
    return settings;
}
