#pragma once

#include "build/journal.h"
#include "build/manifest.h"
#include "platform/file_lock.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

class CompileLogBase;

// The record a run left, kept in memory for the next run into the same destination (a
// watch's), which takes it instead of reading the file while the file is as that run wrote it.
struct kept_record_t {
    std::string path;
    file_stamp_t stamp;  // of the file as written
    Manifest record;
};

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
    // Takes the lock of the destination folder itself and of its record in folder (throws when
    // another run holds either), clears folder of temporary files of runs that are gone, and
    // reads the record. options is everything besides the files that shapes the outputs: a
    // record made with other options only tells which files are ours. With reuse false every
    // file is done again, and recorded. A record that cannot be read, or one larger than any
    // record of a site of site_files() files, is reported to log as a warning and the run does
    // every file; a record of a destination since moved (its outputs are in this one) is a note,
    // and the run removes nothing.
    // A dry run (dry) reads the record and answers as usual, but removes and saves nothing:
    // finish only logs and counts what it would remove.
    // With kept, the record is taken from there when it is the record read, and a run that ends
    // well leaves its record there.
    Incremental(const std::string& folder, const std::string& destination, const std::string& resolved_destination,
                const file_identity_t& identity, std::string options, bool reuse, CompileLogBase& log,
                const std::function<std::uint64_t()>& site_files, bool dry = false,
                std::shared_ptr<kept_record_t>* kept = nullptr);
    Incremental(const Incremental&) = delete;
    Incremental& operator=(const Incremental&) = delete;
    ~Incremental();

    // Starts looking at the files the record lists (each source and its outputs) on a thread
    // of its own, in the walk's order and ahead of it: a rebuild is mostly looking, and this
    // shares it between two processors. The walk, which also reads and sorts every folder,
    // mostly finds what it asks for seen already; where it catches up, it looks itself and the
    // thread moves on past it, so each file is looked at once. source is the folder the
    // record's paths are under.
    void look_ahead(const std::string& source);
    // The status of a source file (relative path) as the thread ahead saw it, when it saw a
    // regular file; else the walk looks itself.
    std::optional<file_status_t> status_ahead(const std::string& relative);
    // Whether a thread is looking ahead (status_ahead has nothing to give otherwise).
    bool looking_ahead() const noexcept { return ahead_.joinable(); }

    // Takes every earlier entry but those in changed (source paths; a folder's stands for
    // everything below it) to hold as recorded: neither its source nor its outputs are looked
    // at again, only what its pages read. For a caller told what changed since the last run
    // into the destination, one that ended well. Nothing is looked at ahead then.
    void trust_unchanged(std::vector<std::string> changed);
    bool trusting() const noexcept { return changed_.has_value(); }
    // Whether the record is trusted for a source path: neither it nor a folder above it changed.
    bool trusted(std::string_view relative) const;
    // The status of a source file (relative path) as the record has it, when it is trusted and
    // recorded as a file done without fault; else the walk looks itself. Its permissions are
    // not recorded: an entry that does not hold is looked at again before it is done.
    std::optional<file_status_t> status_recorded(const std::string& relative);

    // Whether the earlier run's entry for a source path still holds: the outputs it lists are
    // all as it wrote them, the source is as it was and every dependency too. An entry that
    // holds is kept as it is.
    // walked is where the walk reached the file (its count of files and folders so far): the
    // record keeps the walk's order, so the next run finds each entry where it looks next.
    bool up_to_date(const std::string& relative, std::uint32_t walked, manifest_entry_t::kind_t kind,
                    const file_status_t& source, const std::vector<std::string>& outputs);
    // A folder of the source: kept when the earlier run made it, else to be recorded.
    bool keep_folder(const std::string& relative, std::uint32_t walked);

    // Before a folder is made where an earlier run wrote a file, or a file written where it
    // made a folder: the earlier outputs in the way that are unchanged are removed.
    void make_room(const std::string& relative, bool folder);

    // A file done by this run, with the dependencies its conversion read.
    void record(const std::string& relative, manifest_entry_t entry,
                const std::vector<manifest_entry_t::file_t>& dependencies = {});
    // A file that failed: its earlier output stays, and it is done again next time.
    void record_failure(const std::string& relative, std::uint32_t walked);
    // Writes the journal of the files recorded since the last call, about once a second, so
    // that a run killed keeps what it did; the record itself is written once, at the end.
    // Never throws: a journal that cannot be written (a full disk, a folder made read-only)
    // is given up, and the end of the run reports what stands in the way of the record.
    void save_if_due() noexcept;

    // Ends the run. After a whole walk, outputs of earlier runs that this run neither wrote
    // nor kept (a source gone or now skipped, a page renamed, a redirect page no longer asked
    // for) are removed when unchanged since written (logged and counted in removed), never
    // through a link; then the record is saved (a failure throws, with no file left behind),
    // and records of destinations that no longer exist dropped.
    // With save_later, a run that ended well leaves its record to save_record.
    void finish(bool complete, CompileLogBase& log, std::uint64_t& removed, bool save_later = false);
    // Saves the record of a run that ended well (see finish): on any thread, once; a failure
    // throws, with no file left behind.
    void save_record();

    // The outputs of every file this run did and those it removed (paths from the
    // destination's root): every output it may have written or removed. Gathered once asked
    // for, before the walk; taken once, at the end.
    void gather_outputs_touched() noexcept { gather_touched_ = true; }
    std::vector<std::string> take_outputs_touched() noexcept { return std::move(touched_); }

    // The status of an output, when it is a regular file (links and folders are no output of ours).
    std::optional<file_stamp_t> output_stamp(const std::string& output) const;

