// Converts a generated site of about 5,000 files with convert_directory and compares the time
// with `cp -r` of the same tree. Everything lives under /dev/shm so the disk does not set the pace.
#include "base/compile_log.h"
#include "build/convert.h"
#include "scratch_folder.h"
#include "ssi/preferences.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
constexpr int runs = 3;
constexpr int sections = 20;
constexpr int topics = 5;             // folders per section; each holds pages and asset folders
constexpr int pages_per_topic = 20;   // 2,000 pages
constexpr int assets_per_topic = 30;  // 3,000 other files
constexpr const char* asset_kinds[] = {"css", "js", "img"};

// Writes progress lines to a stream that drops them, as the command-line program would to
// a redirected output, and counts what it is given so a broken site cannot go unnoticed.
class CountingLog : public StreamLog {
public:
    explicit CountingLog(std::ostream& out) : StreamLog(out) {}
    void message(const std::string& text) override {
        ++messages;
        StreamLog::message(text);
    }
    void error(const std::string& text) override {
        ++problems;
        StreamLog::error(text);
    }
    void warning(const std::string& text) override {
        ++problems;
        StreamLog::warning(text);
    }
    int messages = 0;
    int problems = 0;
};

// Accepts and forgets everything, without putting the stream into a failed state.
class NullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

struct site_t {
    std::uintmax_t bytes = 0;
    int pages = 0;
    int assets = 0;
    int folders = 0;
};

void write_file(site_t& site, const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
    site.bytes += content.size();
}

void make_folder(site_t& site, const std::string& path) {
    fs::create_directory(path);
    ++site.folders;
}

std::string page(std::mt19937& random, int section, int topic, int number) {
    static const std::string paragraph =
        "<p>Observing notes: the seeing was steady after midnight and the transparency good enough to "
        "split the double star at high power. Jupiter showed two belts and three moons; the fourth was "
        "behind the planet. <a href=\"../../index.shtml\">Back</a> &amp; <em>more</em> to follow.</p>\n";
    const std::string title =
        "Notes " + std::to_string(section) + "." + std::to_string(topic) + "." + std::to_string(number);
    std::string text = "<!--#set var=\"title\" value=\"" + title +
                       "\" --><!--#include virtual=\"/include/header.inc\" -->\n<h1><!--#echo var=\"title\" --></h1>\n";
    const std::size_t body = std::uniform_int_distribution<std::size_t>(2000, 6000)(random);
    while (text.size() < body) text += paragraph;
    return text + "<!--#include virtual=\"/include/footer.inc\" -->\n";
}

std::string asset(std::mt19937& random) {
    const std::size_t size = std::uniform_int_distribution<std::size_t>(1024, 64 * 1024)(random);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(' ' + random() % 95);
    return bytes;
}

