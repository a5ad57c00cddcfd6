#include "build/incremental.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "base/text.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace {
// What a record holds for each file of a site, generously (long paths, many dependencies): a
// record 64 times the size this gives for the site is no record a run wrote.
constexpr std::uint64_t expected_bytes_per_file = 256;
constexpr std::uint64_t expected_bytes_at_least = 1024 * 1024;
constexpr std::uint64_t larger_than_written = 64;
// How near the walk comes before the thread ahead leaps, and how far it leaps.
constexpr std::size_t close_behind = 4;
constexpr std::size_t leap_ahead = 64;

// How far the thread ahead went with an entry (Incremental::seen_ahead_t::state).
enum ahead_t : unsigned char {
    not_looked = 0,
    looking = 1,     // the thread ahead is looking now
    seen = 2,        // the thread ahead saw it: see its source and outputs_hold
    walk_looks = 3,  // the walk came first and looks itself
};
}  // namespace

Incremental::Incremental(const std::string& folder, const std::string& destination,
                         const std::string& resolved_destination, const file_identity_t& identity, std::string options,
                         bool reuse, CompileLogBase& log, const std::function<std::uint64_t()>& site_files, bool dry,
                         std::shared_ptr<kept_record_t>* kept)
    : folder_(folder), path_(manifest_path(folder, identity)), destination_(destination), reuse_(reuse), dry_(dry),
      kept_record_(dry ? nullptr : kept) {
    // The destination folder itself is locked, so that runs keeping their records in other
    // state folders still meet.
    destination_lock_ = FileLock::try_lock_folder(destination);
    if (!destination_lock_)
        raise(destination_busy("Another run is writing to " + destination + "; try again when it has finished"));
    make_directories(folder);
    const std::string lock_path = path_.substr(0, path_.size() - std::string_view(".manifest").size()) + ".lock";
    lock_ = FileLock::try_lock(lock_path);
    if (!lock_)
        raise(destination_busy("Another run is writing to " + destination + " (it holds " + lock_path +
                                 "); try again when it has finished"));
    if (!dry_) {  // a dry run reads the record as it is and writes nothing
        remove_stale_temporaries(folder);
        fold_journal(log);
    }
    read_record(resolved_destination, options, log, site_files);
    current_.destination = resolved_destination;
    current_.options = std::move(options);
    current_.recorded.reserve(earlier_.entries.size());  // most runs record about as many
    if (!dry_) journal_.emplace(Journal::path_for(path_), current_.destination, current_.options);
}

Incremental::~Incremental() { stop_looking_ahead(); }

void Incremental::look_ahead(const std::string& source) {
    if (!reuse_ || order_.empty() || ahead_.joinable() || trusting()) return;
    seen_ahead_.resize(order_.size());
    ahead_ = std::thread([this, source] {
        seen_ahead_t* seen = nullptr;
        try {
            // In the record's order, the walk's, ahead of the walk. With the walk close behind,
            // the two would take turns at the same few files: the walk is left the next ones and
            // this goes on further ahead.
            for (std::size_t i = 0; i < order_.size(); ++i) {
                if (ahead_stop_.load(std::memory_order_relaxed)) return;
                if (const std::size_t walk = walk_reached_.load(std::memory_order_relaxed); i < walk + close_behind) {
                    i = walk + leap_ahead;
                    if (i >= order_.size()) return;
                }
                const auto& [path, entry] = *order_[i];
                if (entry.kind == manifest_entry_t::kind_t::folder || entry.rebuild) continue;
                seen = &seen_ahead_[entry.position];
                std::atomic_ref<unsigned char> state(seen->state);
                unsigned char expected = not_looked;
                if (!state.compare_exchange_strong(expected, looking, std::memory_order_acquire)) continue;
                try {
                    seen->source = lstat_path(source + "/" + path);
                } catch (const std::runtime_error&) {
                    seen->source.reset();  // the walk finds out itself
                }
                seen->outputs_hold = std::all_of(entry.outputs.begin(), entry.outputs.end(),
                                                 [this](const auto& output) { return unchanged(output); });
                state.store(ahead_t::seen, std::memory_order_release);
                seen = nullptr;
            }
        } catch (...) {
            // Out of memory: the walk looks at the rest itself.
            if (seen != nullptr) std::atomic_ref<unsigned char>(seen->state).store(walk_looks, std::memory_order_release);
        }
    });
}

void Incremental::stop_looking_ahead() noexcept {
    ahead_stop_.store(true);
    if (ahead_.joinable()) ahead_.join();
}

