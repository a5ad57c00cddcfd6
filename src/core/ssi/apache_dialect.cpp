#include "ssi/apache_dialect.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "base/text.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "ssi/preferences.h"
#include "version.h"

#include <algorithm>
#include <cctype>

// Where the Apache dialect differs from the default one: its table, how it reads a directive,
// what a failed directive leaves in the page, flow control, variables and include depth.

namespace {
constexpr std::u16string_view apache_time_format = u"%A, %d-%b-%Y %H:%M:%S %Z";
}  // namespace

std::optional<std::string> ApacheDialect::normalized(std::string_view path) {
    std::string folded(path);
    if (!fold_dot_segments(folded)) return std::nullopt;
    if (folded.empty()) return folded;
    return "/" + folded + (path.ends_with('/') ? "/" : "");
}

// Apache checks each argument as its handler reaches it, so the rows name them for that check;
// comment and exec take anything. if, elif, else and endif run in branches not taken too.
const SSIParser::command_table_t& ApacheDialect::commands() const {
    static const SSIParser::command_table_t table{
        {u"comment", {&do_comment, {}, {}}},
        {u"config", {&do_config, {}, {u"echomsg", u"errmsg", u"sizefmt", u"timefmt"}}},
        {u"echo", {&do_echo, {}, {u"encoding", u"var"}}},
        {u"elif", {&do_elif, {u"expr"}, {}, true}},
        {u"else", {&do_else, {}, {}, true}},
        {u"endif", {&do_endif, {}, {}, true}},
        {u"exec", {&do_exec, {}, {}}},
        {u"flastmod", {&do_file_info, {}, {u"file", u"virtual"}}},
        {u"fsize", {&do_file_info, {}, {u"file", u"virtual"}}},
        {u"if", {&do_if, {u"expr"}, {}, true}},
        {u"include", {&do_include, {}, {u"file", u"virtual"}}},
        {u"printenv", {&do_printenv, {}, {}}},
        {u"set", {&do_set, {}, {u"decoding", u"encoding", u"value", u"var"}}},
    };
    return table;
}

namespace {
// The page's path as a browser asks for it: bytes other than letters, digits, "-._~" and '/'
// escaped with upper-case hex.
std::string requested(std::string_view path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 128 && std::isalnum(byte)) || std::string_view("-._~/").find(c) != std::string_view::npos) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(hex[byte >> 4u]);
            out.push_back(hex[byte & 15u]);
        }
    }
    return out;
}
}  // namespace

void ApacheDialect::start(bool top_level) {
    SSIParser& parser = parser_;
    // The folder's SSITimeFormat, SSIErrorMsg and SSIUndefinedEcho start every document.
    const SSIParserPreferences& preferences = *parser.preferences_;
    parser.time_format_ = preferences.time_format.value_or(std::u16string(apache_time_format));
    if (preferences.error_text) error_text_ = *preferences.error_text;
    if (preferences.undefined_echo) echo_text_ = *preferences.undefined_echo;
    if (!preferences.end_tag.empty()) {
        closer_.clear();
        for (const char c : preferences.end_tag) closer_.push_back(widen_byte(static_cast<unsigned char>(c)));
    }
    if (!top_level) return;
    parser.state_->shared_time_format = parser.time_format_;
    // The page's URL is its path under the virtual root (or else the site's folder).
    const std::string& path = parser.path_;
    std::string url = "/" + std::string(base_name(path));
    for (const std::string_view folder :
         {std::string_view(parser.preferences_->virtual_root), parser.state_->site_folder}) {
        if (!folder.empty() && path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/') {
            url = normalized(path.substr(folder.size())).value_or(url);
            break;
        }
    }
    url_ = url;
    // What Apache sets for a plain GET of the page without a query, in its order; the times
    // and the user are worked out when first shown.
    assign(u"SERVER_SOFTWARE", to_wide(orrinfold::product_name));
    assign(u"GATEWAY_INTERFACE", u"CGI/1.1");
    assign(u"SERVER_PROTOCOL", u"HTTP/1.1");
    assign(u"REQUEST_METHOD", u"GET");
    assign(u"QUERY_STRING", u"");
    assign(u"REQUEST_URI", to_wide(requested(url)));
    assign(u"SCRIPT_NAME", to_wide(url));
    for (const std::u16string_view lazy : {u"DATE_LOCAL", u"DATE_GMT", u"LAST_MODIFIED"})
        parser.state_->spelled.emplace_back(lazy);
    assign(u"DOCUMENT_URI", to_wide(url));
    assign(u"DOCUMENT_ARGS", u"");
    parser.state_->spelled.emplace_back(u"USER_NAME");
    assign(u"DOCUMENT_NAME", to_wide(base_name(path)));
}

