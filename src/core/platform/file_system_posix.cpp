#include "platform/file_system.h"
#include "platform/posix_status.h"

#include "base/exceptions.h"
#include "platform/file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <fcntl.h>
#include <pwd.h>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>
#include <memory>
#include <stdexcept>
#include <vector>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

file_status_t to_status(const struct stat& st) {
    file_status_t status;
    status.kind = S_ISREG(st.st_mode)   ? file_kind_t::regular
                  : S_ISDIR(st.st_mode) ? file_kind_t::directory
                  : S_ISLNK(st.st_mode) ? file_kind_t::link
                                        : file_kind_t::other;
    status.size = static_cast<std::uint64_t>(st.st_size);
    status.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    status.modified_nanoseconds = st.st_mtim.tv_nsec;
    status.permissions = static_cast<unsigned>(st.st_mode & 07777);
    status.identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return status;
}

namespace {
constexpr std::size_t copy_chunk = 1 << 16;

// Pairs of file systems (source device, destination device) between which copy_file_range
// failed once: copies between them go straight to sendfile, rather than failing once per file.
std::mutex refused_mutex;
std::vector<std::pair<dev_t, dev_t>> refused_pairs;
std::atomic<bool> any_refused{false};

dev_t device_of(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 ? st.st_dev : 0;
}

bool range_refused(dev_t from, int out) {
    if (!any_refused.load(std::memory_order_acquire)) return false;
    const dev_t to = device_of(out);
    const std::lock_guard lock(refused_mutex);
    return std::find(refused_pairs.begin(), refused_pairs.end(), std::pair(from, to)) != refused_pairs.end();
}

void refuse_range(dev_t from, int out) {
    const dev_t to = device_of(out);
    const std::lock_guard lock(refused_mutex);
    if (std::find(refused_pairs.begin(), refused_pairs.end(), std::pair(from, to)) == refused_pairs.end())
        refused_pairs.emplace_back(from, to);
    any_refused.store(true, std::memory_order_release);
}

// Moves size bytes from in (on device from) to out inside the kernel; false when this pair of
// files cannot. Stopping at the size seen at opening saves the call that would only report the end.
bool copy_in_kernel(int in, int out, dev_t from, std::uint64_t size, const std::string& path) {
    bool use_sendfile = range_refused(from, out);
    for (std::uint64_t done = 0; done < size;) {
        const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, 1 << 30));
        const ssize_t n =
            use_sendfile ? ::sendfile(out, in, nullptr, chunk) : ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
        if (n > 0) {
            done += static_cast<std::uint64_t>(n);
            continue;
        }
        if (n == 0) break;  // the file shrank meanwhile: what there was is copied
        if (errno == EINTR) continue;
        if (done == 0 && !use_sendfile &&
            (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
            use_sendfile = true;
            refuse_range(from, out);
            continue;
        }
        if (done == 0 && use_sendfile && (errno == EINVAL || errno == ENOSYS)) return false;
        throw_os_error(errno, path);
    }
    return true;
}

// Writes size bytes at offset, looping on short writes.
void write_at(int out, const char* data, std::size_t size, off_t offset, const std::string& path) {
    while (size > 0) {
        const ssize_t n = ::pwrite(out, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw_os_error(errno, path);
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
}

// Copies the bytes [from, to) of in to the same offsets of out, inside the kernel where it can.
void copy_range(int in, int out, off_t from, off_t to, const std::string& path) {
    std::unique_ptr<char[]> buffer;  // once the kernel cannot copy between these files
    while (from < to) {
        const auto chunk = static_cast<std::size_t>(std::min<off_t>(to - from, buffer ? copy_chunk : 1 << 30));
        ssize_t n;
        if (!buffer) {
            off_t in_offset = from, out_offset = from;
            n = ::copy_file_range(in, &in_offset, out, &out_offset, chunk, 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                buffer = std::make_unique_for_overwrite<char[]>(copy_chunk);
                continue;
            }
        } else {
            n = ::pread(in, buffer.get(), chunk, from);
            if (n > 0) write_at(out, buffer.get(), static_cast<std::size_t>(n), from, path);
        }
        if (n == 0) return;  // the file shrank meanwhile
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw_os_error(errno, path);
        from += n;
    }
}

// Copies a file with holes the way cp does: only the ranges that hold data (SEEK_DATA,
// SEEK_HOLE) are written, and the output is then given the source's size, so its holes stay
// holes instead of filling the disk with zeros. False when the file has no holes to keep or
// its file system cannot tell where they are; nothing is written then.
bool copy_sparse(int in, int out, const struct stat& st, const std::string& path) {
    if (static_cast<std::uint64_t>(st.st_blocks) * 512 >= static_cast<std::uint64_t>(st.st_size)) return false;
    off_t data = ::lseek(in, 0, SEEK_DATA);
    if (data < 0 && errno != ENXIO) return false;  // EINVAL: no hole reporting here
    while (data >= 0 && data < st.st_size) {
        const off_t hole = ::lseek(in, data, SEEK_HOLE);
        if (hole < 0) throw_os_error(errno, path);
        copy_range(in, out, data, std::min(hole, st.st_size), path);
        data = ::lseek(in, hole, SEEK_DATA);
        if (data < 0 && errno != ENXIO) throw_os_error(errno, path);
    }
    if (::ftruncate(out, st.st_size) != 0) throw_os_error(errno, path);
    return true;
}
}  // namespace

file_status_t stat_file(const File& file) {
    struct stat st;
    if (::fstat(file.native_handle(), &st) != 0) throw_os_error(errno, file.path());
    return to_status(st);
}

void require_regular_file(const file_status_t& status, const std::string& path) {
    if (status.kind == file_kind_t::directory) throw_os_error(EISDIR, path);
    if (status.kind != file_kind_t::regular) raise(std::runtime_error(path + ": not a regular file"));
}

file_status_t stat_path(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) throw_os_error(errno, path);
    return to_status(st);
}

