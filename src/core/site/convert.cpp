#include "site/convert.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "platform/clock.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/thread.h"
#include "site/file_filter.h"
#include "site/incremental.h"
#include "site/links.h"
#include "site/ordered_log.h"
#include "site/worker_pool.h"
#include "ssi/document_cache.h"
#include "ssi/document_output.h"
#include "ssi/preferences.h"
#include "version.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <map>
#include <utility>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {
// What one run carries down the tree. The walk decides, in its fixed order, what each entry
// needs; converting and copying go to the pool. What workers change of the run's totals is
// changed in walk order, through the ordered log's steps.
struct walk_t {
    walk_t(const SSIDirectoryPreferences& settings, CompileLogBase& target, conversion_control_t* run_control)
        : preferences(settings), log(target), ordered(log), filter(settings), control(run_control) {}

    const SSIDirectoryPreferences& preferences;
    CountingLog log;  // the user's log, in walk order
    OrderedLog ordered;
    MyFileFilter filter;
    std::optional<file_identity_t> destination;     // never walked, should it lie inside the source
    std::vector<file_identity_t> open_directories;  // the walk's path, to catch link loops
    conversion_control_t* control = nullptr;
    DocumentCache cache;
    std::string source;  // the site's folder, which diagnostics name documents under
    std::string prefix;
    run_summary_t summary;
    std::string destination_root;           // as given, and fully resolved:
    std::string resolved_destination_root;  // folders below must not lead out of it
    std::vector<std::string> site_folders;  // resolved; links in the site may lead only below these
    std::optional<LinkRewriter> rewriter;   // when pages are renamed
    std::vector<std::string> written_pages;  // HTML and CSS outputs, from the site's root, for the link check
    Incremental* incremental = nullptr;     // when runs are recorded
    WorkerPool* pool = nullptr;
    // The walk's own lines since the last file, and what they add to the totals.
    std::optional<OrderedLog::Step> walk_step;
    run_summary_t walk_counts;
    std::vector<std::pair<std::string, manifest_entry_t>> walk_records;  // folders this run makes first
    std::vector<std::string> walk_pages;
};

bool is_lower_suffix(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size()) return false;
    const std::string_view tail = name.substr(name.size() - suffix.size());
    return std::equal(tail.begin(), tail.end(), suffix.begin(),
                      [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; });
}

std::optional<text_kind_t> web_text_kind(std::string_view name) {
    if (is_lower_suffix(name, ".html") || is_lower_suffix(name, ".htm")) return text_kind_t::html;
    if (is_lower_suffix(name, ".css")) return text_kind_t::css;
    return std::nullopt;
}

// A page in UTF-16 or one that is not text at all is not read for links: it is left as it
// is, with a warning, rather than risk changing bytes that are no link.
std::optional<std::string> rewritten(const LinkRewriter& rewriter, const std::string& text, text_kind_t kind,
                                     const std::string& page, CompileLogBase& log) {
    const std::string_view head = std::string_view(text).substr(0, 8192);
    if (head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF") || head.find('\0') != std::string_view::npos) {
        log.diagnostic(severity_t::warning, "Links not rewritten: the page is not UTF-8 or ASCII text",
                           {{page, 0, 0, page}, {}});
        return std::nullopt;
    }
    return rewriter.rewrite(text, kind, page);
}

// What a renamed page leaves under its old name: a page that sends browsers to the new one.
std::string redirect_page(const std::string& target) {
    std::string escaped;
    for (const char c : target) {
        if (c == '&') escaped += "&amp;";
        else if (c == '"') escaped += "&quot;";
        else if (c == '<') escaped += "&lt;";
        else escaped.push_back(c);
    }
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<meta http-equiv=\"refresh\" content=\"0; url=" +
           escaped + "\">\n<link rel=\"canonical\" href=\"" + escaped + "\">\n<title>Moved</title></head>\n<body><p>This page has moved to <a href=\"" +
           escaped + "\">" + escaped + "</a>.</p></body></html>\n";
}

// An output already holding these bytes is left as it is, so that its time stays; in a
// folder just made (fresh) there is none to look at.
void commit_output(OutputFile& output, bool fresh) {
    if (fresh)
        output.commit();
    else
        output.commit_if_changed();
}

