// Hostile and unusual input: each case ends with its result or a clear error, in bounded time
// and memory, and leaves the source as it was.
#include "build/convert.h"
#include "recording_log.h"
#include "run_engine.h"
#include "site/file_filter.h"
#include "ssi/preferences.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {
// One walk over t's src into dst: the log's texts and the error that ended it ("" if none).
// The source must come out as it went in (a tree too deep to look at is not compared).
// Unused on Windows, where the cases that walk are skipped.
[[maybe_unused]] std::vector<std::string> walk(const TempTree& t, std::string* error = nullptr, bool compare_source = true) {
    RecordingLog log;
    const Tree before = compare_source ? snapshot_tree(t.path("src")) : Tree{};
    try {
        convert_directory("", t.path("src"), t.path("dst"), default_preferences(), log);
    } catch (const std::exception& e) {
        if (error != nullptr) *error = e.what();
    }
    if (compare_source) {
        EXPECT_EQ(snapshot_tree(t.path("src")), before) << "the source was changed";
    }
    return log.texts();
}
}  // namespace

TEST(Pathological, Documents) {
    const std::string flood = [] {
        std::string text;
        for (int i = 0; i < 200000; ++i) text += "<!--#set var=\"a\" value=\"b\" -->";
        return text;
    }();
    const struct {
        const char* name;
        std::string document, output;
        std::vector<std::string> log;
    } rows[] = {
        {"only an opener", "<!--#", "", {"Unexpected end of file"}},
        {"openers only", std::string(100000, '<') + "!--#<!--#", std::string(99999, '<'),
         {"Expected identifier", "Non-alpha symbol in argument name", "Expected identifier", "Expected '='",
          "Unexpected end of file"}},
        {"a directive flood", flood, "", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const engine_result_t result = run_engine(row.document);
        EXPECT_TRUE(result.output == row.output) << result.output.size() << " bytes";
        EXPECT_EQ(result.log, row.log);
    }
}

// Through the reading window: one unfinished directive of 100 MB, and a line of 8 MB.
TEST(Pathological, HugeDirectivesAndLines) {
    TempTree t;
    const std::string unfinished =
        t.write("unfinished.shtml", "before<!--#echo var=\"" + std::string(100 << 20, 'x'));
    file_conversion_t run = convert_document(unfinished, t.path("out"));
    EXPECT_EQ(run.error, "no failure");
    EXPECT_EQ(run.log, (std::vector<std::string>{"Unexpected end of file"}));
    EXPECT_EQ(read_file(t.path("out")), "before");

    const std::string line = t.write("line.shtml", std::string(8 << 20, 'a') + "<!--#bogus -->\n");
    run = convert_document(line, t.path("out"));
    EXPECT_EQ(run.locations, (std::vector<std::string>{line + ":1:" + std::to_string((8 << 20) + 1)}));
}

TEST(Pathological, StarHeavyMasksAgainstLongNames) {
    const std::string name(100000, 'a');
    EXPECT_FALSE(match_mask("*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", name));
    EXPECT_TRUE(match_mask("*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*?", name));
    EXPECT_FALSE(match_mask(std::string(5000, '*') + "b", name));
}

// Every byte a name may hold, and special files, which are skipped.
TEST(Pathological, NamesWithEveryByteAndSpecialFiles) {
#ifdef _WIN32
    GTEST_SKIP() << "FIFOs and Unix sockets, and names with bytes that Windows refuses (\\ : * ? < > | and controls)";
#else
    TempTree t;
    Tree expected;
    for (int byte = 1; byte < 256; ++byte) {
        if (byte == '/' || byte == '.') continue;
        const std::string name(1, static_cast<char>(byte));
        t.write("src/" + name + "x.txt", name);
        expected[name + "x.txt"] = name;
    }
    ASSERT_EQ(::mkfifo(t.path("src/fifo").c_str(), 0644), 0);
    const int unix_socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socket_path = t.path("src/sock");
    ASSERT_LT(socket_path.size(), sizeof address.sun_path);
    socket_path.copy(address.sun_path, socket_path.size());
    ASSERT_EQ(::bind(unix_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    std::string error;
    const std::vector<std::string> log = walk(t, &error);
    ::close(unix_socket);
    EXPECT_EQ(error, "");
    EXPECT_EQ(log.size(), 255U);  // 253 copies, 2 skipped
    EXPECT_EQ(read_tree(t.path("dst")), expected);
#endif
}

// A path longer than the system takes, and a folder that cannot be read, end the run naming them.
TEST(Pathological, DeepAndUnreadableFolders) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows takes paths of up to 32,767 characters, and has no POSIX permission bits";
#else
    TempTree t;
    t.write("src/a.txt", "a");
    const std::string part(200, 'd');
    std::vector<int> folders{::open(t.make_dir("src").c_str(), O_DIRECTORY)};
    for (int depth = 0; depth < 25; ++depth) {  // over 5,000 bytes of path
        ASSERT_EQ(::mkdirat(folders.back(), part.c_str(), 0755), 0);
        folders.push_back(::openat(folders.back(), part.c_str(), O_DIRECTORY));
    }
    std::string error;
    walk(t, &error, false);
    EXPECT_TRUE(error.ends_with(": File name too long")) << error.size() << " bytes";
    // Taken down from the bottom, since no path reaches it.
    for (; folders.size() > 1; folders.pop_back()) {
        ::close(folders.back());
        ::unlinkat(folders[folders.size() - 2], part.c_str(), AT_REMOVEDIR);
    }
    ::close(folders.front());

    TempTree u;
    u.write("src/locked/x.txt", "x");
    ASSERT_EQ(::chmod(u.path("src/locked").c_str(), 0), 0);
    run_as_plain_user(u.path(), [&u] {
        std::string locked;
        walk(u, &locked);
        EXPECT_EQ(locked, u.path("src/locked") + ": Permission denied");
    });
#endif
}
