#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Owns one open file descriptor for as long as the object lives.
class File {
public:
    enum class access_t { read, write };

    // read: the file must exist. write: created when missing, truncated when present
    // (mode 0666 less the umask).
    File(const std::string& path, access_t access);
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    // Reads up to size bytes; fewer only at the end of the file, 0 there.
    std::size_t read(void* data, std::size_t size);
    // Moves the position for the next read.
    void seek(std::uint64_t offset);
    // Writes every byte, looping on short writes; a failure throws and names the file.
    void write(const void* data, std::size_t size);
    std::uint64_t size() const;
    // Closes now so that a failing close can be reported; the destructor cannot throw.
    void close();

    const std::string& path() const noexcept { return path_; }
    // For the platform layer's own system calls.
    int native_handle() const noexcept { return fd_; }

private:
    std::string path_;
    int fd_ = -1;
};
