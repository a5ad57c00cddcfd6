#include "platform/file_system.h"

#include "platform/file.h"

#include <algorithm>
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
