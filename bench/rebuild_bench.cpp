// Runs the orrinfold program on a generated site of about a gigabyte (20,000 pages and 30,000
// other files by default) and compares each run with `cp -r` of the same tree, timed in the same
// run: a full conversion on one worker and on one per processor, a rebuild with nothing changed,
// and a rebuild after an edit of the fragment that one page in a hundred includes. Every run is
// a child process, so that its peak memory can be read from its resource usage. Everything lives
// under /dev/shm so the disk does not set the pace.
//
// Beside each figure it prints the physical floors measured in the same run: `cp -r`, `cp -r
// --preserve=mode,timestamps`, two `cp -r` of half the top-level entries each at the same time,
// a walk that only looks at every entry of the source and the destination (`find -printf`
// with sizes and times), which a rebuild with nothing changed is compared with, and the copies
// made as a run must make them (each file unnamed until complete, linked into place, with its
// times kept) on one thread, with no conversion: the floor of `--full -j 1`.
//
//   rebuild_bench [--preset small|medium|large] [--pages N] [--files N] [--average-kib N] [--runs N]
//                 [--orrinfold PATH]
//   rebuild_bench [--pages N] [--files N] [--average-kib N] --make-site DIR   (only makes the
//                 site, in a new folder DIR, e.g. for a profiler)
#include "scratch_folder.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {
constexpr int pages_per_topic = 40;
constexpr int topics_per_section = 10;
constexpr int notice_every = 100;  // one page in a hundred includes notice.inc
constexpr double mib = 1024.0 * 1024.0;

struct options_t {
    int pages = 20000;
    int files = 30000;
    int average_kib = 30;  // of the other files
    int runs = 3;
    std::string orrinfold;  // empty: the one beside the bench folder
    std::string make_site;  // only make the site, there
};

[[noreturn]] void usage(const std::string& problem) {
    throw std::invalid_argument(problem +
                                "\nusage: rebuild_bench [--preset small|medium|large] [--pages N] [--files N] [--average-kib N] [--runs N] "
                                "[--orrinfold PATH] [--make-site DIR]");
}

options_t parse_options(int argc, char** argv) {
    options_t options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) usage("missing value after " + name);
        const std::string value = argv[++i];
        if (name == "--preset") {
            // medium is the site of site_bench (2,000 pages, 3,000 other files), large the default.
            const std::pair<int, int> sizes = value == "small"    ? std::pair(200, 300)
                                              : value == "medium" ? std::pair(2000, 3000)
                                              : value == "large"  ? std::pair(20000, 30000)
                                                                  : std::pair(0, 0);
            if (sizes.first == 0) usage("unknown preset " + value);
            options.pages = sizes.first;
            options.files = sizes.second;
            continue;
        }
        if (name == "--orrinfold" || name == "--make-site") {
            (name == "--orrinfold" ? options.orrinfold : options.make_site) = value;
            continue;
        }
        int number = 0;
        try {
            std::size_t used = 0;
            number = std::stoi(value, &used);
            // Only a site without other files makes sense: every run needs pages.
            if (used != value.size() || number < (name == "--files" ? 0 : 1)) throw std::invalid_argument(value);
        } catch (const std::logic_error&) {
            usage("not a number of the right size: " + name + " " + value);
        }
        if (name == "--pages")
            options.pages = number;
        else if (name == "--files")
            options.files = number;
        else if (name == "--average-kib")
            options.average_kib = number;
        else if (name == "--runs")
            options.runs = number;
        else
            usage("unknown option " + name);
    }
    if (!options.make_site.empty()) return options;
    if (options.orrinfold.empty()) {
        // The bench lives in BUILD/bench, the program in BUILD.
        std::error_code error;
        const fs::path self = fs::read_symlink("/proc/self/exe", error);
        if (error) throw std::system_error(error, "/proc/self/exe");
        options.orrinfold = (self.parent_path().parent_path() / "orrinfold").string();
    }
    if (::access(options.orrinfold.c_str(), X_OK) != 0)
        throw std::runtime_error(options.orrinfold +
                                 " is not there: build the orrinfold target, or pass --orrinfold PATH");
    return options;
}