manifest_entry_t* Incremental::find_earlier(const std::string& relative, std::size_t& next) {
    if (next < order_.size() && order_[next]->first == relative) return &order_[next++]->second;
    const auto found = earlier_.entries.find(relative);
    if (found == earlier_.entries.end()) return nullptr;
    next = found->second.position + 1;
    return &found->second;
}

manifest_entry_t* Incremental::walked(const std::string& relative) {
    if (walked_entry_ != nullptr && walked_key_ == relative) return walked_entry_;
    manifest_entry_t* const entry = find_earlier(relative, walk_next_);
    walk_reached_.store(walk_next_, std::memory_order_relaxed);
    if (entry == nullptr) return nullptr;
    if (looking_ahead()) {
        std::atomic_ref<unsigned char> state(seen_ahead_[entry->position].state);
        unsigned char now = not_looked;
        if (!state.compare_exchange_strong(now, walk_looks, std::memory_order_acquire))
            while (now == looking) {  // a few system calls away
                std::this_thread::yield();
                now = state.load(std::memory_order_acquire);
            }
    }
    walked_key_ = relative;
    walked_entry_ = entry;
    walked_trusted_ = trusted(relative);
    return entry;
}

void Incremental::trust_unchanged(std::vector<std::string> changed) {
    changed_.emplace(std::make_move_iterator(changed.begin()), std::make_move_iterator(changed.end()));
    walked_entry_ = nullptr;
}

bool Incremental::trusted(std::string_view relative) const {
    if (!changed_ || !reuse_) return false;
    for (;;) {
        if (changed_->contains(relative)) return false;
        const std::size_t slash = relative.rfind('/');
        if (slash == std::string_view::npos) return true;
        relative = relative.substr(0, slash);
    }
}

std::optional<file_status_t> Incremental::status_recorded(const std::string& relative) {
    if (!trusting()) return std::nullopt;
    const manifest_entry_t* const entry = walked(relative);
    if (entry == nullptr || !walked_trusted_ || entry->rebuild || entry->kind == manifest_entry_t::kind_t::folder)
        return std::nullopt;
    file_status_t status;
    status.kind = file_kind_t::regular;
    status.identity = entry->source.identity;
    status.size = entry->source.size;
    status.modified = entry->source.seconds;
    status.modified_nanoseconds = entry->source.nanoseconds;
    return status;
}

std::optional<file_status_t> Incremental::status_ahead(const std::string& relative) {
    if (!looking_ahead()) return std::nullopt;
    const manifest_entry_t* const entry = walked(relative);
    if (entry == nullptr) return std::nullopt;
    const seen_ahead_t& seen = seen_ahead_[entry->position];
    if (std::atomic_ref<const unsigned char>(seen.state).load(std::memory_order_acquire) != ahead_t::seen ||
        !seen.source || seen.source->kind != file_kind_t::regular)
        return std::nullopt;
    return seen.source;
}

void Incremental::fold_journal(CompileLogBase& log) {
    const std::string journal = Journal::path_for(path_);
    try {
        if (!try_stat_path(journal)) return;
        // Read whole only when of a size a record of a site may have; else the record's own check says why.
        constexpr std::uint64_t limit = std::uint64_t{1} << 32;
        Manifest record = Manifest::read(path_, limit).value_or(Manifest());
        if (Journal::fold(journal, record)) record.write(path_);
    } catch (const std::runtime_error& e) {
        // The record as it was still tells outputs rewritten since from unchanged ones.
        log.warning(std::string("Cannot fold the journal of the last run into its record (") + e.what() +
                    "); what it finished is done again");
    }
    remove_file(journal);
}

