#pragma once

#include "base/compile_log.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <mutex>
#include <vector>

class QTimer;

// The conversion log of the desktop program. A run writes from its worker threads; the lines
// wait in a queue and reach the window in batches, in order, a few times a second: a site of
// many thousand files would otherwise redraw the log once a file. A line written on the
// window's own thread goes out at once, after those waiting. Errors and warnings carry their
// location ("path:line:column", then the includes that led there) and the file to open.
class GUICompileLog : public QObject, public CompileLogBase {
    Q_OBJECT
public:
    struct line_t {
        QString text;
        bool diagnostic = false;
        bool is_error = false;
        QString location;
        QString file;
        // For the Problems view: the page the run was converting (the outermost includer, or
        // the document itself), the position in the file to open, and the includes that led
        // there, innermost first.
        QString document;
        QString document_file;
        int line = 0;
        int column = 0;
        QStringList chain;
    };

    explicit GUICompileLog(QObject* parent = nullptr);

    void output_line(const std::string& text) override;
    void error(const std::string& text) override { diagnostic(severity_t::error, text, {}); }
    void warning(const std::string& text) override { diagnostic(severity_t::warning, text, {}); }
    void diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) override;

    // Hands the waiting lines to the window now.
    void flush();

signals:
    void lines_written(const std::vector<GUICompileLog::line_t>& lines);

private:
    void add(line_t line);

    QTimer* timer_;
    std::mutex mutex_;
    std::vector<line_t> waiting_;
    bool flush_due_ = false;
};
