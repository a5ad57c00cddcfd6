#pragma once

#include "base/compile_log.h"
#include "site/settings_file.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

struct SSIDirectoryPreferences;

// orrinfold init [SOURCE] [options]: writes SOURCE/orrinfold.toml, never over one. Returns the
// exit status.
int run_init(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Passes a run's lines on, and notes the first directive that only the Apache dialect knows,
// for a first run's hint.
class ApacheSyntaxWatch : public CompileLogBase {
public:
    explicit ApacheSyntaxWatch(CompileLogBase& target) : target_(target) {}
    void output_line(const std::string& text) override { target_.output_line(text); }
    void message(const std::string& text) override { target_.message(text); }
    void error(const std::string& text) override { target_.error(text); }
    void warning(const std::string& text) override { target_.warning(text); }
    void diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) override;
    void summary(const std::string& text) override { target_.summary(text); }

    std::string first;  // "PAGE:LINE:COLUMN: DIRECTIVE", empty when none was met

private:
    CompileLogBase& target_;
};

// After a run in the default dialect with no settings file: a note saying what orrinfold init
// would write, when the site's .htaccess turns includes on or a page used Apache's syntax.
void hint_first_run(std::ostream& out, const std::string& source, const std::string& apache_directive);
