#include "build/convert_walk.h"

#include "base/exceptions.h"
#include "build/incremental.h"
#include "build/jobs.h"
#include "build/run.h"
#include "build/worker_pool.h"
#include "html/web_text.h"
#include "site/file_filter.h"
#include "site/walk.h"

#include <stdexcept>
#include <utility>
#include <vector>

namespace {
// The walk's own lines, and what it adds to the totals, go into a step of their own, kept
// open until the next file's step.
OrderedLog::Step& walk_log(run_state_t& state) {
    if (!state.walk.step) state.walk.step.emplace(state.ordered.open());
    return *state.walk.step;
}

void skip_entry(run_state_t& state, const std::string& relative_path, const std::string& why) {
    walk_log(state).warning("Skipping " + relative_path + " (" + why + ")");
    ++state.walk.counts.skipped;
}

// A folder already in the destination may be a link; writing through one that leads out of
// the destination would change files elsewhere.
void refuse_link_out(const run_settings_t& settings, const std::string& folder) {
    if (folder == settings.destination_root || lstat_path(folder).kind != file_kind_t::link) return;
    if (!path_within(real_path(folder), settings.resolved_destination_root))
        raise(std::runtime_error(folder + ": is a link out of the destination folder"));
}

std::string from_root(const std::string& path, const std::string& root) { return path.substr(root.size() + 1); }

class ConvertWalk : public SiteWalk::Visitor {
public:
    // trust_status: whether a file's recorded status may stand for it when the record is
    // trusted (not when its permissions may decide whether it is converted).
    ConvertWalk(const run_settings_t& settings, run_state_t& state, bool trust_status)
        : settings_(settings), state_(state),
          trust_status_(trust_status && state.incremental != nullptr && state.incremental->trusting()) {}

    void start() { open_folder(settings_.prefix, settings_.destination_root, false); }

    void next() override {
        // A failure in an earlier file ends the run: nothing more is started.
        if (state_.ordered.failing()) throw walk_stopped{};
    }
    bool enter(const walk_entry_t& folder) override;
    void leave(const walk_entry_t&) override { folders_.pop_back(); }
    void visit(const walk_entry_t& entry) override;
    std::optional<file_status_t> status_seen(const std::string& path) override {
        if (trust_status_ && !folders_.back().linked) {
            std::optional<file_status_t> recorded = state_.incremental->status_recorded(from_root(path, settings_.source));
            if (recorded) recorded_path_ = path;
            return recorded;
        }
        // Without a thread ahead, not even the record's key is worth making.
        if (state_.incremental == nullptr || !state_.incremental->looking_ahead()) return std::nullopt;
        return state_.incremental->status_ahead(from_root(path, settings_.source));
    }

private:
    struct folder_t {
        std::string relative;     // for the log
        std::string destination;  // where its entries are written
        bool fresh = false;       // made by this run
        // Reached through a link: a change in it is reported under another path, so what
        // the record says of its files is not trusted.
        bool linked = false;
        // Made (or found) and checked in the destination; a folder the record is trusted for
        // is only once a file in it is done.
        bool prepared = false;
    };

    void open_folder(const std::string& relative, const std::string& destination, bool linked, bool later = false);
    // Makes or checks the destination folders of the open folders not prepared yet.
    void prepare_folders();
    void file(const walk_entry_t& entry);
    bool up_to_date(file_job_t& job);