struct site_t {
    std::uintmax_t page_bytes = 0;
    std::uintmax_t other_bytes = 0;
    int pages = 0;
    int files = 0;
    int folders = 0;
    int notice_pages = 0;     // those that include notice.inc
    std::string notice_page;  // one of them, from the root
};

void write_file(const std::string& path, const char* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(data, static_cast<std::streamsize>(size));
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

void write_file(const std::string& path, const std::string& content) {
    write_file(path, content.data(), content.size());
}

void make_folders(site_t& site, const std::string& path) {
    if (path.empty() || fs::exists(path)) return;
    make_folders(site, fs::path(path).parent_path().string());
    fs::create_directory(path);
    ++site.folders;
}

std::string notice(int revision) {
    std::string text = "<aside class=\"notice\">Revision " + std::to_string(revision) +
                       ": the observatory is closed for maintenance of the dome";
    // A different length each time as well as different bytes.
    for (int i = 0; i < revision % 7; ++i) text += ", and of the mount";
    return text + ".</aside>\n";
}

// A page of 4-8 KB: a title, the shared header (which includes the navigation) and footer, the
// time the page changed, the size of a download beside it, and on one page in a hundred the notice.
std::string page(std::mt19937& random, int number, const std::string& name, const std::string& download,
                 bool with_notice) {
    static const char* const paragraphs[] = {
        "<p>Observing notes: the seeing was steady after midnight and the transparency good enough to split "
        "the double star at high power. Jupiter showed two belts and three moons; the fourth was behind the "
        "planet. <a href=\"../../index.shtml\">Back</a> &amp; <em>more</em> to follow.</p>\n",
        "<p>The new eyepiece arrived on Tuesday. Its field is wider than the old one's and the edge of the "
        "field stays sharp; <strong>recommended</strong> for star clusters and the Moon's terminator.</p>\n",
        "<p>Clouds rolled in at ten, so the evening went into cleaning the secondary mirror and writing up "
        "last week's log. <a href=\"index.shtml\">All notes</a> in this topic.</p>\n",
        "<ul><li>Saturn: rings wide open</li><li>M13: resolved to the core</li><li>Albireo: gold and "
        "blue</li></ul>\n",
    };
    std::string text = "<!--#set var=\"title\" value=\"Notes " + std::to_string(number) +
                       "\" --><!--#include virtual=\"/include/header.inc\" -->\n"
                       "<h1><!--#echo var=\"title\" --></h1>\n"
                       "<!--#config timefmt=\"%Y-%m-%d\" --><p class=\"changed\">Changed <!--#flastmod virtual=\"" +
                       name + "\" --></p>\n";
    if (with_notice) text += "<!--#include virtual=\"/include/notice.inc\" -->\n";
    if (!download.empty())
        text +=
            "<p><a href=\"" + download + "\">Download the log</a> (<!--#fsize virtual=\"" + download + "\" -->)</p>\n";
    const std::size_t body = std::uniform_int_distribution<std::size_t>(4000, 8000)(random) - 120;
    while (text.size() < body) text += paragraphs[random() % std::size(paragraphs)];
    return text + "<!--#include virtual=\"/include/footer.inc\" -->\n";
}

// Sizes of the other files, scaled to the requested average (about 30 KiB by default): half are
// small (stylesheets, scripts, thumbnails), a third medium (photos), the rest large (downloads).
struct other_file_t {
    std::string folder;
    std::string extension;
    std::size_t size;
};

other_file_t other_file(std::mt19937& random, int average_kib) {
    const double scale = average_kib / 30.0 * 1024.0;
    const auto size = [&](double low, double high) {
        return static_cast<std::size_t>(std::uniform_real_distribution<double>(low, high)(random) * scale);
    };
    const auto bucket = random() % 100;
    if (bucket < 50) {
        static const char* const kinds[][2] = {{"css", "css"}, {"js", "js"}, {"img/thumbs", "png"}};
        const auto& kind = kinds[random() % 3];
        return {kind[0], kind[1], size(0.5, 8)};
    }
    if (bucket < 85) return {"img/photos", "jpg", size(8, 64)};
    return {random() % 2 == 0 ? "files/2023" : "files/2024", random() % 2 == 0 ? "pdf" : "zip", size(64, 144)};
}

site_t generate_site(const std::string& root, const options_t& options) {
    site_t site;
    std::mt19937 random(20240601);
    // The other files are slices of this, each with its own first bytes. Kept small: this
    // program's own peak memory is a floor under what its children report.
    const std::size_t largest = static_cast<std::size_t>(144.0 * options.average_kib / 30.0 * 1024.0) + 1;
    std::string pool(std::max<std::size_t>(std::size_t{1} << 20, 2 * largest), '\0');
    for (char& c : pool) c = static_cast<char>(random());

    make_folders(site, root + "/include");
    const int topics = (options.pages + pages_per_topic - 1) / pages_per_topic;
    std::string nav = "<nav><ul>\n";
    for (int s = 0; s * topics_per_section < topics; ++s)
        nav += "<li><a href=\"/section" + std::to_string(s) + "/topic0/page0.shtml\">Section " + std::to_string(s) +
               "</a></li>\n";
    write_file(root + "/include/nav.inc", nav + "</ul></nav>\n");
    write_file(root + "/include/header.inc",
               "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
               "<title><!--#echo var=\"title\" --> - Observatory notes</title>\n"
               "<link rel=\"stylesheet\" href=\"/style.css\">\n</head>\n<body>\n"
               "<header><img src=\"/logo.png\" alt=\"\"> Observatory notes</header>\n"
               "<!--#include virtual=\"nav.inc\" -->\n<main>\n");
    write_file(root + "/include/footer.inc",
               "</main>\n<footer>Last changed <!--#echo var=\"LAST_MODIFIED\" --> - "
               "<!--#echo var=\"DOCUMENT_NAME\" --></footer>\n</body>\n</html>\n");
    write_file(root + "/include/notice.inc", notice(0));

    for (int t = 0; t < topics; ++t) {
        const std::string topic_path =
            "section" + std::to_string(t / topics_per_section) + "/topic" + std::to_string(t);
        const std::string topic = root + "/" + topic_path;
        make_folders(site, topic);
        std::string download;
        const int first_file = static_cast<int>(static_cast<long long>(t) * options.files / topics);
        const int end_file = static_cast<int>(static_cast<long long>(t + 1) * options.files / topics);
        for (int f = first_file; f < end_file; ++f, ++site.files) {
            const other_file_t file = other_file(random, options.average_kib);
            make_folders(site, topic + "/" + file.folder);
            const std::string name = file.folder + "/file" + std::to_string(f) + "." + file.extension;
            std::string head = name + "\n";
            const std::size_t size = std::max(file.size, head.size());
            const std::size_t from = random() % (pool.size() - size);
            pool.replace(from, head.size(), head);
            write_file(topic + "/" + name, pool.data() + from, size);
            site.other_bytes += size;
            if (download.empty() && file.folder.starts_with("files")) download = name;
        }
        const int end_page = std::min(options.pages, (t + 1) * pages_per_topic);
        for (int p = t * pages_per_topic; p < end_page; ++p, ++site.pages) {
            const std::string name = "page" + std::to_string(p) + ".shtml";
            const bool with_notice = p % notice_every == 0;
            const std::string text = page(random, p, name, download, with_notice);
            write_file(topic + "/" + name, text);
            site.page_bytes += text.size();
            if (with_notice) {
                ++site.notice_pages;
                site.notice_page = topic_path + "/" + name;
            }
        }
    }
    return site;
}

struct summary_t {
    std::uint64_t documents = 0, copies = 0, skipped = 0, up_to_date = 0, removed = 0, errors = 0, warnings = 0;
};

// Reads the summary line the program prints last ("N documents converted, N files copied, N
// skipped, N up to date; N errors, N warnings").
summary_t parse_summary(const std::string& output) {
    summary_t summary;
    bool found = false;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.find(" converted, ") == std::string::npos) continue;
        found = true;
        summary = {};
        for (char& c : line)
            if (c == ';') c = ',';
        std::istringstream parts(line);
        for (std::string part; std::getline(parts, part, ',');) {
            std::istringstream words(part);
            std::uint64_t number = 0;
            std::string what;
            if (!(words >> number)) continue;
            std::getline(words, what);
            if (what.ends_with("converted"))
                summary.documents = number;
            else if (what.ends_with("copied"))
                summary.copies = number;
            else if (what.ends_with("skipped"))
                summary.skipped = number;
            else if (what.ends_with("up to date"))
                summary.up_to_date = number;
            else if (what.ends_with("removed"))
                summary.removed = number;
            else if (what.find("error") != std::string::npos)
                summary.errors = number;
            else if (what.find("warning") != std::string::npos)
                summary.warnings = number;
        }
    }
    if (!found) throw std::runtime_error("no summary line in the output:\n" + output);
    return summary;
}

