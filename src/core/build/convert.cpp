#include "build/convert.h"

#include "base/exceptions.h"
#include "build/convert_walk.h"
#include "build/incremental.h"
#include "build/link_check.h"
#include "build/options.h"
#include "build/redirect_pages.h"
#include "build/rename_plan.h"
#include "build/run.h"
#include "build/worker_pool.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "site/file_filter.h"
#include "site/folder_settings.h"
#include "site/walk.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <memory>
#include <stdexcept>
#include <utility>

namespace {
// Name clashes are found before anything is written.
std::optional<LinkRewriter> plan_rewriter(const std::string& source, const file_identity_t& identity,
                                          const std::string& destination, const SSIDirectoryPreferences& preferences,
                                          const MyFileFilter& filter, const std::vector<std::string>& site_folders) {
    if (preferences.rename_pages.find_first_of("/.") != std::string::npos)
        raise(std::runtime_error("Not a file name extension: '" + preferences.rename_pages + "'"));
    if (preferences.rename_pages.empty()) return std::nullopt;
    std::optional<file_identity_t> existing;
    if (const auto status = destination.empty() ? std::nullopt : try_stat_path(destination)) existing = status->identity;
    return LinkRewriter(plan_renames(source, identity, preferences, filter, existing, site_folders));
}

// The destination's identity, which the walk leaves out; made (with missing parents) unless
// the run only checks.
std::optional<file_identity_t> prepare_destination(const std::string& source, const std::string& destination,
                                                   const SSIDirectoryPreferences& preferences) {
    if (preferences.check) {
        if (!destination.empty())
            if (const auto status = try_stat_path(destination)) return status->identity;
        return std::nullopt;
    }
    if (try_stat_path(destination) && path_within(real_path(source), real_path(destination)))
        raise(std::runtime_error("Destination directory must not contain the source directory"));
    // Missing parents too: a missing destination cannot hold the source.
    make_directories(destination);
    const file_status_t destination_status = stat_path(destination);
    if (destination_status.kind != file_kind_t::directory) throw_os_error(ENOTDIR, destination);
    return destination_status.identity;
}

// The preferences as the run uses them: the virtual root taken from the source when asked,
// and what the site may read (its own folders, and also the virtual root for documents).
SSIDirectoryPreferences effective_preferences(const SSIDirectoryPreferences& preferences, const std::string& source,
                                              const std::vector<std::string>& site_folders) {
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
    // Places that do not exist hold nothing to read.
    effective.readable_folders = site_folders;
    if (!effective.virtual_root.empty() && try_stat_path(effective.virtual_root))
        effective.readable_folders.push_back(real_path(effective.virtual_root));
    return effective;
}

// Opens the destination's record, when runs are recorded; a record that cannot be kept is
// not a problem of the site: the run does what a run without records does, and says so.
void open_record(std::unique_ptr<Incremental>& incremental, const run_settings_t& settings, run_state_t& state,
                 const file_identity_t& destination, std::shared_ptr<kept_record_t>* kept) {
    const SSIDirectoryPreferences& preferences = settings.preferences;
    if (preferences.rebuild == SSIDirectoryPreferences::rebuild_t::off || (preferences.check && !preferences.dry_run))
        return;
    try {
        const std::string folder = preferences.state_folder.empty() ? user_cache_folder() : preferences.state_folder;
        const auto site_files = [&settings] {
            return count_files(settings.source, settings.destination_root, settings.preferences);
        };
        incremental = std::make_unique<Incremental>(
            folder, settings.destination_root, settings.resolved_destination_root, destination,
            options_text(preferences, settings.link_rewriter()) + settings_digest(settings.source, preferences),
            preferences.rebuild == SSIDirectoryPreferences::rebuild_t::changed, state.log, site_files,
            preferences.dry_run, kept);
        state.incremental = incremental.get();
    } catch (const destination_busy&) {
        throw;
    } catch (const std::runtime_error& e) {
        state.log.message(std::string("Note: no record of this run can be kept (") + e.what() +
                          "), so every file is done");
    }
}

// Waits for the record of the caller's last run to be saved; a failure is a note of this run.
void wait_for_saving(run_memory_t& memory, CompileLogBase& log) {
    if (!memory.saving.joinable()) return;
    memory.saving.join();
    if (!memory.saving_failure.empty())
        log.message("Note: the record of the last run could not be saved (" + std::exchange(memory.saving_failure, {}) +
                    "); this run does again what it cannot tell is up to date");
}

// Saves the record while the caller goes on: a watch shows the run's end at once.
void save_later(run_memory_t& memory, std::unique_ptr<Incremental> incremental) {
    memory.saving = std::thread([&memory, incremental = std::move(incremental)]() mutable {
        try {
            incremental->save_record();
        } catch (const std::exception& e) {
            memory.saving_failure = e.what();
        }
        incremental.reset();  // and its locks are let go
    });
}

// Tells the record what a watching caller saw change (real paths) as its own keys, paths below
// the site's folder; a change outside it is only of files pages read, which are looked at anyway.
void trust_unchanged(Incremental& incremental, const std::string& source, const std::vector<std::string>& changed) {
    const std::string root = real_path(source);
    std::vector<std::string> keys;
    for (const std::string& path : changed) {
        if (path == root) return;  // the site's folder itself: everything is looked at
        if (path_within(path, root)) keys.push_back(path.substr(root.ends_with('/') ? root.size() : root.size() + 1));
    }
    incremental.trust_unchanged(std::move(keys));
}

bool stopped(const conversion_control_t* control) { return control != nullptr && control->cancel.load(); }

// After a failure: the folders made after the last step handed on go again (when empty, as
// the outputs dropped with their files leave them), deepest first.
void take_back_folders(run_state_t& state) {
    for (std::size_t i = state.made_folders.size(); i > state.kept_folders; --i)
        remove_directory(state.made_folders[i - 1]);
}

// Walks the site with a pool of workers; returns the failure that ends the run, if any: the
// first in walk order, which a run doing one file after the other meets. A stop asked for
// while the pool drains ends the run too.
std::exception_ptr run_walk(const run_settings_t& settings, run_state_t& state, const MyFileFilter& filter,
                            const std::optional<file_identity_t>& destination, const file_identity_t& root) {
    std::exception_ptr failure;
    std::exception_ptr lost;  // work that could not even hand on its file
    {
        const unsigned jobs = settings.preferences.jobs == 0 ? hardware_threads() : settings.preferences.jobs;
        WorkerPool pool(jobs, conversion_stack_bytes);
        state.pool = &pool;
        // Files done but waiting for an earlier one may hold an open descriptor each (an
        // output not linked yet), and so may those being done: a quarter of what the process
        // may open goes to them, however many jobs were asked for.
        state.window = std::min(std::size_t{64} * jobs, std::max<std::size_t>(4, open_files_limit() / 4));
        // With a processor to spare, a thread looks at the record's files ahead of the walk.
        if (jobs > 1 && state.incremental != nullptr) state.incremental->look_ahead(settings.source);
        try {
            walk_site(settings, state, filter, destination, root);
        } catch (const walk_stopped&) {
        } catch (...) {
            failure = std::current_exception();
        }
        pool.wait();
        lost = pool.failure();
    }
    state.pool = nullptr;
    close_walk_step(state);
    if (const std::exception_ptr first = state.ordered.failure())
        failure = first;
    else if (lost)
        failure = lost;
    if (!failure && stopped(state.control)) failure = std::make_exception_ptr(conversion_cancelled());
    if (failure) take_back_folders(state);
    return failure;
}

// Hands the summary to the caller also when the run stops.
struct publish_t {
    run_state_t& state;
    ~publish_t() {
        state.summary.errors = state.log.errors;
        state.summary.warnings = state.log.warnings;
        state.summary.request_dependent = state.log.request_dependent;
        if (state.control != nullptr) state.control->summary = state.summary;
    }
};

class FileCounter : public SiteWalk::Visitor {
public:
    explicit FileCounter(const std::atomic<bool>* stop) : stop_(stop) {}
    void next() override {
        if (stop_ != nullptr && stop_->load()) throw walk_stopped{};
    }
    bool enter(const walk_entry_t&) override { return true; }
    void visit(const walk_entry_t& entry) override {
        if (entry.kind == entry_kind_t::convert || entry.kind == entry_kind_t::copy) ++count;
    }
    std::uint64_t count = 0;

private:
    const std::atomic<bool>* stop_;
};
}  // namespace

