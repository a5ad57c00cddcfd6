// The window's runs: starting one, following its progress, and showing how it ended.
#include "main_window.h"

#include "app_preferences.h"
#include "site_settings.h"
#include "base/exceptions.h"
#include "conversion_run.h"
#include "error_report.h"
#include "problems_view.h"
#include "settings.h"
#include "folders_tree.h"
#include "gui_compile_log.h"
#include "log_list.h"
#include "platform/file_system.h"
#include "user_prompts.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QThread>
#include <QTimer>

#include <climits>

namespace {
QString text(const std::string& bytes) { return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())); }

// Ends the error for a "/" path read without a virtual root; a failure that holds it gets the retry.
const std::string root_remedy =
    "tick \"Use the source folder as the virtual root\" in Options, or set a virtual root there";

QString counted(int n, const char* one, const char* many) {
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}
}  // namespace

void MainWindow::convert(bool watch) {
    if (is_converting()) return;
    const std::string source = source_tree_->selected_path();
    const std::string destination = destination_tree_->selected_path();
    SSIDirectoryPreferences preferences = site_settings::for_source(source, app_preferences);
    preferences.root_remedy = root_remedy;
    preferences.jobs = 0;  // one file per processor at once; the log still reads in walk order
    preferences.report_request = true;  // the log lists where pages depend on the request
    if (watch) preferences.rebuild = SSIDirectoryPreferences::rebuild_t::changed;
    if (!preferences.source_as_root && !preferences.virtual_root.empty() &&
        !confirm_root(source, preferences.virtual_root))
        return;
    log_list_->clear_lines();
    problems_->clear_problems();
    update_status();
    remember_folders();

    run_request_t request{source, destination, preferences};
    request.count_files = true;  // for the progress bar, beside the run rather than before it
    run_ = std::make_unique<ConversionRun>(std::move(request), watch, *log_);
    connect(run_->thread(), &QThread::finished, this, &MainWindow::finish_run, Qt::QueuedConnection);
    progress_bar_->setRange(0, 0);
    progress_bar_->setTextVisible(true);
    progress_timer_->start();
    cancel_button_->setEnabled(true);
    update_buttons();
    run_->start();
}

void MainWindow::cancel() {
    if (run_) run_->cancel();
}

void MainWindow::stop_run() {
    if (!run_) return;
    run_->cancel();
    disconnect(run_->thread(), &QThread::finished, this, &MainWindow::finish_run);
    run_->wait();
    finish_run();
}

void MainWindow::update_progress() {
    if (!run_) return;
    const auto found = static_cast<int>(std::min<std::uint64_t>(run_->files_found(), INT_MAX));
    const auto done = static_cast<int>(std::min<std::uint64_t>(run_->files_done(), INT_MAX));
    if (found > 0) progress_bar_->setRange(0, found);
    progress_bar_->setValue(std::min(done, found));
}

// After a run that failed or was refused, the bar shows nothing rather than a count that stopped.
void MainWindow::reset_progress() {
    progress_bar_->setRange(0, 1);
    progress_bar_->setValue(0);
    progress_bar_->setTextVisible(false);
}

void MainWindow::finish_run() {
    if (!run_) return;  // a close during the run has already finished it
    run_->wait();
    update_progress();
    progress_timer_->stop();
    const std::unique_ptr<ConversionRun> run = std::move(run_);
    if (progress_bar_->maximum() == 0) progress_bar_->setRange(0, 1);
    cancel_button_->setEnabled(false);
    {
        const QSignalBlocker blocker(watch_button_);
        watch_button_->setChecked(false);
    }
    guarded([this, &run] {
        reload_trees();  // shows what the run created
        update_buttons();
        log_->flush();  // the run's last lines, before anything said here
        const std::string failure = run->failure();
        if (run->finished_well()) progress_bar_->setValue(progress_bar_->maximum());
        if (run->watching() && failure.empty()) log_->message("Stopped watching");
        if (run->watching() && !failure.empty()) log_->error(failure);  // each run has logged its own end
        show_run_end(*run);
        if (!failure.empty()) {
            reset_progress();
            report_failure(failure, run->watching());
        }
    });
    emit conversion_finished();
}

bool MainWindow::confirm_root(const std::string& source, const std::string& root) {
    try {
        if (path_within(real_path(source), real_path(root))) return true;
    } catch (const std::runtime_error&) {
        // A root that cannot be resolved holds nothing: asked about below.
    }
    return user_prompts::confirm(this, QStringLiteral("Virtual root"),
                                 QStringLiteral("The folder %1 does not lie inside the virtual root %2, so paths "
                                                "starting with \"/\" will be read from %2 (set in Options).\n\n"
                                                "Convert anyway?")
                                     .arg(text(source), text(root)));
}

void MainWindow::show_run_end(const ConversionRun& run) {
    const int errors = problems_->errors();
    const int warnings = problems_->warnings();
    QString counts;
    if (errors > 0)
        counts = counted(errors, "error", "errors") + QStringLiteral(" in ") +
                 counted(problems_->documents_with_errors(), "document", "documents");
    if (warnings > 0) counts += (counts.isEmpty() ? QString() : QStringLiteral(", ")) + counted(warnings, "warning", "warnings");
    QString end = QStringLiteral("Finished");
    if (run.end() == run_end_t::failed) end = QStringLiteral("Stopped by an error");
    if (run.end() == run_end_t::cancelled) end = QStringLiteral("Cancelled");
    if (run.watching() && run.failure().empty()) end = QStringLiteral("Stopped watching");
    const bool finished = end == QLatin1String("Finished");
    status_label_->setText(counts.isEmpty() ? end : end + (finished ? QStringLiteral(" with ") : QStringLiteral("; ")) + counts);
}

void MainWindow::report_failure(const std::string& failure, bool watch) {
    const std::string shown = tidy_failure(failure);
    const bool rootless = !app_preferences.source_as_root && app_preferences.virtual_root.empty() &&
                          failure.find(root_remedy) != std::string::npos;
    if (!rootless) ::raise(nonfatal_error(shown));
    if (!user_prompts::offer_remedy(text(shown),
                                    QStringLiteral("Use the source folder as the virtual root and convert again")))
        return;
    // The user's choice from now on, as if ticked in Options; the core's default is untouched.
    app_preferences.source_as_root = true;
    QSettings store = settings::open();
    settings::save_current(store, app_preferences);
    show_settings();
    convert(watch);
}