struct child_run_t {
    double seconds = 0;
    double peak_mib = 0;  // the child's largest resident set
    std::string output;
};

// Starts a program with its standard output (and with errors, its standard error) going into
// a pipe, whose reading end is output.
pid_t spawn_piped(const std::vector<std::string>& arguments, bool errors, int& output) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int pipe_ends[2];
    if (::pipe2(pipe_ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
    if (errors) posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDERR_FILENO);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_ends[1]);
    if (spawned != 0) {
        ::close(pipe_ends[0]);
        throw std::system_error(spawned, std::generic_category(), "cannot start " + arguments[0]);
    }
    output = pipe_ends[0];
    return pid;
}

// Runs a program to its end with its standard output read into the result; the time counts from
// before it starts to after it is reaped.
child_run_t run_program(const std::vector<std::string>& arguments) {
    child_run_t run;
    const auto start = std::chrono::steady_clock::now();
    int output = -1;
    const pid_t pid = spawn_piped(arguments, false, output);
    char buffer[4096];
    for (ssize_t n; (n = ::read(output, buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            run.output.append(buffer, static_cast<std::size_t>(n));
        else if (errno != EINTR)
            break;
    }
    ::close(output);
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "wait4");
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peak_mib = static_cast<double>(usage.ru_maxrss) * 1024.0 / mib;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string command;
        for (const std::string& argument : arguments) command += (command.empty() ? "" : " ") + argument;
        throw std::runtime_error(command + " failed (status " + std::to_string(status) + "):\n" +
                                 run.output.substr(0, 2000));
    }
    return run;
}

