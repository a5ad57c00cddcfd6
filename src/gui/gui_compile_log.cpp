#include "gui_compile_log.h"

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace {
QString text_of(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// How long a line from a run may wait for the ones after it.
constexpr int batch_ms = 100;
}  // namespace

GUICompileLog::GUICompileLog(QObject* parent) : QObject(parent), timer_(new QTimer(this)) {
    timer_->setSingleShot(true);
    timer_->setInterval(batch_ms);
    connect(timer_, &QTimer::timeout, this, &GUICompileLog::flush);
}

// Names in lines are escaped as in the command line's log (printable), so one line stays one.
void GUICompileLog::output_line(const std::string& text) {
    line_t line;
    line.text = text_of(printable(text));
    add(std::move(line));
}

void GUICompileLog::diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) {
    std::string location = to_string(where.at);
    for (std::size_t i = 0; i < where.included_from.size(); ++i)
        location += (i == 0 ? ", included from " : ", ") + to_string(where.included_from[i]);
    line_t line;
    line.text = text_of(printable(text));
    line.diagnostic = true;
    line.is_error = severity == severity_t::error;  // any other severity shows as a warning
    line.location = text_of(location);
    line.file = text_of(where.at.file);
    const source_position_t& page = where.included_from.empty() ? where.at : where.included_from.back();
    line.document = text_of(page.path);
    line.document_file = text_of(page.file);
    line.line = static_cast<int>(std::min<std::uint64_t>(where.at.line, INT_MAX));
    line.column = static_cast<int>(std::min<std::uint64_t>(where.at.column, INT_MAX));
    for (const source_position_t& step : where.included_from) line.chain << text_of(to_string(step));
    add(std::move(line));
}

void GUICompileLog::add(line_t line) {
    const bool own_thread = QThread::currentThread() == thread();
    {
        const std::lock_guard lock(mutex_);
        waiting_.push_back(std::move(line));
        if (!own_thread && !flush_due_) {
            flush_due_ = true;
            QMetaObject::invokeMethod(
                timer_, [timer = timer_] { timer->start(); }, Qt::QueuedConnection);
        }
    }
    if (own_thread) flush();
}

void GUICompileLog::flush() {
    std::vector<line_t> lines;
    {
        const std::lock_guard lock(mutex_);
        lines.swap(waiting_);
        flush_due_ = false;
    }
    if (!lines.empty()) emit lines_written(lines);
}
