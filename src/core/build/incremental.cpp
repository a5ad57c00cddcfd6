#include "build/incremental.h"

#include "base/compile_log.h"
#include "base/exceptions.h"

#include <algorithm>
#include <set>
#include <stdexcept>
#include <unordered_set>

Incremental::Incremental(const std::string& folder, const std::string& destination,
                         const std::string& resolved_destination, const file_identity_t& identity, std::string options,
                         bool reuse, CompileLogBase& log)
    : folder_(folder), path_(manifest_path(folder, identity)), destination_(destination), reuse_(reuse),
      saved_(std::chrono::steady_clock::now()) {
    make_directories(folder);
    const std::string lock_path = path_.substr(0, path_.size() - std::string_view(".manifest").size()) + ".lock";
    lock_ = FileLock::try_lock(lock_path);
    if (!lock_)
        raise(destination_busy("Another run is writing to " + destination + " (it holds " + lock_path +
                                 "); try again when it has finished"));
    try {
        if (std::optional<Manifest> earlier = Manifest::read(path_);
            earlier && earlier->destination == resolved_destination) {
            // A record made with other options still tells which files are ours.
            reuse_ = reuse_ && earlier->options == options;
            earlier_ = std::move(*earlier);
        }
    } catch (const std::runtime_error& e) {
        log.warning(std::string("Cannot read the record of the last run (") + e.what() + "); every file is done again");
        reuse_ = false;
    }
    current_.destination = resolved_destination;
    current_.options = std::move(options);
}

std::optional<file_stamp_t> Incremental::output_stamp(const std::string& output) const {
    try {
        const file_status_t status = lstat_path(destination_ + "/" + output);
        if (status.kind == file_kind_t::regular) return stamp_of(status);
    } catch (const std::runtime_error&) {
    }
    return std::nullopt;
}

bool Incremental::unchanged(const manifest_entry_t::file_t& output) const {
    return output_stamp(output.path) == output.stamp;
}

// Each dependency is looked at once per run, however many pages read it.
bool Incremental::dependency_unchanged(std::uint32_t place) {
    if (dependencies_.empty()) dependencies_.assign(earlier_.dependencies.size(), -1);
    signed char& known = dependencies_[place];
    if (known < 0) {
        const manifest_entry_t::file_t& dependency = earlier_.dependencies[place];
        std::optional<file_stamp_t> stamp;
        try {
            if (const std::optional<file_status_t> status = try_stat_path(dependency.path)) stamp = stamp_of(*status);
        } catch (const std::runtime_error&) {
        }
        known = stamp == dependency.stamp ? 1 : 0;
    }
    return known == 1;
}

bool Incremental::up_to_date(const std::string& relative, manifest_entry_t::kind_t kind, const file_status_t& source,
                             const std::vector<std::string>& outputs) {
    if (!reuse_) return false;
    const auto found = earlier_.entries.find(relative);
    if (found == earlier_.entries.end()) return false;
    manifest_entry_t& entry = found->second;
    if (entry.rebuild || entry.kind != kind || entry.source != stamp_of(source) || entry.outputs.size() != outputs.size())
        return false;
    for (std::size_t i = 0; i < outputs.size(); ++i)
        if (entry.outputs[i].path != outputs[i] || !unchanged(entry.outputs[i])) return false;
    for (const std::uint32_t place : entry.dependencies)
        if (!dependency_unchanged(place)) return false;
    found->second.kept = true;
    ++kept_;
    return true;
}

bool Incremental::keep_folder(const std::string& relative) {
    const auto found = earlier_.entries.find(relative);
    if (found == earlier_.entries.end() || found->second.kind != manifest_entry_t::kind_t::folder) return false;
    found->second.kept = true;
    ++kept_;
    return true;
}

