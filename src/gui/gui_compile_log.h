#pragma once

#include "base/compile_log.h"

#include <QObject>
#include <QString>

// The conversion log of the desktop program. A run writes from its worker thread; every
// line travels to the window as a queued signal, in order.
class GUICompileLog : public QObject, public CompileLogBase {
    Q_OBJECT
public:
    using QObject::QObject;
    void output_line(const std::string& text) override;

signals:
    void line_written(const QString& text);
};
