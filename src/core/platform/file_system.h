#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class File;
class OutputFile;

// Which file a path leads to, so that include chains and walks can tell a file they already hold.
struct file_identity_t {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const file_identity_t&) const = default;
};

enum class file_kind_t { regular, directory, link, other };

// What the walk and fsize/flastmod need to know of a path, read without opening it.
struct file_status_t {
    file_kind_t kind = file_kind_t::other;
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // seconds since 1970-01-01 00:00 UTC
    long modified_nanoseconds = 0;
    unsigned permissions = 0;  // the mode's permission bits
    file_identity_t identity;
};

// The status of an open file.
file_status_t stat_file(const File& file);
// Documents are regular files: a folder throws EISDIR, anything else a "not a regular file" error.
void require_regular_file(const file_status_t& status, const std::string& path);

// Follows symbolic links; throws os_exception naming the path on failure.
file_status_t stat_path(const std::string& path);
// nullopt when nothing exists at the path (ENOENT); other failures throw.
std::optional<file_status_t> try_stat_path(const std::string& path);
// The entry itself: a symbolic link is reported as a link, not followed.
file_status_t lstat_path(const std::string& path);
// The name of the user owning the file, or "<unknown>".
std::string owner_name(const std::string& path);

// Creates one directory; an existing entry of that name (EEXIST) is accepted.
// True when the directory was created now.
bool make_directory(const std::string& path);
// Creates a directory and any missing parents.
void make_directories(const std::string& path);

// Copies content, permission bits and modification time, replacing an existing file (or link)
// only once the copy is complete. The data moves through the kernel (copy_file_range) where it can.
void copy_file(const std::string& source, const std::string& destination);
// The same into an output the caller commits (or drops) later, as a run does in walk order.
void copy_file(const std::string& source, OutputFile& output);
// The same for a source already read into memory: content is written with the permission
// bits and modification time of the source as status describes it.
void write_copy(OutputFile& output, std::string_view content, const file_status_t& status);

// Removes a file, if there is one; used to take back an output that failed half-way.
void remove_file(const std::string& path) noexcept;

// Removes an empty folder; false (nothing removed) when it is not empty or not there.
bool remove_directory(const std::string& path) noexcept;

// Whether relative names a place below a folder the way a run writes it: names separated by
// single '/', none of them empty, "." or "..", and no NUL (nor, on Windows, '\\' or ':', which
// would name another folder or drive). Anything else cannot have been written by a run.
bool is_plain_relative_path(std::string_view relative);

// Whether path starts from a root rather than from a folder: "/…", or on Windows also a drive
// ("C:/…", "C:\\…") or a share ("\\\\server\\…"), as configurations written there give them.
bool is_absolute_path(std::string_view path);

// What remove_below did.
enum class removal_t {
    removed,
    missing,      // nothing there (or a file stands where a folder on the way was)
    kept,         // not what was asked for: a link, another kind of entry, a folder not empty, a file wanted refused
    behind_link,  // a folder on the way is a link (or a reparse point): not entered
    failed,       // the system refused, or relative is not a plain relative path
};

// Removes the regular file (folder: the empty folder) at relative below root, reached from
// root one folder at a time without following a link, so that nothing outside root is ever
// touched whatever stands in the destination now. A file is removed only when wanted (given)
// accepts its status as read through the folder reached.
removal_t remove_below(const std::string& root, const std::string& relative, bool folder,
                       const std::function<bool(const file_status_t&)>& wanted = {});

// Whether name is one of the temporary files outputs are written to before they are renamed
// into place: ".orrinfold-" PID "-" counter.
bool is_temporary_name(std::string_view name);
// The name of such a file: the one place that spells the pattern out for making them.
std::string temporary_name(std::uint64_t process, std::uint64_t counter);
// Removes from folder the temporary files of runs whose process is no longer alive (a run
// killed, or stopped twice); returns how many. Failures are ignored: nothing of the site is lost.
std::size_t remove_stale_temporaries(const std::string& folder) noexcept;

// Where the program keeps state between runs for this user: $XDG_CACHE_HOME/orrinfold, else
// $HOME/.cache/orrinfold (%LOCALAPPDATA%\orrinfold on Windows). Not created here; throws
// when the system names no such place.
std::string user_cache_folder();

// Renames a file or folder; an existing entry at the new path is an error (EEXIST), never replaced.
void rename_path(const std::string& from, const std::string& to);
// Renames a file over another, replacing it in one step: a reader sees the old file or the new.
void replace_file(const std::string& from, const std::string& to);

// The path with every link, "." and ".." resolved; the path must exist.
std::string real_path(const std::string& path);

// Whether path is folder or lies below it, compared as text ("/" holds every absolute path).
bool path_within(const std::string& path, const std::string& folder);
// Whether path lies within any of folders.
bool within_any(const std::string& path, const std::vector<std::string>& folders);
