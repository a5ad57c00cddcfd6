#pragma once

#include "html/links.h"

#include <optional>
#include <string>

class CompileLogBase;
class OutputFile;

// An output already holding these bytes is left as it is, so that its time stays; in a
// folder just made (fresh) there is none to look at.
void commit_output(OutputFile& output, bool fresh);

// Writes text as the file path, with the permission bits given (else the default ones).
void write_text_file(const std::string& path, const std::string& text, std::optional<unsigned> permissions = {},
                     bool fresh = false);

// The text with its links to renamed pages rewritten, or nullopt when nothing changes. A UTF-16
// page (with its byte order mark) is rewritten in its own encoding. One that is not text at all,
// or UTF-16 that would not come back byte for byte, is not read for links: it is left as it is,
// with a warning, rather than risk changing bytes that are no link.
std::optional<std::string> rewritten(const LinkRewriter& rewriter, const std::string& text, text_kind_t kind,
                                     const std::string& page, CompileLogBase& log);
