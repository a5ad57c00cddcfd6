#pragma once

// Whole runs over a TempTree's src, for the tests of rebuilds and of the record they keep.
#include "build/convert.h"
#include "recording_log.h"
#include "ssi/preferences.h"
#include "temp_tree.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using Lines = std::vector<std::string>;

struct run_t {
    Lines log;  // warnings and errors behind their kind
    std::string error;  // what ended the run, empty if nothing did
    run_summary_t summary;
    std::optional<Lines> outputs;  // as the run reports them, sorted
};

// A run that rebuilds what changed, with src as the root and its record in state.
inline SSIDirectoryPreferences rebuilding(const TempTree& t, unsigned jobs = 1, const char* state = "state") {
    SSIDirectoryPreferences preferences = default_preferences();
    preferences.source_as_root = true;
    preferences.jobs = jobs;
    preferences.rebuild = SSIDirectoryPreferences::rebuild_t::changed;
    preferences.state_folder = t.path(state);
    return preferences;
}

// Converts src into destination; with log, the lines go there instead. memory: a watch's
// (see convert_directory).
inline run_t convert(const TempTree& t, const SSIDirectoryPreferences& preferences, const char* destination = "dst",
                     CompileLogBase* log = nullptr, run_memory_t* memory = nullptr) {
    RecordingLog recording;
    conversion_control_t control;
    std::string error;
    try {
        convert_directory("", t.path("src"), t.path(destination), preferences, log != nullptr ? *log : recording,
                          &control, memory);
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (control.outputs) std::sort(control.outputs->begin(), control.outputs->end());
    return {recording.texts(true), error, control.summary, std::move(control.outputs)};
}

inline bool logged(const run_t& run, std::string_view text) {
    return std::any_of(run.log.begin(), run.log.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

// Lines of a run that did something to a file: progress lines and what was removed.
inline Lines work_of(const run_t& run) {
    Lines work;
    for (const std::string& line : run.log)
        if (line.starts_with("Converting ") || line.starts_with("Copying ") || line.starts_with("Removing "))
            work.push_back(line);
    return work;
}

// The sorted names in a folder.
inline std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
