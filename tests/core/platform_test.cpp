#include "base/exceptions.h"
#include "base/text.h"
#include "platform/directory.h"
#include "platform/document_file.h"
#include "platform/file.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"
#include "platform/watcher.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {
// The text of what f throws.
template <class F>
std::string thrown(F f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "nothing thrown";
}
}  // namespace

TEST(OsException, TextNamesThePathAndTheThrowIsLocated) {
    EXPECT_STREQ(os_exception(ENOENT).what(), "No such file or directory");
    const unsigned line = __LINE__ + 1;
    EXPECT_EQ(thrown([] { throw_os_error(EIO, "/srv/a b.inc"); }), "/srv/a b.inc: Input/output error");
    EXPECT_STREQ(last_throw_location().file, "platform_test.cpp");
    EXPECT_EQ(last_throw_location().line, line);
}

TEST(File, WritesEverythingOrReportsWhatStopsIt) {
    TempTree t;
    std::string content(5 * 1024 * 1024 + 3, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    t.write("big", "a longer old content");
    File out(t.path("big"), File::access_t::write);
    out.write(content.data(), content.size());
    out.close();
    EXPECT_EQ(read_file(t.path("big")), content);
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no /dev/full and no file size limit for a process";
#else
    File full("/dev/full", File::access_t::write);
    EXPECT_EQ(thrown([&] { full.write(content.data(), 100000); }), "/dev/full: No space left on device");

    // A file size limit makes the kernel accept only part of a write: the rest must not be
    // dropped silently. The limit is set in a child process so the test runner keeps its own.
    const std::string path = t.path("limited");
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        const rlimit limit{1000, 1000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_IGN);
        File limited(path, File::access_t::write);
        ::_exit(thrown([&] { limited.write(content.data(), 5000); }) == path + ": File too large" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write reported success or the wrong error";
    EXPECT_EQ(read_file(path), content.substr(0, 1000));
#endif
}

TEST(Directory, DeliversEntriesInFoldedOrderWithoutDotAndDotDot) {
    TempTree t;
    std::vector<std::string> expected{"...", ".hidden", "10", "9", "A", "a", "ab", "B", "b", "sub", "Z", "_x", "\xC3\xA9"};
#ifdef _WIN32
    // Names that differ only in case are one name there; the order of the rest is the same.
    std::erase(expected, "A");
    std::erase(expected, "B");
#endif
    for (const std::string& name : expected)
        if (name != "sub") t.write(name, "");
    t.make_dir("sub");
    Directory directory(t.path());
    std::vector<std::string> names;
    for (std::string name; directory.next(name);) names.push_back(name);
    EXPECT_EQ(names, expected);
    EXPECT_TRUE(directory_order_less("A", "a") && directory_order_less("a", "B") && directory_order_less("Z", "_x"));
}

TEST(DocumentFile, ReadsWholeDocumentsAndRefusesWhatIsNone) {
    TempTree t;
    const std::string content(1024 * 1024 + 5, 'd');
    const std::string path = t.write("doc", content);
    DocumentFile document(path);
    std::string read(content.size() + 1, '\0');
    read.resize(document.read(read.data(), read.size()));
    EXPECT_EQ(read, content);
    EXPECT_EQ(thrown([&] { DocumentFile(t.make_dir("folder")); }), t.path("folder") + ": Is a directory");
#ifdef _WIN32
    GTEST_SKIP() << "no FIFOs on Windows";
#else
    ASSERT_EQ(::mkfifo(t.path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(thrown([&] { DocumentFile(t.path("fifo")); }), t.path("fifo") + ": not a regular file");
#endif
}

TEST(Text, NarrowWideRoundTripKeepsEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    for (const std::string& s : {all, std::string("\xED\xA0\x80"), std::string("\xE0\x80\x80"),
                                 std::string("\xF4\x90\x80\x80"), std::string("a\xFFz")})
        EXPECT_EQ(to_narrow(to_wide(s)), s);
    EXPECT_EQ(to_wide("caf\xC3\xA9\xF0\x9F\x98\x80"), u"caf\u00E9\U0001F600");
    EXPECT_EQ(to_wide("a\xFF"), std::u16string(u"a") + char16_t(0xDCFF));
    // Lone surrogates that are no escaped byte cannot be written as UTF-8.
    EXPECT_EQ(to_narrow(std::u16string{char16_t(0xDC10), char16_t(0xDC80), char16_t(0xD800)}), "?\x80?");
    // "é" read from an 8-bit document byte by byte, then an invalid byte, decoded for UTF-16 output.
    EXPECT_EQ(decode_escaped_bytes(std::u16string{widen_byte(0xC3), widen_byte(0xA9), u'-', widen_byte(0xFF)}), u"\u00E9-\uFFFD");
    EXPECT_EQ(to_decimal(5368709120u), "5368709120");
}

TEST(FileLock, HeldByOneOwnerUntilItEnds) {
    TempTree t;
    const std::string path = t.path("run.lock");
    {
        std::optional<FileLock> first = FileLock::try_lock(path);
        ASSERT_TRUE(first);
        EXPECT_FALSE(FileLock::try_lock(path)) << "a second lock, even in the same process";
        FileLock moved = std::move(*first);
        first.reset();  // what was moved from holds nothing to release
        EXPECT_FALSE(FileLock::try_lock(path));
        EXPECT_EQ(moved.path(), path);
    }
    EXPECT_TRUE(FileLock::try_lock(path));
    EXPECT_EQ(thrown([&] { FileLock::try_lock(t.path("none/run.lock")); }),
              t.path("none/run.lock") + ": No such file or directory");
}

TEST(FolderWatcher, SeesChangesAtAnyDepthAndInNewFoldersButNotInExcludedOnes) {
    TempTree t;
    t.write("site/sub/deep/page.shtml", "a");
    t.write("site/out/old.html", "a");
    FolderWatcher watcher;
    watcher.add_tree(t.path("site"), {real_path(t.path("site/out"))});
    EXPECT_FALSE(watcher.wait(0));

    t.write("site/index.shtml", "b");
    EXPECT_TRUE(watcher.wait(2000));
    EXPECT_FALSE(watcher.wait(0)) << "every change was taken by the first wait";
    // Each change is told by the real path of what changed.
    const std::string site = real_path(t.path("site"));
    const auto reported = [&watcher] {
        folder_changes_t changes = watcher.take_changes();
        EXPECT_FALSE(changes.everything);
        std::sort(changes.paths.begin(), changes.paths.end());
        changes.paths.erase(std::unique(changes.paths.begin(), changes.paths.end()), changes.paths.end());
        return changes.paths;
    };
    EXPECT_EQ(reported(), std::vector<std::string>{site + "/index.shtml"});
    EXPECT_TRUE(reported().empty()) << "taken once";
#ifndef _WIN32
    // Wine, where the Windows build's tests run, reports nothing from folders older than the watch.
    t.write("site/sub/deep/page.shtml", "b");
    EXPECT_TRUE(watcher.wait(2000));
#endif

    make_directory(t.path("site/new"));
    EXPECT_TRUE(watcher.wait(2000));
    t.write("site/new/page.shtml", "c");
    EXPECT_TRUE(watcher.wait(2000)) << "a folder made after add_tree is watched too";

    const std::vector<std::string> made = reported();
    EXPECT_TRUE(std::find(made.begin(), made.end(), site + "/new") != made.end());

    t.write("site/out/old.html", "b");
    t.write("site/out/more/new.html", "c");
    EXPECT_FALSE(watcher.wait(300));
    EXPECT_TRUE(reported().empty()) << "nothing of the excluded folder";
}

TEST(OutputFile, CommitIfChangedKeepsATargetWithTheSameBytes) {
    TempTree t;
    const std::string target = t.write("page.html", "same bytes");
    set_mtime(target, 1000000000);
    {
        OutputFile output(target);
        output.file().write("same bytes", 10);
        output.set_permissions(0444);
        EXPECT_FALSE(output.commit_if_changed());
    }
    file_status_t status = stat_path(target);
    EXPECT_EQ(status.modified, 1000000000);
    EXPECT_EQ(status.permissions, 0444u) << "the permissions asked for are given to the kept file";
    EXPECT_EQ(read_tree(t.path()), (Tree{{"page.html", "same bytes"}})) << "the temporary file is gone";

    {
        OutputFile output(target);
        output.file().write("new bytes!", 10);  // the same size
        output.set_permissions(0666);
        EXPECT_TRUE(output.commit_if_changed());
    }
    status = stat_path(target);
    EXPECT_NE(status.modified, 1000000000);
    EXPECT_EQ(status.permissions, 0666u);
    EXPECT_EQ(read_tree(t.path()), (Tree{{"page.html", "new bytes!"}}));
#ifndef _WIN32
    // A link at the target is replaced, even by the bytes of the file it leads to.
    ASSERT_EQ(::symlink("page.html", t.path("link.html").c_str()), 0);
    OutputFile output(t.path("link.html"));
    output.file().write("new bytes!", 10);
    EXPECT_TRUE(output.commit_if_changed());
    EXPECT_EQ(lstat_path(t.path("link.html")).kind, file_kind_t::regular);
#endif
}

#ifndef _WIN32
TEST(CopyFile, KeepsHolesAndTheSizeOfASparseFile) {
    TempTree t;
    constexpr off_t gib = off_t{1} << 30;
    const std::string source = t.path("sparse.bin");
    {
        // Data at the start, in the middle and at the very end; holes of about 1 GiB between.
        File file(source, File::access_t::write);
        file.write("head", 4);
        file.seek(static_cast<std::uint64_t>(gib));
        file.write("middle", 6);
        file.seek(static_cast<std::uint64_t>(2 * gib));
        file.write("tail", 4);
    }
    struct stat in {};
    ASSERT_EQ(::stat(source.c_str(), &in), 0);
    if (in.st_blocks * 512 >= in.st_size) GTEST_SKIP() << "this file system keeps no holes";

    copy_file(source, t.path("copy.bin"));
    struct stat out {};
    ASSERT_EQ(::stat(t.path("copy.bin").c_str(), &out), 0);
    EXPECT_EQ(out.st_size, 2 * gib + 4);
    EXPECT_LE(out.st_blocks, in.st_blocks + 64) << "the holes were written out as zeros";
    File copy(t.path("copy.bin"), File::access_t::read);
    using namespace std::string_literals;
    const std::pair<off_t, std::string> expected[] = {
        {0, "head\0"s}, {gib - 1, "\0middle\0"s}, {gib / 2, "\0\0\0\0"s}, {2 * gib, "tail"s}};
    for (const auto& [offset, bytes] : expected) {
        copy.seek(static_cast<std::uint64_t>(offset));
        EXPECT_EQ(read_bytes(copy, bytes.size()), bytes) << "at " << offset;
    }
}
#endif

#ifndef _WIN32
TEST(UserCacheFolder, XdgCacheHomeWhenAbsoluteElseHome) {
    // Puts a variable back as it was when the test ends.
    struct saved_variable {
        const char* name;
        std::optional<std::string> value;
        explicit saved_variable(const char* n) : name(n) {
            if (const char* v = std::getenv(n)) value = v;
        }
        ~saved_variable() { value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name); }
    };
    const saved_variable cache("XDG_CACHE_HOME"), home("HOME");
    ::setenv("HOME", "/home/u", 1);
    ::setenv("XDG_CACHE_HOME", "/var/cache/u/", 1);
    EXPECT_EQ(user_cache_folder(), "/var/cache/u/orrinfold");
    ::setenv("XDG_CACHE_HOME", "relative", 1);
    EXPECT_EQ(user_cache_folder(), "/home/u/.cache/orrinfold");
    ::unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(user_cache_folder(), "/home/u/.cache/orrinfold");
    ::unsetenv("HOME");
    EXPECT_EQ(thrown([] { user_cache_folder(); }), "Cannot find a cache folder: neither XDG_CACHE_HOME nor HOME is set");
}
#endif

#ifdef _WIN32
// What only Windows has: sharing modes, the read-only attribute, both separators, names that
// Windows itself would change (a trailing space or dot, reserved device names).
TEST(Win32, SharingReadOnlyCopiesAndAnyName) {
    TempTree t;
    const std::string page = t.write("page.shtml", "page");
    {
        // Held by another program without sharing: the error says so and names the file.
        const HANDLE held = ::CreateFileW(win32::native_path(page).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_EQ(thrown([&] { DocumentFile document(page); }),
                  page + ": The file is in use by another program (sharing violation)");
        ::CloseHandle(held);
    }
    {
        // Our own readers share: a page open here can still be opened, written and renamed by others.
        DocumentFile document(page);
        const HANDLE other = ::CreateFileW(win32::native_path(page).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(other, INVALID_HANDLE_VALUE);
        ::CloseHandle(other);
    }

    // Copies keep the time and the read-only attribute, and replace a read-only copy.
    t.make_dir("in");
    const std::string source = t.write("in\\ro.txt", "first");
    ASSERT_TRUE(::SetFileAttributesW(win32::native_path(source).c_str(), FILE_ATTRIBUTE_READONLY));
    copy_file(source, t.path("ro-copy.txt"));
    ASSERT_TRUE(::SetFileAttributesW(win32::native_path(source).c_str(), FILE_ATTRIBUTE_NORMAL));
    t.write("in/ro.txt", "second");
    set_mtime(source, 4102444800);
    ASSERT_TRUE(::SetFileAttributesW(win32::native_path(source).c_str(), FILE_ATTRIBUTE_READONLY));
    copy_file(t.path("in/ro.txt"), t.path("ro-copy.txt"));
    const file_status_t copied = stat_path(t.path("ro-copy.txt"));
    EXPECT_EQ(read_file(t.path("ro-copy.txt")), "second");
    EXPECT_EQ(copied.permissions, 0444u);
    EXPECT_EQ(copied.modified, 4102444800);
    ASSERT_TRUE(::SetFileAttributesW(win32::native_path(source).c_str(), FILE_ATTRIBUTE_NORMAL));

    // Names that Win32 would trim or take for devices reach the file system as written.
    for (const std::string name : {"trailing space ", "trailing dot.", "CON", "aux.txt", "caf\xC3\xA9 \xE2\x82\xAC"}) {
        SCOPED_TRACE(name);
        t.write("names/" + name, name);
        EXPECT_EQ(read_file(t.path("names\\" + name)), name);
    }
    Directory names(t.path("names"));
    std::vector<std::string> listed;
    for (std::string name; names.next(name);) listed.push_back(name);
    EXPECT_EQ(listed, (std::vector<std::string>{"aux.txt", "caf\xC3\xA9 \xE2\x82\xAC", "CON", "trailing dot.", "trailing space "}));

    // Paths past MAX_PATH work, and real_path gives '/' between components.
    std::string deep = t.path();
    for (int i = 0; i < 4; ++i) deep += "/" + std::string(100, 'd');
    make_directories(deep);
    t.write(deep.substr(t.path().size() + 1) + "/x.txt", "x");
    EXPECT_EQ(read_file(deep + "/x.txt"), "x");
    EXPECT_EQ(real_path(deep + "/../" + std::string(100, 'd') + "/./x.txt"), deep + "/x.txt");

    // Errors name the path, with the texts of other systems.
    EXPECT_EQ(thrown([&] { stat_path(t.path("names/CON/x")); }), t.path("names/CON/x") + ": Not a directory");
    EXPECT_EQ(thrown([&] { stat_path(t.path("missing/x")); }), t.path("missing/x") + ": No such file or directory");
    EXPECT_EQ(thrown([&] { rename_path(t.path("names/CON"), t.path("names/aux.txt")); }),
              t.path("names/aux.txt") + ": File exists");
}
#endif
