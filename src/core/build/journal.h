#pragma once

#include "build/manifest.h"

#include <chrono>
#include <memory>
#include <string>

class File;

// The files a run has finished, appended to a file beside the record as they finish, so that
// a run that is killed still knows what it did; the record itself is written once, at the end
// (the journal of a run that did every file becomes it). Lines are buffered and written about
// once a second: a kill loses at most the last second's files, which the next run does again.
class Journal {
public:
    // The journal kept beside a record.
    static std::string path_for(const std::string& record_path);

    Journal(std::string path, std::string destination, std::string options);
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;
    ~Journal();

    // Adds the entry source of current just recorded, with the rows of current's dependencies
    // and leftovers not written yet (both only grow during a run). Never throws: a journal that
    // cannot be written is given up, and the record at the end still holds everything.
    void append(const std::string& source, const manifest_entry_t& entry, const Manifest& current) noexcept;
    // Writes what is buffered when due (always with force); false once the journal is given up.
    bool flush(bool force = false) noexcept;
    // Makes the journal the record at record_path when it holds the record's whole text: the
    // record of a run that recorded each of its entries (entries of them) and kept nothing
    // from the record before it, nor left any output behind. False, with the journal still
    // there to remove, when it cannot.
    bool become_record(const std::string& record_path, std::size_t entries) noexcept;
    // Removes the journal file: its entries are in the record now (or never will be).
    void remove() noexcept;

    // Folds the complete entries of the journal at path into record: they replace its entries
    // of the same sources, and its destination and options become the journal's. False when
    // there is no journal there or it is not one (a cut-off last entry is left out).
    static bool fold(const std::string& path, Manifest& record);

private:
    std::string path_;
    std::string text_;
    std::unique_ptr<File> file_;
    std::size_t dependencies_written_ = 0;
    std::size_t leftovers_written_ = 0;
    std::size_t entries_ = 0;
    bool pending_ = false;  // entries not written yet
    bool failed_ = false;
    std::chrono::steady_clock::time_point flushed_;
};
