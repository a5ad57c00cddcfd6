#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CompileLogBase;
class OutputOrigins;

// After a run: every local link of the HTML and CSS pages written (paths from the site's
// root) that leads to nothing in destination is reported to log as a warning where it
// stands. A link to a folder leads somewhere when the folder holds one of the names index_names
// gives for it (its path from the site's root), or index.html or index.htm when it gives none.
// Returns how many were found.
using index_names_t = std::function<std::vector<std::string>(const std::string& folder)>;
std::uint64_t check_links(const std::vector<std::string>& pages, const std::string& destination, CompileLogBase& log,
                          const index_names_t& index_names = {});
// The same for one page. With origins (where the page's text came from as it was converted),
// a broken link is reported where it was written: in the page's source or in a document it
// included, with the includes that led there; otherwise where it stands in the output.
std::uint64_t check_page_links(const std::string& page, const std::string& destination, CompileLogBase& log,
                               OutputOrigins* origins, const index_names_t& index_names = {});
