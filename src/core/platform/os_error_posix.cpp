#include "base/exceptions.h"

#include <cstring>
#include <string>

std::string system_error_text(int code) {
    char buffer[256];
    // The GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : "Unknown error " + std::to_string(code);
}
