#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Apache httpd's configuration as far as it changes a static page: which files mod_include
// parses, and its settings for the pages it parses. Read from .htaccess files, a server or
// virtual-host configuration, or the directives a settings file gives.

// One directive as written: its name, its arguments with quotes taken off, and its line.
struct apache_directive_t {
    std::string name;
    std::vector<std::string> arguments;
    std::uint64_t line = 0;
};

// A run of directives that applies to some places: everywhere, a folder and those below
// (<Directory>, its path as written), or files whose name matches (<Files>, <FilesMatch>).
struct apache_section_t {
    enum class kind_t { everywhere, directory, directory_match, files, files_match };
    kind_t kind = kind_t::everywhere;
    std::string pattern;
    std::vector<apache_directive_t> directives;
};

// A configuration read from one file: its sections in the order written (directives outside
// any section first), and its DocumentRoot, which <Directory> paths are taken under.
struct apache_config_t {
    std::string file;  // for notes, as given
    std::vector<apache_section_t> sections;
    std::string document_root;
};

// Reads a configuration's text. Sections that only a live server uses (<Location>,
// <IfModule !...>, ...) are left out. A section left open or closed twice is an error
// (std::runtime_error "FILE:LINE: error: ...").
apache_config_t parse_apache_config(std::string_view text, const std::string& file);

// The settings Apache's directives give the pages of a folder (and, for the parsing
// decision, of single files), inherited down the folders: each unset value keeps the
// folder above's.
struct apache_settings_t {
    enum class xbithack_t { off, on, full };
    std::vector<std::string> parsed_extensions;  // ".html": files with it are parsed
    bool parse_all = false;                      // SetOutputFilter INCLUDES
    std::optional<bool> includes;                // Options: includes on or off
    std::optional<xbithack_t> xbithack;
    std::optional<bool> legacy_expressions;
    std::optional<std::string> error_text, echo_text, time_format;
    std::optional<std::string> start_tag, end_tag;  // SSIStartTag, SSIEndTag
    std::vector<std::string> directory_index;
    std::optional<bool> htaccess;  // AllowOverride: whether .htaccess files are read here

    // Whether a file of this name, with these permission bits, is parsed.
    bool parses(std::string_view name, unsigned permissions) const;
    // Whether these settings say anything about parsing at all (a site that turns includes on).
    bool turns_on_includes() const {
        return parse_all || !parsed_extensions.empty() || xbithack.value_or(xbithack_t::off) != xbithack_t::off;
    }
};

// Applies one directive. Returns a note for the user when the directive is not understood or
// matters only to a live server that a static site cannot copy (redirects, error documents),
// and nothing for those that change nothing on a static page.
std::optional<std::string> apply_directive(apache_settings_t& settings, const apache_directive_t& directive);

// Whether two of Apache's names (directives, sections, arguments such as "On") are the same:
// ASCII letters compare without regard to case, as Apache compares them.
bool same_name(std::string_view a, std::string_view b);

// Whether a section applies to a folder, given its path from the site's root ("" for the
// root), with <Directory> paths taken under document_root.
bool section_applies_to_folder(const apache_section_t& section, const std::string& document_root,
                               const std::string& relative_folder);
// Whether a <Files> or <FilesMatch> section applies to a file name.
bool section_applies_to_file(const apache_section_t& section, std::string_view name);
