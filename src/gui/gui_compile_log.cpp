#include "gui_compile_log.h"

#include <QThread>
#include <QTimer>

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
void GUICompileLog::output_line(const std::string& text) { add({text_of(printable(text)), false, false, {}, {}}); }

void GUICompileLog::diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) {
    std::string location = to_string(where.at);
    for (std::size_t i = 0; i < where.included_from.size(); ++i)
        location += (i == 0 ? ", included from " : ", ") + to_string(where.included_from[i]);
    add({text_of(printable(text)), true, severity == severity_t::error, text_of(location), text_of(where.at.file)});
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