namespace {
// What Apache's environment has for a page only from a request or from the server's own set-up.
bool comes_from_request(std::u16string_view key) {
    static constexpr std::u16string_view names[] = {
        u"AUTH_TYPE",      u"CONTENT_LENGTH", u"CONTENT_TYPE", u"CONTEXT_DOCUMENT_ROOT", u"CONTEXT_PREFIX",
        u"DOCUMENT_ROOT",  u"HTTPS",          u"PATH",         u"REMOTE_ADDR",           u"REMOTE_HOST",
        u"REMOTE_IDENT",   u"REMOTE_PORT",    u"REMOTE_USER",  u"REQUEST_SCHEME",        u"SCRIPT_FILENAME",
        u"SERVER_ADDR",    u"SERVER_ADMIN",   u"SERVER_NAME",  u"SERVER_PORT",           u"SERVER_SIGNATURE",
        u"UNIQUE_ID"};
    return key.starts_with(u"HTTP_") || key.starts_with(u"SSL_") || key.starts_with(u"REDIRECT_") ||
           std::find(std::begin(names), std::end(names), key) != std::end(names);
}
}  // namespace

void ApacheDialect::request_dependent(const std::string& what, std::u16string_view shows) {
    if (!parser_.preferences_->report_request) return;
    parser_.log_->request_dependency(
        "'" + what + "' depends on the request; the static page shows '" + to_narrow(shows) + "'", parser_.location());
}

std::optional<std::u16string> ApacheDialect::looked_up(std::u16string_view name, std::u16string_view shows) {
    std::optional<std::u16string> value = variable(name);
    if (!value && comes_from_request(to_ascii_upper(name))) request_dependent(to_narrow(name), shows);
    return value;
}

void ApacheDialect::finish() {
    if (open_ifs_.empty()) return;
    parser_.directive_offset_ = open_ifs_.back();
    parser_.report(severity_t::error, "'if' without 'endif' before the end of the document");
}

void ApacheDialect::on_end_of_file() {
    if (parser_.printing_) parser_.write(error_text_);
}

void ApacheDialect::on_directive_error(const std::string& text) {
    parser_.report(severity_t::error, text);
    parser_.write(error_text_);
    raise(ssi_command_exception{});
}

bool ApacheDialect::admits(const Command& command) {
    // After a malformed directive in a branch not taken nothing runs any more in this document.
    if (stalled_) return false;
    if (command.malformed.empty()) return true;
    if (parser_.printing_) parser_.fail(command.malformed);
    parser_.report(severity_t::error, command.malformed + "; the rest of the document is left out");
    stalled_ = true;
    return false;
}

void ApacheDialect::unknown_command(const Command& command) {
    // Logged also in a branch not taken, where nothing is written.
    if (parser_.printing_) parser_.fail("Unknown SSI command: " + to_narrow(command.name));
    parser_.report(severity_t::warning, "Unknown SSI command: " + to_narrow(command.name));
}

void ApacheDialect::require_known(const Command& command, const Argument& argument) {
    const SSIParser::command_info_t& info = commands().at(command.name);
    if (!info.required.contains(argument.name) && !info.optional.contains(argument.name))
        parser_.fail("Unknown parameter '" + to_narrow(argument.name) + "' in command '" + to_narrow(command.name) +
                     "'");
}

// Apache reads a directive its own way: the name runs to white space or a complete closer;
// an argument name runs to white space or '=' (a closer does not stop it), a value is quoted
// with ", ' or ` or else runs to white space. Names are folded to lower case; an argument may
// have no value. A missing name makes the whole directive fail.
void ApacheDialect::read_directive(Command& command) {
    SSIParser& parser = parser_;
    for (char16_t c = parser.get_char(); !is_space(c); c = parser.get_char()) {
        // The name ends where the closer starts, as in <!--#endif-->.
        if (c == closer_[0] && closer_ahead(0)) break;
        if (command.name.size() <= max_value_length) command.name.push_back(ascii_lower(c));
    }
    parser.unget_char();
    if (command.name.size() > max_value_length) command.too_long = "A name";
    if (command.name.empty()) command.malformed = "Missing directive name";
    for (;;) {
        parser.skip_spaces();
        if (at_closer()) return;
        Argument argument;
        const char16_t first = parser.peek_char(0);
        if (first == u'"' || first == u'\'' || first == u'`') {
            command.malformed = "Missing argument name before a value";
            argument.value = read_value();
        } else {
            for (char16_t c = parser.get_char(); !is_space(c) && c != u'='; c = parser.get_char())
                if (argument.name.size() <= max_value_length) argument.name.push_back(ascii_lower(c));
            parser.unget_char();
            if (argument.name.empty()) command.malformed = "Missing argument name before a value";
            parser.skip_spaces();
            if (parser.peek_char(0) == u'=') {
                parser.get_char();
                parser.skip_spaces();
                argument.value = read_value();
            }
        }
        if (command.too_long.empty() &&
            (argument.name.size() > max_value_length || (argument.value && argument.value->size() > max_value_length)))
            command.too_long = "Argument '" + to_narrow(argument.name.substr(0, 64)) + "' of command '" +
                               to_narrow(command.name) + "'";
        command.arguments.push_back(std::move(argument));
    }
}

