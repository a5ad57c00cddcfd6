#include "ssi/ssi_parser.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "platform/text.h"
#include "ssi/preferences.h"

#include <algorithm>

std::string SSIParser::resolve_path(const SSIParser& parser, const Command& command) {
    const auto file = command.arguments.find(u"file");
    const auto virtual_ = command.arguments.find(u"virtual");
    const bool has_file = file != command.arguments.end();
    const bool has_virtual = virtual_ != command.arguments.end();
    const char* problem = nullptr;
    if (!has_file && !has_virtual)
        problem = "Missing 'file' or 'virtual' argument";
    else if (has_file && has_virtual)
        problem = "Both 'file' and 'virtual' arguments";
    else if (has_file)
        problem = "'file' argument is not supported (only 'virtual')";
    if (problem != nullptr) {
        parser.log_->error(problem);
        raise(ssi_command_exception{});
    }

    std::u16string_view value = virtual_->second;
    while (!value.empty() && is_space(value.front())) value.remove_prefix(1);
    std::string path = to_narrow(value);
    // Site authors on Windows write either separator; this file system takes only '/'.
    std::replace(path.begin(), path.end(), '\\', '/');
    const std::string& root = parser.preferences_->virtual_root;
    if (!root.empty() && !value.empty() && value.front() == u'/') return root + path;
    return parser.directory_ + "/" + path;
}

void SSIParser::do_include(SSIParser& parser, const Command& command) {
    const std::string path = resolve_path(parser, command);
    SSIParser child(path, *parser.output_, *parser.preferences_, *parser.state_, *parser.log_);
    child.process();
}
