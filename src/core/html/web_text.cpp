#include "html/web_text.h"

#include "base/text.h"

std::optional<text_kind_t> web_text_kind(std::string_view name) {
    if (ends_with_folded(name, ".html") || ends_with_folded(name, ".htm")) return text_kind_t::html;
    if (ends_with_folded(name, ".css")) return text_kind_t::css;
    return std::nullopt;
}

std::string redirect_page(const std::string& target) {
    const std::string escaped = escape_html(target);
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<meta http-equiv=\"refresh\" content=\"0; url=" +
           escaped + "\">\n<link rel=\"canonical\" href=\"" + escaped + "\">\n<title>Moved</title></head>\n<body><p>This page has moved to <a href=\"" +
           escaped + "\">" + escaped + "</a>.</p></body></html>\n";
}