file_status_t lstat_path(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) throw_os_error(errno, path);
    return to_status(st);
}

std::optional<file_status_t> try_stat_path(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return to_status(st);
    if (errno == ENOENT) return std::nullopt;
    throw_os_error(errno, path);
}

std::string owner_name(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return "<unknown>";
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (::getpwuid_r(st.st_uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return "<unknown>";
    return found->pw_name;
}

bool make_directory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    if (errno != EEXIST) throw_os_error(errno, path);
    return false;
}

void make_directories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        make_directory(path.substr(0, slash));
    make_directory(path);
}

void write_copy(OutputFile& output, std::string_view content, const file_status_t& status) {
    const std::string& destination = output.file().path();
    output.file().write(content.data(), content.size());
    output.set_permissions(status.permissions);
    const struct timespec modified = {static_cast<time_t>(status.modified), status.modified_nanoseconds};
    const struct timespec times[2] = {modified, modified};
    if (::futimens(output.file().native_handle(), times) != 0) throw_os_error(errno, destination);
}

void copy_file(const std::string& source, const std::string& destination) {
    OutputFile output(destination);
    copy_file(source, output);
    output.commit();
}

void copy_file(const std::string& source, OutputFile& output) {
    const std::string& destination = output.file().path();
    File in(source, File::access_t::read);
    struct stat st;
    if (::fstat(in.native_handle(), &st) != 0) throw_os_error(errno, source);
    if (!S_ISREG(st.st_mode)) throw_os_error(S_ISDIR(st.st_mode) ? EISDIR : EINVAL, source);

    File& out = output.file();
    if (!copy_sparse(in.native_handle(), out.native_handle(), st, destination) &&
        !copy_in_kernel(in.native_handle(), out.native_handle(), st.st_dev, static_cast<std::uint64_t>(st.st_size),
                        destination)) {
        auto buffer = std::make_unique_for_overwrite<char[]>(copy_chunk);
        for (;;) {
            const ssize_t n = ::read(in.native_handle(), buffer.get(), copy_chunk);
            if (n < 0) {
                if (errno == EINTR) continue;
                throw_os_error(errno, source);
            }
            if (n == 0) break;
            out.write(buffer.get(), static_cast<std::size_t>(n));
        }
    }
    output.set_permissions(st.st_mode);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(out.native_handle(), times) != 0) throw_os_error(errno, destination);
}

void rename_path(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        // Some file systems cannot promise "no replace"; check by hand there.
        if (errno != EINVAL && errno != ENOSYS) throw_os_error(errno, to);
        if (try_stat_path(to)) throw_os_error(EEXIST, to);
        if (::rename(from.c_str(), to.c_str()) != 0) throw_os_error(errno, from);
    }
}

void replace_file(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) throw_os_error(errno, to);
}

std::string real_path(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) throw_os_error(errno, path);
    return resolved.get();
}

void remove_file(const std::string& path) noexcept { ::unlink(path.c_str()); }

bool remove_directory(const std::string& path) noexcept { return ::rmdir(path.c_str()) == 0; }

// The XDG base directory rules: a relative XDG_CACHE_HOME is invalid and ignored.
std::string user_cache_folder() {
    const auto below = [](std::string folder, const char* name) {
        if (!folder.ends_with('/')) folder += '/';
        return folder + name;
    };
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') return below(cache, "orrinfold");
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return below(home, ".cache/orrinfold");
    raise(std::runtime_error("Cannot find a cache folder: neither XDG_CACHE_HOME nor HOME is set"));
}

namespace {
struct descriptor_t {
    int fd = -1;
    ~descriptor_t() {
        if (fd >= 0) ::close(fd);
    }
};
}  // namespace

// openat with O_NOFOLLOW | O_DIRECTORY from each folder reached: a link on the way fails with
// ELOOP (or ENOTDIR), so the walk never leaves root, whatever was put in its place since.
removal_t remove_below(const std::string& root, const std::string& relative, bool folder,
                       const std::function<bool(const file_status_t&)>& wanted) {
    if (!is_plain_relative_path(relative)) return removal_t::failed;
    descriptor_t at{::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (at.fd < 0) return errno == ENOENT ? removal_t::missing : removal_t::failed;
    std::size_t start = 0;
    for (std::size_t slash; (slash = relative.find('/', start)) != std::string::npos; start = slash + 1) {
        const std::string name = relative.substr(start, slash - start);
        descriptor_t next{::openat(at.fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
        if (next.fd < 0) {
            if (errno == ENOENT) return removal_t::missing;
            if (errno != ELOOP && errno != ENOTDIR) return removal_t::failed;
            struct stat st;
            const bool link = ::fstatat(at.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
            return link ? removal_t::behind_link : removal_t::missing;
        }
        std::swap(at.fd, next.fd);
    }
    const std::string name = relative.substr(start);
    struct stat st;
    if (::fstatat(at.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? removal_t::missing : removal_t::failed;
    if (folder) {
        if (!S_ISDIR(st.st_mode)) return removal_t::kept;
        if (::unlinkat(at.fd, name.c_str(), AT_REMOVEDIR) == 0) return removal_t::removed;
        return errno == ENOTEMPTY || errno == EEXIST || errno == ENOENT ? removal_t::kept : removal_t::failed;
    }
    if (!S_ISREG(st.st_mode) || (wanted && !wanted(to_status(st)))) return removal_t::kept;
    if (::unlinkat(at.fd, name.c_str(), 0) == 0) return removal_t::removed;
    return errno == ENOENT ? removal_t::missing : removal_t::failed;
}
