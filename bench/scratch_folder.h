#pragma once

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

// A fresh folder under /dev/shm (or the temporary folder where there is none), removed at
// exit. On tmpfs the figures measure the program rather than the disk.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix) {
        const std::string parents[] = {"/dev/shm", std::filesystem::temp_directory_path().string()};
        for (const std::string& parent : parents) {
            std::string pattern = parent + "/" + prefix + "-XXXXXX";
            if (::mkdtemp(pattern.data()) != nullptr) {
                path_ = pattern;
                return;
            }
        }
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    std::string path(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};
