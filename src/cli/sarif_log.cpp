#include "sarif_log.h"

#include "cli_log.h"
#include "platform/file.h"
#include "version.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>

using json = nlohmann::ordered_json;  // keys in the order written, as the schema lists them

std::string artifact_uri(const std::string& path) {
    std::string text = path;
    for (char& c : text)
        if (c == '\\') c = '/';
    const bool drive = text.size() >= 2 && text[1] == ':' && std::isalpha(static_cast<unsigned char>(text[0]));
    std::string uri = text.starts_with('/') ? "file://" : drive ? "file:///" : "";
    static constexpr char digits[] = "0123456789ABCDEF";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 || c == '-' || c == '.' || c == '_' || c == '~' || c == '/' || (drive && c == ':')) {
            uri.push_back(c);
        } else {
            uri.push_back('%');
            uri.push_back(digits[byte >> 4]);
            uri.push_back(digits[byte & 0xF]);
        }
    }
    return uri;
}

namespace {
json physical_location(const source_position_t& position) {
    json location = {{"artifactLocation", {{"uri", artifact_uri(user_path(position))}}}};
    if (position.line > 0)
        location["region"] = {{"startLine", position.line}, {"startColumn", std::max<std::uint64_t>(position.column, 1)}};
    return location;
}
}  // namespace

void SarifLog::error(const std::string& text) {
    add(severity_t::error, text, std::nullopt);
    target_.error(text);
}

void SarifLog::warning(const std::string& text) {
    add(severity_t::warning, text, std::nullopt);
    target_.warning(text);
}

void SarifLog::diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) {
    add(severity, text, where);
    target_.diagnostic(severity, text, where);
}

void SarifLog::add(severity_t severity, const std::string& text, const std::optional<diagnostic_location_t>& where) {
    results_.push_back({severity, text, where});
}

std::string SarifLog::sarif_text(bool successful) const {
    json results = json::array();
    for (const result_t& result : results_) {
        json entry = {{"level", severity_name(result.severity)}, {"message", {{"text", result.text}}}};
        if (result.where) {
            entry["locations"] = json::array({{{"physicalLocation", physical_location(result.where->at)}}});
            json related = json::array();
            int id = 0;
            for (const source_position_t& include : result.where->included_from)
                related.push_back({{"id", id++},
                                   {"physicalLocation", physical_location(include)},
                                   {"message", {{"text", "included from here"}}}});
            if (!related.empty()) entry["relatedLocations"] = related;
        }
        results.push_back(entry);
    }
    const json log = {
        {"$schema", "https://json.schemastore.org/sarif-2.1.0.json"},
        {"version", "2.1.0"},
        {"runs", json::array({{{"tool", {{"driver", {{"name", "Orrinfold"}, {"version", orrinfold::version}}}}},
                               {"invocations", json::array({{{"executionSuccessful", successful}}})},
                               {"results", results}}})}};
    return log.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

void SarifLog::write(const std::string& path, bool successful) const {
    const std::string text = sarif_text(successful);
    OutputFile output(path);
    output.file().write(text.data(), text.size());
    output.commit();
}
