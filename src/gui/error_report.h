#pragma once

#include <exception>
#include <string>

// The report shown when an error reaches the top of the program, after which it ends:
// the error's text (or a fixed text for a fault of the program itself), then the source
// file and line of the last throw.
std::string top_level_report(std::exception_ptr error);

// Shows the top-level report in the error box.
void report_exception(std::exception_ptr error);

// A run's error as the desktop program shows it: the path it starts with, if any, without
// doubled slashes or "." steps ("a/b//inc/h.txt: ..." reads "a/b/inc/h.txt: ...").
std::string tidy_failure(const std::string& text);
