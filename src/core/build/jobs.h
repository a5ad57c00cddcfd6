#pragma once

#include "build/manifest.h"
#include "build/ordered_log.h"
#include "html/links.h"
#include "platform/file_system.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct run_settings_t;
struct run_state_t;
struct SSIDirectoryPreferences;

// One file to convert or copy, as the walk found it.
struct file_job_t {
    bool convert = false;
    std::string name;
    std::string relative_path;     // for the log
    std::string key;               // from the site's root, for the record
    std::string source_path;
    std::string destination_path;  // under the source's name
    std::string output_name;       // a converted page's name, when pages are renamed
    std::string output_path;       // and its path
    std::string page;              // the output from the site's root, for the link check
    std::vector<std::string> outputs;  // from the destination's root
    std::optional<text_kind_t> kind;   // HTML or CSS, whose links are looked at
    file_status_t status;
    bool fresh = false;  // its folder was made by this run: no earlier output to compare with
    std::uint32_t walked = manifest_entry_t::not_walked;  // where the walk reached it, for the record's order
    std::shared_ptr<const SSIDirectoryPreferences> preferences;  // its folder's, when not the run's
};

// Does one file, on a worker or on the walk's thread, and hands what it did to the run in
// walk order through step.
void do_file(const run_settings_t& settings, run_state_t& state, OrderedLog::Step& step, file_job_t&& job);
