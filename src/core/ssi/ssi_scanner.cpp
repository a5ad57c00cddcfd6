#include "ssi/ssi_parser.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "platform/text.h"
#include "ssi/document_output.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr unsigned char opener_8bit[] = {'<', '!', '-', '-', '#'};
constexpr unsigned char opener_utf16[] = {'<', 0, '!', 0, '-', 0, '-', 0, '#', 0};
}  // namespace

void SSIParser::process() {
    try {
        detect_encoding();
        try {
            walk();
        } catch (const ssi_break_exception&) {
        }
    } catch (const eof_exception&) {
        report(severity_t::error, "Unexpected end of file");
        if (apache_dialect_ && printing_) write(apache_error_text());
    }
    if (apache_dialect_) finish_apache();
}

void SSIParser::detect_encoding() {
    wide_ = false;
    if (available(2)) {
        const unsigned mark = begin_[0] | (unsigned{begin_[1]} << 8u);
        if (mark == 0xFEFF) {
            if (size_ % 2 != 0) report(severity_t::error, "Odd sized Unicode file");
            wide_ = true;
        } else if (mark == 0xFFFE) {
            report(severity_t::error, "Unicode is reversed");
        }
    }
    unit_size_ = wide_ ? 2 : 1;
    if (wide_)
        text_start_ = 2;
    else if (available(3) && begin_[0] == 0xEF && begin_[1] == 0xBB && begin_[2] == 0xBF)
        text_start_ = 3;
}

void SSIParser::walk() {
    for (;;) {
        // Reading the lone last byte of an odd-sized UTF-16 document steps one byte past the end.
        current_ = std::min(current_, end_);
        if (!find_directive()) return;
        Command command;
        parse_command(command);
        if (command.too_long.empty())
            execute_command(command);
        else
            report(severity_t::error, command.too_long + " is longer than " + std::to_string(max_value_length) +
                                          " characters; directive dropped");
    }
}

// Copies the text up to the next opener (or the end) to the output and leaves current_ on it.
bool SSIParser::find_directive() {
    const unsigned char* opener = wide_ ? opener_utf16 : opener_8bit;
    const std::size_t length = wide_ ? sizeof opener_utf16 : sizeof opener_8bit;
    for (;;) {
        for (const unsigned char* from = current_; static_cast<std::size_t>(end_ - from) >= length;) {
            const void* hit = find_bytes(from, static_cast<std::size_t>(end_ - from), opener, length);
            if (hit == nullptr) break;
            const auto* position = static_cast<const unsigned char*>(hit);
            // In a UTF-16 document only whole code units from the start of the file count.
            if (!wide_ || (offset_ + static_cast<std::uint64_t>(position - begin_)) % 2 == 0) {
                if (printing_) output_->write(current_, static_cast<std::size_t>(position - current_));
                current_ = position;
                directive_offset_ = offset_ + static_cast<std::uint64_t>(position - begin_);
                return true;
            }
            from = position + 1;
        }
        if (complete_) {
            if (printing_) output_->write(current_, static_cast<std::size_t>(end_ - current_));
            current_ = end_;
            return false;
        }
        // Hold back what could be the start of an opener cut by the window's end.
        const std::size_t held_back = std::min(length - 1, static_cast<std::size_t>(end_ - current_));
        const unsigned char* safe = end_ - held_back;
        if (printing_) output_->write(current_, static_cast<std::size_t>(safe - current_));
        current_ = safe;
        refill();
    }
}

