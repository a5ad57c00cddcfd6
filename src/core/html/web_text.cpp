#include "html/web_text.h"

#include <algorithm>

namespace {
bool is_lower_suffix(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size()) return false;
    const std::string_view tail = name.substr(name.size() - suffix.size());
    return std::equal(tail.begin(), tail.end(), suffix.begin(),
                      [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; });
}
}  // namespace

std::optional<text_kind_t> web_text_kind(std::string_view name) {
    if (is_lower_suffix(name, ".html") || is_lower_suffix(name, ".htm")) return text_kind_t::html;
    if (is_lower_suffix(name, ".css")) return text_kind_t::css;
    return std::nullopt;
}

std::string redirect_page(const std::string& target) {
    std::string escaped;
    for (const char c : target) {
        if (c == '&') escaped += "&amp;";
        else if (c == '"') escaped += "&quot;";
        else if (c == '<') escaped += "&lt;";
        else escaped.push_back(c);
    }
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<meta http-equiv=\"refresh\" content=\"0; url=" +
           escaped + "\">\n<link rel=\"canonical\" href=\"" + escaped + "\">\n<title>Moved</title></head>\n<body><p>This page has moved to <a href=\"" +
           escaped + "\">" + escaped + "</a>.</p></body></html>\n";
}
