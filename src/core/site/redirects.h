#pragma once

#include "site/apache_config.h"

#include <string>
#include <variant>

// Apache's Redirect, RedirectPermanent, RedirectTemp and RedirectMatch as a static site can
// keep them: a page at the old place that sends the browser on.
struct static_redirect_t {
    std::string from;   // the URL path redirected, from the server's root ("/old/page.html")
    std::string to;     // where to: a URL path or a whole URL, as written
    std::string place;  // FILE:LINE of the directive, for notes
    std::string written;  // the directive as written, for notes
};

// Whether a directive is one of the redirects above.
bool is_redirect_directive(const apache_directive_t& directive);

// The redirect a directive asks for, or why a static page cannot stand for it: a redirect with
// no target (gone), a pattern that matches more than one path, or a target that takes back
// parts of the path matched.
std::variant<static_redirect_t, std::string> static_redirect(const apache_directive_t& directive,
                                                             const std::string& place);
