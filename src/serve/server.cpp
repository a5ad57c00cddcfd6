#include "serve/server.h"

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "serve/live_reload.h"
#include "serve/site_files.h"

#include <httplib.h>

#include <functional>

namespace {
constexpr int ports_tried = 50;  // from the port asked for, when any free one will do
constexpr auto heartbeat = std::chrono::seconds(10);

// The injected snippet changes with each start of the server: its validators do too.
std::string server_instance() {
    static const std::string instance = std::to_string(std::hash<std::string>{}(live_reload_client()) % 1000000007u);
    return instance;
}

void not_found(httplib::Response& res) {
    res.status = 404;
    res.set_content("<!DOCTYPE html>\n<title>Not found</title>\n<h1>Not found</h1>\n", "text/html; charset=utf-8");
}

std::string read_whole(const std::string& path) {
    File file(path, File::access_t::read);
    return read_bytes(file, file.size());
}

// Answers 304 when the browser's copy is current (If-None-Match first, as HTTP says);
// sets the validators either way.
bool not_modified(const httplib::Request& req, httplib::Response& res, const std::string& etag,
                  std::int64_t modified) {
    res.set_header("ETag", etag);
    res.set_header("Last-Modified", http_date(modified));
    res.set_header("Cache-Control", "no-cache");
    bool current = false;
    if (req.has_header("If-None-Match")) {
        const std::string wanted = req.get_header_value("If-None-Match");
        current = wanted == "*" || wanted.find(etag) != std::string::npos;
    } else if (req.has_header("If-Modified-Since")) {
        const std::optional<std::int64_t> since = parse_http_date(req.get_header_value("If-Modified-Since"));
        current = since && modified <= *since;
    }
    if (current) res.status = 304;
    return current;
}
}  // namespace

struct PreviewServer::impl_t {
    httplib::Server http;
    std::string root;  // resolved
    std::int64_t started = 0;
    LiveReload* live = nullptr;
    index_names_for_t index_names;

    void serve_file(const httplib::Request& req, httplib::Response& res) const;
};

// A file of the folder, or its 404 or redirect. A page gets the snippet; its validators
// name both the file and the snippet (which changes with each start of the server).
void PreviewServer::impl_t::serve_file(const httplib::Request& req, httplib::Response& res) const {
    const lookup_t found = look_up(root, req.path, index_names);
    if (found.kind == lookup_t::kind_t::redirect) {
        const std::string query = req.target.find('?') != std::string::npos ? req.target.substr(req.target.find('?')) : "";
        res.set_redirect(found.location + query, 301);
        return;
    }
    if (found.kind != lookup_t::kind_t::file) return not_found(res);
    const bool page = is_page_name(found.relative, live->page_extensions());
    const file_status_t& status = found.status;
    std::string etag = "\"" + std::to_string(status.identity.inode) + "-" + std::to_string(status.size) + "-" +
                       std::to_string(status.modified) + "." + std::to_string(status.modified_nanoseconds);
    etag += page ? "-" + server_instance() + "-" + std::to_string(started) + "\"" : "\"";
    const std::int64_t modified = page ? std::max(status.modified, started) : status.modified;
    if (not_modified(req, res, etag, modified)) return;
    std::string content;
    try {
        content = read_whole(found.path);
    } catch (const std::exception&) {
        return not_found(res);  // gone, or replaced by a folder, meanwhile
    }
    const std::string type = content_type(found.relative, page, content);
    if (page) content = inject_before_body_end(content, live_reload_snippet(found.relative));
    res.set_content(std::move(content), type);
}

PreviewServer::PreviewServer(serve_settings_t settings, LiveReload& live)
    : impl_(std::make_unique<impl_t>()), settings_(std::move(settings)), live_(live) {
    impl_->root = real_path(settings_.root);
    impl_->started = system_time();
    impl_->live = &live_;
    impl_->index_names = settings_.index_names;
    httplib::Server& http = impl_->http;
    // Each open page holds a connection for its event stream: leave room for many tabs.
    http.new_task_queue = [] { return new httplib::ThreadPool(64); };
    http.set_keep_alive_max_count(100);
    http.set_keep_alive_timeout(2);  // idle connections hold up a stop no longer than this
    http.Get(live_client_path, [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-cache");
        res.set_content(live_reload_client(), "text/javascript; charset=utf-8");
    });
    http.Get(live_events_path, [this](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-cache");
        auto seen = std::make_shared<std::uint64_t>(0);
        res.set_chunked_content_provider("text/event-stream", [this, seen](std::size_t, httplib::DataSink& sink) {
            const auto event = live_.next(*seen, heartbeat);
            if (live_.stopped()) return false;
            std::string chunk = ": still here\n\n";
            if (event) {
                *seen = event->first;
                chunk = "id: " + std::to_string(event->first) + "\ndata: " + event->second + "\n\n";
            }
            return sink.write(chunk.data(), chunk.size());
        });
    });
    http.Get(".*", [this](const httplib::Request& req, httplib::Response& res) { impl_->serve_file(req, res); });
}

PreviewServer::~PreviewServer() { stop(); }

void PreviewServer::start() {
    httplib::Server& http = impl_->http;
    // One server per port: another one listening there makes this one look further.
    http.set_socket_options([](socket_t sock) {
        int yes = 1;
#ifdef _WIN32
        ::setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
#else
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
    });
    const int last = settings_.exact_port ? settings_.port : std::min(settings_.port + ports_tried - 1, 65535);
    for (int port = settings_.port; port <= last; ++port) {
        if (http.bind_to_port(settings_.bind, port)) {
            port_ = port;
            break;
        }
    }
    if (port_ == 0) {
        const std::string where = settings_.bind + ":" + std::to_string(settings_.port);
        throw bind_failure(settings_.exact_port
                               ? "Cannot listen on " + where + ": the port is taken or the address is not this machine's"
                               : "Cannot listen on " + where + " nor on the " + std::to_string(last - settings_.port) +
                                     " ports after it");
    }
    thread_ = std::thread([&http] { http.listen_after_bind(); });
    // A stop must find it listening, or it would not end it.
    for (int waited = 0; !http.is_running() && waited < 2000; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void PreviewServer::stop() {
    live_.stop();
    impl_->http.stop();
    if (thread_.joinable()) thread_.join();
}

std::string PreviewServer::url() const {
    const bool v6 = settings_.bind.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + settings_.bind + "]" : settings_.bind) + ":" + std::to_string(port_) + "/";
}

bool is_loopback_address(const std::string& addr) {
    return addr == "localhost" || addr == "::1" || addr.starts_with("127.");
}
