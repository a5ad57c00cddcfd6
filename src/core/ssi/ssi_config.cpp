#include "ssi/ssi_parser.h"

#include "base/compile_log.h"
#include "platform/clock.h"
#include "platform/text.h"

void SSIParser::do_config(SSIParser& parser, const Command& command) {
    if (const auto found = command.arguments.find(u"timefmt"); found != command.arguments.end())
        parser.time_format_ = found->second;
    if (const auto found = command.arguments.find(u"sizefmt"); found != command.arguments.end()) {
        if (found->second == u"bytes")
            parser.size_format_ = size_format_t::bytes;
        else if (found->second == u"abbrev")
            parser.size_format_ = size_format_t::abbrev;
        else
            parser.report(severity_t::error, "Incorrect size format");
    }
}

std::u16string format_time(std::u16string_view format, const std::optional<std::tm>& time, bool library_composites) {
    if (!time) return {};
    return to_wide(format_calendar_time(to_narrow(format), *time, library_composites));
}

std::u16string format_size(std::uint64_t size, SSIParser::size_format_t format) {
    if (format == SSIParser::size_format_t::bytes) return to_decimal_w(size);
    constexpr std::uint64_t kilo = 1024, mega = 1024 * 1024;
    // One decimal, cut off rather than rounded, below 100 of the unit.
    const auto abbreviate = [size](std::uint64_t unit, char16_t suffix) {
        std::u16string text = to_decimal_w(size / unit);
        if (size < 100 * unit) {
            text.push_back(u'.');
            text.push_back(static_cast<char16_t>(u'0' + (size * 10 / unit) % 10));
        }
        text.push_back(suffix);
        return text;
    };
    return size < mega ? abbreviate(kilo, u'k') : abbreviate(mega, u'M');
}
