#include "base/exceptions.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/document_file.h"
#include "platform/file_system.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <sys/stat.h>
#include <cstring>
#include <string>
#include <vector>

namespace {
// Runs f, which must throw os_exception, and returns it.
template <class F>
os_exception catch_os_error(F f) {
    try {
        f();
    } catch (const os_exception& e) {
        return e;
    }
    ADD_FAILURE() << "no os_exception";
    return os_exception(0);
}

std::string patterned(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return text;
}
}  // namespace

TEST(OsException, TextIsPathAndMessageOrTheMessageAlone) {
    EXPECT_STREQ(os_exception(ENOENT).what(), "No such file or directory");
    EXPECT_STREQ(os_exception(ENOENT, "").what(), "No such file or directory");
    const os_exception with_path(ENOENT, "/srv/a b.inc");
    EXPECT_STREQ(with_path.what(), "/srv/a b.inc: No such file or directory");
    EXPECT_EQ(with_path.code(), ENOENT);
    EXPECT_EQ(with_path.path(), "/srv/a b.inc");
}

TEST(OsException, ThrowRecordsTheSourceBaseNameAndLine) {
    unsigned line = 0;
    try {
        line = __LINE__ + 1;
        throw_os_error(EIO, "x");
    } catch (const os_exception& e) {
        EXPECT_STREQ(e.what(), "x: Input/output error");
    }
    EXPECT_STREQ(last_throw_location().file, "platform_test.cpp");
    EXPECT_EQ(last_throw_location().line, line);

    // The library's own throws record where they happened, not where they were caught.
    TempTree t;
    catch_os_error([&] { File(t.path("missing"), File::access_t::read); });
    EXPECT_STRNE(last_throw_location().file, "platform_test.cpp");
    EXPECT_EQ(std::strchr(last_throw_location().file, '/'), nullptr);
    EXPECT_GT(last_throw_location().line, 0u);
}

TEST(File, WriteKeepsEveryByteOfALargeBuffer) {
    TempTree t;
    const std::string content = patterned(5 * 1024 * 1024 + 3);
    File out(t.path("big"), File::access_t::write);
    out.write(content.data(), content.size());
    EXPECT_EQ(out.size(), content.size());
    out.close();
    EXPECT_EQ(read_file(t.path("big")), content);
}

TEST(File, ShortWriteGoesOnAndReportsWhatStopsIt) {
    // A file size limit makes the kernel accept only part of a write: the rest must not be
    // dropped silently. The limit is set in a child process so the test runner keeps its own.
    TempTree t;
    const std::string path = t.path("limited");
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        const rlimit limit{1000, 1000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_IGN);
        const std::string content(5000, 'x');
        int result = 1;
        try {
            File out(path, File::access_t::write);
            out.write(content.data(), content.size());
        } catch (const os_exception& e) {
            result = e.code() == EFBIG && e.path() == path ? 0 : 2;
        }
        ::_exit(result);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the write reported success, 2: the wrong error";
    EXPECT_EQ(read_file(path), std::string(1000, 'x'));
}

TEST(File, WriteReplacesAnExistingFile) {
    TempTree t;
    t.write("f", "a much longer old content");
    File out(t.path("f"), File::access_t::write);
    out.write("new", 3);
    out.close();
    EXPECT_EQ(read_file(t.path("f")), "new");
}

TEST(File, FailuresNameThePath) {
    TempTree t;
    t.write("plain", "x");
    const std::string long_name = t.path(std::string(300, 'n'));
    struct row_t {
        const char* name;
        std::string path;
        File::access_t access;
        int code;
    };
    const row_t rows[] = {
        {"missing", t.path("missing"), File::access_t::read, ENOENT},
        {"file as a folder", t.path("plain/x"), File::access_t::write, ENOTDIR},
        {"name over NAME_MAX", long_name, File::access_t::write, ENAMETOOLONG},
        {"name over NAME_MAX, reading", long_name, File::access_t::read, ENAMETOOLONG},
    };
    for (const row_t& row : rows) {
        SCOPED_TRACE(row.name);
        const os_exception e = catch_os_error([&] { File(row.path, row.access); });
        EXPECT_EQ(e.code(), row.code);
        EXPECT_EQ(e.path(), row.path);
        EXPECT_EQ(std::string(e.what()), row.path + ": " + std::strerror(row.code));
    }
}

