#include "ssi/ssi_parser.h"

#include "platform/clock.h"
#include "platform/file_system.h"
#include "ssi/document_cache.h"

// Both read the file's status without opening it, so they work on the document being converted.

void SSIParser::do_fsize(SSIParser& parser, const Command& command) {
    file_status_t status;
    const resolved_path_t target = resolve_path(parser, command);
    parser.run_located(target, [&] {
        parser.require_readable(target.path);
        status = parser.state_->cache != nullptr ? parser.state_->cache->status(target.path) : stat_path(target.path);
        parser.depends_on(target.path, status);
    });
    parser.write(format_size(status.size, parser.size_format_));
}

void SSIParser::do_flastmod(SSIParser& parser, const Command& command) {
    file_status_t status;
    const resolved_path_t target = resolve_path(parser, command);
    parser.run_located(target, [&] {
        parser.require_readable(target.path);
        status = parser.state_->cache != nullptr ? parser.state_->cache->status(target.path) : stat_path(target.path);
        parser.depends_on(target.path, status);
    });
    parser.write(format_time(parser.time_format_, local_time(status.modified)));
}
