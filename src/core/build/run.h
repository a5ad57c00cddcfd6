#pragma once

#include "base/compile_log.h"
#include "build/convert.h"
#include "build/manifest.h"
#include "build/ordered_log.h"
#include "html/links.h"
#include "ssi/document_cache.h"
#include "ssi/output_origins.h"
#include "ssi/preferences.h"

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class Incremental;
class WorkerPool;

// What a run is given, set up before the walk starts and only read after that, by the walk
// and the workers alike.
struct run_settings_t {
    SSIDirectoryPreferences preferences;  // as the run uses them (roots and readable folders resolved)
    std::string source;                   // the site's folder, which diagnostics name documents under
    std::string prefix;                   // what the log lines' paths start with
    std::string destination_root;           // as given, and fully resolved:
    std::string resolved_destination_root;  // folders below must not lead out of it
    std::vector<std::string> site_folders;  // resolved; links in the site may lead only below these
    std::optional<LinkRewriter> rewriter;   // when pages are renamed

    const LinkRewriter* link_rewriter() const { return rewriter ? &*rewriter : nullptr; }
};

// The walk's own lines since the last file, and what they add to the totals: a step of the
// ordered log of their own, kept open until the next file's step.
struct walk_step_t {
    std::optional<OrderedLog::Step> step;
    run_summary_t counts;
    std::vector<std::pair<std::string, manifest_entry_t>> records;  // folders this run makes first
    std::vector<std::string> pages;
};

// What the walk and the workers share while a run goes. What workers change of the totals is
// changed in walk order, through the ordered log's steps.
struct run_state_t {
    run_state_t(CompileLogBase& target, conversion_control_t* run_control)
        : log(target), ordered(log), control(run_control) {}

    CountingLog log;  // the user's log, in walk order
    OrderedLog ordered;
    conversion_control_t* control = nullptr;
    DocumentCache cache;
    run_summary_t summary;
    std::vector<std::string> written_pages;  // HTML and CSS outputs, from the site's root, for the link check
    std::unordered_map<std::string, OutputOrigins> page_origins;  // of the pages converted, until checked
    Incremental* incremental = nullptr;      // when runs are recorded
    WorkerPool* pool = nullptr;
    std::size_t window = 0;  // how many files may wait for an earlier one in walk order (0: no bound)
    walk_step_t walk;        // the walk's pending step
    // Folders this run made, in walk order (changed by the walk's thread only), and how many of
    // them came before the last of the walk's steps handed on: a run that ends at a failure
    // takes back the later ones, which a run doing one file after the other never made.
    std::vector<std::string> made_folders;
    std::size_t kept_folders = 0;
};
