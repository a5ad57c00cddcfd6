#pragma once

#include "base/compile_log.h"

#include <QObject>
#include <QString>

// The conversion log of the desktop program. A run writes from its worker thread; every
// line travels to the window as a queued signal, in order. Errors and warnings travel with
// their location ("path:line:column", then the includes that led there) and the file to open.
class GUICompileLog : public QObject, public CompileLogBase {
    Q_OBJECT
public:
    using QObject::QObject;
    void output_line(const std::string& text) override;
    void error(const std::string& text) override { diagnostic(severity_t::error, text, {}); }
    void warning(const std::string& text) override { diagnostic(severity_t::warning, text, {}); }
    void diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) override;

signals:
    void line_written(const QString& text);
    void diagnostic_written(const QString& text, bool is_error, const QString& location, const QString& file);
};
