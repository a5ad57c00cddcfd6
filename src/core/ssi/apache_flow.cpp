#include "ssi/apache_dialect.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "base/text.h"
#include "ssi/document_cache.h"
#include "ssi/expr/expression.h"
#include "ssi/preferences.h"
#include "platform/clock.h"
#include "platform/file_system.h"

#include <algorithm>
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
    host.server_variable = [this, &host](const std::string& name) {
        bool from_request = false;
        std::optional<std::string> value = server_variable(name, from_request);
        if (from_request && host.request_dependent) host.request_dependent("%{" + name + "}", "");
        return value;
    };
    host.file_exists = [this](const std::string& path) { return file_exists(path); };
    host.request_dependent = [this](const std::string& what, const std::string& instead) {
        request_dependent(what, to_wide(instead));
    };
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

// The variables of the newer syntax, as a plain GET of the page would give them; those only a
// request or the server's set-up could give are empty, and reported.
std::optional<std::string> ApacheDialect::server_variable(const std::string& name, bool& from_request) {
    if (name == "REQUEST_URI") return url_.value_or("INTERNALLY GENERATED file-relative req");
    if (name == "DOCUMENT_URI") return to_narrow(variable(u"DOCUMENT_URI").value_or(u""));
    if (name == "QUERY_STRING") return query_;
    if (name == "PATH_INFO") return std::string();
    if (name == "REQUEST_METHOD") return std::string("GET");
    if (name == "REQUEST_SCHEME") return std::string("http");
    if (name == "SERVER_PROTOCOL") return std::string("HTTP/1.1");
    if (name == "HTTPS" || name == "IPV6" || name == "HTTP2") return std::string("off");
    if (name == "IS_SUBREQ") return std::string(parser_.parent_ != nullptr ? "true" : "false");
    if (name == "SERVER_SOFTWARE") return std::string(orrinfold::product_name);
    const bool now = name.starts_with("TIME");
    if (now || name == "LAST_MODIFIED") {
        if (now) parser_.uses_time();
        const std::optional<std::tm> time = now ? local_time(current_time()) : parser_.state_->last_modified;
        if (!time) return std::string();
        const std::string stamp = to_narrow(format_time(u"%Y%m%d%H%M%S", time, true));
        static constexpr std::string_view parts[] = {"TIME_YEAR", "TIME_MON", "TIME_DAY", "TIME_HOUR", "TIME_MIN", "TIME_SEC"};
        for (std::size_t i = 0; i < std::size(parts); ++i)
            if (name == parts[i]) return i == 0 ? stamp.substr(0, 4) : stamp.substr(2 + 2 * i, 2);
        if (name == "TIME_WDAY") return std::to_string(time->tm_wday);
        if (name == "TIME" || name == "LAST_MODIFIED") return stamp;
        return std::nullopt;
    }
    static constexpr std::string_view request_only[] = {
        "AUTH_TYPE", "CONN_LOG_ID", "CONN_REMOTE_ADDR", "CONTENT_TYPE", "CONTEXT_DOCUMENT_ROOT", "CONTEXT_PREFIX",
        "DOCUMENT_ROOT", "HANDLER", "HTTP_ACCEPT", "HTTP_COOKIE", "HTTP_FORWARDED", "HTTP_HOST",
        "HTTP_PROXY_CONNECTION", "HTTP_REFERER", "HTTP_USER_AGENT", "REMOTE_ADDR", "REMOTE_HOST", "REMOTE_IDENT",
        "REMOTE_PORT", "REMOTE_USER", "REQUEST_FILENAME", "REQUEST_LOG_ID", "REQUEST_STATUS", "SCRIPT_FILENAME",
        "SCRIPT_GROUP", "SCRIPT_USER", "SERVER_ADMIN", "SERVER_NAME", "SERVER_PORT", "THE_REQUEST"};
    if (std::find(std::begin(request_only), std::end(request_only), name) != std::end(request_only)) {
        from_request = true;
        return std::string();
    }
    return std::nullopt;
}

// -F: a file, relative to the document, that exists and may be read.
bool ApacheDialect::file_exists(const std::string& path) {
    if (path.empty()) return false;
    const std::string full = path.starts_with('/') ? path : parser_.directory_ + "/" + path;
    try {
        parser_.require_readable(full);
        const file_status_t status = stat_path(full);
        parser_.depends_on(full, status);
        return true;
    } catch (const std::exception&) {
        return false;
    }
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