// Runs programs at the same time, their output dropped; the time counts from before the first
// starts to after the last is reaped.
double run_together(const std::vector<std::vector<std::string>>& commands) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<pid_t> children;
    const auto start = std::chrono::steady_clock::now();
    for (const std::vector<std::string>& arguments : commands) {
        std::vector<char*> argv;
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        pid_t pid = 0;
        const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        if (spawned != 0) {
            posix_spawn_file_actions_destroy(&actions);
            throw std::system_error(spawned, std::generic_category(), "cannot start " + arguments[0]);
        }
        children.push_back(pid);
    }
    posix_spawn_file_actions_destroy(&actions);
    bool failed = false;
    for (const pid_t pid : children) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0)
            if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
        failed = failed || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    }
    if (failed) throw std::runtime_error(commands.front().front() + " failed");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A program left running, its standard output and error read line by line; stopped with SIGINT.
class RunningProgram {
public:
    explicit RunningProgram(const std::vector<std::string>& arguments) : pid_(spawn_piped(arguments, true, output_)) {}
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    ~RunningProgram() {
        ::kill(pid_, SIGINT);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        ::close(output_);
    }

    // The next line holding text; throws when the program ends first.
    std::string line_with(const std::string& text) {
        for (;;) {
            for (std::size_t end; (end = buffered_.find('\n')) != std::string::npos;) {
                std::string line = buffered_.substr(0, end);
                buffered_.erase(0, end + 1);
                if (line.find(text) != std::string::npos) return line;
            }
            char buffer[4096];
            const ssize_t n = ::read(output_, buffer, sizeof buffer);
            if (n == 0) throw std::runtime_error("the program ended before printing \"" + text + "\"");
            if (n > 0)
                buffered_.append(buffer, static_cast<std::size_t>(n));
            else if (errno != EINTR)
                throw std::system_error(errno, std::generic_category(), "read");
        }
    }

private:
    int output_ = -1;  // set by the start of the program, which comes after this
    pid_t pid_ = 0;
    std::string buffered_;
};

// The floors a run is measured against, each timed once per round.
struct floors_t {
    double copy = std::numeric_limits<double>::infinity();
    double copy_preserving = std::numeric_limits<double>::infinity();
    double two_halves = std::numeric_limits<double>::infinity();
    double stat_walk = std::numeric_limits<double>::infinity();
    double safe_copy = std::numeric_limits<double>::infinity();
};

