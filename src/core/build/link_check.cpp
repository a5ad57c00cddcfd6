#include "build/link_check.h"

#include "base/compile_log.h"
#include "html/links.h"
#include "html/web_text.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "site/folder_settings.h"
#include "ssi/output_origins.h"

#include <optional>
#include <stdexcept>
#include <string_view>

namespace {
// Byte offsets in a UTF-16 page of offsets in its UTF-8 reading (exact, byte order mark
// dropped): each character takes two bytes, or four for a pair. Counting goes on from the
// offset asked last, forwards or back, as links come in nearly rising order.
class Utf16Offsets {
public:
    explicit Utf16Offsets(std::string_view text) : text_(text) {}
    std::uint64_t at(std::size_t offset) {
        for (; at_ < offset; ++at_) bytes_ += width(at_);
        while (at_ > offset) bytes_ -= width(--at_);
        return bytes_;
    }

private:
    std::uint64_t width(std::size_t i) const {
        const auto b = static_cast<unsigned char>(text_[i]);
        return (b & 0xC0) == 0x80 ? 0 : b >= 0xF0 ? 4 : 2;
    }
    std::string_view text_;
    std::size_t at_ = 0;
    std::uint64_t bytes_ = 2;  // the byte order mark
};

// Whether a folder of the output is served through one of its index pages.
bool has_index(const std::string& destination, const std::string& folder, const index_names_t& index_names) {
    const std::vector<std::string> names = index_names ? index_names(folder) : std::vector<std::string>{};
    for (const std::string& place : index_places(folder, names, {"index.html", "index.htm"}))
        if (try_stat_path(destination + "/" + place)) return true;
    return false;
}
}  // namespace

std::uint64_t check_page_links(const std::string& page, const std::string& destination, CompileLogBase& log,
                               OutputOrigins* origins, const index_names_t& index_names) {
    const std::string path = destination + "/" + page;
    std::string text;
    try {
        File file(path, File::access_t::read);
        text = read_bytes(file, stat_file(file).size);
    } catch (const std::runtime_error&) {
        return 0;  // a page that failed has no output to check
    }
    const text_kind_t kind = web_text_kind(page).value_or(text_kind_t::html);
    // A UTF-16 page is read in UTF-8, where lines and columns count characters as in any page.
    bool wide = false;
    if (const page_encoding_t encoding = page_encoding(text); encoding != page_encoding_t::utf8) {
        bool exact = true;
        text = utf16_page_text(text, encoding, exact);
        wide = true;
        if (!exact) origins = nullptr;  // offsets in the output cannot be told back
    }
    if (origins != nullptr && origins->empty()) origins = nullptr;
    std::optional<Utf16Offsets> output_offsets;
    if (wide && origins != nullptr) output_offsets.emplace(text);
    LineCounter lines(text);
    std::uint64_t broken = 0;
    find_links(text, kind, [&](const link_t& link) {
        const std::string url = link_url(text, link);
        const std::optional<local_target_t> target = resolve_local(url, page);
        if (!target) return;
        const std::string where = destination + (target->path.empty() ? "" : "/" + target->path);
        const std::optional<file_status_t> status = try_stat_path(where);
        bool found = status.has_value() && (!target->folder || status->kind == file_kind_t::directory);
        // A folder is served through its index page.
        if (found && status->kind == file_kind_t::directory)
            found = has_index(destination, target->path, index_names);
        if (found) return;
        // Counted in the output for every link, so that the count stays one pass over the page.
        const auto [line, column] = lines.at(link.begin);
        std::optional<diagnostic_location_t> written;
        if (origins != nullptr) written = origins->locate(output_offsets ? output_offsets->at(link.begin) : link.begin);
        log.diagnostic(severity_t::warning, "broken link '" + url + "'",
                       written ? *written : diagnostic_location_t{{page, line, column, path}, {}});
        ++broken;
    });
    return broken;
}


std::uint64_t check_links(const std::vector<std::string>& pages, const std::string& destination, CompileLogBase& log,
                          const index_names_t& index_names) {
    std::uint64_t broken = 0;
    for (const std::string& page : pages) broken += check_page_links(page, destination, log, nullptr, index_names);
    return broken;
}
