#pragma once

#include "ssi/ssi_parser.h"

#include <string>

class CompileLogBase;
struct SSIDirectoryPreferences;

// Mirrors the source tree into the destination: entries matching a Skip mask are left out,
// directories are walked depth-first, files matching a Convert mask go through the SSI engine
// and every other file is copied. One progress line per file, written before its work.
// relative prefixes the log lines (empty for a whole site). The first failure ends the run
// as an exception; what was done before it stays. The destination must not be or contain
// the source; a destination inside the source is left out of the walk.
void convert_directory(const std::string& relative, const std::string& source, const std::string& destination,
                       const SSIDirectoryPreferences& preferences, CompileLogBase& log);

// Converts one document into a new or truncated output file.
void convert_file(const std::string& source, const std::string& destination,
                  const SSIDirectoryPreferences& preferences, SSIParser::State& state, CompileLogBase& log);
