#include "preview.h"

#include "app_preferences.h"
#include "base/exceptions.h"
#include "folders_tree.h"
#include "gui_compile_log.h"
#include "main_window.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "run/watch.h"
#include "serve/live_reload.h"
#include "serve/site_files.h"
#include "serve/server.h"

#include <QPushButton>
#include <QThread>
#include <QTimer>

namespace {
bool is_folder(const std::string& path) {
    try {
        const std::optional<file_status_t> status = try_stat_path(path);
        return status && status->kind == file_kind_t::directory;
    } catch (const std::runtime_error&) {
        return false;
    }
}

// Logs each rebuild's end as the window's watch does, and tells the browsers what changed.
class PreviewReport : public RunReport {
public:
    PreviewReport(GUICompileLog& log, DiagnosticsLog& diagnostics, LiveReload& live, std::string source,
                  const std::string& destination, std::string url)
        : log_(log), diagnostics_(diagnostics), live_(live), source_(std::move(source)), tracker_(destination),
          url_(std::move(url)) {}

    void run_ended(const run_outcome_t& outcome) override {
        std::vector<page_diagnostic_t> diagnostics = diagnostics_.take();
        if (outcome.end == run_end_t::cancelled) {
            tracker_.missed_run();
            log_.message(outcome.error);
            return;
        }
        if (outcome.end == run_end_t::failed) {
            if (outcome.where)
                log_.diagnostic(severity_t::error, outcome.error, *outcome.where);
            else
                log_.error(outcome.error);
            diagnostics.push_back({severity_t::error, outcome.error, outcome.where});
        }
        live_.publish(tracker_.update(outcome.outputs ? &*outcome.outputs : nullptr), diagnostics);
    }

    void watching() override {
        log_.message("Watching " + source_ + " for changes");
        if (!open_in_browser(url_)) log_.warning("Cannot start a browser for " + url_);
    }

private:
    GUICompileLog& log_;
    DiagnosticsLog& diagnostics_;
    LiveReload& live_;
    std::string source_;
    OutputTracker tracker_;
    std::string url_;
};
}  // namespace

struct Preview::state_t {
    state_t(run_request_t request, GUICompileLog& log)
        : live(request.preferences.rename_pages.empty() ? std::vector<std::string>{}
                                                        : std::vector<std::string>{request.preferences.rename_pages}),
          server({request.destination, "127.0.0.1", 8000, false,
                  directory_index(request.source, request.preferences)},
                 live),
          diagnostics(log) {
        try {
            server.start();
        } catch (const bind_failure& e) {
            ::raise(nonfatal_error(e.what()));
        }
        report = std::make_unique<PreviewReport>(log, diagnostics, live, request.source, request.destination,
                                                 server.url());
        driver = std::make_unique<RunDriver>(std::move(request), diagnostics, *report);
    }

    LiveReload live;
    PreviewServer server;
    DiagnosticsLog diagnostics;
    std::unique_ptr<PreviewReport> report;
    std::unique_ptr<RunDriver> driver;
    watch_outcome_t outcome;
};

Preview::Preview(run_request_t request, GUICompileLog& log, QObject* parent) : QObject(parent) {
    request.quiet_ms = 25;  // a person waits for the browser
    request.preferences.rebuild = SSIDirectoryPreferences::rebuild_t::changed;
    state_ = std::make_unique<state_t>(std::move(request), log);
    log.message("Serving the site at " + state_->server.url());
    thread_ = QThread::create([this] { state_->outcome = state_->driver->watch(); });
    connect(thread_, &QThread::finished, this, [this] {
        if (!state_->driver->control().cancel) emit ended(QString::fromStdString(state_->outcome.failure));
    }, Qt::QueuedConnection);
    thread_->start();
}

Preview::~Preview() {
    state_->driver->control().cancel = true;
    thread_->wait();
    delete thread_;
    state_->server.stop();
}

std::string Preview::url() const { return state_->server.url(); }

// The window's side: the button beside Watch starts a preview of the chosen folders and
// stops it on a second press (or when the window closes, with the session).
QPushButton* MainWindow::make_preview_button(QWidget* parent) {
    auto* button = new QPushButton(QStringLiteral("&Preview"), parent);
    button->setObjectName("preview_button");
    button->setCheckable(true);
    button->setToolTip(QStringLiteral("Convert, serve the site to your browser and reload its pages as the site changes"));
    return button;
}

// On to start a preview when a run could start, and to stop the one going on.
void MainWindow::update_preview_button() {
    const bool folders_ok = source_tree_->has_selection() && is_folder(source_tree_->selected_path()) &&
                            destination_tree_->has_selection() && is_folder(destination_tree_->selected_path());
    preview_button_->setEnabled(preview_ != nullptr || (folders_ok && !is_converting()));
}

void MainWindow::toggle_preview(bool on) {
    if (!on) {
        if (!preview_) return;
        preview_.reset();
        log_->message("Stopped previewing");
        update_buttons();
        return;
    }
    if (is_converting()) return;
    SSIDirectoryPreferences preferences = app_preferences;
    preferences.root_remedy = "tick \"Use the source folder as the virtual root\" in Options, or set a virtual root there";
    preferences.jobs = 0;
    run_request_t request{source_tree_->selected_path(), destination_tree_->selected_path(), preferences};
    preview_ = std::make_unique<Preview>(std::move(request), *log_);
    connect(preview_.get(), &Preview::ended, this, [this](const QString& failure) {
        if (!failure.isEmpty()) log_->error(failure.toStdString());
        // Not from within the session's own signal: unchecking the button ends the session.
        QTimer::singleShot(0, this, [this] { preview_button_->setChecked(false); });
    });
    update_buttons();
}