void write_text_file(const std::string& path, const std::string& text, std::optional<unsigned> permissions = {},
                     bool fresh = false) {
    OutputFile output(path);
    output.file().write(text.data(), text.size());
    if (permissions) output.set_permissions(*permissions);
    commit_output(output, fresh);
}

// Before anything is written: the pages that get new names, and no two entries of a folder
// that would be written under one name.
void plan_renames(const MyFileFilter& filter, const SSIDirectoryPreferences& preferences,
                  const std::optional<file_identity_t>& destination, std::vector<file_identity_t>& open,
                  const std::string& source, const std::string& relative, std::map<std::string, std::string>& renamed) {
    std::map<std::string, std::string> outputs;  // output name -> the entry written under it
    const auto claim = [&](const std::string& output, const std::string& name) {
        const auto [at, fresh] = outputs.try_emplace(output, name);
        if (!fresh && at->second != name) {
            const std::string folder = relative.empty() ? "" : relative + "/";
            raise(std::runtime_error("Name clash: " + folder + at->second + " and " + folder + name +
                                     " would both be written as " + folder + output));
        }
    };
    Directory directory(source);
    Directory::kind_t listed;
    for (std::string name; directory.next(name, listed);) {
        if (filter.should_skip(name)) continue;
        const std::string path = source + "/" + name;
        const std::string child = relative.empty() ? name : relative + "/" + name;
        // Files the listing names as such need no look of their own.
        std::optional<file_status_t> status;
        if (listed != Directory::kind_t::regular && !(status = try_stat_path(path))) continue;
        const bool regular = listed == Directory::kind_t::regular || status->kind == file_kind_t::regular;
        if (regular && filter.should_convert(name)) {
            const std::string output = renamed_name(name, preferences.rename_pages);
            claim(output, name);
            if (preferences.redirects && output != name) claim(name, name);
            if (output != name) renamed.emplace(child, output);
        } else {
            claim(name, name);
            if (status && status->kind == file_kind_t::directory && status->identity != destination &&
                std::find(open.begin(), open.end(), status->identity) == open.end()) {
                open.push_back(status->identity);
                plan_renames(filter, preferences, destination, open, path, child, renamed);
                open.pop_back();
            }
        }
    }
}

// After the run: every local link of the HTML and CSS written that leads to nothing in the
// output is reported where it stands, and counted.
void check_links(walk_t& walk, const std::string& destination) {
    for (const std::string& page : walk.written_pages) {
        const std::string path = destination + "/" + page;
        std::string text;
        try {
            File file(path, File::access_t::read);
            text = read_bytes(file, stat_file(file).size);
        } catch (const std::runtime_error&) {
            continue;  // a page that failed has no output to check
        }
        const text_kind_t kind = web_text_kind(page).value_or(text_kind_t::html);
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
            const auto [line, column] = line_and_column(text, link.begin);
            walk.log.diagnostic(severity_t::warning, "broken link '" + url + "'", {{page, line, column, path}, {}});
            ++walk.summary.broken_links;
        });
    }
}

// Everything besides the files that shapes the outputs: a run with other options does every
// file again. The local time zone counts (LAST_MODIFIED and flastmod show local times), and so
// does the set of renamed pages (links to them are rewritten).
std::string options_text(const SSIDirectoryPreferences& preferences, const LinkRewriter* rewriter) {
    std::string text = std::string(orrinfold::version) + "|" +
                       (preferences.dialect == dialect_t::apache ? "apache" : "orrinfold") +
                       (preferences.ap_expressions ? "+ap" : "") + "|" + preferences.convert_filter + "|" +
                       preferences.skip_filter + "|" + preferences.virtual_root + "|" + preferences.rename_pages +
                       (preferences.redirects ? "+redirects" : "");
    for (const std::string& folder : preferences.readable_folders) text += "|" + folder;
    const std::int64_t now = current_time();
    for (const std::int64_t at : {now, now - 183 * 86400}) {
        if (const std::optional<std::tm> local = local_time(at); local && at >= 0) {
            const std::optional<std::tm> universal = universal_time(at);
            text += "|" + std::to_string((local->tm_yday - universal->tm_yday) * 1440 +
                                         (local->tm_hour - universal->tm_hour) * 60 + local->tm_min - universal->tm_min);
        }
    }
    if (rewriter != nullptr) {
        std::uint64_t hash = 0;  // a sum of each renamed page's FNV-1a, whatever the order
        for (const auto& [page, output] : rewriter->renamed()) {
            std::uint64_t one = 14695981039346656037u;
            for (const char c : page + '\0' + output) one = (one ^ static_cast<unsigned char>(c)) * 1099511628211u;
            hash += one;
        }
        char hex[32];
        std::snprintf(hex, sizeof hex, "|%016" PRIx64, hash);
        text += hex;
    }
    return text;
}

