#include "ssi/ssi_parser.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "base/text.h"
#include "platform/file_system.h"
#include "ssi/document_cache.h"
#include "ssi/preferences.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <stdexcept>

SSIParser::resolved_path_t SSIParser::resolve_path(SSIParser& parser, const Command& command) {
    const bool has_file = command.find(u"file") != nullptr;
    const std::u16string* virtual_ = command.find(u"virtual");
    const bool has_virtual = virtual_ != nullptr;
    const char* problem = nullptr;
    if (!has_file && !has_virtual)
        problem = "Missing 'file' or 'virtual' argument";
    else if (has_file && has_virtual)
        problem = "Both 'file' and 'virtual' arguments";
    else if (has_file)
        problem = "'file' argument is not supported (only 'virtual')";
    if (problem != nullptr) parser.fail(problem);

    std::u16string_view value = *virtual_;
    while (!value.empty() && is_space(value.front())) value.remove_prefix(1);
    std::string path = to_narrow(value);
    // Site authors on Windows write either separator; this file system takes only '/'.
    std::replace(path.begin(), path.end(), '\\', '/');
    const std::string& root = parser.preferences_->virtual_root;
    const bool from_root = !value.empty() && value.front() == u'/';
    if (parser.preferences_->check && root.empty() && from_root)
        parser.report(severity_t::warning, "Path '" + path +
                                               "' starts with '/' but no virtual root is set: it is "
                                               "taken relative to the document");
    if (!root.empty() && from_root) return {root + path};
    return {parser.directory_ + "/" + path, from_root};
}

void SSIParser::do_include(SSIParser& parser, const Command& command) {
    const resolved_path_t target = resolve_path(parser, command);
    std::optional<SSIParser> child;
    parser.run_located(target, [&] {
        parser.require_readable(target.path);
        child.emplace(target.path, *parser.output_, *parser.preferences_, *parser.state_, *parser.log_);
    });
    child->parent_ = &parser;
    if (parser.preferences_->check && child->looks_binary())
        parser.report(severity_t::warning, "Included file is not text: " + target.path);
    child->process();
}

// A site's pages name many files in few folders: each folder is resolved once per run, and a
// file in it that is no link needs only a look of its own. Anything unusual, and any failure
// (whose error must name the path), takes the whole resolution.
std::string SSIParser::resolved_path(const std::string& path) const {
    DocumentCache* cache = state_->cache;
    const std::size_t slash = path.rfind('/');
    if (cache == nullptr || slash == std::string::npos || slash == 0) return real_path(path);
    const std::string_view name = std::string_view(path).substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return real_path(path);
    try {
        const std::string folder = path.substr(0, slash);
        std::optional<std::string> resolved = cache->resolved_folder(folder);
        if (!resolved) {
            resolved = real_path(folder);
            cache->add_resolved_folder(folder, *resolved);
        }
        if (lstat_path(path).kind != file_kind_t::link)
            return (*resolved == "/" ? std::string() : *resolved) + "/" + std::string(name);
    } catch (const std::runtime_error&) {
    }
    return real_path(path);
}

void SSIParser::require_readable(const std::string& path) const {
    const std::vector<std::string>& folders = preferences_->readable_folders;
    DocumentCache* cache = state_->cache;
    if (folders.empty() || (cache != nullptr && cache->known_readable(path))) return;
    if (!within_any(resolved_path(path), folders)) raise(std::runtime_error("Path outside the site: " + path));
    if (cache != nullptr) cache->add_readable(path);
}

void SSIParser::run_located(const resolved_path_t& target, const std::function<void()>& work) {
    try {
        work();
    } catch (const located_error&) {
        throw;
    } catch (const std::runtime_error& e) {
        std::string text = e.what();
        const auto* failure = dynamic_cast<const os_exception*>(&e);
        // The usual first-run mistake: a site written for a server's root, converted without one.
        if (target.rootless && failure != nullptr && (failure->code() == ENOENT || failure->code() == ENOTDIR))
            text += " (no virtual root is set, so paths starting with '/' are taken relative to the document; " +
                    preferences_->root_remedy + ")";
        raise(located_error(text, location()));
    }
}
