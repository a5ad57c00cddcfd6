#pragma once

#include "ssi/ssi_parser.h"

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>

class CompileLogBase;
struct SSIDirectoryPreferences;

// Lets another thread follow a run and stop it between two files.
struct conversion_control_t {
    std::atomic<bool> cancel{false};
    std::atomic<std::uint64_t> files_done{0};
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
// as an exception; what was done before it stays. The destination must not be or contain
// the source; a destination inside the source is left out of the walk.
void convert_directory(const std::string& relative, const std::string& source, const std::string& destination,
                       const SSIDirectoryPreferences& preferences, CompileLogBase& log,
                       conversion_control_t* control = nullptr);

// How many files a run over source would convert or copy, for a progress bar. Reads
// folders only; entries it cannot read are left for the run itself to report.
std::uint64_t count_files(const std::string& source, const std::string& destination,
                          const SSIDirectoryPreferences& preferences);

// Converts one document into a new or truncated output file.
void convert_file(const std::string& source, const std::string& destination, const SSIDirectoryPreferences& preferences,
                  SSIParser::State& state, CompileLogBase& log);
