#pragma once

#include "console.h"

#include <iosfwd>
#include <string>
#include <vector>

// The whole command-line program: parses args (without the program name), runs the
// conversion with progress and the summary on out and diagnostics on err, and returns the
// exit code: 0 for a run without errors, 1 for a run that reported an error (or a warning
// with --werror), 2 for a usage error, 128 + the signal when interrupted. console says
// whether the streams are terminals, for colour and the status line.
int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const console_t& console = {});
