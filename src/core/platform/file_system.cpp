#include "platform/file_system.h"

#include "platform/directory.h"
#include "platform/file.h"
#include "platform/process.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <memory>

// The parts of the file-system helpers that are the same on every system.

bool path_within(const std::string& path, const std::string& folder) {
    if (path == folder) return true;
    const std::string prefix = folder.ends_with('/') ? folder : folder + "/";
    return path.starts_with(prefix);
}

bool within_any(const std::string& path, const std::vector<std::string>& folders) {
    return std::any_of(folders.begin(), folders.end(),
                       [&path](const std::string& folder) { return path_within(path, folder); });
}

std::string read_bytes(File& file, std::uint64_t size) {
    std::string text(static_cast<std::size_t>(size), '\0');
    text.resize(file.read(text.data(), text.size()));
    return text;
}

bool same_bytes(File& a, File& b) {
    constexpr std::size_t chunk = 64 * 1024;
    const auto a_bytes = std::make_unique_for_overwrite<char[]>(chunk);
    const auto b_bytes = std::make_unique_for_overwrite<char[]>(chunk);
    for (;;) {
        const std::size_t n = a.read(a_bytes.get(), chunk);
        if (b.read(b_bytes.get(), chunk) != n || std::memcmp(a_bytes.get(), b_bytes.get(), n) != 0) return false;
        if (n < chunk) return true;
    }
}

namespace {
std::function<void(const std::string&)> write_hook;
std::atomic<bool> write_hooked{false};
}  // namespace

void set_write_hook(std::function<void(const std::string& path)> hook) {
    write_hooked = false;
    write_hook = std::move(hook);
    write_hooked = static_cast<bool>(write_hook);
}

void call_write_hook(const std::string& path) {
    if (write_hooked.load(std::memory_order_acquire)) write_hook(path);
}

bool is_plain_relative_path(std::string_view relative) {
    if (relative.empty() || relative.find('\0') != std::string_view::npos) return false;
#ifdef _WIN32
    if (relative.find_first_of("\\:") != std::string_view::npos) return false;
#endif
    for (std::size_t start = 0;;) {
        const std::size_t slash = relative.find('/', start);
        const std::string_view name = relative.substr(start, slash - start);
        if (name.empty() || name == "." || name == "..") return false;
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

bool is_absolute_path(std::string_view path) {
    if (path.starts_with('/')) return true;
#ifdef _WIN32
    if (path.starts_with("\\\\")) return true;
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    return path.size() >= 3 && letter(path[0]) && path[1] == ':' && (path[2] == '/' || path[2] == '\\');
#else
    return false;
#endif
}

namespace {
constexpr std::string_view temporary_prefix = ".orrinfold-";

// The process id in a temporary file's name, or 0 when name is not one.
std::uint64_t temporary_owner(std::string_view name) {
    if (!name.starts_with(temporary_prefix)) return 0;
    name.remove_prefix(temporary_prefix.size());
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash + 1 == name.size()) return 0;
    std::uint64_t process = 0;
    std::uint64_t counter = 0;
    const char* const end = name.data() + name.size();
    const auto [after_process, process_error] = std::from_chars(name.data(), name.data() + dash, process);
    const auto [after_counter, counter_error] = std::from_chars(name.data() + dash + 1, end, counter);
    if (process_error != std::errc() || after_process != name.data() + dash || counter_error != std::errc() ||
        after_counter != end || name[0] == '+' || name[dash + 1] == '+')
        return 0;
    return process;
}
}  // namespace

bool is_temporary_name(std::string_view name) { return temporary_owner(name) != 0; }

std::string temporary_name(std::uint64_t process, std::uint64_t counter) {
    return std::string(temporary_prefix) + std::to_string(process) + "-" + std::to_string(counter);
}

std::size_t remove_stale_temporaries(const std::string& folder) noexcept {
    std::size_t removed = 0;
    try {
        Directory directory(folder);
        for (std::string name; directory.next(name);) {
            const std::uint64_t owner = temporary_owner(name);
            if (owner == 0 || process_alive(owner)) continue;
            // Only a regular file: a folder or link of that name is the user's.
            const std::string path = folder + "/" + name;
            if (lstat_path(path).kind != file_kind_t::regular) continue;
            remove_file(path);
            ++removed;
        }
    } catch (...) {
        // An unreadable folder: the run reports it where it writes there.
    }
    return removed;
}
