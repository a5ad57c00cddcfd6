#include "build/link_check.h"

#include "base/compile_log.h"
#include "html/links.h"
#include "html/web_text.h"
#include "platform/file.h"
#include "platform/file_system.h"

#include <optional>
#include <stdexcept>

namespace {
// Whether a folder of the output is served through one of its index pages.
bool has_index(const std::string& destination, const std::string& folder, const index_names_t& index_names) {
    std::vector<std::string> names = index_names ? index_names(folder) : std::vector<std::string>{};
    if (names.empty()) names = {"index.html", "index.htm"};
    const std::string where = destination + (folder.empty() ? "" : "/" + folder);
    for (const std::string& name : names) {
        if (name == "disabled") return false;
        // A name from the server's root ("/cgi-bin/index.pl") is one place for every folder.
        if (try_stat_path(name.starts_with('/') ? destination + name : where + "/" + name)) return true;
    }
    return false;
}
}  // namespace

std::uint64_t check_links(const std::vector<std::string>& pages, const std::string& destination, CompileLogBase& log,
                          const index_names_t& index_names) {
    std::uint64_t broken = 0;
    for (const std::string& page : pages) {
        const std::string path = destination + "/" + page;
        std::string text;
        try {
            File file(path, File::access_t::read);
            text = read_bytes(file, stat_file(file).size);
        } catch (const std::runtime_error&) {
            continue;  // a page that failed has no output to check
        }
        const text_kind_t kind = web_text_kind(page).value_or(text_kind_t::html);
        // A UTF-16 page is read in UTF-8, where lines and columns count characters as in any page.
        if (const page_encoding_t encoding = page_encoding(text); encoding != page_encoding_t::utf8) {
            bool exact = true;
            text = utf16_page_text(text, encoding, exact);
        }
        LineCounter lines(text);
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
            const auto [line, column] = lines.at(link.begin);
            log.diagnostic(severity_t::warning, "broken link '" + url + "'", {{page, line, column, path}, {}});
            ++broken;
        });
    }
    return broken;
}
