#pragma once

#include "build/manifest.h"
#include "platform/file_lock.h"

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class CompileLogBase;

// Another run holds the destination's record: two runs must not interleave their writes.
class destination_busy : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a run knows of the runs before it into the same destination: which outputs are still
// up to date, and which files there are its own. Everything of it lives outside the
// destination. The walk asks (up_to_date, make_room) from its own thread; what the run did is
// recorded (record, save_if_due) in walk order, one call at a time.
class Incremental {
public:
    // Takes the lock of the destination's record in folder (throws when another run holds it)
    // and reads the record. options is everything besides the files that shapes the outputs:
    // a record made with other options only tells which files are ours. With reuse false every
    // file is done again, and recorded. A record that cannot be read is reported to log as a
    // warning and the run does every file.
    Incremental(const std::string& folder, const std::string& destination, const std::string& resolved_destination,
                const file_identity_t& identity, std::string options, bool reuse, CompileLogBase& log);

    // Whether the earlier run's entry for a source path still holds: the outputs it lists are
    // all as it wrote them, the source is as it was and every dependency too. An entry that
    // holds is kept as it is.
    bool up_to_date(const std::string& relative, manifest_entry_t::kind_t kind, const file_status_t& source,
                    const std::vector<std::string>& outputs);
    // A folder of the source: kept when the earlier run made it, else to be recorded.
    bool keep_folder(const std::string& relative);

    // Before a folder is made where an earlier run wrote a file, or a file written where it
    // made a folder: the earlier outputs in the way that are unchanged are removed.
    void make_room(const std::string& relative, bool folder);

    // A file done by this run, with the dependencies its conversion read.
    void record(const std::string& relative, manifest_entry_t entry,
                const std::vector<manifest_entry_t::file_t>& dependencies = {});
    // A file that failed: its earlier output stays, and it is done again next time.
    void record_failure(const std::string& relative);
    // Saves the record every few hundred files (and a few seconds), so that an interrupted run
    // keeps what it did.
    void save_if_due();

    // Ends the run. After a whole walk, outputs of earlier runs whose source is gone or now
    // skipped are removed, when unchanged since written (logged and counted in removed);
    // then the record is saved, and records of destinations that no longer exist dropped.
    void finish(bool complete, CompileLogBase& log, std::uint64_t& removed);

    // The status of an output, when it is a regular file (links and folders are no output of ours).
    std::optional<file_stamp_t> output_stamp(const std::string& output) const;

private:
    bool unchanged(const manifest_entry_t::file_t& output) const;
    bool dependency_unchanged(std::uint32_t place);
    // Saves what holds now: this run's entries, and the earlier ones it has not replaced.
    void save() const;

    std::string folder_;
    std::string path_;
    std::string destination_;
    std::optional<FileLock> lock_;
    Manifest earlier_;  // read-only once read: the walk looks in it while workers record
    Manifest current_;  // what this run did, in walk order
    bool reuse_ = false;
    std::vector<signed char> dependencies_;  // by place in the earlier table: 1 unchanged, 0 changed, -1 not looked at
    std::size_t kept_ = 0;                   // earlier entries found to hold
    std::size_t since_saved_ = 0;
    std::chrono::steady_clock::time_point saved_;
};
