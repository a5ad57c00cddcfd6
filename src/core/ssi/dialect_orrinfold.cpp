#include "ssi/dialect.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "base/text.h"
#include "ssi/apache_dialect.h"
#include "ssi/preferences.h"

#include <algorithm>
#include <set>

// The default dialect: arguments are checked against the command's row before it runs, values
// are expanded as they are read, a failed directive leaves nothing in the page, and there is
// no flow control.

class OrrinfoldDialect final : public SSIDialect {
public:
    explicit OrrinfoldDialect(SSIParser& parser) : SSIDialect(parser) {}

    const SSIParser::command_table_t& commands() const override {
        static const SSIParser::command_table_t table{
            {u"break", {&SSIParser::do_break, {}, {}}},
            {u"config", {&SSIParser::do_config, {}, {u"sizefmt", u"timefmt"}}},
            {u"echo", {&SSIParser::do_echo, {u"var"}, {}}},
            {u"flastmod", {&SSIParser::do_flastmod, {}, {u"file", u"virtual"}}},
            {u"fsize", {&SSIParser::do_fsize, {}, {u"file", u"virtual"}}},
            {u"include", {&SSIParser::do_include, {}, {u"file", u"virtual"}}},
            {u"set", {&SSIParser::do_set, {u"var", u"value"}, {}}},
        };
        return table;
    }
    void start(bool) override { parser_.store_server_software(); }
    void read_directive(Command& command) override;
    bool admits(const Command&) override { return true; }
    void unknown_command(const Command& command) override {
        parser_.report(severity_t::warning, "Unknown SSI command: " + to_narrow(command.name));
    }
    void check_arguments(const SSIParser::command_info_t& info, const Command& command) override;
    [[noreturn]] void on_directive_error(const std::string& text) override {
        parser_.report(severity_t::error, text);
        raise(ssi_command_exception{});
    }
    void on_end_of_file() override {}
    void finish() override {}
    std::size_t include_depth() const override { return max_include_depth; }
    bool refuses_cycles() const override { return true; }

private:
    void read_identifier(std::u16string& identifier);
};

// Unsupported arguments are warned about in the order of their names, then a missing one stops
// the directive.
void OrrinfoldDialect::check_arguments(const SSIParser::command_info_t& info, const Command& command) {
    const auto supported = [&info](const std::u16string& name) {
        return info.required.contains(name) || info.optional.contains(name);
    };
    // Most directives have only arguments they support: the sorted list is made for warnings.
    if (!std::all_of(command.arguments.begin(), command.arguments.end(),
                     [&](const SSIParser::Argument& argument) { return supported(argument.name); })) {
        std::set<std::u16string> names;
        for (const SSIParser::Argument& argument : command.arguments) names.insert(argument.name);
        for (const std::u16string& name : names)
            if (!supported(name))
                parser_.report(severity_t::warning, "Unsupported argument '" + to_narrow(name) + "' in command '" +
                                                        to_narrow(command.name) + "'");
    }
    for (const std::u16string& name : info.required)
        if (std::none_of(command.arguments.begin(), command.arguments.end(),
                         [&name](const SSIParser::Argument& argument) { return argument.name == name; }))
            parser_.fail("Missing required argument '" + to_narrow(name) + "' in command '" + to_narrow(command.name) +
                         "'");
}

// Names are letters only; a value is quoted with " or ' or else runs to a space or the closer.
// The first of two arguments with one name wins.
void OrrinfoldDialect::read_directive(Command& command) {
    SSIParser& parser = parser_;
    parser.skip_spaces();
    read_identifier(command.name);
    if (command.name.size() > max_value_length) command.too_long = "A name";
    command.arguments.reserve(2);  // most directives have one or two
    for (;;) {
        parser.skip_spaces();
        char16_t c = parser.get_char();
        if (c == u'-') {
            if (parser.get_char() == u'-' && parser.get_char() == u'>') return;
            parser.report(severity_t::error, "Bad end of command");
            return;
        }
        if (!is_ascii_alpha(c)) parser.report(severity_t::error, "Non-alpha symbol in argument name");
        parser.unget_char();
        std::u16string name;
        read_identifier(name);

        parser.skip_spaces();
        if (parser.get_char() != u'=') parser.report(severity_t::error, "Expected '='");

        parser.skip_spaces();
        const char16_t quote = parser.get_char();
        std::u16string raw;
        // Past the limit the value is still read to its end, only no longer kept.
        const auto keep = [&raw](char16_t unit) {
            if (raw.size() <= max_value_length) raw.push_back(unit);
        };
        if (quote == u'"' || quote == u'\'') {
            for (c = parser.get_char(); c != quote; c = parser.get_char()) keep(c);
        } else {
            keep(quote);
            for (;;) {
                c = parser.get_char();
                if (c == u' ') break;
                if (c == u'-' && parser.peek_char(0) == u'-' && parser.peek_char(1) == u'>') {
                    parser.unget_char();
                    break;
                }
                keep(c);
            }
        }
        if (!command.too_long.empty()) continue;
        if (name.size() > max_value_length) {
            command.too_long = "A name";
            continue;
        }
        std::u16string value;
        try {
            if (raw.size() > max_value_length) raise(value_too_long{});
            // A value naming no variable (no "$", nothing escaped either) is kept as read.
            value = raw.find(u'$') == std::u16string::npos ? std::move(raw)
                                                           : expand_variables(raw, parser.state_->variables);
        } catch (const value_too_long&) {
            command.too_long = "Argument '" + to_narrow(name) + "' of command '" + to_narrow(command.name) + "'";
            continue;
        }
        if (command.find(name) != nullptr)
            parser.report(severity_t::error, "Duplicated arguments");
        else
            command.arguments.push_back({std::move(name), std::move(value)});
    }
}

void OrrinfoldDialect::read_identifier(std::u16string& identifier) {
    SSIParser& parser = parser_;
    const std::size_t before = identifier.size();
    for (char16_t c = parser.get_char(); is_ascii_alpha(c); c = parser.get_char())
        if (identifier.size() <= max_value_length) identifier.push_back(c);
    parser.unget_char();
    if (identifier.size() == before) parser.report(severity_t::error, "Expected identifier");
}

std::unique_ptr<SSIDialect> make_dialect(dialect_t dialect, SSIParser& parser) {
    if (dialect == dialect_t::apache) return std::make_unique<ApacheDialect>(parser);
    return std::make_unique<OrrinfoldDialect>(parser);
}
