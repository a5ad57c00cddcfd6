#include "platform/clock.h"

// What both platforms' clocks share: the portable part of formatting a time.

std::string expand_composites(std::string_view format) {
    std::string out;
    out.reserve(format.size());
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 == format.size()) {
            out.push_back(format[i]);
            continue;
        }
        const char c = format[++i];
        if (c == 'c')
            out += "%m/%d/%y %H:%M:%S";
        else if (c == 'x')
            out += "%m/%d/%y";
        else if (c == 'X')
            out += "%H:%M:%S";
        else
            out.append({'%', c});
    }
    return out;
}
