#include "ssi/ssi_parser.h"

#include "platform/clock.h"
#include "platform/file_system.h"
#include "ssi/document_cache.h"

#include <functional>

// Both read the file's status without opening it, so they work on the document being converted.

namespace {
// A target's status: the walk's for the page itself, else looked at once per run (or now,
// without a cache).
file_status_t target_status(SSIParser::State& state, const std::string& path,
                            const std::function<void()>& require_readable) {
    if (state.page_status && path == state.page_path) return *state.page_status;
    require_readable();
    return state.cache != nullptr ? state.cache->status(path) : stat_path(path);
}
}  // namespace

void SSIParser::do_fsize(SSIParser& parser, const Command& command) {
    file_status_t status;
    const resolved_path_t target = resolve_path(parser, command);
    parser.run_located(target, [&] {
        status = target_status(*parser.state_, target.path, [&] { parser.require_readable(target.path); });
        parser.depends_on(target.path, status);
    });
    parser.write(format_size(status.size, parser.size_format_));
}

void SSIParser::do_flastmod(SSIParser& parser, const Command& command) {
    file_status_t status;
    const resolved_path_t target = resolve_path(parser, command);
    parser.run_located(target, [&] {
        status = target_status(*parser.state_, target.path, [&] { parser.require_readable(target.path); });
        parser.depends_on(target.path, status);
    });
    parser.write(format_time(parser.time_format_, local_time(status.modified)));
}
