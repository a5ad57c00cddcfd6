#include "base/compile_log.h"

#include <ostream>

void CompileLogBase::output_line(const std::string&) {}
void CompileLogBase::message(const std::string& text) { output_line(text); }
void CompileLogBase::error(const std::string& text) { output_line(text); }
void CompileLogBase::warning(const std::string& text) { output_line(text); }

void StreamLog::output_line(const std::string& text) { out_ << text << '\n' << std::flush; }

void StreamLog::message(const std::string& text) {
    if (!quiet_) output_line(text);
}
