#include "json_log.h"

#include "cli_log.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <ostream>
#include <utility>

using json = nlohmann::ordered_json;  // keys in the order written: "event" first

namespace {
// Names are bytes: one that is not UTF-8 is written with U+FFFD for its bad bytes.
std::string dumped(const json& object) { return object.dump(-1, ' ', false, json::error_handler_t::replace); }

json position_object(const source_position_t& position) {
    json object = {{"path", user_path(position)}, {"site_path", position.path}};
    if (position.line > 0) {
        object["line"] = position.line;
        object["column"] = position.column;
    }
    return object;
}

json diagnostic_object(severity_t severity, const std::string& text, const diagnostic_location_t* where, bool fatal) {
    json object = {{"event", "diagnostic"}, {"severity", severity_name(severity)}, {"message", text}};
    if (where != nullptr) {
        object.update(position_object(where->at));
        json chain = json::array();
        for (const source_position_t& include : where->included_from) chain.push_back(position_object(include));
        object["included_from"] = chain;
    }
    object["fatal"] = fatal;
    return object;
}

const char* end_name(run_end_t end) {
    switch (end) {
        case run_end_t::finished: return "finished";
        case run_end_t::cancelled: return "cancelled";
        case run_end_t::failed: return "failed";
    }
    return "failed";
}
}  // namespace

void JsonLog::write(const std::string& line) {
    errno = 0;
    out_ << line << '\n';
    out_.flush();
    if (out_.fail() && write_errno_ == 0) write_errno_ = errno;
}

void JsonLog::output_line(const std::string& text) { write(dumped({{"event", "message"}, {"text", text}})); }

void JsonLog::message(const std::string& text) {
    static const struct { const char* start; const char* end; const char* action; } progress[] = {
        {"Converting ", "...", "convert"}, {"Copying ", "...", "copy"}, {"Removing ", "...", "remove"},
        {"Up to date: ", "", "up-to-date"}};
    for (const auto& kind : progress) {
        const std::string_view start = kind.start, end = kind.end;
        if (text.size() >= start.size() + end.size() && text.starts_with(start) && text.ends_with(end)) {
            const std::string path = text.substr(start.size(), text.size() - start.size() - end.size());
            return write(dumped({{"event", "file"}, {"action", kind.action}, {"path", path}}));
        }
    }
    output_line(text);
}

void JsonLog::unlocated(severity_t severity, const std::string& text) {
    write(dumped(diagnostic_object(severity, text, nullptr, false)));
}

void JsonLog::error(const std::string& text) { unlocated(severity_t::error, text); }
void JsonLog::warning(const std::string& text) { unlocated(severity_t::warning, text); }

void JsonLog::diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) {
    apache_seen_ = apache_seen_ || (dialect_hint_ && is_apache_only(text));
    write(dumped(diagnostic_object(severity, text, &where, false)));
}

void JsonLog::fatal(const std::string& text, const std::optional<diagnostic_location_t>& where) {
    apache_seen_ = apache_seen_ || (dialect_hint_ && is_apache_only(text));
    write(dumped(diagnostic_object(severity_t::error, text, where ? &*where : nullptr, true)));
}

void JsonLog::notice(const std::string& text) { write(dumped({{"event", "notice"}, {"text", text}})); }

void JsonLog::end_of_run(const run_outcome_t& outcome) {
    if (std::exchange(apache_seen_, false)) unlocated(severity_t::note, apache_hint);
    const run_summary_t& s = outcome.summary;
    write(dumped({{"event", "summary"},
                  {"text", summary_},
                  {"documents", s.documents},
                  {"copies", s.copies},
                  {"skipped", s.skipped},
                  {"up_to_date", s.up_to_date},
                  {"removed", s.removed},
                  {"errors", s.errors},
                  {"warnings", s.warnings},
                  {"failed_documents", s.failed_documents},
                  {"failed_copies", s.failed_copies},
                  {"failed", s.failed},
                  {"broken_links", s.broken_links},
                  {"end", end_name(outcome.end)},
                  {"status", outcome.status}}));
}
