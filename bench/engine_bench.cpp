// Throughput of the SSI engine on three large documents, next to plain copies of the
// directive-free one, all in memory-backed files so the disk does not set the pace.
#include "base/compile_log.h"
#include "scratch_folder.h"
#include "platform/file_system.h"
#include "build/convert.h"
#include "ssi/preferences.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <system_error>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr std::size_t mib = 1024 * 1024;
constexpr int runs = 5;

// Counts the engine's log lines: every document here should convert without one.
class CountingLog : public CompileLogBase {
public:
    void output_line(const std::string&) override { ++lines; }
    int lines = 0;
};

// Repeats chunk until the file holds at least size bytes (after prefix).
void write_repeated(const std::string& path, const std::string& prefix, const std::string& chunk, std::size_t size) {
    std::ofstream out(path, std::ios::binary);
    out << prefix;
    std::string block;
    while (block.size() < mib) block += chunk;
    for (std::size_t written = prefix.size(); written < size; written += block.size()) out << block;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::string plain_chunk() {
    std::string text;
    for (int i = 0; i < 24; ++i) {
        text += "<div class=\"entry\" id=\"e" + std::to_string(i) + "\">\n<!-- entry " + std::to_string(i) +
                " -->\n<h2>Caf\xC3\xA9 opening hours &amp; menu</h2>\n"
                "<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut "
                "labore et dolore magna aliqua. <a href=\"/menu/item" +
                std::to_string(i) + ".html\">More</a> &lt;details&gt;</p>\n</div>\n";
    }
    return text;
}

// Nothing but directives and short text between them: set, echo, config and a variable reference.
std::string dense_chunk() {
    return "<li><!--#set var=\"item\" value=\"apple\" -->Item <!--#echo var=\"item\" --> is "
           "<!--#set var=\"label\" value=\"$item pie\" --><!--#echo var=\"label\" --></li>\n"
           "<!--#config timefmt=\"%Y-%m-%d\" sizefmt=\"bytes\" --><td><!--#echo var=\"SERVER_SOFTWARE\" --></td>\n";
}

std::string utf16le(const std::u16string& text) {
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

// About 4 KiB of text with three directives.
std::string utf16_chunk() {
    std::u16string text =
        u"<!--#set var=\"who\" value=\"Sternfreunde\" --><!--#set var=\"greeting\" value=\"Grüße, ${who}\" -->"
        u"<h1><!--#echo var=\"greeting\" --></h1>\n";
    while (text.size() < 2000)
        text +=
            u"<p>Välkommen! Καλώς ήρθατε! Bienvenue à tous les amis des étoiles, "
            u"le club se réunit chaque mois sur la colline.</p>\n";
    return utf16le(text);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Best time of each job over several rounds. The jobs take turns, so that a load on the
// machine from elsewhere slows all of them alike rather than one.
std::vector<double> best_times(const std::vector<std::function<void()>>& jobs) {
    std::vector<double> best(jobs.size(), std::numeric_limits<double>::infinity());
    for (int round = 0; round < runs; ++round) {
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            const auto start = std::chrono::steady_clock::now();
            jobs[i]();
            best[i] = std::min(best[i], seconds_since(start));
        }
    }
    return best;
}

void read_write_copy(const std::string& source, const std::string& destination) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (in < 0 || out < 0) throw std::system_error(errno, std::generic_category(), "open");
    const auto buffer = std::make_unique<char[]>(128 * 1024);
    for (;;) {
        const ssize_t n = ::read(in, buffer.get(), 128 * 1024);
        if (n < 0) throw std::system_error(errno, std::generic_category(), "read");
        if (n == 0) break;
        if (::write(out, buffer.get(), static_cast<std::size_t>(n)) != n)
            throw std::system_error(errno, std::generic_category(), "write");
    }
    ::close(in);
    if (::close(out) != 0) throw std::system_error(errno, std::generic_category(), "close");
}

double megabytes_per_second(std::uintmax_t size, double seconds) {
    return static_cast<double>(size) / static_cast<double>(mib) / seconds;
}

void print_line(const char* name, std::uintmax_t size, double seconds, const std::string& extra = {}) {
    std::printf("%-28s %7.1f MiB %9.4f s %9.1f MiB/s%s\n", name, static_cast<double>(size) / mib, seconds,
                megabytes_per_second(size, seconds), extra.c_str());
}

void run() {
    const ScratchFolder scratch("orrinfold-engine");
    const std::string plain = scratch.path("plain.shtml");
    const std::string dense = scratch.path("dense.shtml");
    const std::string wide = scratch.path("utf16.shtml");
    const std::string output = scratch.path("out.html");
    write_repeated(plain, "", plain_chunk(), 64 * mib);
    write_repeated(dense, "", dense_chunk(), 16 * mib);
    write_repeated(wide, "\xFF\xFE", utf16_chunk(), 32 * mib);

    const SSIDirectoryPreferences preferences = default_preferences();
    SSIDirectoryPreferences apache = preferences;
    apache.dialect = dialect_t::apache;
    CountingLog log;
    const auto convert = [&](const std::string& source, const SSIDirectoryPreferences& with) {
        return [&, source] {
            SSIParser::State state;
            convert_file(source, output, with, state, log);
        };
    };
    const std::vector<double> seconds = best_times({
        convert(plain, preferences),
        [&] { copy_file(plain, output); },
        [&] { read_write_copy(plain, output); },
        convert(dense, preferences),
        convert(wide, preferences),
        convert(plain, apache),
        convert(dense, apache),
    });
    if (log.lines != 0) std::fprintf(stderr, "warning: the documents gave %d log lines\n", log.lines);

    std::printf("best of %d runs, files in %s\n", runs, scratch.path("").c_str());
    const std::uintmax_t plain_size = std::filesystem::file_size(plain);
    char ratio[160];
    std::snprintf(ratio, sizeof ratio, "   %.2f x copy_file speed, %.2f x read/write speed", seconds[1] / seconds[0],
                  seconds[2] / seconds[0]);
    print_line("directive-free document", plain_size, seconds[0], ratio);
    print_line("dense directives", std::filesystem::file_size(dense), seconds[3]);
    print_line("UTF-16 document", std::filesystem::file_size(wide), seconds[4]);
    std::snprintf(ratio, sizeof ratio, "   %.2f x the default dialect's time", seconds[5] / seconds[0]);
    print_line("directive-free, Apache", plain_size, seconds[5], ratio);
    std::snprintf(ratio, sizeof ratio, "   %.2f x the default dialect's time", seconds[6] / seconds[3]);
    print_line("dense directives, Apache", std::filesystem::file_size(dense), seconds[6], ratio);
    print_line("copy_file (directive-free)", plain_size, seconds[1]);
    print_line("read/write 128 KiB loop", plain_size, seconds[2]);
}
}  // namespace

int main() {
    try {
        run();
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "engine_bench: %s\n", e.what());
        return 1;
    }
}