// Converts or copies one file. With keep_going a failure is logged with its location (the
// directive that met it, or the file itself) and the caller goes on; the previous output, if
// any, stays as it was. Returns whether the file was done.
template <class Work>
bool attempt(bool keep_going, CompileLogBase& log, const std::string& relative_path, const std::string& source_path,
             Work work) {
    if (!keep_going) {
        work();
        return true;
    }
    try {
        work();
        return true;
    } catch (const located_error& e) {
        log.diagnostic(severity_t::error, e.what(), e.where());
    } catch (const std::runtime_error& e) {
        log.diagnostic(severity_t::error, e.what(), {{relative_path, 0, 0, source_path}, {}});
    }
    return false;
}

// Thrown through the walk once a failure in an earlier file has ended the run.
struct walk_stopped {};

// The walk's own lines, and what it adds to the totals, go into a step of their own, kept
// open until the next file's step.
OrderedLog::Step& walk_log(walk_t& walk) {
    if (!walk.walk_step) walk.walk_step.emplace(walk.ordered.open());
    return *walk.walk_step;
}

void close_walk_step(walk_t& walk) {
    if (!walk.walk_step) return;
    walk.ordered.close(*walk.walk_step, [&walk, counts = std::exchange(walk.walk_counts, {}),
                                         records = std::exchange(walk.walk_records, {}),
                                         pages = std::exchange(walk.walk_pages, {})]() mutable {
        walk.summary.skipped += counts.skipped;
        walk.summary.up_to_date += counts.up_to_date;
        for (std::string& page : pages) walk.written_pages.push_back(std::move(page));
        if (walk.incremental == nullptr) return;
        for (auto& [relative, entry] : records) walk.incremental->record(relative, std::move(entry));
        walk.incremental->save_if_due();
    });
    walk.walk_step.reset();
}

void skip_entry(walk_t& walk, const std::string& relative_path, const std::string& why) {
    walk_log(walk).warning("Skipping " + relative_path + " (" + why + ")");
    ++walk.walk_counts.skipped;
}

// A folder already in the destination may be a link; writing through one that leads out of
// the destination would change files elsewhere.
void refuse_link_out(const walk_t& walk, const std::string& folder) {
    if (folder == walk.destination_root || lstat_path(folder).kind != file_kind_t::link) return;
    if (!path_within(real_path(folder), walk.resolved_destination_root))
        raise(std::runtime_error(folder + ": is a link out of the destination folder"));
}

// One file to convert or copy, as the walk found it.
struct file_job_t {
    bool convert = false;
    std::string name;
    std::string relative_path;     // for the log
    std::string key;               // from the site's root, for the record
    std::string source_path;
    std::string destination_path;  // under the source's name
    std::string output_name;       // a converted page's name, when pages are renamed
    std::string output_path;       // and its path
    std::string page;              // the output from the site's root, for the link check
    std::vector<std::string> outputs;  // from the destination's root
    std::optional<text_kind_t> kind;   // HTML or CSS, whose links are looked at
    file_status_t status;
    bool fresh = false;  // its folder was made by this run: no earlier output to compare with
};

void convert_job(walk_t& walk, CompileLogBase& log, const file_job_t& job, page_dependencies_t* dependencies) {
    SSIParser::State state;
    state.last_modified = local_time(job.status.modified);
    state.cache = &walk.cache;
    state.site_folder = walk.source;
    state.site_prefix = walk.prefix;
    state.dependencies = dependencies;
    convert_file(job.source_path, job.output_path, walk.preferences, state, log, walk.rewriter ? &*walk.rewriter : nullptr,
                 job.relative_path, job.status.permissions, job.fresh);
    if (walk.preferences.redirects && job.output_name != job.name && !walk.preferences.check)
        write_text_file(job.destination_path, redirect_page(job.output_name), job.status.permissions, job.fresh);
}

