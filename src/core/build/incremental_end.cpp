// What a run did, for the record: the files it recorded, the outputs of earlier runs it
// removed, and the end of the run, which removes what no source stands for any more and saves
// the record.
#include "build/incremental.h"

#include "base/compile_log.h"

#include <algorithm>
#include <functional>
#include <map>
#include <string_view>
#include <unordered_map>
#include <utility>

removal_t Incremental::remove_output(const manifest_entry_t::file_t& output, bool folder) {
    if (moved_) return removal_t::kept;
    if (dry_) return folder || unchanged(output) ? removal_t::removed : removal_t::kept;  // what would go
    const removal_t result = remove_below(destination_, output.path, folder, [&output](const file_status_t& status) {
        return stamp_of(status) == output.stamp;
    });
    if (gather_touched_ && result == removal_t::removed && !folder) touched_.push_back(output.path);
    if (result == removal_t::behind_link)
        warnings_.push_back("Left " + output.path + " as it is: a folder on its way in the destination is now a link");
    return result;
}

void Incremental::make_room(const std::string& relative, bool folder) {
    if (dry_) return;
    const manifest_entry_t* const found = walked(relative);
    if (found == nullptr || (found->kind == manifest_entry_t::kind_t::folder) == folder) return;
    if (folder) {
        // A file of ours stands where the folder goes.
        for (const manifest_entry_t::file_t& output : found->outputs) remove_output(output, false);
        return;
    }
    // A folder of ours stands where the file goes: its files first, then its folders, deepest first.
    const std::string prefix = relative + "/";
    std::vector<const manifest_entry_t::file_t*> folders;
    for (const manifest_entry_t::file_t& output : found->outputs) folders.push_back(&output);
    for (const auto& [source, entry] : earlier_.entries) {
        if (!source.starts_with(prefix)) continue;
        for (const manifest_entry_t::file_t& output : entry.outputs) {
            if (entry.kind == manifest_entry_t::kind_t::folder)
                folders.push_back(&output);
            else
                remove_output(output, false);
        }
    }
    std::sort(folders.begin(), folders.end(),
              [](const auto* a, const auto* b) { return a->path.size() > b->path.size(); });
    for (const manifest_entry_t::file_t* path : folders) remove_output(*path, true);
}

void Incremental::record(const std::string& relative, manifest_entry_t entry,
                         const std::vector<manifest_entry_t::file_t>& dependencies) {
    // A file read twice by one page (an include that is also an fsize target) counts once.
    entry.dependencies.clear();
    for (const manifest_entry_t::file_t& dependency : dependencies) {
        // The page itself (its own flastmod): the source's stamp already stands for it.
        if (dependency.stamp == entry.source) continue;
        const std::uint32_t place = current_.add_dependency(dependency);
        if (std::find(entry.dependencies.begin(), entry.dependencies.end(), place) == entry.dependencies.end())
            entry.dependencies.push_back(place);
    }
    // Outputs the earlier entry had and this one has not stay ours until a whole run removes them.
    if (manifest_entry_t* const found = find_earlier(relative, record_next_)) {
        if (found->kind != manifest_entry_t::kind_t::folder)
            for (const manifest_entry_t::file_t& output : found->outputs)
                if (std::none_of(entry.outputs.begin(), entry.outputs.end(),
                                 [&output](const manifest_entry_t::file_t& now) { return now.path == output.path; }))
                    current_.leftovers.push_back(output);
        found->replaced = true;
    }
    if (gather_touched_ && entry.kind != manifest_entry_t::kind_t::folder)
        for (const manifest_entry_t::file_t& output : entry.outputs) touched_.push_back(output.path);
    // The walk reaches each source once.
    const auto& [source, recorded] = current_.recorded.emplace_back(relative, std::move(entry));
    if (journal_) journal_->append(source, recorded, current_);
}

void Incremental::record_failure(const std::string& relative, std::uint32_t walked_at) {
    const auto found = earlier_.entries.find(relative);
    if (found == earlier_.entries.end()) return;
    manifest_entry_t entry = found->second;
    entry.rebuild = true;
    entry.walked = walked_at;
    std::vector<manifest_entry_t::file_t> dependencies;
    for (const std::uint32_t place : entry.dependencies) dependencies.push_back(earlier_.dependencies[place]);
    record(relative, std::move(entry), dependencies);
}

// The earlier entries not replaced are kept, or not reached yet by a run still going or stopped.
void Incremental::save() const {
    if (!dry_) current_.write(path_, &earlier_);
}

