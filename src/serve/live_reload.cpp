#include "serve/live_reload.h"

#include "serve/site_files.h"

#include <nlohmann/json.hpp>

void DiagnosticsLog::error(const std::string& text) {
    keep({severity_t::error, text, std::nullopt});
    target_.error(text);
}

void DiagnosticsLog::warning(const std::string& text) {
    keep({severity_t::warning, text, std::nullopt});
    target_.warning(text);
}

void DiagnosticsLog::diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) {
    keep({severity, text, where});
    target_.diagnostic(severity, text, where);
}

void DiagnosticsLog::keep(page_diagnostic_t diagnostic) {
    const std::lock_guard lock(mutex_);
    kept_.push_back(std::move(diagnostic));
}

std::vector<page_diagnostic_t> DiagnosticsLog::take() {
    const std::lock_guard lock(mutex_);
    return std::exchange(kept_, {});
}

namespace {
nlohmann::json position_json(const source_position_t& position) {
    return {{"at", to_string(position)}, {"file", position.file.empty() ? position.path : position.file}};
}

nlohmann::json diagnostics_json(const std::vector<page_diagnostic_t>& diagnostics) {
    nlohmann::json list = nlohmann::json::array();
    for (const page_diagnostic_t& diagnostic : diagnostics) {
        nlohmann::json item{{"severity", diagnostic.severity == severity_t::error ? "error" : "warning"},
                            {"message", diagnostic.message}};
        if (diagnostic.where) {
            item["location"] = position_json(diagnostic.where->at);
            nlohmann::json chain = nlohmann::json::array();
            for (const source_position_t& include : diagnostic.where->included_from) chain.push_back(position_json(include));
            item["included_from"] = chain;
        }
        list.push_back(item);
    }
    return list;
}

// Text that may hold any bytes, as JSON takes it: invalid UTF-8 is replaced.
std::string dump(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
}  // namespace

LiveReload::LiveReload(std::vector<std::string> page_extensions) : page_extensions_(std::move(page_extensions)) {
    event_ = R"({"pages":[],"styles":[],"others":[],"diagnostics":[]})";
}

void LiveReload::publish(const output_changes_t& changes, const std::vector<page_diagnostic_t>& diagnostics) {
    nlohmann::json pages = nlohmann::json::array(), styles = nlohmann::json::array(), others = nlohmann::json::array();
    for (const auto* list : {&changes.written, &changes.removed}) {
        for (const std::string& relative : *list) {
            const std::string url = "/" + relative;
            if (is_page_name(relative, page_extensions_))
                pages.push_back(url);
            else if (relative.ends_with(".css"))
                styles.push_back(url);
            else
                others.push_back(url);
        }
    }
    const nlohmann::json event{
        {"pages", pages}, {"styles", styles}, {"others", others}, {"diagnostics", diagnostics_json(diagnostics)}};
    {
        const std::lock_guard lock(mutex_);
        ++generation_;
        event_ = dump(event);
    }
    changed_.notify_all();
}

std::optional<std::pair<std::uint64_t, std::string>> LiveReload::next(std::uint64_t seen,
                                                                       std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (seen == 0 && !stopped_) {
        // A browser that connects learns the current diagnostics, not what changed before it came.
        nlohmann::json current = nlohmann::json::parse(event_);
        current["pages"] = current["styles"] = current["others"] = nlohmann::json::array();
        return std::pair{generation_, dump(current)};
    }
    changed_.wait_for(lock, timeout, [&] { return stopped_ || generation_ > seen; });
    if (stopped_ || generation_ <= seen) return std::nullopt;
    return std::pair{generation_, event_};
}

void LiveReload::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

bool LiveReload::stopped() {
    const std::lock_guard lock(mutex_);
    return stopped_;
}

std::string live_reload_snippet(const std::string& relative) {
    return "<script src=\"" + std::string(live_client_path) + "\" data-page=\"/" +
           encode_url_path(relative) + "\"></script>";
}
