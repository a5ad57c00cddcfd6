#include "build/redirect_pages.h"

#include "base/compile_log.h"
#include "build/outputs.h"
#include "html/web_text.h"
#include "platform/file.h"
#include "platform/file_system.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace {
// The site's place under the virtual root ("" when they are the same folder), or nullopt when
// the site is not under it.
std::optional<std::string> site_prefix(const std::string& source, const std::string& virtual_root) {
    if (virtual_root.empty()) return std::string();
    try {
        const std::string site = real_path(source), root = real_path(virtual_root);
        if (site == root) return std::string();
        if (!path_within(site, root)) return std::nullopt;
        return site.substr(root.size() + (root.ends_with('/') ? 0 : 1));
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

// The file of the site a URL path names (a folder's index.html for one ending in '/'), or
// nullopt when it lies outside the site.
std::optional<std::string> site_file(std::string from, const std::string& prefix) {
    from.erase(0, from.find_first_not_of('/'));
    if (!prefix.empty()) {
        if (from != prefix && !from.starts_with(prefix + "/")) return std::nullopt;
        from.erase(0, std::min(from.size(), prefix.size() + 1));
    }
    if (from.empty() || from.ends_with('/')) from += "index.html";
    if (!is_plain_relative_path(from)) return std::nullopt;
    return from;
}

// Whether something other than a redirect page (one an earlier run wrote) stands at path.
bool holds_other_page(const std::string& path) {
    static const std::string blank = redirect_page("");
    static const std::string start = blank.substr(0, blank.find("url=") + 4);
    const std::optional<file_status_t> status = try_stat_path(path);
    if (!status) return false;
    if (status->kind != file_kind_t::regular) return true;
    try {
        File file(path, File::access_t::read);
        return !read_bytes(file, std::min<std::uint64_t>(status->size, start.size())).starts_with(start);
    } catch (const std::runtime_error&) {
        return true;
    }
}
}  // namespace

std::size_t write_redirect_pages(const std::vector<static_redirect_t>& redirects, const std::string& source,
                                 const std::string& virtual_root, const std::string& destination, bool write,
                                 CompileLogBase& log) {
    const std::optional<std::string> prefix = site_prefix(source, virtual_root);
    std::size_t written = 0;
    for (const static_redirect_t& redirect : redirects) {
        const std::string left_out = redirect.place + ": note: " + redirect.written + " is left out: ";
        const std::optional<std::string> file = prefix ? site_file(redirect.from, *prefix) : std::nullopt;
        if (!file) {
            log.message(left_out + redirect.from + " is no path of the site");
            continue;
        }
        std::string named = redirect.from;
        named.erase(0, named.find_first_not_of('/'));
        if (try_stat_path(source + "/" + *file) || (!named.empty() && try_stat_path(source + "/" + named))) {
            log.message(left_out + "the site has a file at " + redirect.from);
            continue;
        }
        const std::string page = redirect_page(redirect.to), target = destination + "/" + *file;
        // A page this run wrote there (a renamed page's new name) is kept.
        if (holds_other_page(target)) {
            log.message(left_out + "this run wrote a page at " + redirect.from);
            continue;
        }
        if (!write) continue;
        if (const std::size_t slash = target.rfind('/'); slash != std::string::npos)
            make_directories(target.substr(0, slash));
        StagedOutputs outputs;
        write_text_file(outputs, target, page);
        outputs.commit();
        ++written;
    }
    return written;
}
