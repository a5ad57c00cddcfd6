#include "ssi/output_origins.h"

#include "platform/file.h"
#include "platform/file_system.h"
#include "ssi/ssi_parser.h"

#include <algorithm>
#include <stdexcept>

std::uint32_t OutputOrigins::add_document(document_t document) {
    counted_.push_back({document.text_start});
    documents_.push_back(std::move(document));
    return static_cast<std::uint32_t>(documents_.size() - 1);
}

void OutputOrigins::literal(std::uint64_t output, std::uint32_t document, std::uint64_t source) {
    // Text read in several pieces (a window at a time) goes on the same entry.
    if (!segments_.empty()) {
        const segment_t& last = segments_.back();
        if (last.literal && last.document == document && last.output < output &&
            last.source + (output - last.output) == source)
            return;
    }
    add({output, source, document, true});
}

void OutputOrigins::directive(std::uint64_t output, std::uint32_t document, std::uint64_t source) {
    if (!segments_.empty()) {
        const segment_t& last = segments_.back();
        if (!last.literal && last.document == document && last.source == source) return;
    }
    add({output, source, document, false});
}

void OutputOrigins::add(const segment_t& segment) {
    // An entry that produced nothing gives way to the next.
    if (!segments_.empty() && segments_.back().output == segment.output)
        segments_.back() = segment;
    else
        segments_.push_back(segment);
}

std::optional<diagnostic_location_t> OutputOrigins::locate(std::uint64_t offset) {
    if (offset >= changed_from_) return std::nullopt;
    const auto after = std::upper_bound(segments_.begin(), segments_.end(), offset,
                                        [](std::uint64_t at, const segment_t& s) { return at < s.output; });
    if (after == segments_.begin()) return std::nullopt;
    const segment_t& segment = *(after - 1);
    const std::uint64_t source = segment.literal ? segment.source + (offset - segment.output) : segment.source;
    std::optional<source_position_t> at = position(segment.document, source);
    if (!at) return std::nullopt;
    diagnostic_location_t where{std::move(*at), {}};
    for (std::uint32_t d = segment.document; documents_[d].parent != no_document; d = documents_[d].parent) {
        std::optional<source_position_t> include = position(documents_[d].parent, documents_[d].included_at);
        if (!include) return std::nullopt;
        where.included_from.push_back(std::move(*include));
    }
    return where;
}

std::optional<source_position_t> OutputOrigins::position(std::uint32_t document, std::uint64_t source) {
    const document_t& d = documents_[document];
    if (d.file.empty()) return std::nullopt;
    auto text = read_.find(d.file);
    if (text == read_.end()) {
        try {
            File file(d.file, File::access_t::read);
            text = read_.emplace(d.file, read_bytes(file, stat_file(file).size)).first;
        } catch (const std::runtime_error&) {
            return std::nullopt;
        }
    }
    const std::string& bytes = text->second;
    if (source > bytes.size()) return std::nullopt;  // changed since it was converted
    counted_t& counted = counted_[document];
    if (source < counted.offset) counted = {d.text_start};
    SSIParser::line_cursor_t cursor{counted.offset, counted.line, counted.column, counted.pending};
    if (source > cursor.offset) {
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
        cursor.advance(data + cursor.offset, data + source, d.wide);
    }
    counted = {cursor.offset, cursor.line, cursor.column, cursor.pending};
    return source_position_t{d.path, cursor.line, cursor.column, d.file};
}
