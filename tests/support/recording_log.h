#pragma once

#include "base/compile_log.h"

#include <string>
#include <vector>

// Keeps every line written to the log, with its kind, for tests to compare whole.
class RecordingLog : public CompileLogBase {
public:
    enum class kind_t { message, error, warning };
    struct line_t {
        kind_t kind;
        std::string text;
        bool operator==(const line_t&) const = default;
    };

    void message(const std::string& text) override { lines_.push_back({kind_t::message, text}); }
    void error(const std::string& text) override { lines_.push_back({kind_t::error, text}); }
    void warning(const std::string& text) override { lines_.push_back({kind_t::warning, text}); }
    // A diagnostic is recorded as its line, and its location as "path:line:column" followed by
    // " < path:line:column" for each include that led there.
    void diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) override {
        std::string place = to_string(where.at);
        for (const source_position_t& include : where.included_from) place += " < " + to_string(include);
        locations.push_back(place);
        CompileLogBase::diagnostic(severity, text, where);
    }
    std::vector<std::string> locations;

    // The texts alone, in order.
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const line_t& line : lines_) out.push_back(line.text);
        return out;
    }
    const std::vector<line_t>& lines() const { return lines_; }

private:
    std::vector<line_t> lines_;
};