void Incremental::make_room(const std::string& relative, bool folder) {
    const auto found = earlier_.entries.find(relative);
    if (found == earlier_.entries.end() || (found->second.kind == manifest_entry_t::kind_t::folder) == folder) return;
    if (folder) {
        // A file of ours stands where the folder goes.
        for (const manifest_entry_t::file_t& output : found->second.outputs)
            if (unchanged(output)) remove_file(destination_ + "/" + output.path);
        return;
    }
    // A folder of ours stands where the file goes: its files first, then its folders, deepest first.
    const std::string prefix = relative + "/";
    std::vector<std::string> folders{found->second.outputs.empty() ? relative : found->second.outputs[0].path};
    for (const auto& [source, entry] : earlier_.entries) {
        if (!source.starts_with(prefix)) continue;
        for (const manifest_entry_t::file_t& output : entry.outputs) {
            if (entry.kind == manifest_entry_t::kind_t::folder)
                folders.push_back(output.path);
            else if (unchanged(output))
                remove_file(destination_ + "/" + output.path);
        }
    }
    std::sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& path : folders) remove_directory(destination_ + "/" + path);
}

void Incremental::record(const std::string& relative, manifest_entry_t entry,
                         const std::vector<manifest_entry_t::file_t>& dependencies) {
    // A file read twice by one page (an include that is also an fsize target) counts once.
    entry.dependencies.clear();
    for (const manifest_entry_t::file_t& dependency : dependencies) {
        const std::uint32_t place = current_.add_dependency(dependency);
        if (std::find(entry.dependencies.begin(), entry.dependencies.end(), place) == entry.dependencies.end())
            entry.dependencies.push_back(place);
    }
    current_.entries.insert_or_assign(relative, std::move(entry));
    ++since_saved_;
}

void Incremental::record_failure(const std::string& relative) {
    const auto found = earlier_.entries.find(relative);
    if (found == earlier_.entries.end()) return;
    manifest_entry_t entry = found->second;
    entry.rebuild = true;
    std::vector<manifest_entry_t::file_t> dependencies;
    for (const std::uint32_t place : entry.dependencies) dependencies.push_back(earlier_.dependencies[place]);
    record(relative, std::move(entry), dependencies);
}

// The earlier entries not replaced are kept, or not reached yet by a run still going or stopped.
void Incremental::save() const { current_.write(path_, &earlier_); }

void Incremental::save_if_due() {
    using namespace std::chrono_literals;
    if (since_saved_ < 500 || std::chrono::steady_clock::now() - saved_ < 2s) return;
    save();
    since_saved_ = 0;
    saved_ = std::chrono::steady_clock::now();
}

void Incremental::finish(bool complete, CompileLogBase& log, std::uint64_t& removed) {
    if (!complete) {
        save();
        return;
    }
    // Earlier entries this run neither kept nor replaced: their outputs are stale.
    std::vector<const manifest_entry_t*> stale;
    for (const auto& [source, entry] : earlier_.entries)
        if (!entry.kept && !current_.entries.contains(source)) stale.push_back(&entry);
    // Outputs this run wrote or kept are never removed, whoever wrote them before.
    std::unordered_set<std::string> kept;
    if (!stale.empty()) {
        for (const auto& [source, entry] : current_.entries)
            for (const manifest_entry_t::file_t& output : entry.outputs) kept.insert(output.path);
        for (const auto& [source, entry] : earlier_.entries)
            if (entry.kept)
                for (const manifest_entry_t::file_t& output : entry.outputs) kept.insert(output.path);
    }
    std::set<std::string> files;
    std::set<std::string, std::greater<>> folders;  // deepest first
    for (const manifest_entry_t* stale_entry : stale) {
        const manifest_entry_t& entry = *stale_entry;
        for (const manifest_entry_t::file_t& output : entry.outputs) {
            if (kept.contains(output.path)) continue;
            if (entry.kind == manifest_entry_t::kind_t::folder)
                folders.insert(output.path);
            else if (unchanged(output))
                files.insert(output.path);
        }
    }
    for (const std::string& file : files) {
        log.message("Removing " + file + "...");
        remove_file(destination_ + "/" + file);
        ++removed;
    }
    for (const std::string& folder : folders) remove_directory(destination_ + "/" + folder);
    // A run that changed nothing leaves the record as it is.
    if (!current_.entries.empty() || kept_ != earlier_.entries.size() || !reuse_)
        current_.write(path_, &earlier_, [](const manifest_entry_t& entry) { return entry.kept; });
    prune_manifests(folder_);
}
