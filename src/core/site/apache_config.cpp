#include "site/apache_config.h"

#include "base/exceptions.h"
#include "base/text.h"
#include "platform/file_system.h"
#include "site/file_filter.h"

#include <algorithm>
#include <map>
#include <regex>
#include <stdexcept>

bool same_name(std::string_view a, std::string_view b) { return equals_ignoring_case(a, b); }

namespace {

// Splits a line into words: "..." and '...' quote a word (with \" inside), others end at spaces.
std::vector<std::string> words(std::string_view line) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) return out;
        std::string word;
        if (line[i] == '"' || line[i] == '\'') {
            const char quote = line[i++];
            for (; i < line.size() && line[i] != quote; ++i) {
                if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == quote) ++i;
                word += line[i];
            }
            ++i;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') word += line[i++];
        }
        out.push_back(std::move(word));
    }
}

[[noreturn]] void config_error(const std::string& file, std::uint64_t line, const std::string& text) {
    raise(std::runtime_error(file + ":" + std::to_string(line) + ": error: " + text));
}

// The section a tag opens, or nullopt for one whose directives a static site never sees.
std::optional<apache_section_t> open_section(const std::string& tag, std::vector<std::string>& arguments) {
    apache_section_t section;
    const bool regex = !arguments.empty() && arguments.front() == "~";
    if (regex) arguments.erase(arguments.begin());
    section.pattern = arguments.empty() ? std::string() : arguments.front();
    if (same_name(tag, "Directory")) {
        section.kind = regex ? apache_section_t::kind_t::directory_match : apache_section_t::kind_t::directory;
    } else if (same_name(tag, "DirectoryMatch")) {
        section.kind = apache_section_t::kind_t::directory_match;
    } else if (same_name(tag, "Files")) {
        section.kind = regex ? apache_section_t::kind_t::files_match : apache_section_t::kind_t::files;
    } else if (same_name(tag, "FilesMatch")) {
        section.kind = apache_section_t::kind_t::files_match;
    } else if (same_name(tag, "VirtualHost") || same_name(tag, "IfModule") || same_name(tag, "IfDefine") ||
               same_name(tag, "IfVersion")) {
        // Taken as holding: the site was served with the modules its configuration names.
        if (!section.pattern.empty() && section.pattern.front() == '!') return std::nullopt;
        section.kind = apache_section_t::kind_t::everywhere;
    } else {
        return std::nullopt;  // <Location>, <If>, <Limit>, ...: per request, not per file
    }
    return section;
}

std::string extension_of(std::string extension) {
    if (!extension.starts_with('.')) extension.insert(extension.begin(), '.');
    for (char& c : extension) c = static_cast<char>(ascii_lower(static_cast<char32_t>(static_cast<unsigned char>(c))));
    return extension;
}

void add_extensions(apache_settings_t& settings, const std::vector<std::string>& arguments, std::size_t from) {
    for (std::size_t i = from; i < arguments.size(); ++i)
        settings.parsed_extensions.push_back(extension_of(arguments[i]));
}

bool mentions_includes(const std::string& filters) {
    for (std::size_t start = 0; start <= filters.size();) {
        const std::size_t end = std::min(filters.find(';', start), filters.size());
        if (same_name(std::string_view(filters).substr(start, end - start), "INCLUDES")) return true;
        start = end + 1;
    }
    return false;
}

// Options: a list with + and - changes the folder above's; one without replaces it.
void apply_options(apache_settings_t& settings, const std::vector<std::string>& arguments) {
    std::optional<bool> includes;
    bool relative = false;
    for (const std::string& option : arguments) {
        const bool sign = option.starts_with('+') || option.starts_with('-');
        relative = relative || sign;
        const std::string_view name = sign ? std::string_view(option).substr(1) : std::string_view(option);
        if (same_name(name, "Includes") || same_name(name, "IncludesNOEXEC") || same_name(name, "All"))
            includes = !option.starts_with('-');
        else if (same_name(name, "None"))
            includes = false;
    }
    if (includes)
        settings.includes = includes;
    else if (!relative)
        settings.includes = false;
}

std::optional<bool> on_off(const std::string& value) {
    if (same_name(value, "on")) return true;
    if (same_name(value, "off")) return false;
    return std::nullopt;
}