void SSIParser::parse_command(Command& command) {
    current_ += 5 * unit_size_;
    if (apache_dialect_) {
        parse_apache_command(command);
        return;
    }
    skip_spaces();
    read_identifier(command.name);
    if (command.name.size() > max_value_length) command.too_long = "A name";
    for (;;) {
        skip_spaces();
        char16_t c = get_char();
        if (c == u'-') {
            if (get_char() == u'-' && get_char() == u'>') return;
            report(severity_t::error, "Bad end of command");
            return;
        }
        if (!is_alpha(c)) report(severity_t::error, "Non-alpha symbol in argument name");
        unget_char();
        std::u16string name;
        read_identifier(name);

        skip_spaces();
        if (get_char() != u'=') report(severity_t::error, "Expected '='");

        skip_spaces();
        const char16_t quote = get_char();
        std::u16string raw;
        // Past the limit the value is still read to its end, only no longer kept.
        const auto keep = [&raw](char16_t unit) {
            if (raw.size() <= max_value_length) raw.push_back(unit);
        };
        if (quote == u'"' || quote == u'\'') {
            for (c = get_char(); c != quote; c = get_char()) keep(c);
        } else {
            keep(quote);
            for (;;) {
                c = get_char();
                if (c == u' ') break;
                if (c == u'-' && peek_char(0) == u'-' && peek_char(1) == u'>') {
                    unget_char();
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
            value = expand_variables(raw, state_->variables);
        } catch (const value_too_long&) {
            command.too_long = "Argument '" + to_narrow(name) + "' of command '" + to_narrow(command.name) + "'";
            continue;
        }
        if (!command.arguments.try_emplace(std::move(name), std::move(value)).second)
            report(severity_t::error, "Duplicated arguments");
    }
}

bool SSIParser::at_closer() {
    if (peek_char(0) != u'-' || peek_char(1) != u'-' || peek_char(2) != u'>') return false;
    current_ += 3 * unit_size_;
    return true;
}

// Apache reads a directive its own way: the name runs to white space or a complete closer;
// an argument name runs to white space or '=' (a closer does not stop it), a value is quoted
// with ", ' or ` or else runs to white space. Names are folded to lower case; an argument may
// have no value. A missing name makes the whole directive fail.
void SSIParser::parse_apache_command(Command& command) {
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    for (char16_t c = get_char(); !is_space(c); c = get_char()) {
        if (c == u'-' && peek_char(0) == u'-' && peek_char(1) == u'>') break;
        if (command.name.size() <= max_value_length) command.name.push_back(lower(c));
    }
    unget_char();
    if (command.name.size() > max_value_length) command.too_long = "A name";
    if (command.name.empty()) command.malformed = "Missing directive name";
    for (;;) {
        skip_spaces();
        if (at_closer()) return;
        Argument argument;
        const char16_t first = peek_char(0);
        if (first == u'"' || first == u'\'' || first == u'`') {
            command.malformed = "Missing argument name before a value";
            argument.value = read_apache_value();
        } else {
            for (char16_t c = get_char(); !is_space(c) && c != u'='; c = get_char())
                if (argument.name.size() <= max_value_length) argument.name.push_back(lower(c));
            unget_char();
            if (argument.name.empty()) command.malformed = "Missing argument name before a value";
            skip_spaces();
            if (peek_char(0) == u'=') {
                get_char();
                skip_spaces();
                argument.value = read_apache_value();
            }
        }
        if (command.too_long.empty() &&
            (argument.name.size() > max_value_length || (argument.value && argument.value->size() > max_value_length)))
            command.too_long = "Argument '" + to_narrow(argument.name.substr(0, 64)) + "' of command '" +
                               to_narrow(command.name) + "'";
        command.list.push_back(std::move(argument));
    }
}

// In quotes, a backslash before the quote stands for it; any other backslash stays, and the
// character after it is read as usual (so it may escape in turn).
std::u16string SSIParser::read_apache_value() {
    std::u16string value;
    const auto keep = [&value](char16_t unit) {
        if (value.size() <= max_value_length) value.push_back(unit);
    };
    const char16_t quote = get_char();
    if (quote == u'"' || quote == u'\'' || quote == u'`') {
        for (char16_t c = get_char(); c != quote; c = get_char()) {
            if (c == u'\\' && peek_char(0) == quote) c = get_char();
            keep(c);
        }
    } else {
        for (char16_t c = quote; !is_space(c); c = get_char()) keep(c);
        unget_char();
    }
    return value;
}

void SSIParser::read_identifier(std::u16string& identifier) {
    const std::size_t before = identifier.size();
    for (char16_t c = get_char(); is_alpha(c); c = get_char())
        if (identifier.size() <= max_value_length) identifier.push_back(c);
    unget_char();
    if (identifier.size() == before) report(severity_t::error, "Expected identifier");
}

void SSIParser::skip_spaces() {
    while (is_space(get_char())) {
    }
    unget_char();
}

void SSIParser::write(std::u16string_view text) {
    if (!wide_) {
        const std::string bytes = to_narrow(text);
        output_->write(bytes.data(), bytes.size());
        return;
    }
    const std::u16string units = decode_escaped_bytes(text);
    std::string bytes;
    bytes.reserve(units.size() * 2);
    for (const char16_t unit : units) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    output_->write(bytes.data(), bytes.size());
}
