#include "ssi/ssi_parser.h"

#include "base/compile_log.h"
#include "platform/file.h"

#include <algorithm>
#include <cstring>

// Lines and columns are never counted while scanning: a diagnostic works out the position of
// its directive from the last position worked out, so a document costs one pass at most,
// however many diagnostics it has.

void SSIParser::line_cursor_t::advance(const unsigned char* from, const unsigned char* to, bool wide) noexcept {
    if (wide) {
        for (const unsigned char* p = from; p + 1 < to; p += 2) {
            const unsigned unit = p[0] | (unsigned{p[1]} << 8u);
            if (unit == u'\n') {
                ++line;
                column = 1;
            } else if (unit < 0xDC00 || unit > 0xDFFF) {  // the second half of a pair is not a character
                ++column;
            }
        }
    } else {
        for (const unsigned char* p = from; p < to; ++p) {
            const unsigned char b = *p;
            if (b == '\n') {
                ++line;
                column = 1;
                pending = 0;
            } else if (pending > 0 && (b & 0xC0) == 0x80) {
                --pending;  // inside a UTF-8 character
            } else {
                ++column;
                pending = b >= 0xC2 && b <= 0xDF ? 1 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xF0 && b <= 0xF4 ? 3 : 0;
            }
        }
    }
    offset += static_cast<std::uint64_t>(to - from);
}

source_position_t SSIParser::position_of(std::uint64_t offset) {
    if (offset < cursor_.offset || cursor_.offset < text_start_) cursor_ = {text_start_};
    if (cursor_.offset >= offset) return {display_path(path_), cursor_.line, cursor_.column, path_};
    if (cursor_.offset >= offset_ && offset <= offset_ + static_cast<std::uint64_t>(end_ - begin_)) {
        cursor_.advance(begin_ + (cursor_.offset - offset_), begin_ + (offset - offset_), wide_);
    } else {
        // The window has moved past the last position: read the stretch between from the file.
        File file(path_, File::access_t::read);
        file.seek(cursor_.offset);
        unsigned char chunk[64 * 1024];
        while (cursor_.offset < offset) {
            const auto wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(sizeof chunk, offset - cursor_.offset));
            const std::size_t got = file.read(chunk, wanted);
            if (got == 0) break;
            cursor_.advance(chunk, chunk + got, wide_);
        }
    }
    return {display_path(path_), cursor_.line, cursor_.column, path_};
}

std::string SSIParser::display_path(const std::string& path) const {
    const std::string_view folder = state_->site_folder;
    if (folder.empty() || path.size() <= folder.size() || !path.starts_with(folder) || path[folder.size()] != '/')
        return path;
    const std::size_t name = path.find_first_not_of('/', folder.size());
    if (name == std::string::npos) return path;
    std::string rest = path.substr(name);
    // A path that climbs out of the folder with ".." lies outside it.
    int depth = 0;
    for (std::size_t from = 0; from <= rest.size() && depth >= 0;) {
        const std::size_t slash = std::min(rest.find('/', from), rest.size());
        const std::string_view part(rest.data() + from, slash - from);
        depth += part == ".." ? -1 : part.empty() || part == "." ? 0 : 1;
        from = slash + 1;
    }
    if (depth < 0) return path;
    return state_->site_prefix.empty() ? rest : std::string(state_->site_prefix) + "/" + rest;
}

diagnostic_location_t SSIParser::location() {
    diagnostic_location_t where{position_of(directive_offset_), {}};
    for (SSIParser* including = parent_; including != nullptr; including = including->parent_)
        where.included_from.push_back(including->position_of(including->directive_offset_));
    return where;
}

void SSIParser::report(severity_t severity, const std::string& text) { log_->diagnostic(severity, text, location()); }

bool SSIParser::looks_binary() const noexcept {
    const auto size = static_cast<std::size_t>(end_ - begin_);
    if (size >= 2 && begin_[0] == 0xFF && begin_[1] == 0xFE) return false;  // UTF-16 text
    return std::memchr(begin_, 0, std::min<std::size_t>(size, 8192)) != nullptr;
}