// Directives a static page does not depend on: the server's, access, logging, headers, ...
bool live_server_only(std::string_view name) {
    static const char* const names[] = {
        "AddDefaultCharset",
        "AddCharset",
        "AddEncoding",
        "AddLanguage",
        "AddType",
        "AuthName",
        "AuthType",
        "AuthUserFile",
        "CustomLog",
        "DefaultType",
        "Deny",
        "DirectorySlash",
        "ErrorLog",
        "ExpiresActive",
        "ExpiresByType",
        "ExpiresDefault",
        "FileETag",
        "ForceType",
        "Header",
        "IndexOptions",
        "Listen",
        "LogLevel",
        "Order",
        "Allow",
        "Require",
        "RewriteBase",
        "RewriteCond",
        "RewriteEngine",
        "RewriteRule",
        "Satisfy",
        "ServerAdmin",
        "ServerAlias",
        "ServerName",
        "ServerSignature",
        "SetEnvIf",
        "SSILastModified",
        "SSIETag",
        "AddOutputFilterByType",
        "Include",
        "IncludeOptional",
        "LoadModule",
        "User",
        "Group",
        "DocumentRoot",
    };
    return std::any_of(std::begin(names), std::end(names), [&](const char* known) { return same_name(name, known); });
}
}  // namespace

apache_config_t parse_apache_config(std::string_view text, const std::string& file) {
    apache_config_t config;
    config.file = file;
    config.sections.emplace_back();                // directives outside any section
    std::vector<std::optional<std::size_t>> open;  // the sections open, and which one each fills
    std::uint64_t number = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(start, end - start));
        const std::uint64_t at = ++number;
        start = end + 1;
        // A backslash at the end joins the next line.
        while (!line.empty() && (line.back() == '\r' || line.back() == '\\') && start < text.size()) {
            if (line.back() == '\r') {
                line.pop_back();
                continue;
            }
            line.pop_back();
            end = text.find('\n', start);
            if (end == std::string_view::npos) end = text.size();
            line += text.substr(start, end - start);
            start = end + 1;
            ++number;
        }
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
        std::vector<std::string> parts = words(line);
        if (parts.empty() || parts.front().starts_with('#')) continue;
        const bool skipping = std::any_of(open.begin(), open.end(), [](const auto& s) { return !s.has_value(); });
        if (parts.front().starts_with("</")) {
            if (open.empty()) config_error(file, at, parts.front() + " closes no section");
            open.pop_back();
            continue;
        }
        if (parts.front().starts_with('<')) {
            std::string tag = parts.front().substr(1);
            parts.erase(parts.begin());
            if (!parts.empty() && parts.back().ends_with('>')) parts.back().pop_back();
            if (tag.ends_with('>')) tag.pop_back();
            if (!parts.empty() && parts.back().empty()) parts.pop_back();
            std::optional<apache_section_t> section = skipping ? std::nullopt : open_section(tag, parts);
            if (section && section->kind == apache_section_t::kind_t::everywhere && !open.empty()) {
                open.push_back(open.back());  // <IfModule> inside a section: the same section
                continue;
            }
            if (section) config.sections.push_back(std::move(*section));
            open.push_back(section ? std::optional(config.sections.size() - 1) : std::nullopt);
            continue;
        }
        if (skipping) continue;
        apache_directive_t directive{parts.front(), {parts.begin() + 1, parts.end()}, at};
        if (same_name(directive.name, "DocumentRoot") && !directive.arguments.empty())
            config.document_root = directive.arguments.front();
        config.sections[open.empty() ? 0 : *open.back()].directives.push_back(std::move(directive));
    }
    if (!open.empty()) config_error(file, number, "a section is left open at the end of the file");
    while (config.document_root.size() > 1 && config.document_root.ends_with('/')) config.document_root.pop_back();
    return config;
}

bool apache_settings_t::parses(std::string_view name, unsigned permissions) const {
    if (!includes.value_or(true)) return false;
    if (parse_all) return true;
    // Apache reads every extension of a name: "page.html.en" has .html too.
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(ascii_lower(static_cast<char32_t>(static_cast<unsigned char>(c))));
    for (std::size_t dot = lower.find('.', 1); dot != std::string::npos; dot = lower.find('.', dot + 1)) {
        const std::size_t next = lower.find('.', dot + 1);
        const std::string extension = lower.substr(dot, next == std::string::npos ? std::string::npos : next - dot);
        if (std::find(parsed_extensions.begin(), parsed_extensions.end(), extension) != parsed_extensions.end())
            return true;
    }
    // XBitHack: an HTML page with its owner's execute bit set.
    const bool html = lower.ends_with(".html") || lower.ends_with(".htm");
    return xbithack.value_or(xbithack_t::off) != xbithack_t::off && html && (permissions & 0100u) != 0;
}

