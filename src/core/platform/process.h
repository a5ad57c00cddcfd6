#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The program's arguments after its name, as UTF-8. On Windows they are read from the wide
// command line, so that every file name arrives whole (argv holds the ANSI code page's
// version), and the console is set to show the program's UTF-8 output.
std::vector<std::string> program_arguments(int argc, char** argv);

// Whether a process of this id is running (or may be: one that cannot be asked counts as alive).
bool process_alive(std::uint64_t id) noexcept;

// How many files the process may have open at once; SIZE_MAX where the system sets no such
// limit (Windows' handles).
std::size_t open_files_limit() noexcept;

// The program's standard streams, for asking what they are connected to.
enum class standard_stream_t { output, error };

// Whether the stream is a terminal that shows colours and a line redrawn in place (a POSIX
// terminal; on Windows a console, switched here to read ANSI sequences, else false).
bool is_terminal(standard_stream_t stream) noexcept;

// Opens url in the user's browser without waiting for it: $BROWSER when set (run by the
// shell, with the URL as its last word), else the desktop's opener (xdg-open; on Windows the
// shell's handler for the URL). False when the opener could not be started.
bool open_in_browser(const std::string& url) noexcept;
