#pragma once

#include "platform/file_system.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// What tells one version of a file from another without reading it: which file it is, its
// size and its modification time to the nanosecond. Any difference, a time earlier than the
// one recorded too, means the file changed.
struct file_stamp_t {
    file_identity_t identity;
    std::uint64_t size = 0;
    std::int64_t seconds = 0;
    long nanoseconds = 0;
    bool operator==(const file_stamp_t&) const = default;
};

file_stamp_t stamp_of(const file_status_t& status);

// What a run wrote for one entry of the source, for the next run to tell whether it is still
// up to date, and which files in the destination are its own to replace or remove.
struct manifest_entry_t {
    enum class kind_t : char { converted = 'c', copied = 'f', folder = 'd' };
    struct file_t {
        std::string path;  // outputs: from the destination's root; dependencies: as read
        file_stamp_t stamp;
    };
    static constexpr std::uint32_t not_walked = UINT32_MAX;
    kind_t kind = kind_t::copied;
    // Its place in the record it was read from. Records are written in the walk's order, so a
    // run that reads the entries in this order meets them in the order its own walk asks.
    std::uint32_t position = 0;
    file_stamp_t source;
    std::vector<file_t> outputs;
    // Included documents, fsize and flastmod targets: places in the record's table of them,
    // which pages share (a site's pages include the same few files).
    std::vector<std::uint32_t> dependencies;
    // Where this run's walk reached it: the record is written in that order, then the entries
    // the walk did not reach in the order they had.
    std::uint32_t walked = not_walked;
    bool rebuild = false;  // done again on every run: it showed the time, reported something, or failed
    bool kept = false;     // set by a run's walk: the entry still holds
    // Set by a run that recorded the source again: the new entry stands instead, and each
    // output of a file's entry is the new entry's or one of the run's leftovers.
    bool replaced = false;
};

// The record of the runs into one destination, kept outside it (so that nothing of ours is
// published with the site), by source path relative to the site's root.
struct Manifest {
    std::string destination;  // the destination's real path, to tell a folder that took its place
    std::string options;      // everything that shapes the outputs besides the files
    std::unordered_map<std::string, manifest_entry_t> entries;
    // A run's own entries, in the order recorded (the walk's), each source once: written with
    // entries, never looked up.
    std::vector<std::pair<std::string, manifest_entry_t>> recorded;
    std::vector<manifest_entry_t::file_t> dependencies;  // each as read by one page or more
    // Outputs of earlier entries that a run stopped half-way replaced with other outputs (a
    // page since renamed): still ours, for the next whole run to remove.
    std::vector<manifest_entry_t::file_t> leftovers;

    // The place of a dependency in the table, added when new.
    std::uint32_t add_dependency(const manifest_entry_t::file_t& dependency);

    // nullopt when nothing is recorded there; a record that cannot be read throws with why:
    // one of more than limit bytes, and one naming a source or an output that is not a plain
    // path below its folder (see is_plain_relative_path), which no run writes.
    static std::optional<Manifest> read(const std::string& path, std::uint64_t limit);
    // Written beside path and renamed over it, so that a reader sees the old or the new whole.
    // With more, the entries of more that this one has not replaced (see
    // manifest_entry_t::replaced) and that wanted accepts are written too, and without wanted
    // its leftovers (the record is written straight from both: no copy of either is made).
    void write(const std::string& path, const Manifest* more = nullptr,
               const std::function<bool(const manifest_entry_t&)>& wanted = {}) const;
    // What write would write, as read back: the entries taken out of this and more, which are
    // left without them.
    Manifest merged(Manifest* more = nullptr, const std::function<bool(const manifest_entry_t&)>& wanted = {});

private:
    struct plan_t;
    // The entries write writes, in their order, and the dependencies they name, numbered anew.
    plan_t plan(const Manifest* more, const std::function<bool(const manifest_entry_t&)>& wanted) const;

    std::unordered_map<std::string, std::vector<std::uint32_t>> places_;  // by path, for add_dependency
};

// Where the record of runs into a destination is kept, in folder: named after the
// destination's identity, so that a destination that is moved keeps its record.
std::string manifest_path(const std::string& folder, const file_identity_t& destination);
// Removes the records in folder of destinations that no longer exist (or are now another
// folder), unless a run holds them.
void prune_manifests(const std::string& folder);