// Copies a file the way a run must: into an unnamed file in the destination folder (a named one
// renamed into place where the system has none), with the source's times, linked under its name
// once complete. No conversion, no record: the floor of a run's copying.
void safe_copy_file(int source_folder, const char* name, const std::string& folder, const std::string& target) {
    const int in = ::openat(source_folder, name, O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (in < 0 || ::fstat(in, &status) != 0) throw std::runtime_error("cannot read " + std::string(name));
    std::string temporary;
    int out = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, status.st_mode & 07777);
    if (out < 0) {
        temporary = target + ".floor-tmp";
        out = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, status.st_mode & 07777);
    }
    if (out < 0) throw std::runtime_error("cannot write " + target);
    for (off_t left = status.st_size; left > 0;) {
        const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(left), 0);
        if (copied <= 0) throw std::runtime_error("cannot copy " + target);
        left -= copied;
    }
    const timespec times[2] = {status.st_atim, status.st_mtim};
    ::futimens(out, times);
    const bool linked = temporary.empty()
                            ? ::linkat(out, "", AT_FDCWD, target.c_str(), AT_EMPTY_PATH) == 0 ||
                                  ::linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(out)).c_str(), AT_FDCWD,
                                           target.c_str(), AT_SYMLINK_FOLLOW) == 0
                            : ::rename(temporary.c_str(), target.c_str()) == 0;
    ::close(in);
    ::close(out);
    if (!linked) throw std::runtime_error("cannot put " + target + " in place");
}

void safe_copy_tree(const std::string& source, const std::string& destination) {
    ::mkdir(destination.c_str(), 0777);
    const int folder = ::open(source.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = folder < 0 ? nullptr : ::fdopendir(folder);
    if (listing == nullptr) throw std::runtime_error("cannot list " + source);
    std::vector<std::pair<std::string, bool>> entries;  // name, and whether a folder
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat status {};
        ::fstatat(folder, entry->d_name, &status, AT_SYMLINK_NOFOLLOW);
        entries.emplace_back(entry->d_name, S_ISDIR(status.st_mode));
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& [name, is_folder] : entries) {
        if (is_folder)
            safe_copy_tree(source + "/" + name, destination + "/" + name);
        else
            safe_copy_file(folder, name.c_str(), destination, destination + "/" + name);
    }
    ::closedir(listing);
}

// Times each floor once for source, keeping the best of the rounds; the copies are removed again.
void measure_floors(floors_t& floors, const std::string& source, const std::string& scratch, int round) {
    fs::create_directories(scratch);
    const std::string copied = scratch + "/floor-" + std::to_string(round);
    floors.copy = std::min(floors.copy, run_together({{"cp", "-r", source, copied}}));
    fs::remove_all(copied);
    floors.copy_preserving =
        std::min(floors.copy_preserving, run_together({{"cp", "-r", "--preserve=mode,timestamps", source, copied}}));
    // The stat-only walk goes over the source and a copy of it standing for the destination.
    floors.stat_walk =
        std::min(floors.stat_walk, run_together({{"find", source, copied, "-printf", "%s %T@\n"}}));
    fs::remove_all(copied);
    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(source)) entries.push_back(entry.path().string());
    std::sort(entries.begin(), entries.end());
    std::vector<std::string> first{"cp", "-r"}, second{"cp", "-r"};
    for (std::size_t i = 0; i < entries.size(); ++i) (i < entries.size() / 2 ? first : second).push_back(entries[i]);
    fs::create_directory(copied);
    first.push_back(copied + "/");
    second.push_back(copied + "/");
    floors.two_halves = std::min(floors.two_halves, run_together({first, second}));
    fs::remove_all(copied);
    const auto started = std::chrono::steady_clock::now();
    safe_copy_tree(source, copied);
    floors.safe_copy = std::min(floors.safe_copy,
                                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    fs::remove_all(copied);
}

// This program's own peak resident set: a child started from it may report at least that much.
double own_peak_mib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:")) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

// The machine's load, printed with the figures: other work slows some runs more than others.
std::string load_average() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return file ? one + " " + five + " " + fifteen : "unknown";
}

void expect(bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error(what);
}

