// Fuzzes the link finder and rewriter: the first byte picks HTML or CSS, the rest is the text.
// Every link lies within the text, in order, and a rewrite changes nothing but link bytes.
#include "html/links.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const text_kind_t kind = (data[0] & 1U) != 0 ? text_kind_t::css : text_kind_t::html;
    std::size_t links = 0;
    find_links(text, kind, [&](const link_t& link) {
        if (link.begin >= link.end || link.end > text.size()) __builtin_trap();
        (void)resolve_local(link_url(text, link), "a/b.shtml");
        ++links;
    });
    static const LinkRewriter rewriter({{"a/x.shtml", "x.html"}, {"y.sht", "y.html"}, {"a/noext", "noext.html"}});
    const std::optional<std::string> changed = rewriter.rewrite(text, kind, "a/b.shtml");
    if (changed && links == 0) __builtin_trap();
    return 0;
}
