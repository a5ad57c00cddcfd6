#include "platform/process.h"

#include "platform/win32.h"

#include <cstdint>
#include <cstdlib>
#include <shellapi.h>

namespace {
UINT previous_code_page = 0;

void restore_code_page() { ::SetConsoleOutputCP(previous_code_page); }
}  // namespace

std::vector<std::string> program_arguments(int argc, char** argv) {
    // The console's code page belongs to the console, which outlives the program: it is put back.
    previous_code_page = ::GetConsoleOutputCP();
    if (previous_code_page != 0 && previous_code_page != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8))
        std::atexit(restore_code_page);
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(win32::narrow(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

std::size_t open_files_limit() noexcept { return SIZE_MAX; }

// ERROR_INVALID_PARAMETER: no process has that id. One that cannot be opened is another user's.
bool process_alive(std::uint64_t id) noexcept {
    if (id == 0 || id > 0xFFFFFFFFu) return false;
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
    if (process == nullptr) return ::GetLastError() != ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    const bool running = !::GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
}

// Consoles of Windows 10 and later read ANSI sequences once asked to; an older one, or a
// redirected stream, counts as no terminal, and gets plain lines.
bool is_terminal(standard_stream_t stream) noexcept {
    const HANDLE handle = ::GetStdHandle(stream == standard_stream_t::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return false;
    constexpr DWORD virtual_terminal = 0x0004;  // ENABLE_VIRTUAL_TERMINAL_PROCESSING
    return (mode & virtual_terminal) != 0 || ::SetConsoleMode(handle, mode | virtual_terminal) != 0;
}

bool open_in_browser(const std::string& url) noexcept {
    try {
        const std::wstring wide = win32::widen(url);
        const auto result = reinterpret_cast<INT_PTR>(
            ::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        return result > 32;  // the documented threshold of success
    } catch (...) {
        return false;
    }
}
