#include "site/convert.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "platform/clock.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "site/file_filter.h"
#include "ssi/document_cache.h"
#include "ssi/document_output.h"
#include "ssi/preferences.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {
// What one run carries down the tree.
struct walk_t {
    const SSIDirectoryPreferences& preferences;
    CountingLog log;
    MyFileFilter filter;
    std::optional<file_identity_t> destination;     // never walked, should it lie inside the source
    std::vector<file_identity_t> open_directories;  // the walk's path, to catch link loops
    conversion_control_t* control;
    DocumentCache cache;
    std::string source;  // the site's folder, which diagnostics name documents under
    std::string prefix;
    run_summary_t summary;
    std::string destination_root;           // as given, and fully resolved:
    std::string resolved_destination_root;  // folders below must not lead out of it
    std::vector<std::string> site_folders;  // resolved; links in the site may lead only below these
};

// Converts or copies one file. With keep_going a failure is logged with its location (the
// directive that met it, or the file itself) and the caller goes on; the previous output, if
// any, stays as it was. Returns whether the file was done.
template <class Work>
bool attempt(walk_t& walk, const std::string& relative_path, const std::string& source_path, Work work) {
    if (!walk.preferences.keep_going) {
        work();
        return true;
    }
    try {
        work();
        return true;
    } catch (const located_error& e) {
        walk.log.diagnostic(severity_t::error, e.what(), e.where());
    } catch (const std::runtime_error& e) {
        walk.log.diagnostic(severity_t::error, e.what(), {{relative_path, 0, 0, source_path}, {}});
    }
    return false;
}

void skip_entry(walk_t& walk, const std::string& relative_path, const std::string& why) {
    walk.log.warning("Skipping " + relative_path + " (" + why + ")");
    ++walk.summary.skipped;
}

// A folder already in the destination may be a link; writing through one that leads out of
// the destination would change files elsewhere.
void refuse_link_out(const walk_t& walk, const std::string& folder) {
    if (folder == walk.destination_root || lstat_path(folder).kind != file_kind_t::link) return;
    if (!path_within(real_path(folder), walk.resolved_destination_root))
        raise(std::runtime_error(folder + ": is a link out of the destination folder"));
}

void walk_directory(walk_t& walk, const std::string& relative, const std::string& source,
                    const std::string& destination) {
    if (!walk.preferences.check && !make_directory(destination)) refuse_link_out(walk, destination);
    Directory directory(source);
    for (std::string name; directory.next(name);) {
        if (walk.filter.should_skip(name)) {
            ++walk.summary.skipped;
            continue;
        }
        const std::string source_path = source + "/" + name;
        const std::string destination_path = destination + "/" + name;
        const std::string relative_path = relative.empty() ? name : relative + "/" + name;
        file_status_t status = lstat_path(source_path);
        if (status.kind == file_kind_t::link) {
            // Links are followed, within the site: a broken one, or one leading out, is left out.
            std::optional<file_status_t> target;
            try {
                target = stat_path(source_path);
            } catch (const os_exception&) {
                skip_entry(walk, relative_path, "broken link");
                continue;
            }
            const std::string resolved = real_path(source_path);
            if (!within_any(resolved, walk.site_folders)) {
                skip_entry(walk, relative_path, "link to outside the site: " + resolved);
                continue;
            }
            status = *target;
        }

        if (status.kind == file_kind_t::directory) {
            if (status.identity == walk.destination) continue;
            auto& open = walk.open_directories;
            if (std::find(open.begin(), open.end(), status.identity) != open.end())
                raise(std::runtime_error("Directory loop: " + source_path));
            // The default masks publish a repository's history with the site; say so once per folder.
            if (name == ".git" || name == ".svn" || name == ".hg")
                walk.log.diagnostic(severity_t::warning,
                                    "Version-control folder " + name + " is published with the site; add " + name +
                                        " to the Skip masks to leave it out",
                                    {{relative_path, 0, 0, source_path}, {}});
            open.push_back(status.identity);
            walk_directory(walk, relative_path, source_path, destination_path);
            open.pop_back();
        } else if (status.kind == file_kind_t::other) {
            // FIFOs, sockets and devices are never opened: reading one could hang the run.
            skip_entry(walk, relative_path, "not a regular file");
        } else if (walk.control != nullptr && walk.control->cancel.load()) {
            raise(conversion_cancelled());
        } else if (walk.filter.should_convert(name)) {
            walk.log.message("Converting " + relative_path + "...");
            const bool done = attempt(walk, relative_path, source_path, [&] {
                SSIParser::State state;
                state.last_modified = local_time(status.modified);
                state.cache = &walk.cache;
                state.site_folder = walk.source;
                state.site_prefix = walk.prefix;
                convert_file(source_path, destination_path, walk.preferences, state, walk.log);
            });
            ++(done ? walk.summary.documents : walk.summary.failed_documents);
        } else {
            walk.log.message("Copying " + relative_path + "...");
            const bool done = attempt(walk, relative_path, source_path, [&] {
                if (!walk.preferences.check) copy_file(source_path, destination_path);
            });
            ++(done ? walk.summary.copies : walk.summary.failed_copies);
        }
        if (status.kind == file_kind_t::regular && walk.control != nullptr) ++walk.control->files_done;
    }
}

