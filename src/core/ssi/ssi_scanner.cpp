#include "ssi/ssi_parser.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "base/text.h"
#include "ssi/dialect.h"
#include "ssi/document_output.h"
#include "ssi/output_origins.h"
#include "ssi/preferences.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr unsigned char opener_8bit[] = {'<', '!', '-', '-', '#'};
constexpr unsigned char opener_utf16[] = {'<', 0, '!', 0, '-', 0, '-', 0, '#', 0};
}  // namespace

void SSIParser::process() {
    try {
        detect_encoding();
        if (state_->origins != nullptr)
            origin_ = state_->origins->add_document({display_path(path_), path_, wide_, text_start_,
                                                     parent_ != nullptr ? parent_->origin_ : OutputOrigins::no_document,
                                                     parent_ != nullptr ? parent_->directive_offset_ : 0});
        try {
            walk();
        } catch (const ssi_break_exception&) {
        }
    } catch (const eof_exception&) {
        report(severity_t::error, "Unexpected end of file");
        dialect_->on_end_of_file();
    }
    dialect_->finish();
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
    choose_opener();
    if (wide_)
        text_start_ = 2;
    else if (available(3) && begin_[0] == 0xEF && begin_[1] == 0xBB && begin_[2] == 0xBF)
        text_start_ = 3;
}

void SSIParser::choose_opener() {
    const std::string& tag = preferences_->start_tag;
    if (preferences_->dialect != dialect_t::apache || tag == "<!--#" || tag.empty()) {
        opener_ = wide_ ? opener_utf16 : opener_8bit;
        opener_length_ = wide_ ? sizeof opener_utf16 : sizeof opener_8bit;
        // "!" is far rarer in a page than "<" (every tag) or "-".
        opener_pivot_ = wide_ ? 2 : 1;
        return;
    }
    // A UTF-16 document spells each byte of the tag as one code unit.
    custom_opener_.clear();
    for (const char c : tag) {
        custom_opener_.push_back(c);
        if (wide_) custom_opener_.push_back('\0');
    }
    opener_ = reinterpret_cast<const unsigned char*>(custom_opener_.data());
    opener_length_ = custom_opener_.size();
    // A tag of its own is looked for by its first byte: which of its bytes is rare is not known.
    opener_pivot_ = 0;
}

void SSIParser::walk() {
    for (;;) {
        // Reading the lone last byte of an odd-sized UTF-16 document steps one byte past the end.
        current_ = std::min(current_, end_);
        if (!find_directive()) return;
        Command command;
        parse_command(command);
        if (command.too_long.empty()) {
            note_directive();
            execute_command(command);
            note_directive();  // what an include leaves after its document
        } else
            report(severity_t::error, command.too_long + " is longer than " + std::to_string(max_value_length) +
                                          " characters; directive dropped");
    }
}

// Copies the text up to the next opener (or the end) to the output and leaves current_ on it.
bool SSIParser::find_directive() {
    const unsigned char* opener = opener_;
    const std::size_t length = opener_length_;
    for (;;) {
        for (const unsigned char* from = current_; static_cast<std::size_t>(end_ - from) >= length;) {
            const void* hit =
                find_bytes_around(from, static_cast<std::size_t>(end_ - from), opener, length, opener_pivot_);
            if (hit == nullptr) break;
            const auto* position = static_cast<const unsigned char*>(hit);
            // In a UTF-16 document only whole code units from the start of the file count.
            if (!wide_ || (offset_ + static_cast<std::uint64_t>(position - begin_)) % 2 == 0) {
                if (printing_) copy_text(current_, static_cast<std::size_t>(position - current_));
                current_ = position;
                directive_offset_ = offset_ + static_cast<std::uint64_t>(position - begin_);
                return true;
            }
            from = position + 1;
        }
        if (complete_) {
            if (printing_) copy_text(current_, static_cast<std::size_t>(end_ - current_));
            current_ = end_;
            return false;
        }
        // Hold back what could be the start of an opener cut by the window's end.
        const std::size_t held_back = std::min(length - 1, static_cast<std::size_t>(end_ - current_));
        const unsigned char* safe = end_ - held_back;
        if (printing_) copy_text(current_, static_cast<std::size_t>(safe - current_));
        current_ = safe;
        refill();
    }
}

void SSIParser::copy_text(const unsigned char* from, std::size_t size) {
    if (state_->origins != nullptr && size > 0)
        state_->origins->literal(output_->size(), origin_, offset_ + static_cast<std::uint64_t>(from - begin_));
    output_->write(from, size);
}

void SSIParser::note_directive() {
    if (state_->origins != nullptr) state_->origins->directive(output_->size(), origin_, directive_offset_);
}

void SSIParser::parse_command(Command& command) {
    current_ += opener_length_;
    dialect_->read_directive(command);
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
