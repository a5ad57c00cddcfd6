#pragma once

#include "ssi/apache_expression.h"
#include "ssi/ssi_parser.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::u16string_view default_error_text = u"[an error occurred while processing this directive]";

// What the Apache dialect keeps for each document, included ones too: Apache gives every
// document its own messages, flow-control state and regular-expression captures.
struct SSIParser::apache_document_t {
    std::u16string error_text{default_error_text};
    std::u16string echo_text{u"(none)"};
    bool taken = true;                    // a branch of the innermost if was taken (or none is open)
    bool else_ignored = false;            // after a failed if or elif, the next else changes nothing
    // A malformed directive in a branch not taken stops every later directive of the document,
    // endif too, as in Apache: the rest of the document is left out.
    bool stalled = false;
    std::uint64_t skipped_ifs = 0;        // ifs opened inside a branch not taken
    std::vector<std::uint64_t> open_ifs;  // where each open if stands
    std::optional<regex_captures_t> captures;
    std::optional<std::string> url;  // none for a document included by file= from another folder
};

