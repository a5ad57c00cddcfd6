// How the cost of hostile input grows with its size: each case runs at four sizes, doubling,
// and prints the time per unit of input, which stays flat when the cost is linear.
#include "base/compile_log.h"
#include "build/link_check.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "scratch_folder.h"
#include "site/file_filter.h"
#include "ssi/document_output.h"
#include "ssi/preferences.h"
#include "ssi/ssi_parser.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sys/stat.h>
#include <functional>
#include <string>

namespace {
constexpr int runs = 3;

double best_seconds(const std::function<void()>& work) {
    double best = 1e9;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

void convert(const std::string& document) {
    SSIParser::State state;
    SSIParserPreferences preferences;
    CompileLogBase log;
    DocumentOutput output(nullptr, true);
    SSIParser(document, ".", output, preferences, state, log).process();
}

std::string repeated(const std::string& chunk, std::size_t size) {
    std::string text;
    text.reserve(size + chunk.size());
    while (text.size() < size) text += chunk;
    return text;
}

// One case: make(size) builds the input for a size in units, run handles it.
void measure(const char* name, const char* unit, std::size_t base, const std::function<std::string(std::size_t)>& make,
             const std::function<void(const std::string&)>& run) {
    std::printf("%-44s", name);
    for (std::size_t size = base; size <= base * 8; size *= 2) {
        const std::string input = make(size);
        const double seconds = best_seconds([&] { run(input); });
        std::printf("  %7.2f ns/%s", seconds * 1e9 / static_cast<double>(size), unit);
    }
    std::printf("\n");
}
// The link check on pages of 1, 2 and 4 MB that hold nothing but broken links.
void measure_link_check() {
    const ScratchFolder folder("orrinfold-links");
    std::printf("%-44s", "link check, broken links (1, 2, 4 MB)");
    for (std::size_t size = 1 << 20; size <= 4 << 20; size *= 2) {
        const std::string page = repeated("<a href=\"gone.html\">x</a>\n", size);
        {
            File file(folder.path("page.html"), File::access_t::write);
            file.write(page.data(), page.size());
        }
        CompileLogBase log;
        const double seconds = best_seconds([&] { (void)check_links({"page.html"}, folder.path(""), log); });
        std::printf("  %7.2f ns/B", seconds * 1e9 / static_cast<double>(size));
    }
    std::printf("\n");
}

// A copy of a 10 GB file that is one hole with a byte at each end: its holes are not written.
void measure_sparse_copy() {
    const ScratchFolder folder("orrinfold-sparse");
    const std::string source = folder.path("sparse.bin");
    {
        File file(source, File::access_t::write);
        file.write("a", 1);
        file.seek((std::uint64_t{10} << 30) - 1);
        file.write("z", 1);
    }
    const double seconds = best_seconds([&] { copy_file(source, folder.path("copy.bin")); });
    struct stat copy {};
    ::stat(folder.path("copy.bin").c_str(), &copy);
    std::printf("%-44s  %7.3f s, %lld KB on disk\n", "copy of a 10 GB sparse file", seconds,
                static_cast<long long>(copy.st_blocks) / 2);
}
}  // namespace

int main() {
    constexpr std::size_t mb = 1 << 20;
    std::printf("sizes 1x, 2x, 4x, 8x; time per unit of input (flat = linear)\n");
    measure("one unfinished directive (from 8 MB)", "B", 8 * mb,
            [](std::size_t size) { return "<!--#echo var=\"" + std::string(size, 'x'); }, convert);
    measure("directive flood (from 4 MB)", "B", 4 * mb,
            [](std::size_t size) { return repeated("<!--#set var=\"a\" value=\"$a\" -->", size); }, convert);
    measure("only openers (from 4 MB)", "B", 4 * mb, [](std::size_t size) { return repeated("<!--#", size); },
            convert);
    measure("unknown directives (from 4 MB)", "B", 4 * mb,
            [](std::size_t size) { return repeated("<!--#bogus -->", size); }, convert);
    measure("a long line, then a directive (from 8 MB)", "B", 8 * mb,
            [](std::size_t size) { return std::string(size, 'a') + "<!--#bogus -->"; }, convert);
    measure("doubling a variable (from 1,000 sets)", "set", 1000,
            [](std::size_t count) { return repeated("<!--#set var=\"x\" value=\"$x$x1\" -->", count * 33); },
            convert);
    measure("star-heavy mask, long name (from 64 KB)", "B", 64 * 1024,
            [](std::size_t size) { return std::string(size, 'a'); },
            [](const std::string& name) { (void)match_mask("*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", name); });
    measure_link_check();
    measure_sparse_copy();
    return 0;
}
