#include "ssi/apache_dialect.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "base/text.h"
#include "ssi/document_cache.h"
#include "ssi/expr/expression.h"
#include "ssi/preferences.h"
#include "version.h"

// Flow control in the Apache dialect: if, elif, else and endif, and their expressions.

void ApacheDialect::branch_error(const std::string& text) {
    parser_.report(severity_t::error, text);
    parser_.write(error_text_);
    // As Apache does: the branch is not taken, a later elif may still be, and the next else
    // does not switch the output.
    parser_.printing_ = false;
    taken_ = false;
    else_ignored_ = true;
    raise(ssi_command_exception{});
}

// The expr argument of if or elif; a missing or extra argument fails the branch.
const SSIParser::Argument& ApacheDialect::expression(const Command& command, const char* directive) {
    const std::string name = directive;
    if (command.arguments.size() != 1)
        branch_error((command.arguments.empty() ? "Missing 'expr' argument for '" : "Too many arguments for '") +
                            name + "'");
    const Argument& argument = command.arguments.front();
    if (argument.name != u"expr")
        branch_error("Unknown parameter '" + to_narrow(argument.name) + "' in command '" + name + "'");
    if (!argument.value) branch_error("Missing value of 'expr' in command '" + name + "'");
    return argument;
}

// Takes the branch or not; a malformed expression fails it.
void ApacheDialect::branch(const Argument& expression) {
    expression_host_t host;
    host.expand = [this](std::string_view text) { return to_narrow(expand(to_wide(text))); };
    host.warn = [this](const std::string& text) { parser_.report(severity_t::error, text); };
    host.captures = &captures_;
    host.server_variable = [this](const std::string& name) { return server_variable(name); };
    if (DocumentCache* cache = parser_.state_->cache; cache != nullptr) host.regexes = &cache->regexes();
    std::string error;
    const std::string text = to_narrow(*expression.value);
    std::optional<bool> value;
    try {
        value = parser_.preferences_->ap_expressions ? evaluate_ap_expression(text, host, error)
                                                     : evaluate_legacy_expression(text, host, error);
    } catch (const value_too_long&) {
        error = "A value in the expression would be longer than " + std::to_string(max_value_length) + " characters";
    }
    if (!value) branch_error(error);
    parser_.printing_ = taken_ = *value;
}

// The request variables of the newer syntax that a static page has: those of a plain GET of it.
std::optional<std::string> ApacheDialect::server_variable(const std::string& name) {
    if (name == "REQUEST_URI" || name == "DOCUMENT_URI")
        return to_narrow(variable(u"DOCUMENT_URI").value_or(u""));
    if (name == "QUERY_STRING" || name == "PATH_INFO") return std::string();
    if (name == "REQUEST_METHOD") return std::string("GET");
    if (name == "REQUEST_SCHEME") return std::string("http");
    if (name == "HTTPS") return std::string("off");
    if (name == "IS_SUBREQ") return std::string(parser_.parent_ != nullptr ? "true" : "false");
    if (name == "SERVER_SOFTWARE") return std::string(orrinfold::product_name);
    return std::nullopt;
}

void ApacheDialect::do_if(SSIParser& parser, const Command& command) {
    ApacheDialect& self = of(parser);
    self.open_ifs_.push_back(parser.directive_offset_);
    if (!parser.printing_) {
        ++self.skipped_ifs_;
        return;
    }
    self.branch(self.expression(command, "if"));
    self.skipped_ifs_ = 0;
}

void ApacheDialect::do_elif(SSIParser& parser, const Command& command) {
    ApacheDialect& self = of(parser);
    if (self.open_ifs_.empty()) parser.report(severity_t::error, "'elif' without 'if'");
    if (self.skipped_ifs_ > 0) return;
    const Argument& expression = self.expression(command, "elif");
    if (self.taken_)
        parser.printing_ = false;
    else
        self.branch(expression);
}

void ApacheDialect::do_else(SSIParser& parser, const Command& command) {
    ApacheDialect& self = of(parser);
    if (self.open_ifs_.empty()) parser.report(severity_t::error, "'else' without 'if'");
    if (self.skipped_ifs_ > 0) return;
    if (!command.arguments.empty()) {
        parser.report(severity_t::error, "'else' takes no arguments");
        if (parser.printing_) parser.write(self.error_text_);
        return;
    }
    if (self.else_ignored_) {
        self.else_ignored_ = false;
        return;
    }
    parser.printing_ = !self.taken_;
    self.taken_ = true;
}

void ApacheDialect::do_endif(SSIParser& parser, const Command& command) {
    ApacheDialect& self = of(parser);
    if (self.open_ifs_.empty())
        parser.report(severity_t::error, "'endif' without 'if'");
    else
        self.open_ifs_.pop_back();
    if (self.skipped_ifs_ > 0) {
        --self.skipped_ifs_;
        return;
    }
    if (!command.arguments.empty()) parser.fail("'endif' takes no arguments");
    parser.printing_ = self.taken_ = true;
    self.else_ignored_ = false;
}
