#include "gui_compile_log.h"

namespace {
QString text_of(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
}  // namespace

void GUICompileLog::output_line(const std::string& text) { emit line_written(text_of(text)); }

void GUICompileLog::diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) {
    std::string location = to_string(where.at);
    for (std::size_t i = 0; i < where.included_from.size(); ++i)
        location += (i == 0 ? ", included from " : ", ") + to_string(where.included_from[i]);
    emit diagnostic_written(text_of(text), severity == severity_t::error, text_of(location), text_of(where.at.file));
}
