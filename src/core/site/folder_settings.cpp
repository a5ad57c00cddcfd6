#include "site/folder_settings.h"

#include "base/text.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "site/file_filter.h"
#include "site/walk.h"

#include <cinttypes>
#include <cstdio>
#include <stdexcept>

#include <utility>

std::string read_text_file(const std::string& path) {
    File file(path, File::access_t::read);
    return read_bytes(file, stat_file(file).size);
}

FolderSettings::FolderSettings(std::string source, const SSIDirectoryPreferences& preferences)
    : source_(std::move(source)), base_(preferences) {
    if (!preferences.apache_directives.empty())
        configs_.push_back(parse_apache_config(preferences.apache_directives, "orrinfold.toml (apache)"));
    if (!preferences.apache_config.empty())
        configs_.push_back(parse_apache_config(read_text_file(preferences.apache_config), preferences.apache_config));
    // <Directory> paths are taken under the configuration's DocumentRoot, else the site's folder.
    for (apache_config_t& config : configs_)
        if (config.document_root.empty()) config.document_root = source_;
}

std::shared_ptr<const FolderSettings::folder_t> FolderSettings::folder(const std::string& path) {
    std::string relative;
    if (path.size() > source_.size() && path.starts_with(source_) && path[source_.size()] == '/')
        relative = path.substr(source_.size() + 1);
    const std::lock_guard lock(mutex_);
    return resolve(relative);
}

std::shared_ptr<const FolderSettings::folder_t> FolderSettings::resolve(const std::string& relative) {
    if (const auto found = folders_.find(relative); found != folders_.end()) return found->second;
    folder_t folder;
    const std::size_t slash = relative.rfind('/');
    const std::optional<std::string> parent =
        relative.empty() ? std::nullopt : std::optional(slash == std::string::npos ? "" : relative.substr(0, slash));
    if (parent) {
        const std::shared_ptr<const folder_t> above = resolve(*parent);
        folder.apache = above->apache;
        folder.file_sections = above->file_sections;
    }
    // Apache's order: <Directory> sections from the shortest path, then .htaccess, then
    // <DirectoryMatch>, then <Files> at each file. A section is applied where it starts to
    // apply; below, its effect is inherited.
    const auto starts_here = [&](const apache_config_t& config, const apache_section_t& section) {
        return section_applies_to_folder(section, config.document_root, relative) &&
               !(parent && section_applies_to_folder(section, config.document_root, *parent));
    };
    for (const apache_section_t::kind_t kind :
         {apache_section_t::kind_t::everywhere, apache_section_t::kind_t::directory})
        for (const apache_config_t& config : configs_)
            for (const apache_section_t& section : config.sections)
                if (section.kind == kind && starts_here(config, section))
                    apply(folder, section.directives, config.file, kind == apache_section_t::kind_t::everywhere);
    const std::string folder_path = relative.empty() ? source_ : source_ + "/" + relative;
    const std::string htaccess = folder_path + "/.htaccess";
    if (const std::optional<file_status_t> status = try_stat_path(htaccess);
        status && status->kind == file_kind_t::regular && folder.apache.htaccess.value_or(true)) {
        const std::string shown = relative.empty() ? ".htaccess" : relative + "/.htaccess";
        const apache_config_t config = parse_apache_config(read_text_file(htaccess), shown);
        for (const apache_section_t& section : config.sections) {
            if (section.kind == apache_section_t::kind_t::files ||
                section.kind == apache_section_t::kind_t::files_match)
                folder.file_sections.push_back(section);
            else
                apply(folder, section.directives, config.file);
        }
    }
    for (const apache_config_t& config : configs_)
        for (const apache_section_t& section : config.sections) {
            if (section.kind == apache_section_t::kind_t::directory_match && starts_here(config, section))
                apply(folder, section.directives, config.file);
            if (!parent && (section.kind == apache_section_t::kind_t::files ||
                            section.kind == apache_section_t::kind_t::files_match))
                folder.file_sections.push_back(section);
        }

    auto preferences = std::make_shared<SSIDirectoryPreferences>(base_);
    const apache_settings_t& apache = folder.apache;
    if (apache.legacy_expressions) preferences->ap_expressions = !*apache.legacy_expressions;
    if (apache.error_text) preferences->error_text = to_wide(*apache.error_text);
    if (apache.echo_text) preferences->undefined_echo = to_wide(*apache.echo_text);
    if (apache.time_format) preferences->time_format = to_wide(*apache.time_format);
    if (apache.start_tag) preferences->start_tag = *apache.start_tag;
    if (apache.end_tag) preferences->end_tag = *apache.end_tag;
    // Included documents are parsed as the folder's pages are (Apache asks the included file's
    // own folder; a site's included files seldom live under other settings).
    if (apache.turns_on_includes())
        preferences->parses_include = [masks = base_.parses_include, apache](std::string_view name) {
            return !masks || masks(name) || apache.parses(name, 0);
        };
    folder.preferences = std::move(preferences);
    auto made = std::make_shared<const folder_t>(std::move(folder));
    folders_.emplace(relative, made);
    return made;
}

namespace {
// Directives Apache takes only from the server's or a virtual host's configuration: in a
// <Directory> section it refuses to start, in .htaccess it fails the folder's requests.
bool server_wide(std::string_view name) { return same_name(name, "SSIStartTag") || same_name(name, "SSIEndTag"); }
}  // namespace

