#include "ssi/ssi_parser.h"

#include "base/compile_log.h"
#include "base/text.h"
#include "platform/clock.h"

void SSIParser::do_config(SSIParser& parser, const Command& command) {
    if (const std::u16string* format = command.find(u"timefmt")) parser.time_format_ = *format;
    if (const std::u16string* format = command.find(u"sizefmt")) {
        if (*format == u"bytes")
            parser.size_format_ = size_format_t::bytes;
        else if (*format == u"abbrev")
            parser.size_format_ = size_format_t::abbrev;
        else
            parser.report(severity_t::error, "Incorrect size format");
    }
}

std::u16string format_time(std::u16string_view format, const std::optional<std::tm>& time, bool library_composites,
                           std::size_t kept) {
    if (!time) return {};
    return to_wide(format_calendar_time(to_narrow(format), *time, library_composites, kept));
}
