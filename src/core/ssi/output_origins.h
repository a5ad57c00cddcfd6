#pragma once

#include "base/location.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// Where the bytes of a converted page came from, so that a place in the output (a broken link)
// can be named where it was written: in the page or in a document it included. Literal text is
// copied as written, so one entry per run of it is enough; text a directive produced belongs
// to the directive. Recorded only for pages whose links are checked, and kept until they are.
// Lines and columns are worked out only for the places asked about, from the documents' files.
class OutputOrigins {
public:
    static constexpr std::uint32_t no_document = std::numeric_limits<std::uint32_t>::max();

    // A document converted into the page: the page itself or one included (from parent, by the
    // directive at byte included_at of it). file is empty for a document held in memory.
    struct document_t {
        std::string path;              // as diagnostics name it
        std::string file;              // to read it with
        bool wide = false;             // UTF-16
        std::uint64_t text_start = 0;  // past a byte order mark
        std::uint32_t parent = no_document;
        std::uint64_t included_at = 0;
    };

    std::uint32_t add_document(document_t document);
    // From output byte output on come the document's bytes from source on (literal text), or
    // what its directive at byte source produced.
    void literal(std::uint64_t output, std::uint32_t document, std::uint64_t source);
    void directive(std::uint64_t output, std::uint32_t document, std::uint64_t source);
    // The output from byte offset on is no longer as converted (links were rewritten there).
    void changed_from(std::uint64_t offset) { changed_from_ = offset < changed_from_ ? offset : changed_from_; }

    // Where the output byte at offset was written, with the includes that led there; nullopt
    // when that cannot be told (nothing recorded, a changed output, a document gone).
    std::optional<diagnostic_location_t> locate(std::uint64_t offset);
    bool empty() const noexcept { return segments_.empty(); }

private:
    struct segment_t {
        std::uint64_t output;
        std::uint64_t source;
        std::uint32_t document;
        bool literal;
    };
    void add(const segment_t& segment);
    std::optional<source_position_t> position(std::uint32_t document, std::uint64_t source);

    std::vector<document_t> documents_;
    // How far each document was counted in lines and columns: places asked in rising order
    // (links as they are found) cost one pass over it.
    struct counted_t {
        std::uint64_t offset = 0, line = 1, column = 1;
        int pending = 0;
    };
    std::vector<counted_t> counted_;
    std::vector<segment_t> segments_;
    std::uint64_t changed_from_ = std::numeric_limits<std::uint64_t>::max();
    std::unordered_map<std::string, std::string> read_;  // documents read to place something, by file
};
