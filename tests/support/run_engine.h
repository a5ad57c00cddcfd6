#pragma once

#include "ssi/preferences.h"

#include <string>
#include <string_view>
#include <vector>

// Runs the SSI engine over an in-memory document, with relative paths taken from directory.
struct engine_result_t {
    std::string output;
    std::vector<std::string> log;
};
engine_result_t run_engine(std::string_view document, const SSIParserPreferences& preferences = {},
                           const std::string& directory = ".");
