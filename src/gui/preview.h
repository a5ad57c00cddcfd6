#pragma once

#include "run/driver.h"

#include <QObject>

#include <memory>
#include <string>

class GUICompileLog;
class QThread;

// The Preview button's session: a watch of the chosen folders (a first build, then what
// changed) on a worker thread, and the preview server of the destination with live reload
// and the error overlay. The browser is opened at the site once the first build is done.
// Destroying it stops both and waits. Borrows the log.
class Preview : public QObject {
    Q_OBJECT
public:
    // Starts serving (throws nonfatal_error when no port is free) and the watch.
    Preview(run_request_t request, GUICompileLog& log, QObject* parent = nullptr);
    ~Preview() override;

    // "http://127.0.0.1:8000/"
    std::string url() const;

signals:
    // The watch ended by itself (the folders could not be watched); failure says why.
    void ended(const QString& failure);

private:
    struct state_t;
    std::unique_ptr<state_t> state_;
    QThread* thread_ = nullptr;
};