site_t generate_site(const std::string& root) {
    site_t site;
    std::mt19937 random(20240601);
    make_folder(site, root);
    make_folder(site, root + "/include");
    std::string nav = "<nav><ul>\n";
    for (int s = 0; s < sections; ++s)
        nav += "<li><a href=\"/section" + std::to_string(s) + "/topic0/page0.shtml\">Section " + std::to_string(s) +
               "</a></li>\n";
    write_file(site, root + "/include/nav.inc", nav + "</ul></nav>\n");
    write_file(site, root + "/include/header.inc",
               "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
               "<title><!--#echo var=\"title\" --> - Observatory notes</title>\n"
               "<link rel=\"stylesheet\" href=\"/section0/topic0/css/asset0.css\">\n</head>\n<body>\n"
               "<header><img src=\"/section0/topic0/img/asset2.img\" alt=\"\"> Observatory notes</header>\n"
               "<!--#include virtual=\"nav.inc\" -->\n<main>\n");
    write_file(site, root + "/include/footer.inc",
               "</main>\n<footer>Last changed <!--#echo var=\"LAST_MODIFIED\" --> - "
               "<!--#echo var=\"SERVER_SOFTWARE\" --></footer>\n</body>\n</html>\n");

    for (int s = 0; s < sections; ++s) {
        const std::string section = root + "/section" + std::to_string(s);
        make_folder(site, section);
        for (int t = 0; t < topics; ++t) {
            const std::string topic = section + "/topic" + std::to_string(t);
            make_folder(site, topic);
            for (const char* kind : asset_kinds) make_folder(site, topic + "/" + kind);
            for (int p = 0; p < pages_per_topic; ++p, ++site.pages)
                write_file(site, topic + "/page" + std::to_string(p) + ".shtml", page(random, s, t, p));
            for (int a = 0; a < assets_per_topic; ++a, ++site.assets) {
                const std::string kind = asset_kinds[a % 3];
                write_file(site, topic + "/" + kind + "/asset" + std::to_string(a) + "." + kind, asset(random));
            }
        }
    }
    return site;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void print_line(const char* name, const site_t& site, double seconds) {
    const int files = site.pages + site.assets;
    std::printf("%-34s %8.3f s %9.0f files/s %8.1f MiB/s\n", name, seconds, files / seconds,
                static_cast<double>(site.bytes) / (1024.0 * 1024.0) / seconds);
}

void run() {
    const ScratchFolder scratch("orrinfold-site");
    const std::string source = scratch.path("site");
    const site_t site = generate_site(source);
    std::printf("site: %d pages + %d other files (%.1f MiB) in %d folders under %s, best of %d runs\n", site.pages,
                site.assets, static_cast<double>(site.bytes) / (1024.0 * 1024.0), site.folders, source.c_str(), runs);

    SSIDirectoryPreferences preferences = default_preferences();
    preferences.virtual_root = source;
    NullBuffer null_buffer;
    std::ostream null_stream(&null_buffer);

    const auto copy_with = [&](const std::string& command, const std::string& destination) {
        if (std::system((command + " '" + source + "' '" + destination + "'").c_str()) != 0)
            throw std::runtime_error(command + " failed");
    };
    // The same pages in the Apache dialect, which here parses the .inc fragments too, so that
    // both dialects do the same work.
    SSIDirectoryPreferences apache = preferences;
    apache.dialect = dialect_t::apache;
    apache.parses_include = [](std::string_view) { return true; };
    // Pages renamed to .html, with every link to them rewritten.
    SSIDirectoryPreferences renaming = preferences;
    renaming.rename_pages = "html";
    double convert_best = std::numeric_limits<double>::infinity();
    double apache_best = convert_best;
    double renaming_best = convert_best;
    double copy_best = convert_best;
    double preserving_copy_best = convert_best;
    // The three take turns, so that a load on the machine from elsewhere slows all of them alike.
    for (int i = 0; i < runs; ++i) {
        const std::string converted = scratch.path("converted-" + std::to_string(i));
        CountingLog log(null_stream);
        auto start = std::chrono::steady_clock::now();
        convert_directory("", source, converted, preferences, log);
        convert_best = std::min(convert_best, seconds_since(start));
        if (log.problems != 0 || log.messages != site.pages + site.assets)
            throw std::runtime_error("the conversion logged " + std::to_string(log.problems) +
                                     " errors or warnings and " + std::to_string(log.messages) + " progress lines");
        fs::remove_all(converted);

        const std::string converted_apache = scratch.path("apache-" + std::to_string(i));
        CountingLog apache_log(null_stream);
        start = std::chrono::steady_clock::now();
        convert_directory("", source, converted_apache, apache, apache_log);
        apache_best = std::min(apache_best, seconds_since(start));
        if (apache_log.problems != 0) throw std::runtime_error("the Apache dialect logged errors or warnings");
        fs::remove_all(converted_apache);

        const std::string renamed = scratch.path("renamed-" + std::to_string(i));
        CountingLog renaming_log(null_stream);
        start = std::chrono::steady_clock::now();
        convert_directory("", source, renamed, renaming, renaming_log);
        renaming_best = std::min(renaming_best, seconds_since(start));
        if (renaming_log.problems != 0) throw std::runtime_error("renaming the pages logged errors or warnings");
        fs::remove_all(renamed);

        const std::string copied = scratch.path("copied-" + std::to_string(i));
        start = std::chrono::steady_clock::now();
        copy_with("cp -r", copied);
        copy_best = std::min(copy_best, seconds_since(start));
        fs::remove_all(copied);

        // What convert_directory does for the files it copies: mode and times are kept.
        const std::string preserved = scratch.path("preserved-" + std::to_string(i));
        start = std::chrono::steady_clock::now();
        copy_with("cp -r --preserve=mode,timestamps", preserved);
        preserving_copy_best = std::min(preserving_copy_best, seconds_since(start));
        fs::remove_all(preserved);
    }
    print_line("convert_directory", site, convert_best);
    print_line("convert_directory, Apache dialect", site, apache_best);
    print_line("convert_directory, pages renamed", site, renaming_best);
    print_line("cp -r", site, copy_best);
    print_line("cp -r --preserve=mode,timestamps", site, preserving_copy_best);
    std::printf("ratio convert_directory / cp -r: %.2f (target <= 1.5); / cp -r --preserve: %.2f\n",
                convert_best / copy_best, convert_best / preserving_copy_best);
    std::printf("ratio Apache dialect / default dialect: %.2f (target <= 1.2)\n", apache_best / convert_best);
    std::printf("ratio pages renamed / default: %.2f (target <= 1.2)\n", renaming_best / convert_best);
}
}  // namespace

int main() {
    try {
        run();
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "site_bench: %s\n", e.what());
        return 1;
    }
}