bool ApacheDialect::closer_ahead(std::size_t skipped) {
    for (std::size_t i = 1; i < closer_.size(); ++i)
        if (parser_.peek_char(skipped + i - 1) != closer_[i]) return false;
    return true;
}

bool ApacheDialect::at_closer() {
    SSIParser& parser = parser_;
    if (parser.peek_char(0) != closer_[0] || !closer_ahead(1)) return false;
    parser.current_ += static_cast<std::ptrdiff_t>(closer_.size()) * parser.unit_size_;
    return true;
}

// In quotes, a backslash before the quote stands for it; any other backslash stays, and the
// character after it is read as usual (so it may escape in turn).
std::u16string ApacheDialect::read_value() {
    SSIParser& parser = parser_;
    std::u16string value;
    const auto keep = [&value](char16_t unit) {
        if (value.size() <= max_value_length) value.push_back(unit);
    };
    const char16_t quote = parser.get_char();
    if (quote == u'"' || quote == u'\'' || quote == u'`') {
        for (char16_t c = parser.get_char(); c != quote; c = parser.get_char()) {
            if (c == u'\\' && parser.peek_char(0) == quote) c = parser.get_char();
            keep(c);
        }
    } else {
        for (char16_t c = quote; !is_space(c); c = parser.get_char()) keep(c);
        parser.unget_char();
    }
    return value;
}

std::optional<std::u16string> ApacheDialect::variable(std::u16string_view name) {
    if (name.size() == 1 && name[0] >= u'0' && name[0] <= u'9') {
        if (!captures_) return std::nullopt;
        const std::optional<std::string> group = captures_->echoed(static_cast<std::size_t>(name[0] - u'0'));
        return group ? std::optional(to_wide(*group)) : std::nullopt;
    }
    const SSIParser::State& state = *parser_.state_;
    const std::u16string key = to_ascii_upper(name);
    if (const auto found = state.variables.find(key); found != state.variables.end()) return found->second;
    // Worked out when first asked for, as Apache does, in the last time format configured.
    const std::u16string& format = state.shared_time_format;
    if (key == u"DATE_LOCAL" || key == u"DATE_GMT") parser_.uses_time();
    if (key == u"DATE_LOCAL") return format_time(format, local_time(current_time()), true, apache_time_length);
    if (key == u"DATE_GMT") return format_time(format, universal_time(current_time()), true, apache_time_length);
    if (key == u"LAST_MODIFIED" && state.last_modified) return format_time(format, state.last_modified, true, apache_time_length);
    if (key == u"USER_NAME") {
        const SSIParser* page = &parser_;
        while (page->parent_ != nullptr) page = page->parent_;
        return to_wide(page->path_.empty() ? std::string("<unknown>") : owner_name(page->path_));
    }
    return std::nullopt;
}

bool ApacheDialect::assign(std::u16string_view name, const std::u16string& value) {
    const std::u16string key = to_ascii_upper(name);
    SSIParser::State& state = *parser_.state_;
    // The times and the user are listed from the start, without a value until set.
    const bool known = state.variables.contains(key) || key == u"DATE_LOCAL" || key == u"DATE_GMT" ||
                       key == u"LAST_MODIFIED" || key == u"USER_NAME";
    if (!parser_.assign_variable(key, value)) return false;
    if (!known) state.spelled.emplace_back(name);
    return true;
}

std::u16string ApacheDialect::expand(std::u16string_view value) {
    std::u16string result;
    result.reserve(value.size());
    for (std::size_t i = 0; i < value.size();) {
        const char16_t c = value[i];
        if (c == u'\\') {
            const bool dollar = i + 1 < value.size() && value[i + 1] == u'$';
            result.push_back(dollar ? u'$' : u'\\');
            i += dollar ? 2 : 1;
        } else if (c != u'$') {
            result.push_back(c);
            ++i;
        } else if (i + 1 < value.size() && value[i + 1] == u'{') {
            const std::size_t close = value.find(u'}', i + 2);
            if (close == std::u16string_view::npos) {
                parser_.report(severity_t::error, "Missing '}' on variable \"" + to_narrow(value.substr(i)) + "\"");
                break;  // the rest of the value is dropped
            }
            if (close == i + 2) {
                result.push_back(u'$');
                ++i;
            } else {
                result += looked_up(value.substr(i + 2, close - i - 2), u"").value_or(u"");
                i = close + 1;
            }
        } else {
            std::size_t j = i + 1;
            while (j < value.size() && (value[j] == u'_' || (value[j] < 128 && std::isalnum(value[j])))) ++j;
            if (j == i + 1)
                result.push_back(u'$');
            else
                result += looked_up(value.substr(i + 1, j - i - 1), u"").value_or(u"");
            i = std::max(j, i + 1);
        }
        if (result.size() > max_value_length) raise(value_too_long{});
    }
    return result;
}
