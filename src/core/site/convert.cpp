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
};

// Converts or copies one file. With keep_going a failure is logged with its location (the
// directive that met it, or the file itself) and the half-written output removed; the
// caller then goes on. Returns whether the file was done.
template <class Work>
bool attempt(walk_t& walk, const std::string& relative_path, const std::string& source_path,
             const std::string& destination_path, Work work) {
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
    if (!walk.preferences.check) remove_file(destination_path);
    return false;
}

// A destination that is a hard link to the source would be truncated before being read.
// A folder created by this run holds nothing yet, so its files need no look.
void refuse_same_file(bool fresh_folder, const file_status_t& source, const std::string& source_path,
                      const std::string& destination) {
    if (fresh_folder) return;
    const std::optional<file_status_t> existing = try_stat_path(destination);
    if (existing && existing->identity == source.identity)
        raise(std::runtime_error(destination + ": is the same file as " + source_path));
}

void walk_directory(walk_t& walk, const std::string& relative, const std::string& source,
                    const std::string& destination) {
    const bool fresh = walk.preferences.check || make_directory(destination);
    Directory directory(source);
    for (std::string name; directory.next(name);) {
        if (walk.filter.should_skip(name)) {
            ++walk.summary.skipped;
            continue;
        }
        const std::string source_path = source + "/" + name;
        const std::string destination_path = destination + "/" + name;
        const std::string relative_path = relative.empty() ? name : relative + "/" + name;
        const file_status_t status = stat_path(source_path);  // links are followed

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
            walk.log.warning("Skipping " + relative_path + " (not a regular file)");
            ++walk.summary.skipped;
        } else if (walk.control != nullptr && walk.control->cancel.load()) {
            raise(conversion_cancelled());
        } else if (walk.filter.should_convert(name)) {
            walk.log.message("Converting " + relative_path + "...");
            refuse_same_file(fresh, status, source_path, destination_path);
            const bool done = attempt(walk, relative_path, source_path, destination_path, [&] {
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
            refuse_same_file(fresh, status, source_path, destination_path);
            const bool done = attempt(walk, relative_path, source_path, destination_path, [&] {
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
    walk_t walk{effective,
                CountingLog(log),
                MyFileFilter(preferences),
                destination_identity,
                {source_status.identity},
                control,
                {},
                source,
                relative,
                {}};
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
    File output(destination, File::access_t::write);
    {
        DocumentOutput buffered(&output);
        SSIParser parser(source, buffered, preferences, state, log);
        parser.process();
        buffered.flush();
    }
    output.close();
}
