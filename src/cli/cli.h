#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// The whole command-line program: parses args (without the program name), runs the
// conversion with log lines on out and failures on err, and returns the exit code:
// 0 for a finished run, 1 for a run that ended with an error, 2 for a usage error.
int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
