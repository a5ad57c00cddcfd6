#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "platform/file_system.h"

// Owns one open file descriptor (a HANDLE on Windows) for as long as the object lives.
class File {
public:
    enum class access_t { read, write, create_new };
#ifdef _WIN32
    using native_handle_t = void*;
    static constexpr native_handle_t no_handle = nullptr;
#else
    using native_handle_t = int;
    static constexpr native_handle_t no_handle = -1;
#endif

    // read: the file must exist. write: created when missing, truncated when present
    // (mode 0666 less the umask). create_new: as write, but fails (EEXIST) when it exists.
    File(const std::string& path, access_t access);
    // Adopts an open descriptor; failures name path.
    File(std::string path, native_handle_t fd) : path_(std::move(path)), fd_(fd) {}
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
    native_handle_t native_handle() const noexcept { return fd_; }

private:
    std::string path_;
    native_handle_t fd_ = no_handle;
};

// For tests only: called with the file's path before each File::write, from any thread; it may
// throw (a full disk) or wait. Set while no run goes; an empty function removes it.
void set_write_hook(std::function<void(const std::string& path)> hook);
void call_write_hook(const std::string& path);

// Up to size bytes of an open file from where it stands (fewer where it ends sooner).
std::string read_bytes(File& file, std::uint64_t size);
// Whether two files, read from where they stand to their ends, hold the same bytes.
bool same_bytes(File& a, File& b);

// An output written to a temporary file beside its target and renamed over the target once
// complete: a reader never sees a partial file, and a failure or an interruption leaves the
// previous target as it was. The rename replaces a read-only file or a symbolic link at the
// target without writing through it. Failures name the target.
class OutputFile {
public:
    explicit OutputFile(const std::string& target);
    // The same, created with the permission bits mode gives (so that none need changing later),
    // and, when fresh says nothing stands at target (a folder this run made), as an unnamed
    // file linked into place at commit where the system has them (Linux's O_TMPFILE): no
    // temporary name is made, and none is left by a run that is killed.
    OutputFile(const std::string& target, std::optional<unsigned> mode, bool fresh);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary file unless it was committed.
    ~OutputFile();

    File& file() noexcept { return file_; }
    // Where the output is written until commit (a copy made by the system goes there too).
    const std::string& temporary_path() const noexcept { return temporary_; }
    // Closes a temporary file that has a name, so that an output waiting for its turn holds no
    // descriptor; an unnamed one stays open until commit, which it needs to be linked.
    void close();
    // The output's status as put in place (or kept) by commit, read through its descriptor:
    // what the record of the run keeps, without looking the path up again.
    const std::optional<file_status_t>& placed_status() const noexcept { return placed_; }
    // Permission bits for the output; without a call it keeps those of a new file (0666 less the umask).
    void set_permissions(unsigned mode);
    // Closes the file and puts it in the target's place.
    void commit();
    // The same, except that a target already holding exactly the bytes written is kept (its
    // modification time stays, so sync tools see no change) and the temporary file removed;
    // permission bits asked for are still given to the kept target. True when replaced.
    bool commit_if_changed();

private:
    OutputFile(const std::string& target, std::pair<std::string, File::native_handle_t> temporary);

    std::string temporary_;
    File file_;
    int permissions_ = -1;  // what set_permissions asked for, for a kept target too; -1: nothing
    bool committed_ = false;
    bool unnamed_ = false;  // no name until commit links it into place
    std::optional<file_status_t> placed_;
};
