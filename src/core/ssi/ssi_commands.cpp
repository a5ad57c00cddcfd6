#include "ssi/ssi_parser.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "platform/text.h"

const SSIParser::command_table_t& SSIParser::commands() {
    static const command_table_t table{
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

// What the Apache dialect adds: Apache's own argument handling in each handler (so no argument
// lists here), flow control, printenv and comment; exec is known only to be refused.
const SSIParser::command_table_t& SSIParser::apache_commands() {
    static const command_table_t table{
        {u"comment", {&SSIParser::do_apache_comment, {}, {}}},
        {u"config", {&SSIParser::do_apache_config, {}, {}}},
        {u"echo", {&SSIParser::do_apache_echo, {}, {}}},
        {u"elif", {&SSIParser::do_apache_elif, {}, {}, true}},
        {u"else", {&SSIParser::do_apache_else, {}, {}, true}},
        {u"endif", {&SSIParser::do_apache_endif, {}, {}, true}},
        {u"exec", {&SSIParser::do_apache_exec, {}, {}}},
        {u"flastmod", {&SSIParser::do_apache_file_info, {}, {}}},
        {u"fsize", {&SSIParser::do_apache_file_info, {}, {}}},
        {u"if", {&SSIParser::do_apache_if, {}, {}, true}},
        {u"include", {&SSIParser::do_apache_include, {}, {}}},
        {u"printenv", {&SSIParser::do_apache_printenv, {}, {}}},
        {u"set", {&SSIParser::do_apache_set, {}, {}}},
    };
    return table;
}

void SSIParser::init_commands() {
    commands();
    apache_commands();
}

void SSIParser::execute_command(const Command& command) {
    if (apache_dialect_) {
        const auto entry = apache_commands().find(command.name);
        try {
            if (apache_stalled()) {
                // Nothing runs any more in this document.
            } else if (!command.malformed.empty()) {
                if (printing_) fail(command.malformed);
                report(severity_t::error, command.malformed + "; the rest of the document is left out");
                stall_apache();
            } else if (entry == apache_commands().end()) {
                // Logged also in a branch not taken, where nothing is written.
                if (printing_) fail("Unknown SSI command: " + to_narrow(command.name));
                report(severity_t::warning, "Unknown SSI command: " + to_narrow(command.name));
            } else if (printing_ || entry->second.flow) {
                try {
                    entry->second.handler(*this, command);
                } catch (const value_too_long&) {
                    fail("A value of command '" + to_narrow(command.name) + "' would be longer than " +
                         std::to_string(max_value_length) + " characters");
                }
            }
        } catch (const ssi_command_exception&) {
        }
        return;
    }
    const auto entry = commands().find(command.name);
    if (entry == commands().end()) {
        report(severity_t::warning, "Unknown SSI command: " + to_narrow(command.name));
        return;
    }
    const command_info_t& info = entry->second;
    try {
        for (const auto& [name, value] : command.arguments) {
            if (!info.required.contains(name) && !info.optional.contains(name))
                report(severity_t::warning,
                       "Unsupported argument '" + to_narrow(name) + "' in command '" + to_narrow(command.name) + "'");
        }
        for (const auto& name : info.required) {
            if (!command.arguments.contains(name)) {
                report(severity_t::error, "Missing required argument '" + to_narrow(name) + "' in command '" +
                                              to_narrow(command.name) + "'");
                raise(ssi_command_exception{});
            }
        }
        info.handler(*this, command);
    } catch (const ssi_command_exception&) {
    }
}

void SSIParser::do_break(SSIParser&, const Command&) { raise(ssi_break_exception{}); }
