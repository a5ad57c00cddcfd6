#include "site_settings.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "base/text.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "site/folder_settings.h"
#include "ssi/preferences.h"

#include <CLI/CLI.hpp>
#include <ostream>

int run_init(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CLI::App app("Writes SOURCE/orrinfold.toml from the options given and what the site's .htaccess files say.",
                 "orrinfold init");
    app.allow_windows_style_options(false);
    settings_file_t settings;
    std::string source = ".";
    std::string dialect;
    unsigned jobs = 0;
    std::vector<std::string> convert, skip, allow_outside;
    std::string text;
    const auto string_option = [&app](const char* name, std::optional<std::string>& target, const char* help) {
        app.add_option_function<std::string>(
            name, [&target](const std::string& value) { target = value; }, help);
    };
    const auto flag = [&app](const char* name, std::optional<bool>& target, const char* help) {
        app.add_flag_function(
            name, [&target](std::int64_t) { target = true; }, help);
    };
    app.add_option("--convert", convert, "Masks of documents to convert")->allow_extra_args(false);
    app.add_option("--skip", skip, "Masks of files and folders to leave out")->allow_extra_args(false);
    app.add_option("--allow-outside", allow_outside, "A place outside the site pages may read")
        ->allow_extra_args(false);
    app.add_option("--dialect", dialect, "SSI dialect")->check(CLI::IsMember({"orrinfold", "apache"}));
    string_option("--virtual-root", settings.virtual_root, "Folder of \"/\" paths");
    flag("--ap-expr", settings.ap_expr, "Apache's newer expression syntax");
    string_option("--rename-pages", settings.rename_pages, "Extension of converted pages");
    flag("--redirects", settings.redirects, "Redirect pages under old names");
    flag("--check-links", settings.check_links, "Report broken local links");
    flag("-k,--keep-going", settings.keep_going, "Go on after a failed file");
    app.add_option("-j,--jobs", jobs, "Files converted at once")->check(CLI::Range(1u, 1024u));
    string_option("--state-dir", settings.state_dir, "Folder for the record of runs");
    string_option("--apache-config", settings.apache_config, "A server configuration to read");
    app.add_option("SOURCE", source, "The site's folder (default: the current folder)");
    app.add_option("DEST", text, "Where the static site is written by default");
    std::vector<const char*> argv{"orrinfold init"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            out << app.help();
            return 0;
        }
        err << "orrinfold init: " << e.what() << "\nUsage: orrinfold init [options] [SOURCE [DEST]]\n";
        return 2;
    }
    if (!convert.empty()) settings.convert = convert;
    if (!skip.empty()) settings.skip = skip;
    if (!allow_outside.empty()) settings.allow_outside = allow_outside;
    if (!dialect.empty()) settings.dialect = dialect;
    if (jobs != 0) settings.jobs = jobs;
    if (!text.empty()) settings.destination = text;

    std::vector<std::string> notes;
    const std::vector<std::string> found = detect_apache_settings(source);
    if (!found.empty() && !settings.dialect) {
        settings.dialect = "apache";
        notes.push_back("dialect = \"apache\" because:");
        for (const std::string& line : found) notes.push_back("  " + line);
    }
    const std::string path = source + "/" + settings_file_name;
    try {
        File file(path, File::access_t::create_new);
        const std::string written = settings_file_text(settings, notes);
        file.write(written.data(), written.size());
        file.close();
    } catch (const std::exception& e) {
        err << "orrinfold init: " << printable(e.what()) << "\n";
        return 1;
    }
    out << "Wrote " << printable(path) << "\n";
    for (const std::string& note : notes) out << note << "\n";
    return 0;
}

std::optional<std::string> apache_site_reason(const std::string& source) {
    const std::string htaccess = source + "/.htaccess";
    try {
        if (!try_stat_path(htaccess)) return std::nullopt;
        const std::vector<std::string> found = includes_turned_on(htaccess, ".htaccess");
        if (!found.empty()) return found.front();
    } catch (const std::runtime_error&) {
        // An unreadable .htaccess decides nothing: the run itself copies or reports it.
    }
    return std::nullopt;
}
