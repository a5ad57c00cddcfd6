#pragma once

#include "html/links.h"

#include <optional>
#include <string>
#include <string_view>

// HTML and CSS files, whose links are looked at, by their names (".html", ".htm", ".css", in
// any case); nullopt for every other file.
std::optional<text_kind_t> web_text_kind(std::string_view name);

// How a page's bytes are read for links: UTF-16 (either byte order) when they start with its
// byte order mark, else as UTF-8 (ASCII and Latin-1 markup read the same).
enum class page_encoding_t { utf8, utf16le, utf16be };
page_encoding_t page_encoding(std::string_view bytes) noexcept;

// A UTF-16 page's text after its byte order mark, in UTF-8, so that links are found, checked
// and rewritten as in any page. exact is false when the page held an unpaired surrogate or an
// odd last byte (each read as U+FFFD): such a text cannot go back to the same bytes.
std::string utf16_page_text(std::string_view bytes, page_encoding_t encoding, bool& exact);
// UTF-8 text back into a UTF-16 page, byte order mark first: the reverse of utf16_page_text.
std::string utf16_page_bytes(std::string_view text, page_encoding_t encoding);

// What a renamed page leaves under its old name: a page that sends browsers to the new one.
std::string redirect_page(const std::string& target);
