#pragma once

#include "build/summary.h"
#include "ssi/ssi_parser.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class CompileLogBase;
struct SSIDirectoryPreferences;

// The stack a run is given: the deepest include chain the engine allows needs well under a
// tenth of it, also in builds with sanitizers.
inline constexpr std::size_t conversion_stack_bytes = std::size_t{32} << 20;

// Lets another thread follow a run and stop it: files not started yet are dropped, files
// being done finish, and the link check stops. The summary is filled as the run goes, also
// when it stops; read it once the run has ended.
struct conversion_control_t {
    std::atomic<bool> cancel{false};
    std::atomic<std::uint64_t> files_done{0};
    run_summary_t summary;
    // Every output a run that ended well wrote or removed, or may have (paths from the
    // destination's root), when it can tell (it keeps a record, and was given a run_memory_t):
    // for a caller that follows the destination, such as a preview server.
    std::optional<std::vector<std::string>> outputs;
};

struct kept_record_t;

// What a caller that runs again and again into one destination (a watch) carries from each
// run to the next, so that a run after a change does little more than the change asks for.
struct run_memory_t {
    // The real paths of what changed since the last run, when that run ended well and the
    // caller could tell (a folder's path stands for everything below it). Every other source
    // file, and its outputs, is then taken to be as that run recorded it, without being
    // looked at; the files pages read are looked at as always.
    std::optional<std::vector<std::string>> changed;
    // The record the last run left, kept by convert_directory: the next run takes it rather
    // than reading the file, while the file is as that run wrote it.
    std::shared_ptr<kept_record_t> record;
    // The last run's record being saved on a thread of its own, so that the caller need not
    // wait for it to show the run's end; the next run waits for it first and tells of its
    // failure (saving_failure, set by the thread).
    std::thread saving;
    std::string saving_failure;

    run_memory_t() = default;
    run_memory_t(const run_memory_t&) = delete;
    run_memory_t& operator=(const run_memory_t&) = delete;
    ~run_memory_t() {
        if (saving.joinable()) saving.join();
    }
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
// as an exception; what was done before it stays, and nothing after it: outputs go in place
// in walk order, so later files done early on other workers are dropped. With keep_going a
// failure to convert or copy one file is logged instead, its output removed, and the run
// goes on; failures of the walk itself still end it. The destination must not be or contain
// the source; a destination inside the source is left out of the walk. A checking run writes nothing and needs no
// destination (an empty one is allowed).
// A caller that runs again and again into one destination (a watch) may pass memory.
void convert_directory(const std::string& relative, const std::string& source, const std::string& destination,
                       const SSIDirectoryPreferences& preferences, CompileLogBase& log,
                       conversion_control_t* control = nullptr, run_memory_t* memory = nullptr);

// How many files a run over source would convert or copy, for a progress bar: it walks as
// the run does, leaving out the same entries, but writes nothing. A site it cannot read
// counts 0, left for the run itself to report. A stop (stop set) ends the count early.
std::uint64_t count_files(const std::string& source, const std::string& destination,
                          const SSIDirectoryPreferences& preferences, const std::atomic<bool>* stop = nullptr);

class LinkRewriter;

// Converts one document into its output file, which gets the source's permission bits
// (permissions, when the caller knows them). With a rewriter, links to renamed pages are
// rewritten in the result; page is the document's path from the site's root. An existing
// output that already holds the result is kept as it is, unless fresh says there is none.
void convert_file(const std::string& source, const std::string& destination, const SSIDirectoryPreferences& preferences,
                  SSIParser::State& state, CompileLogBase& log, const LinkRewriter* rewriter = nullptr,
                  const std::string& page = {}, std::optional<unsigned> permissions = std::nullopt,
                  bool fresh = false);