std::optional<std::string> apply_directive(apache_settings_t& settings, const apache_directive_t& directive) {
    const std::string& name = directive.name;
    const std::vector<std::string>& arguments = directive.arguments;
    const std::string first = arguments.empty() ? std::string() : arguments.front();
    if (same_name(name, "AddOutputFilter") && arguments.size() >= 2) {
        if (mentions_includes(first)) add_extensions(settings, arguments, 1);
    } else if (same_name(name, "AddHandler") && arguments.size() >= 2) {
        if (same_name(first, "server-parsed")) add_extensions(settings, arguments, 1);
    } else if (same_name(name, "AddType") && arguments.size() >= 2) {
        if (same_name(first, "text/x-server-parsed-html")) add_extensions(settings, arguments, 1);
    } else if (same_name(name, "SetOutputFilter") || same_name(name, "SetHandler")) {
        settings.parse_all =
            same_name(name, "SetHandler") ? same_name(first, "server-parsed") : mentions_includes(first);
    } else if (same_name(name, "Options")) {
        apply_options(settings, arguments);
    } else if (same_name(name, "XBitHack")) {
        settings.xbithack = same_name(first, "full") ? apache_settings_t::xbithack_t::full
                            : same_name(first, "on") ? apache_settings_t::xbithack_t::on
                                                     : apache_settings_t::xbithack_t::off;
    } else if (same_name(name, "SSILegacyExprParser")) {
        if (const std::optional<bool> on = on_off(first)) settings.legacy_expressions = on;
    } else if (same_name(name, "SSIErrorMsg")) {
        settings.error_text = first;
    } else if (same_name(name, "SSIUndefinedEcho")) {
        settings.echo_text = first;
    } else if (same_name(name, "SSITimeFormat")) {
        settings.time_format = first;
    } else if (same_name(name, "AllowOverride")) {
        settings.htaccess = !same_name(first, "None");
    } else if (same_name(name, "DirectoryIndex")) {
        settings.directory_index = arguments;
    } else if (same_name(name, "SSIStartTag") || same_name(name, "SSIEndTag")) {
        // Apache refuses an empty tag; the one set before stays.
        if (first.empty()) return name + " may not be empty and changes nothing";
        (same_name(name, "SSIStartTag") ? settings.start_tag : settings.end_tag) = first;
    } else if (same_name(name, "Redirect") || same_name(name, "RedirectPermanent") || same_name(name, "RedirectTemp") ||
               same_name(name, "RedirectMatch") || same_name(name, "ErrorDocument")) {
        std::string written = name;
        for (const std::string& argument : arguments) written += " " + argument;
        return written + " is done by a live server only: a static host needs its own set-up for it";
    } else if (!live_server_only(name)) {
        return name + " is not understood and changes nothing here";
    }
    return std::nullopt;
}

bool section_applies_to_folder(const apache_section_t& section, const std::string& document_root,
                               const std::string& relative_folder) {
    const std::string full = relative_folder.empty() ? document_root : document_root + "/" + relative_folder;
    switch (section.kind) {
        case apache_section_t::kind_t::everywhere:
            return true;
        case apache_section_t::kind_t::directory: {
            // A relative path (as a settings file may give) is taken under the document root.
            std::string pattern = is_absolute_path(section.pattern) || section.pattern.empty()
                                      ? section.pattern
                                      : document_root + "/" + section.pattern;
            while (pattern.size() > 1 && pattern.ends_with('/')) pattern.pop_back();
            return pattern == full || pattern == "/" || full.starts_with(pattern + "/");
        }
        case apache_section_t::kind_t::directory_match:
            try {
                return std::regex_search(full, std::regex(section.pattern));
            } catch (const std::regex_error&) {
                return false;
            }
        case apache_section_t::kind_t::files:
        case apache_section_t::kind_t::files_match:
            return false;
    }
    return false;
}

bool section_applies_to_file(const apache_section_t& section, std::string_view name) {
    if (section.kind == apache_section_t::kind_t::files) return match_mask(section.pattern, name);
    if (section.kind != apache_section_t::kind_t::files_match) return false;
    try {
        return std::regex_search(std::string(name), std::regex(section.pattern));
    } catch (const std::regex_error&) {
        return false;
    }
}
