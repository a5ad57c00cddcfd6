#pragma once

#include "cli.h"
#include "console.h"

#include <sstream>
#include <string>
#include <vector>

// What one call of the command line gave: its exit status and both streams.
struct cli_result_t {
    int code;
    std::string out;
    std::string err;
};

inline cli_result_t run(const std::vector<std::string>& args, const console_t& console = {}) {
    std::ostringstream out, err;
    const int code = run_cli(args, out, err, console);
    return {code, out.str(), err.str()};
}
