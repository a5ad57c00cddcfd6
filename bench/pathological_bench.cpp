// How the cost of hostile input grows with its size: each case runs at four sizes, doubling,
// and prints the time per unit of input, which stays flat when the cost is linear.
#include "base/compile_log.h"
#include "site/file_filter.h"
#include "ssi/document_output.h"
#include "ssi/preferences.h"
#include "ssi/ssi_parser.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
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
    return 0;
}
