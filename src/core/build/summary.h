#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a run did, for the line that sums it up.
struct run_summary_t {
    std::uint64_t documents = 0;  // converted
    std::uint64_t copies = 0;
    std::uint64_t skipped = 0;  // entries left out by a Skip mask, and files that are not regular
    std::uint64_t failed_documents = 0;
    std::uint64_t failed_copies = 0;
    std::uint64_t broken_links = 0;  // counted when links are checked
    std::uint64_t up_to_date = 0;    // files left as they were: nothing they depend on changed
    std::uint64_t removed = 0;       // outputs of earlier runs whose source is gone
    std::uint64_t errors = 0;
    std::uint64_t warnings = 0;
    std::uint64_t request_dependent = 0;  // places where a page depends on the request, when reported
    std::vector<std::string> failed;      // the files that failed, from SOURCE, in walk order
};

// "N documents converted, N files copied, N skipped; N errors, N warnings", with the failed
// documents (and copies, when there are any) after it when the run keeps going past failures,
// the first few of them named: "2 documents failed (a.shtml, news/b.shtml)".
// A check says "checked" and "to copy" instead; a dry run "to convert", "to copy", "to remove".
std::string summary_text(const run_summary_t& summary, bool keep_going, bool check = false, bool links = false,
                         bool dry_run = false);
