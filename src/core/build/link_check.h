#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CompileLogBase;

// After a run: every local link of the HTML and CSS pages written (paths from the site's
// root) that leads to nothing in destination is reported to log as a warning where it
// stands. Returns how many were found.
std::uint64_t check_links(const std::vector<std::string>& pages, const std::string& destination, CompileLogBase& log);
