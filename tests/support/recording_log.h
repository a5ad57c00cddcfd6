#pragma once

#include "base/compile_log.h"

#include <string>
#include <vector>

// Keeps every line written to the log, for tests to compare whole.
struct RecordingLog : CompileLogBase {
    struct line_t {
        std::string kind, text;  // kind: "" for a message, "error: " or "warning: "
    };
    std::vector<line_t> lines;
    // Each diagnostic's location: "path:line:column", then " < path:line:column" for each include that led there.
    std::vector<std::string> locations;

    void message(const std::string& text) override { lines.push_back({"", text}); }
    void error(const std::string& text) override { lines.push_back({"error: ", text}); }
    void warning(const std::string& text) override { lines.push_back({"warning: ", text}); }
    void diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) override {
        std::string place = to_string(where.at);
        for (const source_position_t& include : where.included_from) place += " < " + to_string(include);
        locations.push_back(place);
        CompileLogBase::diagnostic(severity, text, where);
    }
    // The texts in order; with kinds, each error and warning behind its kind.
    std::vector<std::string> texts(bool kinds = false) const {
        std::vector<std::string> out;
        for (const line_t& line : lines) out.push_back((kinds ? line.kind : "") + line.text);
        return out;
    }
};
