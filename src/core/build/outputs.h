#pragma once

#include "html/links.h"
#include "platform/file_system.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class CompileLogBase;
class OutputFile;

// The outputs of one file, written to temporary files and put in place only when the file's
// turn comes in walk order: a run that ends at an error drops those of every later file, so
// that its destination is the one a run doing one file after the other leaves.
class StagedOutputs {
public:
    StagedOutputs();
    StagedOutputs(StagedOutputs&&) noexcept;
    StagedOutputs& operator=(StagedOutputs&&) noexcept;
    // Outputs never committed go, with their temporary files.
    ~StagedOutputs();

    // A new output for target, with the permission bits mode gives (else a new file's). An
    // output already holding the same bytes is left as it is, so that its time stays, unless
    // fresh says to replace it all the same; empty says nothing stands at target (a folder this
    // run made), so that the output needs no temporary name.
    OutputFile& open(const std::string& target, bool fresh, std::optional<unsigned> mode = {}, bool empty = false);
    // Closes the files written, so that a file waiting for its turn holds few descriptors.
    void close();
    // Puts every output in its target's place, in the order they were opened.
    void commit();
    // The status of the output put at target (or kept there) by commit, if it was one of these.
    std::optional<file_status_t> placed(const std::string& target) const;

private:
    struct staged_t {
        std::unique_ptr<OutputFile> file;
        bool fresh = false;
    };
    std::vector<staged_t> outputs_;
    std::vector<std::pair<std::string, file_status_t>> placed_;
};

// Writes text as the output for path, with the permission bits given (else the default ones).
void write_text_file(StagedOutputs& outputs, const std::string& path, const std::string& text,
                     std::optional<unsigned> permissions = {}, bool fresh = false);

// The text with its links to renamed pages rewritten, or nullopt when nothing changes. A UTF-16
// page (with its byte order mark) is rewritten in its own encoding. One that is not text at all,
// or UTF-16 that would not come back byte for byte, is not read for links: it is left as it is,
// with a warning, rather than risk changing bytes that are no link.
std::optional<std::string> rewritten(const LinkRewriter& rewriter, const std::string& text, text_kind_t kind,
                                     const std::string& page, CompileLogBase& log);