void convert_directory(const std::string& relative, const std::string& source, const std::string& destination,
                       const SSIDirectoryPreferences& preferences, CompileLogBase& log, conversion_control_t* control,
                       run_memory_t* memory) {
    if (memory != nullptr) wait_for_saving(*memory, log);
    const file_status_t source_status = stat_path(source);
    if (source_status.kind != file_kind_t::directory) throw_os_error(ENOTDIR, source);
    if (!preferences.check && !preferences.state_folder.empty())
        refuse_state_folder_inside(preferences.state_folder, source, destination);
    std::vector<std::string> folders = site_folders(source, preferences);
    run_settings_t settings;
    settings.preferences = effective_preferences(preferences, source, folders);
    const MyFileFilter filter = site_filter(source, settings.preferences);
    std::optional<LinkRewriter> rewriter =
        plan_rewriter(source, source_status.identity, destination, preferences, filter, folders);
    const std::optional<file_identity_t> destination_identity = prepare_destination(source, destination, preferences);

    settings.source = source;
    settings.prefix = relative;
    settings.destination_root = destination;
    settings.resolved_destination_root =
        preferences.check && !(preferences.dry_run && destination_identity) ? std::string() : real_path(destination);
    settings.site_folders = std::move(folders);
    settings.rewriter = std::move(rewriter);
    run_state_t state(log, control);
    const publish_t publish{state};

    std::unique_ptr<Incremental> incremental;
    if (destination_identity)
        open_record(incremental, settings, state, *destination_identity, memory != nullptr ? &memory->record : nullptr);
    if (incremental && memory != nullptr) {
        incremental->gather_outputs_touched();
        if (memory->changed) trust_unchanged(*incremental, source, *memory->changed);
    }
    std::exception_ptr failure = run_walk(settings, state, filter, destination_identity, source_status.identity);
    bool saved_later = memory != nullptr && !failure && !preferences.dry_run;
    if (incremental) {
        try {
            incremental->finish(!failure, state.log, state.summary.removed, saved_later);
        } catch (const std::runtime_error& e) {
            saved_later = false;
            state.log.message(std::string("Note: the record of this run could not be saved (") + e.what() +
                              "); the next run does again what it cannot tell is up to date");
        }
    }
    if (failure) std::rethrow_exception(failure);
    if (incremental) {
        // Redirect pages are written besides the record.
        if (control != nullptr && memory != nullptr && !preferences.dry_run &&
            !(filter.folders && settings.preferences.redirects))
            control->outputs = incremental->take_outputs_touched();
        if (saved_later) save_later(*memory, std::move(incremental));
    }
    if (filter.folders && settings.preferences.redirects)
        write_redirect_pages(filter.folders->take_redirects(), source, settings.preferences.virtual_root, destination,
                             !preferences.check, state.log);
    if (preferences.check_links && !preferences.check) {
        index_names_t index_names;
        if (filter.folders)
            index_names = [&](const std::string& folder) { return filter.folders->index_names(folder); };
        // Page by page, so that a stop ends the check too.
        for (const std::string& page : state.written_pages) {
            if (stopped(control)) raise(conversion_cancelled());
            const auto origins = state.page_origins.find(page);
            OutputOrigins* from = origins != state.page_origins.end() ? &origins->second : nullptr;
            state.summary.broken_links += check_page_links(page, destination, state.log, from, index_names);
            if (from != nullptr) state.page_origins.erase(origins);
        }
    }
}

std::uint64_t count_files(const std::string& source, const std::string& destination,
                          const SSIDirectoryPreferences& preferences, const std::atomic<bool>* stop) {
    try {
        const std::optional<file_status_t> target = destination.empty() ? std::nullopt : try_stat_path(destination);
        const std::optional<file_identity_t> excluded = target ? std::optional(target->identity) : std::nullopt;
        const MyFileFilter filter = site_filter(source, preferences);
        FileCounter counter(stop);
        try {
            SiteWalk(filter, excluded, site_folders(source, preferences))
                .walk(source, stat_path(source).identity, "", counter);
        } catch (const walk_stopped&) {
        }
        return counter.count;
    } catch (const std::runtime_error&) {
        return 0;  // the run itself reports what cannot be read
    }
}