TEST(File, WriteToAFullDeviceNamesIt) {
    File out("/dev/full", File::access_t::write);
    const std::string content(100000, 'x');
    const os_exception e = catch_os_error([&] { out.write(content.data(), content.size()); });
    EXPECT_EQ(e.code(), ENOSPC);
    EXPECT_STREQ(e.what(), "/dev/full: No space left on device");
}

TEST(Directory, DeliversEntriesInFoldedOrderWithoutDotAndDotDot) {
    TempTree t;
    for (const char* name : {"b", "B", "_x", "a", "A", "ab", "9", "10", "...", "Z", "\xC3\xA9", ".hidden"})
        t.write(name, "");
    t.make_dir("sub");
    Directory directory(t.path());
    std::vector<std::string> names;
    for (std::string name; directory.next(name);) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"...", ".hidden", "10", "9", "A", "a", "ab", "B", "b", "sub", "Z",
                                               "_x", "\xC3\xA9"}));
}

TEST(Directory, EmptyDirectoryHasNoEntries) {
    TempTree t;
    Directory directory(t.path());
    std::string name;
    EXPECT_FALSE(directory.next(name));
}

TEST(Directory, MissingDirectoryNamesThePath) {
    TempTree t;
    t.write("plain", "");
    for (const char* name : {"missing", "plain"}) {
        SCOPED_TRACE(name);
        Directory directory(t.path(name));
        std::string entry;
        const os_exception e = catch_os_error([&] { directory.next(entry); });
        EXPECT_EQ(e.path(), t.path(name));
        EXPECT_EQ(e.code(), std::string(name) == "missing" ? ENOENT : ENOTDIR);
    }
}

TEST(DocumentFile, ReadsTheWholeDocumentWhateverItsSize) {
    TempTree t;
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{1024 * 1024 + 5}}) {
        SCOPED_TRACE(size);
        const std::string content = patterned(size);
        const std::string path = t.write("doc" + std::to_string(size), content);
        DocumentFile document(path);
        ASSERT_EQ(document.status().size, size);
        std::string read(size + 1, '\0');
        read.resize(document.read(read.data(), read.size()));
        EXPECT_EQ(read, content);
        EXPECT_EQ(document.status().identity, stat_path(path).identity);
    }
}

TEST(DocumentFile, IdentityTellsFilesApartAndSeesThroughLinks) {
    TempTree t;
    const std::string a = t.write("a", "same");
    const std::string b = t.write("b", "same");
    ASSERT_EQ(::link(a.c_str(), t.path("hard").c_str()), 0);
    ASSERT_EQ(::symlink("a", t.path("soft").c_str()), 0);
    const auto identity = [](const std::string& path) { return DocumentFile(path).status().identity; };
    EXPECT_NE(identity(a), identity(b));
    EXPECT_EQ(identity(a), identity(t.path("hard")));
    EXPECT_EQ(identity(a), identity(t.path("soft")));
}

TEST(DocumentFile, RefusesAFolderAFifoAndAMissingFile) {
    TempTree t;
    t.make_dir("folder");
    ASSERT_EQ(::mkfifo(t.path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(catch_os_error([&] { DocumentFile(t.path("folder")); }).code(), EISDIR);
    EXPECT_EQ(catch_os_error([&] { DocumentFile(t.path("missing")); }).path(), t.path("missing"));
    try {
        DocumentFile fifo(t.path("fifo"));
        ADD_FAILURE() << "a FIFO was opened as a document";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), t.path("fifo") + ": not a regular file");
    }
}

TEST(FileSystem, StatAndDirectoryCreation) {
    TempTree t;
    t.write("plain", "12345");
    EXPECT_FALSE(try_stat_path(t.path("missing")));
    EXPECT_EQ(try_stat_path(t.path("plain"))->size, 5u);
    EXPECT_EQ(catch_os_error([&] { try_stat_path(t.path("plain/x")); }).code(), ENOTDIR);
    EXPECT_EQ(catch_os_error([&] { stat_path(t.path("missing")); }).path(), t.path("missing"));

    make_directories(t.path("a/b/c"));
    make_directories(t.path("a/b/c"));  // an existing folder is accepted
    make_directory(t.path("plain"));   // so is any existing entry
    EXPECT_EQ(stat_path(t.path("a/b/c")).kind, file_kind_t::directory);
    EXPECT_EQ(catch_os_error([&] { make_directory(t.path("plain/x")); }).code(), ENOTDIR);
    EXPECT_EQ(catch_os_error([&] { make_directory(t.path("none/x")); }).code(), ENOENT);
}
