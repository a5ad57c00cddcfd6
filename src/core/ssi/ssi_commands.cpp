#include "ssi/ssi_parser.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "base/text.h"
#include "ssi/dialect.h"

// One dispatch for both dialects: the document's dialect says where they differ.

const std::u16string* SSIParser::Command::find(std::u16string_view argument) const {
    for (const Argument& each : arguments)
        if (each.name == argument) return each.value ? &*each.value : nullptr;
    return nullptr;
}

void SSIParser::fail(const std::string& text) {
    dialect_->on_directive_error(text);
    raise(ssi_command_exception{});  // not reached: the dialect drops the directive itself
}

void SSIParser::execute_command(const Command& command) {
    try {
        if (!dialect_->admits(command)) return;
        const command_table_t& table = dialect_->commands();
        const auto entry = table.find(command.name);
        if (entry == table.end()) {
            dialect_->unknown_command(command);
            return;
        }
        const command_info_t& info = entry->second;
        if (!printing_ && !info.flow) return;
        dialect_->check_arguments(info, command);
        try {
            info.handler(*this, command);
        } catch (const value_too_long&) {
            fail("A value of command '" + to_narrow(command.name) + "' would be longer than " +
                 std::to_string(max_value_length) + " characters");
        }
    } catch (const ssi_command_exception&) {
    }
}

void SSIParser::do_break(SSIParser&, const Command&) { raise(ssi_break_exception{}); }
