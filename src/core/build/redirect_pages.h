#pragma once

#include "site/redirects.h"

#include <string>
#include <vector>

class CompileLogBase;

// After a run with redirect pages asked for: a page for each of the configuration's redirects
// whose old place is a path of the site (URL paths are taken under virtual_root) that no file
// of the site holds, written into destination; the others are notes to log. With write false
// (a check), only the notes. Returns how many pages were written.
std::size_t write_redirect_pages(const std::vector<static_redirect_t>& redirects, const std::string& source,
                                 const std::string& virtual_root, const std::string& destination, bool write,
                                 CompileLogBase& log);