// The same decisions as walk_directory, counting instead of doing.
std::uint64_t count_directory(const MyFileFilter& filter, const std::optional<file_identity_t>& destination,
                              std::vector<file_identity_t>& open, const std::string& source) {
    std::uint64_t count = 0;
    Directory directory(source);
    for (std::string name; directory.next(name);) {
        if (filter.should_skip(name)) continue;
        const std::string path = source + "/" + name;
        const std::optional<file_status_t> status = try_stat_path(path);
        if (!status) continue;
        if (status->kind == file_kind_t::regular) {
            ++count;
        } else if (status->kind == file_kind_t::directory && status->identity != destination &&
                   std::find(open.begin(), open.end(), status->identity) == open.end()) {
            open.push_back(status->identity);
            count += count_directory(filter, destination, open, path);
            open.pop_back();
        }
    }
    return count;
}

}  // namespace

void convert_directory(const std::string& relative, const std::string& source, const std::string& destination,
                       const SSIDirectoryPreferences& preferences, CompileLogBase& log, conversion_control_t* control) {
    const file_status_t source_status = stat_path(source);
    if (source_status.kind != file_kind_t::directory) throw_os_error(ENOTDIR, source);
    std::optional<file_identity_t> destination_identity;
    if (preferences.check) {
        if (!destination.empty())
            if (const auto status = try_stat_path(destination)) destination_identity = status->identity;
    } else {
        if (try_stat_path(destination) && path_within(real_path(source), real_path(destination)))
            raise(std::runtime_error("Destination directory must not contain the source directory"));
        make_directory(destination);
        const file_status_t destination_status = stat_path(destination);
        if (destination_status.kind != file_kind_t::directory) throw_os_error(ENOTDIR, destination);
        destination_identity = destination_status.identity;
    }

    SSIDirectoryPreferences effective = preferences;
    if (preferences.source_as_root) {
        effective.virtual_root = source;
        while (effective.virtual_root.size() > 1 && effective.virtual_root.ends_with('/'))
            effective.virtual_root.pop_back();
    }
    // Apache parses only the included files its filter is set for: here, the Convert masks.
    if (effective.dialect == dialect_t::apache && !effective.parses_include) {
        auto filter = std::make_shared<const MyFileFilter>(preferences);
        effective.parses_include = [filter](std::string_view name) { return filter->should_convert(name); };
    }
    // What the site may read: its own folder and the places the user allowed; documents also
    // the virtual root. Places that do not exist hold nothing to read.
    std::vector<std::string> site_folders{real_path(source)};
    for (const std::string& place : preferences.allow_outside)
        if (!place.empty() && try_stat_path(place)) site_folders.push_back(real_path(place));
    effective.readable_folders = site_folders;
    if (!effective.virtual_root.empty() && try_stat_path(effective.virtual_root))
        effective.readable_folders.push_back(real_path(effective.virtual_root));
    walk_t walk{effective,
                CountingLog(log),
                MyFileFilter(preferences),
                destination_identity,
                {source_status.identity},
                control,
                {},
                source,
                relative,
                {},
                destination,
                preferences.check ? std::string() : real_path(destination),
                std::move(site_folders)};
    // The summary reaches the caller also when the run stops.
    struct publish_t {
        walk_t& walk;
        ~publish_t() {
            walk.summary.errors = walk.log.errors;
            walk.summary.warnings = walk.log.warnings;
            if (walk.control != nullptr) walk.control->summary = walk.summary;
        }
    } publish{walk};
    walk_directory(walk, relative, source, destination);
}

std::string summary_text(const run_summary_t& summary, bool keep_going, bool check) {
    const auto count = [](std::uint64_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    std::string text = count(summary.documents, "document", "documents") + (check ? " checked, " : " converted, ") +
                       count(summary.copies, "file", "files") + (check ? " to copy, " : " copied, ") +
                       std::to_string(summary.skipped) + " skipped; " + count(summary.errors, "error", "errors") +
                       ", " + count(summary.warnings, "warning", "warnings");
    if (keep_going) text += ", " + count(summary.failed_documents, "document", "documents") + " failed";
    if (summary.failed_copies > 0) text += ", " + count(summary.failed_copies, "copy", "copies") + " failed";
    return text;
}

std::uint64_t count_files(const std::string& source, const std::string& destination,
                          const SSIDirectoryPreferences& preferences) {
    try {
        const std::optional<file_status_t> target = destination.empty() ? std::nullopt : try_stat_path(destination);
        std::vector<file_identity_t> open{stat_path(source).identity};
        const std::optional<file_identity_t> excluded = target ? std::optional(target->identity) : std::nullopt;
        return count_directory(MyFileFilter(preferences), excluded, open, source);
    } catch (const std::runtime_error&) {
        return 0;  // the run itself reports what cannot be read
    }
}

void convert_file(const std::string& source, const std::string& destination, const SSIDirectoryPreferences& preferences,
                  SSIParser::State& state, CompileLogBase& log) {
    if (preferences.check) {
        DocumentOutput nothing(nullptr, true);
        SSIParser(source, nothing, preferences, state, log).process();
        return;
    }
    OutputFile output(destination);
    {
        DocumentOutput buffered(&output.file());
        SSIParser parser(source, buffered, preferences, state, log);
        parser.process();
        buffered.flush();
    }
    output.commit();
}