void copy_job(walk_t& walk, CompileLogBase& log, const file_job_t& job) {
    if (walk.preferences.check) return;
    // Pages and style sheets that link to renamed pages are copied with the links changed.
    if (walk.rewriter && job.kind) {
        File file(job.source_path, File::access_t::read);
        const file_status_t read_status = stat_file(file);
        const std::string text = read_bytes(file, read_status.size);
        const std::optional<std::string> changed = rewritten(*walk.rewriter, text, *job.kind, job.relative_path, log);
        if (changed)
            write_text_file(job.destination_path, *changed, read_status.permissions, job.fresh);
        else
            write_copy(job.destination_path, text, read_status);
        return;
    }
    copy_file(job.source_path, job.destination_path);
}

// What the record keeps of a file just done. Its source's status is the one the walk read
// before the work: a source changed while it was read no longer matches it next time.
manifest_entry_t record_of(const walk_t& walk, const file_job_t& job, const page_dependencies_t& dependencies,
                           bool reported) {
    manifest_entry_t entry;
    entry.kind = job.convert ? manifest_entry_t::kind_t::converted : manifest_entry_t::kind_t::copied;
    entry.source = stamp_of(job.status);
    entry.rebuild = dependencies.uses_time || reported;
    for (const std::string& output : job.outputs) {
        const std::optional<file_stamp_t> stamp = walk.incremental->output_stamp(output);
        entry.rebuild = entry.rebuild || !stamp;
        entry.outputs.push_back({output, stamp.value_or(file_stamp_t{})});
    }
    return entry;
}

// Does one file, on a worker or on the walk's thread, and hands what it did to the run in
// walk order.
void do_file(walk_t& walk, OrderedLog::Step& step, const file_job_t& job) {
    // Work starts in walk order: one waiting when a failure has come comes after it.
    if (walk.ordered.failing()) {
        walk.ordered.close(step);
        return;
    }
    std::exception_ptr failure;
    bool done = false;
    page_dependencies_t dependencies;
    page_dependencies_t* recorded = walk.incremental != nullptr ? &dependencies : nullptr;
    try {
        done = attempt(walk.preferences.keep_going, step, job.relative_path, job.source_path, [&] {
            if (job.convert)
                convert_job(walk, step, job, recorded);
            else
                copy_job(walk, step, job);
        });
    } catch (...) {
        failure = std::current_exception();
    }
    std::optional<manifest_entry_t> entry;
    std::vector<manifest_entry_t::file_t> read;
    if (done && walk.incremental != nullptr) {
        entry = record_of(walk, job, dependencies, step.diagnostics() > 0);
        for (const auto& [path, status] : dependencies.files) read.push_back({path, stamp_of(status)});
    }
    const bool written = done && !walk.preferences.check && walk.preferences.check_links && job.kind;
    walk.ordered.close(
        step,
        [&walk, convert = job.convert, done, stopping = failure != nullptr, key = job.key,
         page = written ? job.page : std::string(), entry = std::move(entry), read = std::move(read)]() mutable {
            if (stopping) return;  // the run ends here, as if the file had never been started
            if (convert)
                ++(done ? walk.summary.documents : walk.summary.failed_documents);
            else
                ++(done ? walk.summary.copies : walk.summary.failed_copies);
            if (!page.empty()) walk.written_pages.push_back(std::move(page));
            if (walk.incremental == nullptr) return;
            if (entry)
                walk.incremental->record(key, std::move(*entry), read);
            else
                walk.incremental->record_failure(key);
            walk.incremental->save_if_due();
        },
        failure);
    if (!failure && walk.control != nullptr) ++walk.control->files_done;
}

std::string from_root(const std::string& path, const std::string& root) { return path.substr(root.size() + 1); }

