#pragma once

#include "html/links.h"

#include <optional>
#include <string>
#include <string_view>

// HTML and CSS files, whose links are looked at, by their names (".html", ".htm", ".css", in
// any case); nullopt for every other file.
std::optional<text_kind_t> web_text_kind(std::string_view name);

// What a renamed page leaves under its old name: a page that sends browsers to the new one.
std::string redirect_page(const std::string& target);