private:
    void read_record(const std::string& resolved_destination, const std::string& options, CompileLogBase& log,
                     const std::function<std::uint64_t()>& site_files);
    bool unchanged(const manifest_entry_t::file_t& output) const;
    // Whether the destination holds an output of the earlier record as it was written: the
    // folder was moved, not made anew where one was deleted.
    bool holds_outputs_of(const Manifest& earlier) const;
    // Removes an output of an earlier run below the destination, unless it changed since;
    // outputs behind a folder that is now a link are left, with a warning in warnings_.
    removal_t remove_output(const manifest_entry_t::file_t& output, bool folder);
    bool dependency_unchanged(std::uint32_t place);
    // A journal left by a run that was killed goes into the record before it is read.
    void fold_journal(CompileLogBase& log);
    // Saves what holds now: this run's entries, and the earlier ones it has not replaced.
    void save() const;
    // The earlier entry of a source path, looked for first at next in order_ (then the place
    // after the entry found): the walk asks in the record's order, and so does record.
    manifest_entry_t* find_earlier(const std::string& relative, std::size_t& next);
    // The earlier entry of a source path for the walk, once the thread ahead is done with it
    // (the thread leaves it alone from then on); the last one is kept for the next question.
    manifest_entry_t* walked(const std::string& relative);
    void stop_looking_ahead() noexcept;

    std::string folder_;
    std::string path_;
    std::string destination_;
    std::optional<FileLock> destination_lock_;
    std::optional<FileLock> lock_;
    Manifest earlier_;  // read-only once read: the walk looks in it while workers record
    std::vector<std::pair<const std::string, manifest_entry_t>*> order_;  // its entries in the record's order
    std::size_t walk_next_ = 0;    // in order_: where the walk's next question is looked for first
    std::atomic<std::size_t> walk_reached_{0};  // walk_next_, for the thread ahead
    std::size_t record_next_ = 0;  // and record's
    Manifest current_;  // what this run did, in walk order
    bool reuse_ = false;
    bool dry_ = false;
    bool moved_ = false;         // the record names another destination: nothing is removed
    std::vector<std::string> warnings_;  // found by the walk's removals, logged at the end
    std::vector<signed char> dependencies_;  // by place in the earlier table: 1 unchanged, 0 changed, -1 not looked at
    std::size_t kept_ = 0;                   // earlier entries found to hold
    std::vector<std::string> touched_;       // see take_outputs_touched
    bool gather_touched_ = false;
    std::shared_ptr<kept_record_t>* kept_record_ = nullptr;
    std::optional<Journal> journal_;
    // What the thread ahead saw of each earlier entry, by its position, read and written
    // through std::atomic_ref on state.
    struct seen_ahead_t {
        unsigned char state = 0;
        bool outputs_hold = false;
        std::optional<file_status_t> source;
    };
    std::vector<seen_ahead_t> seen_ahead_;
    std::thread ahead_;
    std::atomic<bool> ahead_stop_{false};
    // Sources reported changed, when the rest is trusted (see trust_unchanged).
    struct key_hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const noexcept { return std::hash<std::string_view>{}(key); }
    };
    std::optional<std::unordered_set<std::string, key_hash, std::equal_to<>>> changed_;
    std::string walked_key_;  // the walk's last question, and its answer
    manifest_entry_t* walked_entry_ = nullptr;
    bool walked_trusted_ = false;
};

// Refuses a state folder inside the source or the destination (with every link resolved, and
// before either is made): the record would be published with the site, or read as a page.
void refuse_state_folder_inside(const std::string& state_folder, const std::string& source,
                                const std::string& destination);
