#include "ssi/ssi_parser.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "platform/text.h"
#include "ssi/document_output.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {
constexpr unsigned char opener_8bit[] = {'<', '!', '-', '-', '#'};
constexpr unsigned char opener_utf16[] = {'<', 0, '!', 0, '-', 0, '-', 0, '#', 0};

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}
}  // namespace

SSIParser::SSIParser(const std::string& path, DocumentOutput& output, const SSIParserPreferences& preferences,
                     State& state, CompileLogBase& log)
    : preferences_(&preferences),
      log_(&log),
      directory_(directory_of(path)),
      output_(&output),
      time_format_(default_time_format),
      state_(&state) {
    source_.emplace(path);
    // POSIX lets a file be opened while it is open, so an include cycle is caught by identity.
    auto& chain = state.open_documents;
    if (std::find(chain.begin(), chain.end(), source_->identity()) != chain.end())
        raise(std::runtime_error("Include cycle: " + path + " is already being processed"));
    chain.push_back(source_->identity());
    in_chain_ = true;
    begin_ = current_ = source_->data();
    end_ = begin_ + source_->length();
    store_server_software();
}

SSIParser::SSIParser(std::string_view document, std::string directory, DocumentOutput& output,
                     const SSIParserPreferences& preferences, State& state, CompileLogBase& log)
    : preferences_(&preferences),
      log_(&log),
      directory_(std::move(directory)),
      output_(&output),
      time_format_(default_time_format),
      state_(&state) {
    begin_ = current_ = reinterpret_cast<const unsigned char*>(document.data());
    end_ = begin_ + document.size();
    store_server_software();
}

SSIParser::~SSIParser() {
    if (in_chain_) state_->open_documents.pop_back();
}

void SSIParser::process() {
    try {
        detect_encoding();
        try {
            walk();
        } catch (const ssi_break_exception&) {
        }
    } catch (const eof_exception&) {
        log_->error("Unexpected end of file");
    }
}

void SSIParser::detect_encoding() {
    const std::size_t size = static_cast<std::size_t>(end_ - begin_);
    wide_ = false;
    if (size >= 2) {
        const unsigned mark = begin_[0] | (begin_[1] << 8u);
        if (mark == 0xFEFF) {
            if (size % 2 != 0) log_->error("Odd sized Unicode file");
            wide_ = true;
        } else if (mark == 0xFFFE) {
            log_->error("Unicode is reversed");
        }
    }
    unit_size_ = wide_ ? 2 : 1;
}

void SSIParser::walk() {
    for (;;) {
        // Reading the lone last byte of an odd-sized UTF-16 document steps one byte past the end.
        current_ = std::min(current_, end_);
        const unsigned char* stretch = current_;
        const bool found = find_directive();
        output_->write(stretch, static_cast<std::size_t>(current_ - stretch));
        if (!found) return;
        Command command;
        parse_command(command);
        execute_command(command);
    }
}

bool SSIParser::find_directive() {
    const unsigned char* opener = wide_ ? opener_utf16 : opener_8bit;
    const std::size_t length = wide_ ? sizeof opener_utf16 : sizeof opener_8bit;
    const unsigned char* from = current_;
    while (static_cast<std::size_t>(end_ - from) >= length) {
        const void* hit = ::memmem(from, static_cast<std::size_t>(end_ - from), opener, length);
        if (hit == nullptr) break;
        const auto* position = static_cast<const unsigned char*>(hit);
        // In a UTF-16 document only whole code units count.
        if (!wide_ || (position - begin_) % 2 == 0) {
            current_ = position;
            return true;
        }
        from = position + 1;
    }
    current_ = end_;
    return false;
}

void SSIParser::parse_command(Command& command) {
    current_ += 5 * unit_size_;
    skip_spaces();
    read_identifier(command.name);
    for (;;) {
        skip_spaces();
        char16_t c = get_char();
        if (c == u'-') {
            if (get_char() == u'-' && get_char() == u'>') return;
            log_->error("Bad end of command");
            return;
        }
        if (!is_alpha(c)) log_->error("Non-alpha symbol in argument name");
        unget_char();
        std::u16string name;
        read_identifier(name);

        skip_spaces();
        if (get_char() != u'=') log_->error("Expected '='");

        skip_spaces();
        const char16_t quote = get_char();
        std::u16string raw;
        if (quote == u'"' || quote == u'\'') {
            for (c = get_char(); c != quote; c = get_char()) raw.push_back(c);
        } else {
            raw.push_back(quote);
            for (;;) {
                c = get_char();
                if (c == u' ') break;
                if (c == u'-' && peek_char(0) == u'-' && peek_char(1) == u'>') {
                    unget_char();
                    break;
                }
                raw.push_back(c);
            }
        }
        if (!command.arguments.try_emplace(std::move(name), expand_variables(raw, state_->variables)).second)
            log_->error("Duplicated arguments");
    }
}

void SSIParser::read_identifier(std::u16string& identifier) {
    const std::size_t before = identifier.size();
    for (char16_t c = get_char(); is_alpha(c); c = get_char()) identifier.push_back(c);
    unget_char();
    if (identifier.size() == before) log_->error("Expected identifier");
}

void SSIParser::skip_spaces() {
    while (is_space(get_char())) {
    }
    unget_char();
}

char16_t SSIParser::char_at(const unsigned char* position) const noexcept {
    if (!wide_) return widen_byte(*position);
    // A lone last byte of an odd-sized UTF-16 document is read with a zero high byte.
    const unsigned high = position + 1 < end_ ? position[1] : 0u;
    return static_cast<char16_t>(position[0] | (high << 8u));
}

char16_t SSIParser::get_char() {
    if (current_ >= end_) raise(eof_exception{});
    const char16_t c = char_at(current_);
    current_ += unit_size_;
    return c;
}

char16_t SSIParser::peek_char(std::size_t n) const {
    const std::size_t offset = n * static_cast<std::size_t>(unit_size_);
    if (offset >= static_cast<std::size_t>(end_ - current_)) raise(eof_exception{});
    return char_at(current_ + offset);
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
