#pragma once

#include "ssi/ssi_parser.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

class CompileLogBase;
struct SSIDirectoryPreferences;

// What a run did, for the line that sums it up.
struct run_summary_t {
    std::uint64_t documents = 0;  // converted
    std::uint64_t copies = 0;
    std::uint64_t skipped = 0;  // entries left out by a Skip mask, and files that are not regular
    std::uint64_t failed_documents = 0;
    std::uint64_t failed_copies = 0;
    std::uint64_t broken_links = 0;  // counted when links are checked
    std::uint64_t up_to_date = 0;    // files left as they were: nothing they depend on changed
    std::uint64_t removed = 0;       // outputs of earlier runs whose source is gone
    std::uint64_t errors = 0;
    std::uint64_t warnings = 0;
};

// "N documents converted, N files copied, N skipped; N errors, N warnings", with the failed
// documents (and copies, when there are any) after it when the run keeps going past failures.
// A check says "checked" and "to copy" instead.
std::string summary_text(const run_summary_t& summary, bool keep_going, bool check = false, bool links = false);

// The stack a run is given: the deepest include chain the engine allows needs well under a
// tenth of it, also in builds with sanitizers.
inline constexpr std::size_t conversion_stack_bytes = std::size_t{32} << 20;

// Lets another thread follow a run and stop it between two files. The summary is filled as
// the run goes, also when it stops; read it once the run has ended.
struct conversion_control_t {
    std::atomic<bool> cancel{false};
    std::atomic<std::uint64_t> files_done{0};
    run_summary_t summary;
};

// Ends a run that was asked to stop.
class conversion_cancelled : public std::runtime_error {
public:
    conversion_cancelled() : std::runtime_error("Conversion cancelled") {}
};

// Mirrors the source tree into the destination: entries matching a Skip mask are left out,
// directories are walked depth-first, files matching a Convert mask go through the SSI engine
// and every other file is copied. One progress line per file, written before its work.
// relative prefixes the log lines (empty for a whole site). The first failure ends the run
// as an exception; what was done before it stays. With keep_going a failure to convert or
// copy one file is logged instead, its output removed, and the run goes on; failures of the
// walk itself still end it. The destination must not be or contain the source; a destination
// inside the source is left out of the walk. A checking run writes nothing and needs no
// destination (an empty one is allowed).
void convert_directory(const std::string& relative, const std::string& source, const std::string& destination,
                       const SSIDirectoryPreferences& preferences, CompileLogBase& log,
                       conversion_control_t* control = nullptr);

// How many files a run over source would convert or copy, for a progress bar. Reads
// folders only; entries it cannot read are left for the run itself to report.
std::uint64_t count_files(const std::string& source, const std::string& destination,
                          const SSIDirectoryPreferences& preferences);

class LinkRewriter;

// Converts one document into its output file, which gets the source's permission bits
// (permissions, when the caller knows them). With a rewriter, links to renamed pages are
// rewritten in the result; page is the document's path from the site's root. An existing
// output that already holds the result is kept as it is, unless fresh says there is none.
void convert_file(const std::string& source, const std::string& destination, const SSIDirectoryPreferences& preferences,
                  SSIParser::State& state, CompileLogBase& log, const LinkRewriter* rewriter = nullptr,
                  const std::string& page = {}, std::optional<unsigned> permissions = std::nullopt,
                  bool fresh = false);