    const run_settings_t& settings_;
    run_state_t& state_;
    std::vector<folder_t> folders_;  // the walk's open folders
    std::uint32_t reached_ = 0;      // files and folders the record was asked about, in walk order
    const bool trust_status_;
    std::string recorded_path_;  // the last file whose status the record gave
};

void ConvertWalk::open_folder(const std::string& relative, const std::string& destination, bool linked, bool later) {
    folders_.push_back({relative, destination, false, linked});
    if (!later) prepare_folders();
}

void ConvertWalk::prepare_folders() {
    for (folder_t& folder : folders_) {
        if (folder.prepared) continue;
        folder.prepared = true;
        folder.fresh = !settings_.preferences.check && make_directory(folder.destination);
        if (!settings_.preferences.check && !folder.fresh) {
            refuse_link_out(settings_, folder.destination);
            // A run told what changed follows one that ended well: it left no temporary files.
            if (state_.incremental == nullptr || !state_.incremental->trusting())
                remove_stale_temporaries(folder.destination);
        }
        if (folder.fresh) {
            walk_log(state_);  // the folder belongs to the walk's step, before any file in it
            state_.made_folders.push_back(folder.destination);
        }
    }
}

bool ConvertWalk::enter(const walk_entry_t& folder) {
    const std::string destination_path = folders_.back().destination + "/" + folder.name;
    // The default masks publish a repository's history with the site; say so once per folder.
    if (folder.name == ".git" || folder.name == ".svn" || folder.name == ".hg")
        walk_log(state_).diagnostic(severity_t::warning,
                                    "Version-control folder " + folder.name + " is published with the site; add " +
                                        folder.name + " to the Skip masks to leave it out",
                                    {{folder.relative, 0, 0, folder.path}, {}});
    const bool linked = folders_.back().linked || folder.link;
    bool trusted = false;  // made by an earlier run, and trusted to be there still
    if (state_.incremental != nullptr) {
        const std::string key = from_root(folder.path, settings_.source);
        state_.incremental->make_room(key, true);
        const std::uint32_t walked = reached_++;
        if (state_.incremental->keep_folder(key, walked)) {
            trusted = !linked && state_.incremental->trusted(key);
        } else {
            manifest_entry_t record;
            record.kind = manifest_entry_t::kind_t::folder;
            record.walked = walked;
            record.outputs.push_back({from_root(destination_path, settings_.destination_root), {}});
            walk_log(state_);
            state_.walk.records.emplace_back(key, std::move(record));
        }
    }
    open_folder(folder.relative, destination_path, linked, trusted);
    return true;
}

void ConvertWalk::visit(const walk_entry_t& entry) {
    for (const std::string& note : entry.notes) walk_log(state_).message(note);
    switch (entry.kind) {
    case entry_kind_t::skipped:
        walk_log(state_);
        ++state_.walk.counts.skipped;
        return;
    case entry_kind_t::broken_link:
        skip_entry(state_, entry.relative, "broken link");
        return;
    case entry_kind_t::link_out:
        skip_entry(state_, entry.relative, "link to outside the site: " + entry.resolved);
        return;
    case entry_kind_t::destination:
    case entry_kind_t::folder:
        return;
    case entry_kind_t::loop:
        raise(std::runtime_error("Directory loop: " + entry.path));
    case entry_kind_t::not_regular:
        skip_entry(state_, entry.relative, "not a regular file");
        return;
    case entry_kind_t::convert:
    case entry_kind_t::copy:
        file(entry);
        return;
    }
}

// With a record of earlier runs: whether the file's outputs still hold, which the walk then
// notes in its own step; else room is made for the new ones.
bool ConvertWalk::up_to_date(file_job_t& job) {
    job.key = from_root(job.source_path, settings_.source);
    job.outputs.push_back(from_root(job.output_path, settings_.destination_root));
    if (job.convert && settings_.preferences.redirects && job.output_name != job.name)
        job.outputs.push_back(from_root(job.destination_path, settings_.destination_root));
    const auto kind = job.convert ? manifest_entry_t::kind_t::converted : manifest_entry_t::kind_t::copied;
    job.walked = reached_++;
    if (state_.incremental->up_to_date(job.key, job.walked, kind, job.status, job.outputs)) {
        OrderedLog::Step& step = walk_log(state_);
        if (settings_.preferences.verbose) step.message("Up to date: " + job.relative_path);
        ++state_.walk.counts.up_to_date;
        if (job.kind && settings_.preferences.check_links) state_.walk.pages.push_back(job.page);
        if (state_.control != nullptr) ++state_.control->files_done;
        return true;
    }
    state_.incremental->make_room(job.key, false);
    // The record's status lacks the permissions the output gets.
    if (job.source_path == recorded_path_) job.status = stat_path(job.source_path);
    return false;
}

void ConvertWalk::file(const walk_entry_t& entry) {
    if (state_.control != nullptr && state_.control->cancel.load()) raise(conversion_cancelled());
    const folder_t& folder = folders_.back();
    file_job_t job;
    job.convert = entry.kind == entry_kind_t::convert;
    job.name = entry.name;
    job.relative_path = entry.relative;
    job.source_path = entry.path;
    job.destination_path = folder.destination + "/" + entry.name;
    job.status = entry.status;
    job.preferences = entry.preferences;
    const std::string& extension = settings_.preferences.rename_pages;
    job.output_name = job.convert && !extension.empty() ? renamed_name(entry.name, extension) : entry.name;
    job.output_path = folder.destination + "/" + job.output_name;
    job.page = folder.relative.empty() ? job.output_name : folder.relative + "/" + job.output_name;
    job.kind = job.convert ? std::optional(text_kind_t::html) : web_text_kind(entry.name);
    if (state_.incremental != nullptr && up_to_date(job)) return;
    prepare_folders();
    job.fresh = folders_.back().fresh;
    close_walk_step(state_);
    // With the window full, the walk does the oldest work waiting, which is what holds it up,
    // and sleeps only when there is none.
    if (state_.window > 0)
        while (!state_.ordered.has_room(state_.window))
            if (!state_.pool->run_queued()) {
                state_.ordered.wait_for_room(state_.window);
                break;
            }
    OrderedLog::Step step = state_.ordered.open();
    state_.pool->submit([&settings = settings_, &state = state_, step, job = std::move(job)]() mutable {
        do_file(settings, state, step, std::move(job));
    });
}
}  // namespace

void walk_site(const run_settings_t& settings, run_state_t& state, const MyFileFilter& filter,
               const std::optional<file_identity_t>& destination, const file_identity_t& root) {
    ConvertWalk visitor(settings, state, !filter.folders);
    visitor.start();
    SiteWalk(filter, destination, settings.site_folders).walk(settings.source, root, settings.prefix, visitor);
}

void close_walk_step(run_state_t& state) {
    walk_step_t& walk = state.walk;
    if (!walk.step) return;
    state.ordered.close(*walk.step, [&state, made = state.made_folders.size(), counts = std::exchange(walk.counts, {}),
                                     records = std::exchange(walk.records, {}),
                                     pages = std::exchange(walk.pages, {})]() mutable {
        state.kept_folders = made;
        state.summary.skipped += counts.skipped;
        state.summary.up_to_date += counts.up_to_date;
        for (std::string& page : pages) state.written_pages.push_back(std::move(page));
        if (state.incremental == nullptr) return;
        for (auto& [relative, entry] : records) state.incremental->record(relative, std::move(entry));
        state.incremental->save_if_due();
    });
    walk.step.reset();
}