void walk_directory(walk_t& walk, const std::string& relative, const std::string& source,
                    const std::string& destination) {
    const bool fresh = !walk.preferences.check && make_directory(destination);
    if (!walk.preferences.check && !fresh) refuse_link_out(walk, destination);
    Directory directory(source);
    for (std::string name; directory.next(name);) {
        // A failure in an earlier file ends the run: nothing more is started.
        if (walk.ordered.failing()) throw walk_stopped{};
        if (walk.filter.should_skip(name)) {
            walk_log(walk);
            ++walk.walk_counts.skipped;
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
                walk_log(walk).diagnostic(severity_t::warning,
                                          "Version-control folder " + name + " is published with the site; add " +
                                              name + " to the Skip masks to leave it out",
                                          {{relative_path, 0, 0, source_path}, {}});
            if (walk.incremental != nullptr) {
                const std::string key = from_root(source_path, walk.source);
                walk.incremental->make_room(key, true);
                if (!walk.incremental->keep_folder(key)) {
                    manifest_entry_t folder;
                    folder.kind = manifest_entry_t::kind_t::folder;
                    folder.outputs.push_back({from_root(destination_path, walk.destination_root), {}});
                    walk_log(walk);
                    walk.walk_records.emplace_back(key, std::move(folder));
                }
            }
            open.push_back(status.identity);
            walk_directory(walk, relative_path, source_path, destination_path);
            open.pop_back();
            continue;
        }
        if (status.kind == file_kind_t::other) {
            // FIFOs, sockets and devices are never opened: reading one could hang the run.
            skip_entry(walk, relative_path, "not a regular file");
            continue;
        }
        if (walk.control != nullptr && walk.control->cancel.load()) raise(conversion_cancelled());

        file_job_t job;
        job.convert = walk.filter.should_convert(name);
        job.name = name;
        job.relative_path = relative_path;
        job.source_path = source_path;
        job.destination_path = destination_path;
        job.status = status;
        job.fresh = fresh;
        const std::string& extension = walk.preferences.rename_pages;
        job.output_name = job.convert && !extension.empty() ? renamed_name(name, extension) : name;
        job.output_path = destination + "/" + job.output_name;
        job.page = relative.empty() ? job.output_name : relative + "/" + job.output_name;
        job.kind = job.convert ? std::optional(text_kind_t::html) : web_text_kind(name);
        if (walk.incremental != nullptr) {
            job.key = from_root(source_path, walk.source);
            job.outputs.push_back(from_root(job.output_path, walk.destination_root));
            if (job.convert && walk.preferences.redirects && job.output_name != name)
                job.outputs.push_back(from_root(destination_path, walk.destination_root));
            const auto kind = job.convert ? manifest_entry_t::kind_t::converted : manifest_entry_t::kind_t::copied;
            if (walk.incremental->up_to_date(job.key, kind, status, job.outputs)) {
                OrderedLog::Step& step = walk_log(walk);
                if (walk.preferences.verbose) step.message("Up to date: " + relative_path);
                ++walk.walk_counts.up_to_date;
                if (job.kind && walk.preferences.check_links) walk.walk_pages.push_back(job.page);
                if (walk.control != nullptr) ++walk.control->files_done;
                continue;
            }
            walk.incremental->make_room(job.key, false);
        }
        close_walk_step(walk);
        OrderedLog::Step step = walk.ordered.open();
        step.message((job.convert ? "Converting " : "Copying ") + relative_path + "...");
        walk.pool->submit([&walk, step, job = std::move(job)]() mutable { do_file(walk, step, job); });
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
    // Name clashes are found before anything is written.
    std::optional<LinkRewriter> rewriter;
    if (preferences.rename_pages.find_first_of("/.") != std::string::npos)
        raise(std::runtime_error("Not a file name extension: '" + preferences.rename_pages + "'"));
    if (!preferences.rename_pages.empty()) {
        std::map<std::string, std::string> renamed;
        std::vector<file_identity_t> open{source_status.identity};
        std::optional<file_identity_t> existing;
        if (const auto status = destination.empty() ? std::nullopt : try_stat_path(destination)) existing = status->identity;
        plan_renames(MyFileFilter(preferences), preferences, existing, open, source, "", renamed);
        rewriter.emplace(std::move(renamed));
    }
    std::optional<file_identity_t> destination_identity;
    if (preferences.check) {
        if (!destination.empty())
            if (const auto status = try_stat_path(destination)) destination_identity = status->identity;
    } else {
        if (try_stat_path(destination) && path_within(real_path(source), real_path(destination)))
            raise(std::runtime_error("Destination directory must not contain the source directory"));
        // Missing parents too: a missing destination cannot hold the source.
        make_directories(destination);
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
    walk_t walk(effective, log, control);
    walk.destination = destination_identity;
    walk.open_directories = {source_status.identity};
    walk.source = source;
    walk.prefix = relative;
    walk.destination_root = destination;
    walk.resolved_destination_root = preferences.check ? std::string() : real_path(destination);
    walk.site_folders = std::move(site_folders);
    walk.rewriter = std::move(rewriter);
    // The summary reaches the caller also when the run stops.
    struct publish_t {
        walk_t& walk;
        ~publish_t() {
            walk.summary.errors = walk.log.errors;
            walk.summary.warnings = walk.log.warnings;
            if (walk.control != nullptr) walk.control->summary = walk.summary;
        }
    } publish{walk};

    std::optional<Incremental> incremental;
    if (preferences.rebuild != SSIDirectoryPreferences::rebuild_t::off && !preferences.check) {
        try {
            const std::string folder =
                preferences.state_folder.empty() ? user_cache_folder() : preferences.state_folder;
            incremental.emplace(folder, destination, walk.resolved_destination_root, *destination_identity,
                                options_text(effective, walk.rewriter ? &*walk.rewriter : nullptr),
                                preferences.rebuild == SSIDirectoryPreferences::rebuild_t::changed, walk.log);
            walk.incremental = &*incremental;
        } catch (const destination_busy&) {
            throw;
        } catch (const std::runtime_error& e) {
            // Not a problem of the site: the run does what a run without records does, and says so.
            walk.log.message(std::string("Note: no record of this run can be kept (") + e.what() +
                             "), so every file is done");
        }
    }

    std::exception_ptr failure;
    {
        const unsigned jobs = preferences.jobs == 0 ? hardware_threads() : preferences.jobs;
        WorkerPool pool(jobs, conversion_stack_bytes);
        walk.pool = &pool;
        try {
            walk_directory(walk, relative, source, destination);
        } catch (const walk_stopped&) {
        } catch (...) {
            failure = std::current_exception();
        }
        pool.wait();
    }
    close_walk_step(walk);
    // The first failure in walk order is the one a run doing one file after the other meets.
    if (const std::exception_ptr first = walk.ordered.failure()) failure = first;
    if (incremental) {
        try {
            incremental->finish(!failure, walk.log, walk.summary.removed);
        } catch (const std::runtime_error& e) {
            walk.log.message(std::string("Note: the record of this run could not be saved (") + e.what() +
                             "); the next run does again what it cannot tell is up to date");
        }
    }
    if (failure) std::rethrow_exception(failure);
    if (preferences.check_links && !preferences.check) check_links(walk, destination);
}

std::string summary_text(const run_summary_t& summary, bool keep_going, bool check, bool links) {
    const auto count = [](std::uint64_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    std::string text = count(summary.documents, "document", "documents") + (check ? " checked, " : " converted, ") +
                       count(summary.copies, "file", "files") + (check ? " to copy, " : " copied, ") +
                       std::to_string(summary.skipped) + " skipped";
    if (summary.up_to_date > 0) text += ", " + std::to_string(summary.up_to_date) + " up to date";
    if (summary.removed > 0) text += ", " + std::to_string(summary.removed) + " removed";
    text += "; " + count(summary.errors, "error", "errors") + ", " + count(summary.warnings, "warning", "warnings");
    if (keep_going) text += ", " + count(summary.failed_documents, "document", "documents") + " failed";
    if (summary.failed_copies > 0) text += ", " + count(summary.failed_copies, "copy", "copies") + " failed";
    if (links) text += "; " + count(summary.broken_links, "broken link", "broken links");
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
                  SSIParser::State& state, CompileLogBase& log, const LinkRewriter* rewriter, const std::string& page,
                  std::optional<unsigned> permissions, bool fresh) {
    if (preferences.check) {
        DocumentOutput nothing(nullptr, true);
        SSIParser(source, nothing, preferences, state, log).process();
        return;
    }
    // A page gets its source's permission bits, as a copy does: a private page stays private.
    if (!permissions) permissions = stat_path(source).permissions;
    if (rewriter != nullptr) {
        // The page is rewritten whole, so it is converted into memory first.
        DocumentOutput in_memory;
        SSIParser(source, in_memory, preferences, state, log).process();
        const std::optional<std::string> changed = rewritten(*rewriter, in_memory.text(), text_kind_t::html, page, log);
        write_text_file(destination, changed ? *changed : in_memory.text(), permissions, fresh);
        return;
    }
    OutputFile output(destination);
    {
        DocumentOutput buffered(&output.file());
        SSIParser parser(source, buffered, preferences, state, log);
        parser.process();
        buffered.flush();
    }
    output.set_permissions(*permissions);
    commit_output(output, fresh);
}