std::string counts(const summary_t& summary) {
    return std::to_string(summary.documents) + " documents, " + std::to_string(summary.copies) + " copies, " +
           std::to_string(summary.up_to_date) + " up to date";
}

struct best_t {
    double seconds = std::numeric_limits<double>::infinity();
    double peak_mib = 0;  // the largest of the runs
    summary_t summary;    // of the last run

    void add(const child_run_t& run) {
        seconds = std::min(seconds, run.seconds);
        peak_mib = std::max(peak_mib, run.peak_mib);
    }
};

void print_ratio(const char* name, const best_t& best, double copy_seconds, double target, const std::string& extra) {
    std::printf("%-40s %8.3f s  %5.3f x cp -r (target <= %.2f)  %s\n", name, best.seconds, best.seconds / copy_seconds,
                target, extra.c_str());
}

void run(const options_t& options) {
    const ScratchFolder scratch("orrinfold-rebuild");
    const std::string source = scratch.path("site");
    auto start = std::chrono::steady_clock::now();
    const site_t site = generate_site(source, options);
    const double generated = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const unsigned processors = std::thread::hardware_concurrency();
    std::printf(
        "site: %d pages (%.1f MiB; %d include notice.inc) + %d other files (%.1f MiB, average %.1f KiB) in %d "
        "folders under %s, made in %.1f s\n",
        site.pages, static_cast<double>(site.page_bytes) / mib, site.notice_pages, site.files,
        static_cast<double>(site.other_bytes) / mib,
        static_cast<double>(site.other_bytes) / 1024.0 / std::max(site.files, 1), site.folders, source.c_str(),
        generated);
    std::printf(
        "program: %s; %u processors; best of %d runs each; rebuilds with one worker per processor; load "
        "average %s\n",
        options.orrinfold.c_str(), processors, options.runs, load_average().c_str());
    std::fflush(stdout);

    const auto full = [&](const std::string& label, int i, const std::vector<std::string>& jobs) {
        const std::string output = scratch.path(label + "-" + std::to_string(i));
        std::vector<std::string> arguments{options.orrinfold, "-q"};
        arguments.insert(arguments.end(), jobs.begin(), jobs.end());
        arguments.insert(arguments.end(), {"--full", "--state-dir", scratch.path(label + "-state-" + std::to_string(i)),
                                           source, output});
        const child_run_t run = run_program(arguments);
        const summary_t summary = parse_summary(run.output);
        expect(summary.documents == static_cast<std::uint64_t>(site.pages) &&
                   summary.copies == static_cast<std::uint64_t>(site.files) && summary.errors == 0 &&
                   summary.warnings == 0,
               "a full run (" + label + ") did " + counts(summary) + ", " + std::to_string(summary.errors) +
                   " errors, " + std::to_string(summary.warnings) + " warnings:\n" + run.output.substr(0, 2000));
        fs::remove_all(output);
        return run;
    };

    // They take turns, so that a load on the machine from elsewhere slows all of them alike.
    best_t sequential, parallel;
    floors_t floors;
    for (int i = 0; i < options.runs; ++i) {
        measure_floors(floors, source, scratch.path("floors"), i);
        sequential.add(full("sequential", i, {"-j", "1"}));
        parallel.add(full("parallel", i, {}));
    }

    // Rebuilds of one destination, whose record the first run made.
    const std::string kept = scratch.path("kept");
    const std::string state = scratch.path("kept-state");
    const std::vector<std::string> rebuild{options.orrinfold, "-q", "--state-dir", state, source, kept};
    std::vector<std::string> first = rebuild;
    first.insert(first.begin() + 2, "--full");
    run_program(first);

    best_t unchanged, edited;
    for (int i = 0; i < options.runs; ++i) {
        const child_run_t run = run_program(rebuild);
        unchanged.add(run);
        unchanged.summary = parse_summary(run.output);
        expect(unchanged.summary.documents == 0 && unchanged.summary.copies == 0 &&
                   unchanged.summary.up_to_date == static_cast<std::uint64_t>(site.pages + site.files),
               "a rebuild with nothing changed did " + counts(unchanged.summary));
    }
    for (int i = 1; i <= options.runs; ++i) {
        write_file(source + "/include/notice.inc", notice(i));
        const child_run_t run = run_program(rebuild);
        edited.add(run);
        edited.summary = parse_summary(run.output);
        expect(edited.summary.documents == static_cast<std::uint64_t>(site.notice_pages) && edited.summary.copies == 0,
               "a rebuild after notice.inc changed did " + counts(edited.summary) + ", not " +
                   std::to_string(site.notice_pages) + " documents");
        std::ifstream converted(kept + "/" + site.notice_page);
        const std::string text{std::istreambuf_iterator<char>(converted), std::istreambuf_iterator<char>()};
        expect(text.find(notice(i)) != std::string::npos, site.notice_page + " does not show the edited notice");
    }

    // A watch told of the same edit: from the save to the rebuild's summary, with the watch
    // waiting 10 ms for quiet.
    best_t watched;
    {
        std::vector<std::string> watch = rebuild;
        watch.insert(watch.begin() + 1, {"--watch", "--settle", "10"});
        RunningProgram program(watch);
        program.line_with("Watching");
        for (int i = 1; i <= options.runs; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const auto saved = std::chrono::steady_clock::now();
            write_file(source + "/include/notice.inc", notice(100 + i));
            child_run_t run;
            run.output = program.line_with("documents converted") + "\n";
            run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - saved).count();
            watched.add(run);
            watched.summary = parse_summary(run.output);
            expect(watched.summary.documents == static_cast<std::uint64_t>(site.notice_pages),
                   "a watch's rebuild after notice.inc changed did " + counts(watched.summary));
        }
    }

    const double c = floors.copy;
    std::printf("%-40s %8.3f s\n", "cp -r", c);
    std::printf("%-40s %8.3f s  %5.3f x cp -r\n", "cp -r --preserve=mode,timestamps", floors.copy_preserving,
                floors.copy_preserving / c);
    std::printf("%-40s %8.3f s  %5.3f x cp -r\n", "two cp -r of halves at once", floors.two_halves,
                floors.two_halves / c);
    std::printf("%-40s %8.3f s  %5.3f x cp -r\n", "stat-only walk (find -printf) of both", floors.stat_walk,
                floors.stat_walk / c);
    std::printf("%-40s %8.3f s  %5.3f x cp -r\n", "safe copies, times kept, one thread", floors.safe_copy,
                floors.safe_copy / c);
    const auto memory = [](const best_t& best) {
        char text[64];
        std::snprintf(text, sizeof text, "peak %.1f MiB", best.peak_mib);
        return std::string(text);
    };
    print_ratio("full conversion, -j 1", sequential, c, 1.25, memory(sequential));
    const std::string all_label = "full conversion, " + std::to_string(processors) + " workers";
    print_ratio(all_label.c_str(), parallel, c, 0.75, memory(parallel));
    print_ratio("rebuild, nothing changed", unchanged, c, 0.12, counts(unchanged.summary) + ", " + memory(unchanged));
    std::printf("%-40s %8.3f x the stat-only walk (target <= 1.3)\n", "rebuild, nothing changed",
                unchanged.seconds / floors.stat_walk);
    print_ratio("rebuild, notice.inc edited", edited, c, 0.1,
                std::to_string(edited.summary.documents) + " documents converted (1 % of the pages: " +
                    std::to_string(site.notice_pages) + "), " + memory(edited));
    print_ratio("--watch, notice.inc edited", watched, c, 0.1, "from the save to the summary line");
    std::printf(
        "peak memory of a full run: %.1f MiB with -j 1, %.1f MiB with %u workers (target <= 64 MiB; this "
        "program's own peak, a floor for its children's figures: %.1f MiB)\n",
        sequential.peak_mib, parallel.peak_mib, processors, own_peak_mib());
    std::printf("load average at the end: %s\n", load_average().c_str());
}
}  // namespace

int main(int argc, char** argv) {
    try {
        const options_t options = parse_options(argc, argv);
        if (options.make_site.empty()) {
            run(options);
            return 0;
        }
        if (fs::exists(options.make_site)) throw std::runtime_error(options.make_site + " already exists");
        const site_t site = generate_site(options.make_site, options);
        std::printf("%d pages, %d other files, %.1f MiB in %s\n", site.pages, site.files,
                    static_cast<double>(site.page_bytes + site.other_bytes) / mib, options.make_site.c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rebuild_bench: %s\n", e.what());
        return 1;
    }
}