void Incremental::save_if_due() noexcept {
    if (journal_) journal_->flush();
}

namespace {
// Whatever becomes of the record, the journal's entries are in it or never will be.
struct drop_journal_t {
    std::optional<Journal>& journal;
    ~drop_journal_t() {
        if (journal) journal->remove();
        journal.reset();
    }
};
}  // namespace

void Incremental::finish(bool complete, CompileLogBase& log, std::uint64_t& removed, bool save_later) {
    stop_looking_ahead();
    for (const std::string& warning : std::exchange(warnings_, {})) log.warning(warning);
    if (!complete) {
        const drop_journal_t drop{journal_};
        save();
        return;
    }
    // Outputs this run wrote or kept are never removed, whoever wrote them before; any other
    // output of an earlier entry is stale, whatever options the runs had. The few that may be
    // are gathered first (of an entry this run recorded again, only the outputs it left
    // behind), then those still listed are struck out.
    std::unordered_map<std::string_view, const manifest_entry_t::file_t*> stale_files;
    std::unordered_map<std::string_view, const manifest_entry_t::file_t*> stale_folders;
    for (const manifest_entry_t::file_t& output : earlier_.leftovers) stale_files.emplace(output.path, &output);
    for (const manifest_entry_t::file_t& output : current_.leftovers) stale_files.emplace(output.path, &output);
    for (const auto& [source, entry] : earlier_.entries) {
        if (entry.kept || (entry.replaced && entry.kind != manifest_entry_t::kind_t::folder)) continue;
        auto& stale = entry.kind == manifest_entry_t::kind_t::folder ? stale_folders : stale_files;
        for (const manifest_entry_t::file_t& output : entry.outputs) stale.emplace(output.path, &output);
    }
    if (!stale_files.empty() || !stale_folders.empty()) {
        const auto strike = [&](const manifest_entry_t& entry) {
            for (const manifest_entry_t::file_t& output : entry.outputs) {
                stale_files.erase(output.path);
                stale_folders.erase(output.path);
            }
        };
        for (const auto& [source, entry] : current_.recorded) strike(entry);
        for (const auto& [source, entry] : earlier_.entries)
            if (entry.kept) strike(entry);
    }
    const std::map<std::string_view, const manifest_entry_t::file_t*> files(stale_files.begin(), stale_files.end());
    const std::map<std::string_view, const manifest_entry_t::file_t*, std::greater<>> folders(  // deepest first
        stale_folders.begin(), stale_folders.end());
    for (const auto& [path, output] : files) {
        const removal_t result = remove_output(*output, false);
        if (result == removal_t::removed) {
            log.message("Removing " + std::string(path) + "...");
            ++removed;
        } else if (result == removal_t::failed) {
            log.warning("Cannot remove " + std::string(path) + ", an output of an earlier run");
        }
    }
    for (const auto& [path, output] : folders) remove_output(*output, true);
    for (const std::string& warning : std::exchange(warnings_, {})) log.warning(warning);
    if (dry_) {
        const drop_journal_t drop{journal_};
        return;
    }
    if (!save_later) save_record();
}

void Incremental::save_record() {
    const drop_journal_t drop{journal_};
    // A run that changed nothing leaves the record as it is. After a move, the entries of the
    // earlier destination not replaced stay, for the next run to tell which files are ours.
    // A run that recorded every entry itself, left nothing behind and keeps nothing of the
    // record before it (a whole run) has written its record already: the journal, in the
    // walk's order.
    const bool whole = !moved_ && kept_ == 0 && current_.leftovers.empty();
    if (!moved_) current_.leftovers.clear();  // removed above, or changed since and no longer ours
    const auto wanted = [this](const manifest_entry_t& entry) { return moved_ || entry.kept; };
    if (whole && journal_ && journal_->become_record(path_, current_.recorded.size())) {
        journal_.reset();
    } else if (!current_.recorded.empty() || kept_ != earlier_.entries.size() || !reuse_ ||
               !earlier_.leftovers.empty()) {
        current_.write(path_, &earlier_, wanted);
    }
    prune_manifests(folder_);
    if (kept_record_ != nullptr)
        if (const std::optional<file_status_t> status = try_stat_path(path_))
            *kept_record_ = std::make_shared<kept_record_t>(
                kept_record_t{path_, stamp_of(*status), current_.merged(&earlier_, wanted)});
}
