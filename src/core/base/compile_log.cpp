#include "base/compile_log.h"

#include <algorithm>
#include <cerrno>
#include <ostream>

namespace {
bool is_control(char c) noexcept { return static_cast<unsigned char>(c) < 0x20 || c == '\x7F'; }
}  // namespace

std::string printable(std::string_view text) {
    if (std::none_of(text.begin(), text.end(), is_control)) return std::string(text);
    std::string out;
    out.reserve(text.size() + 16);
    for (const char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (is_control(c)) {
            static constexpr char digits[] = "0123456789abcdef";
            const auto byte = static_cast<unsigned char>(c);
            out += "\\x";
            out.push_back(digits[byte >> 4]);
            out.push_back(digits[byte & 0xF]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string to_string(const source_position_t& position) {
    if (position.line == 0) return printable(position.path);
    return printable(position.path) + ":" + std::to_string(position.line) + ":" + std::to_string(position.column);
}

void write_include_notes(std::ostream& out, const diagnostic_location_t& where) {
    for (const source_position_t& include : where.included_from)
        out << to_string(include) << ": note: included from here\n";
}

void CompileLogBase::output_line(const std::string&) {}
void CompileLogBase::message(const std::string& text) { output_line(text); }
void CompileLogBase::error(const std::string& text) { output_line(text); }
void CompileLogBase::warning(const std::string& text) { output_line(text); }
void CompileLogBase::summary(const std::string& text) { message(text); }

void CompileLogBase::diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t&) {
    if (severity == severity_t::error)
        error(text);
    else if (severity == severity_t::warning)
        warning(text);
    else
        message(text);
}

void StreamLog::output_line(const std::string& text) {
    errno = 0;
    out_ << printable(text) << '\n';
    flush();
}

// Called after each line, with errno cleared before the line was written.
void StreamLog::flush() {
    out_.flush();
    if (out_.fail() && write_errno_ == 0) write_errno_ = errno;
}

void StreamLog::message(const std::string& text) {
    if (!quiet_) output_line(text);
}

void StreamLog::diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) {
    errno = 0;
    out_ << to_string(where.at) << (severity == severity_t::error     ? ": error: "
                                : severity == severity_t::warning ? ": warning: "
                                                                  : ": note: ") << printable(text)
         << '\n';
    write_include_notes(out_, where);
    flush();
}

void CountingLog::error(const std::string& text) {
    ++errors;
    target_.error(text);
}

void CountingLog::warning(const std::string& text) {
    ++warnings;
    target_.warning(text);
}

void CountingLog::diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) {
    if (severity != severity_t::note) ++(severity == severity_t::error ? errors : warnings);
    target_.diagnostic(severity, text, where);
}

void CompileLogBase::request_dependency(const std::string& text, const diagnostic_location_t& where) {
    diagnostic(severity_t::warning, text, where);
}

void CountingLog::request_dependency(const std::string& text, const diagnostic_location_t& where) {
    if (!places_.insert(to_string(where.at) + '\n' + text).second) return;
    ++request_dependent;
    target_.request_dependency(text, where);
}