void FolderSettings::apply(folder_t& folder, const std::vector<apache_directive_t>& directives,
                           const std::string& file, bool server_level) {
    for (const apache_directive_t& directive : directives) {
        const std::string place = file + ":" + std::to_string(directive.line);
        if (base_.redirects && is_redirect_directive(directive)) {
            if (!noted_.insert(place).second) continue;
            auto redirect = static_redirect(directive, place);
            if (auto* page = std::get_if<static_redirect_t>(&redirect))
                redirects_.push_back(std::move(*page));
            else {
                std::string written = directive.name;
                for (const std::string& argument : directive.arguments) written += " " + argument;
                notes_.push_back(place + ": note: " + written + " " + std::get<std::string>(redirect));
            }
            continue;
        }
        const std::optional<std::string> note =
            server_level || !server_wide(directive.name)
                ? apply_directive(folder.apache, directive)
                : directive.name + " is not allowed here (Apache takes it only outside <Directory> and .htaccess) "
                                   "and changes nothing";
        if (note && noted_.insert(place).second) notes_.push_back(place + ": note: " + *note);
    }
}

bool FolderSettings::converts(const folder_t& folder, std::string_view name, unsigned permissions,
                              bool by_masks) const {
    apache_settings_t settings = folder.apache;
    for (const apache_section_t& section : folder.file_sections)
        if (section_applies_to_file(section, name))
            for (const apache_directive_t& directive : section.directives) apply_directive(settings, directive);
    if (!settings.includes.value_or(true)) return false;
    return by_masks || settings.parses(name, permissions);
}

std::vector<std::string> FolderSettings::take_notes() {
    const std::lock_guard lock(mutex_);
    return std::exchange(notes_, {});
}

std::vector<static_redirect_t> FolderSettings::take_redirects() {
    const std::lock_guard lock(mutex_);
    return std::exchange(redirects_, {});
}

std::vector<std::string> FolderSettings::index_names(const std::string& relative) {
    const std::lock_guard lock(mutex_);
    return resolve(relative)->apache.directory_index;
}

std::vector<std::string> index_places(const std::string& folder, const std::vector<std::string>& names,
                                      const std::vector<std::string>& fallback) {
    std::vector<std::string> places;
    for (const std::string& name : names.empty() ? fallback : names) {
        if (name == "disabled") break;
        places.push_back(name.starts_with('/') ? name.substr(1) : folder.empty() ? name : folder + "/" + name);
    }
    return places;
}

namespace {
class HtaccessFinder : public SiteWalk::Visitor {
public:
    bool enter(const walk_entry_t&) override { return true; }
    void visit(const walk_entry_t& entry) override {
        if (entry.name == ".htaccess" && entry.status.kind == file_kind_t::regular) found.push_back(entry.path);
    }
    std::vector<std::string> found;
};

void add_to_hash(std::uint64_t& hash, std::string_view text) {
    for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
    hash = (hash ^ 0xffu) * 1099511628211u;  // ends each part, so that parts cannot run together
}
}  // namespace

std::string settings_digest(const std::string& source, const SSIDirectoryPreferences& preferences) {
    if (preferences.dialect != dialect_t::apache) return {};
    std::uint64_t hash = 14695981039346656037u;
    add_to_hash(hash, preferences.apache_directives);
    try {
        if (!preferences.apache_config.empty()) add_to_hash(hash, read_text_file(preferences.apache_config));
        HtaccessFinder finder;
        const MyFileFilter filter(preferences);
        SiteWalk(filter, std::nullopt, site_folders(source, preferences))
            .walk(source, stat_path(source).identity, "", finder);
        for (const std::string& path : finder.found) {
            add_to_hash(hash, path);
            add_to_hash(hash, read_text_file(path));
        }
    } catch (const std::runtime_error&) {
        return "|unreadable";  // the run itself reports what cannot be read
    }
    char hex[32];
    std::snprintf(hex, sizeof hex, "|%016" PRIx64, hash);
    return hex;
}

std::vector<std::string> includes_turned_on(const std::string& path, const std::string& shown) {
    std::vector<std::string> found;
    for (const apache_section_t& section : parse_apache_config(read_text_file(path), shown).sections)
        for (const apache_directive_t& directive : section.directives) {
            apache_settings_t settings;
            apply_directive(settings, directive);
            if (!settings.turns_on_includes()) continue;
            std::string line = shown + ":" + std::to_string(directive.line) + ": " + directive.name;
            for (const std::string& argument : directive.arguments) line += " " + argument;
            found.push_back(line);
        }
    return found;
}

std::vector<std::string> detect_apache_settings(const std::string& source) {
    std::vector<std::string> found;
    try {
        HtaccessFinder finder;
        const MyFileFilter filter(SSIDirectoryPreferences{});
        SiteWalk(filter, std::nullopt, {real_path(source)}).walk(source, stat_path(source).identity, "", finder);
        for (const std::string& path : finder.found) {
            const std::vector<std::string> more = includes_turned_on(path, path.substr(source.size() + 1));
            found.insert(found.end(), more.begin(), more.end());
        }
    } catch (const std::runtime_error&) {
        // A site that cannot be read, or a configuration that cannot, suggests nothing.
    }
    return found;
}
