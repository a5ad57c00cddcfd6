#include "platform/file_mapping.h"

#include "base/exceptions.h"

#include <cerrno>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Below this size reading beats mapping: a mapping costs several times a small read.
constexpr std::uint64_t read_threshold = 256 * 1024;
}  // namespace

FileMappingBase::FileMappingBase(const std::string& path) : File(path, access_t::read) {
    struct stat st;
    if (::fstat(native_handle(), &st) != 0) throw_os_error(errno, path);
    if (S_ISDIR(st.st_mode)) throw_os_error(EISDIR, path);
    if (!S_ISREG(st.st_mode)) raise(std::runtime_error(path + ": not a regular file"));
    size_ = static_cast<std::uint64_t>(st.st_size);
    identity_ = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

FileMapping::FileMapping(const std::string& path) : FileMappingBase(path) {
    const std::size_t size = length();
    if (size == 0) return;
    if (mapped_size() >= read_threshold) {
        void* view = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, native_handle(), 0);
        if (view == MAP_FAILED) throw_os_error(errno, path);
        ::madvise(view, size, MADV_SEQUENTIAL);
        data_ = static_cast<const unsigned char*>(view);
        mapped_ = true;
        return;
    }
    buffer_ = std::make_unique_for_overwrite<unsigned char[]>(size);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(native_handle(), buffer_.get() + done, size - done, static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw_os_error(errno, path);
        }
        if (n == 0) throw_os_error(EIO, path);  // the file shrank while being read
        done += static_cast<std::size_t>(n);
    }
    data_ = buffer_.get();
}

FileMapping::~FileMapping() {
    if (mapped_) ::munmap(const_cast<unsigned char*>(data_), length());
}
