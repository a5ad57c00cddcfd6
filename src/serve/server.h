#pragma once

#include "serve/site_files.h"

#include <memory>
#include <string>
#include <thread>

class LiveReload;

// Where a preview is served from and how it listens.
struct serve_settings_t {
    std::string root;                 // the folder served (must exist)
    std::string bind = "127.0.0.1";   // the address listened on
    int port = 8000;                  // the port asked for
    bool exact_port = false;          // false: the next free one after port will do
    // The index pages of a folder (its path below root), as Apache's DirectoryIndex names
    // them; empty, or none given, for the usual ones.
    index_names_for_t index_names;
};

// The port that was asked for (or every one tried) is taken, or the address cannot be bound.
class bind_failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Serves a folder over HTTP for a browser: files with their types, validators (304) and
// ranges, folders by their index, pages with the live-reload snippet added on the way out,
// and live's event stream. Nothing outside the folder is ever sent.
class PreviewServer {
public:
    PreviewServer(serve_settings_t settings, LiveReload& live);
    PreviewServer(const PreviewServer&) = delete;
    PreviewServer& operator=(const PreviewServer&) = delete;
    ~PreviewServer();  // stops

    // Binds the port (throws bind_failure naming it) and serves on a thread of its own.
    void start();
    // Ends every stream and stops serving; waits for the serving thread.
    void stop();

    int port() const noexcept { return port_; }
    // "http://127.0.0.1:8000/"
    std::string url() const;

private:
    struct impl_t;
    std::unique_ptr<impl_t> impl_;
    serve_settings_t settings_;
    LiveReload& live_;
    int port_ = 0;
    std::thread thread_;
};

// Whether addr names this machine only (127.x.y.z, ::1, localhost).
bool is_loopback_address(const std::string& addr);