void Incremental::read_record(const std::string& resolved_destination, const std::string& options,
                              CompileLogBase& log, const std::function<std::uint64_t()>& site_files) {
    // What was kept in memory is taken once, whatever becomes of it.
    const std::shared_ptr<kept_record_t> kept = kept_record_ != nullptr ? std::exchange(*kept_record_, {}) : nullptr;
    try {
        const std::optional<file_status_t> status = try_stat_path(path_);
        std::optional<Manifest> earlier;
        if (kept && status && kept->path == path_ && stamp_of(*status) == kept->stamp) {
            earlier = std::move(kept->record);
        } else {
            // The site is counted only for a record large enough to be in doubt.
            std::uint64_t limit = larger_than_written * expected_bytes_at_least;
            if (status && status->size > limit) {
                const std::uint64_t files = site_files ? site_files() : 0;
                limit = larger_than_written * std::max(expected_bytes_at_least, files * expected_bytes_per_file);
                if (status->size > limit) {
                    log.warning("The record of the last run (" + path_ + ", " + std::to_string(status->size) +
                                " bytes) is larger than any record of this site; every file is done again");
                    reuse_ = false;
                    return;
                }
            }
            earlier = Manifest::read(path_, limit);
        }
        if (!earlier) return;
        if (earlier->destination != resolved_destination) {
            // A new folder that took the identity of one since deleted holds none of its outputs.
            if (!holds_outputs_of(*earlier)) return;
            log.message("Note: the record of the last run into this folder names " + earlier->destination +
                        " as its destination, now " + resolved_destination +
                        ": it was moved, so this run does every file and removes nothing");
            moved_ = true;
            reuse_ = false;
        }
        // A record made with other options still tells which files are ours.
        reuse_ = reuse_ && earlier->options == options;
        earlier_ = std::move(*earlier);
        order_.resize(earlier_.entries.size());
        for (auto& entry : earlier_.entries) order_[entry.second.position] = &entry;
    } catch (const std::runtime_error& e) {
        log.warning(std::string("Cannot read the record of the last run (") + e.what() + "); every file is done again");
        reuse_ = false;
        earlier_ = Manifest();
        order_.clear();
    }
}

std::optional<file_stamp_t> Incremental::output_stamp(const std::string& output) const {
    try {
        const file_status_t status = lstat_path(destination_ + "/" + output);
        if (status.kind == file_kind_t::regular) return stamp_of(status);
    } catch (const std::runtime_error&) {
    }
    return std::nullopt;
}

bool Incremental::holds_outputs_of(const Manifest& earlier) const {
    std::size_t looked_at = 0;
    for (const auto& [source, entry] : earlier.entries) {
        if (entry.kind == manifest_entry_t::kind_t::folder) continue;
        for (const manifest_entry_t::file_t& output : entry.outputs) {
            if (unchanged(output)) return true;
            if (++looked_at == 64) return false;
        }
    }
    return false;
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

bool Incremental::up_to_date(const std::string& relative, std::uint32_t walked_at, manifest_entry_t::kind_t kind,
                             const file_status_t& source, const std::vector<std::string>& outputs) {
    if (!reuse_) return false;
    manifest_entry_t* const found = walked(relative);
    if (found == nullptr) return false;
    manifest_entry_t& entry = *found;
    if (entry.rebuild || entry.kind != kind || entry.source != stamp_of(source) || entry.outputs.size() != outputs.size())
        return false;
    const seen_ahead_t* const seen = looking_ahead() ? &seen_ahead_[entry.position] : nullptr;
    const bool seen_ahead =
        seen != nullptr && std::atomic_ref<const unsigned char>(seen->state).load(std::memory_order_acquire) == ahead_t::seen;
    const bool look = !seen_ahead && !walked_trusted_;
    for (std::size_t i = 0; i < outputs.size(); ++i)
        if (entry.outputs[i].path != outputs[i] || (look && !unchanged(entry.outputs[i]))) return false;
    if (seen_ahead && !seen->outputs_hold) return false;
    for (const std::uint32_t place : entry.dependencies)
        if (!dependency_unchanged(place)) return false;
    entry.kept = true;
    entry.walked = walked_at;
    ++kept_;
    return true;
}

bool Incremental::keep_folder(const std::string& relative, std::uint32_t walked_at) {
    manifest_entry_t* const found = walked(relative);
    if (found == nullptr || found->kind != manifest_entry_t::kind_t::folder) return false;
    found->kept = true;
    found->walked = walked_at;
    ++kept_;
    return true;
}

void refuse_state_folder_inside(const std::string& state_folder, const std::string& source,
                                const std::string& destination) {
    // Resolved as far as it exists: the rest is names to be made below that. A place that
    // cannot be looked at is compared as given; the run reports it where it is used.
    const auto resolved = [](const std::string& given) {
        try {
            std::string path = given;
            std::string rest;
            while (!try_stat_path(path)) {
                const std::size_t slash = path.find_last_of('/');
                if (slash == std::string::npos) {
                    rest = "/" + path + rest;
                    path = ".";
                    break;
                }
                rest = path.substr(slash) + rest;
                path = slash == 0 ? "/" : path.substr(0, slash);
            }
            const std::string base = real_path(path);
            return (base == "/" ? std::string() : base) + rest;
        } catch (const std::runtime_error&) {
            return given;
        }
    };
    const std::string folder = resolved(state_folder);
    for (const std::string* place : {&source, &destination})
        if (path_within(folder, resolved(*place)))
            raise(std::runtime_error("The state folder " + state_folder + " must not lie inside " +
                                     (place == &source ? "the source folder " : "the destination folder ") + *place +
                                     ": the record of the runs would be published with the site"));
}
