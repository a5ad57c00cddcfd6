#pragma once

#include "base/compile_log.h"
#include "base/location.h"
#include "run/watch.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One error or warning of a rebuild, as the page overlay lists it.
struct page_diagnostic_t {
    severity_t severity = severity_t::error;
    std::string message;
    std::optional<diagnostic_location_t> where;
};

// Passes every line on to the terminal's log and keeps the diagnostics of the run going on,
// for the overlay. Lines may come from several threads.
class DiagnosticsLog : public ForwardingLog {
public:
    explicit DiagnosticsLog(CompileLogBase& target) : ForwardingLog(target) {}

    void error(const std::string& text) override;
    void warning(const std::string& text) override;
    void diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) override;

    // The diagnostics since the last call.
    std::vector<page_diagnostic_t> take();

private:
    void keep(page_diagnostic_t diagnostic);

    std::mutex mutex_;
    std::vector<page_diagnostic_t> kept_;
};

// What the browsers of a preview are told: after each rebuild, which served files changed
// (pages to reload, style sheets to swap, other files) and the rebuild's diagnostics. Each
// event has a number; a browser waits for one newer than the last it saw.
class LiveReload {
public:
    // page_extensions: extensions besides the usual ones that are pages (see is_page_name).
    explicit LiveReload(std::vector<std::string> page_extensions = {});

    // A rebuild ended with these output changes and diagnostics.
    void publish(const output_changes_t& changes, const std::vector<page_diagnostic_t>& diagnostics);
    // The event to send a browser that saw event seen (0: none yet): the current one at once when
    // seen is older (a browser that connects learns the current diagnostics), else the next
    // one, waiting up to timeout; nullopt after the timeout or once stopped.
    std::optional<std::pair<std::uint64_t, std::string>> next(std::uint64_t seen, std::chrono::milliseconds timeout);
    // Wakes every waiting browser's stream for good.
    void stop();
    bool stopped();

    const std::vector<std::string>& page_extensions() const { return page_extensions_; }

private:
    std::vector<std::string> page_extensions_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t generation_ = 1;
    std::string event_;  // the JSON of the current event
    std::string diagnostics_json_ = "[]";
    bool stopped_ = false;
};

// The script every served page gets before its </body>: it loads the client below, which
// knows the page as relative (its path below the served folder).
std::string live_reload_snippet(const std::string& relative);
// Where the client and the event stream are served: names no site of ours can shadow.
inline constexpr const char* live_client_path = "/__orrinfold/live.js";
inline constexpr const char* live_events_path = "/__orrinfold/events";
// The client: follows the event stream, reloads the page when its output changed (swaps the
// style sheets that changed), and shows the diagnostics over the page in an open shadow root.
const std::string& live_reload_client();
