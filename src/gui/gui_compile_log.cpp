#include "gui_compile_log.h"

void GUICompileLog::output_line(const std::string& text) {
    emit line_written(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}
