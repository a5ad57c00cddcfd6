#pragma once

#include "platform/file.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Which file an open document is, so that an include chain can tell a file it already holds.
struct file_identity_t {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const file_identity_t&) const = default;
};

// A document opened for reading, with its size and identity taken once at opening.
class FileMappingBase : public File {
public:
    explicit FileMappingBase(const std::string& path);

    std::uint64_t mapped_size() const noexcept { return size_; }
    const file_identity_t& identity() const noexcept { return identity_; }

private:
    std::uint64_t size_ = 0;
    file_identity_t identity_;
};

// The whole document in memory, read-only. Large documents are mapped; small ones are read,
// which costs far less than setting up a mapping. An empty document gives an empty range.
class FileMapping : public FileMappingBase {
public:
    explicit FileMapping(const std::string& path);
    ~FileMapping();

    const unsigned char* data() const noexcept { return data_; }
    std::size_t length() const noexcept { return static_cast<std::size_t>(mapped_size()); }

private:
    const unsigned char* data_ = nullptr;
    bool mapped_ = false;
    std::unique_ptr<unsigned char[]> buffer_;
};
