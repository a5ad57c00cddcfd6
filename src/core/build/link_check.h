#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CompileLogBase;
class OutputOrigins;

// After a run: every local link of the HTML and CSS pages written (paths from the site's
// root) that leads to nothing in destination is reported to log as a warning where it
// stands. Returns how many were found.
std::uint64_t check_links(const std::vector<std::string>& pages, const std::string& destination, CompileLogBase& log);
// The same for one page. With origins (where the page's text came from as it was converted),
// a broken link is reported where it was written: in the page's source or in a document it
// included, with the includes that led there; otherwise where it stands in the output.
std::uint64_t check_page_links(const std::string& page, const std::string& destination, CompileLogBase& log,
                               OutputOrigins* origins);
