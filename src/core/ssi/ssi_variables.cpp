#include "ssi/ssi_parser.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "base/text.h"
#include "platform/clock.h"
#include "ssi/preferences.h"
#include "version.h"

namespace {
constexpr bool is_name_char(char16_t c) noexcept { return is_ascii_alpha(c) || c == u'_'; }
}  // namespace

std::u16string lookup_variable(const SSIParser::variables_t& variables, std::u16string_view name) {
    const auto found = variables.find(name);
    return found != variables.end() ? found->second : std::u16string(u"(none)");
}

std::u16string expand_variables(std::u16string_view value, const SSIParser::variables_t& variables) {
    std::u16string result;
    result.reserve(value.size());
    for (std::size_t i = 0; i < value.size();) {
        const char16_t c = value[i];
        if (c == u'\\' && i + 1 < value.size() && value[i + 1] == u'$') {
            result.push_back(u'$');
            i += 2;
        } else if (c != u'$') {
            result.push_back(c);
            ++i;
        } else if (i + 1 == value.size()) {
            result.push_back(u'$');
            ++i;
        } else if (value[i + 1] == u'{') {
            std::size_t j = i + 2;
            for (int depth = 1; j < value.size(); ++j) {
                if (value[j] == u'{') ++depth;
                if (value[j] == u'}' && --depth == 0) break;
            }
            if (j == value.size()) {
                result.append(value.substr(i));
                break;
            }
            const std::u16string name = expand_variables(value.substr(i + 2, j - i - 2), variables);
            result += lookup_variable(variables, name);
            i = j + 1;
        } else {
            std::size_t j = i + 1;
            while (j < value.size() && is_name_char(value[j])) ++j;
            result += lookup_variable(variables, value.substr(i + 1, j - i - 1));
            i = j;
        }
        // Checked as it grows: "$x$x" doubles a value with each directive.
        if (result.size() > max_value_length) raise(value_too_long{});
    }
    return result;
}

bool SSIParser::assign_variable(const std::u16string& name, const std::u16string& value) {
    std::u16string& stored = state_->variables[name];
    // Values stored by a caller before the run are not counted; the count never goes below zero.
    const std::size_t others = state_->variables_length - std::min(stored.size(), state_->variables_length);
    if (others + value.size() > max_variables_length) return false;
    state_->variables_length = others + value.size();
    stored = value;
    return true;
}

// Every document starts with it, includes too: a value already in place is left as it is.
void SSIParser::store_server_software() {
    static const std::u16string product = to_wide(orrinfold::product_name);
    static const std::u16string name = u"SERVER_SOFTWARE";
    const auto stored = state_->variables.find(name);
    if (stored == state_->variables.end() || stored->second != product) assign_variable(name, product);
}

void SSIParser::do_set(SSIParser& parser, const Command& command) {
    if (parser.assign_variable(*command.find(u"var"), *command.find(u"value"))) return;
    parser.fail("Variables would hold more than " + std::to_string(max_variables_length) +
                " characters in all; 'set' dropped");
}

void SSIParser::do_echo(SSIParser& parser, const Command& command) {
    const std::u16string& name = *command.find(u"var");
    if (name == u"DATE_GMT" || name == u"DATE_LOCAL") parser.uses_time();
    if (name == u"DATE_GMT")
        parser.write(format_time(parser.time_format_, universal_time(current_time())));
    else if (name == u"DATE_LOCAL")
        parser.write(format_time(parser.time_format_, local_time(current_time())));
    else if (name == u"LAST_MODIFIED")
        parser.write(format_time(parser.time_format_, parser.state_->last_modified));
    else {
        if (parser.preferences_->check && !parser.state_->variables.contains(name))
            parser.report(severity_t::warning, "Variable '" + to_narrow(name) + "' is not set: echo prints (none)");
        parser.write(lookup_variable(parser.state_->variables, name));
    }
}
