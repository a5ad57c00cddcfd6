#include "build/link_check.h"

#include "base/compile_log.h"
#include "html/links.h"
#include "html/web_text.h"
#include "platform/file.h"
#include "platform/file_system.h"

#include <optional>
#include <stdexcept>

std::uint64_t check_links(const std::vector<std::string>& pages, const std::string& destination, CompileLogBase& log) {
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
                found = try_stat_path(where + "/index.html").has_value() || try_stat_path(where + "/index.htm").has_value();
            if (found) return;
            const auto [line, column] = lines.at(link.begin);
            log.diagnostic(severity_t::warning, "broken link '" + url + "'", {{page, line, column, path}, {}});
            ++broken;
        });
    }
    return broken;
}
