// Converts one generated site twice, with the core as the command-line program runs it and
// through the desktop program's Convert button, and compares the times: what the window adds
// (its log, progress and the count before the run) should stay small. Also times the log
// alone, line by line at the pace a run writes it. Runs headless; the site lives under /dev/shm.
//   gui_bench [--pages N] [--files M] [--runs R]
#include "app_preferences.h"
#include "base/compile_log.h"
#include "build/convert.h"
#include "folders_tree.h"
#include "gui_compile_log.h"
#include "main_window.h"
#include "scratch_folder.h"
#include "ssi/preferences.h"
#include "ssi/ssi_parser.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <time.h>

namespace fs = std::filesystem;

namespace {
constexpr int pages_per_folder = 20;
constexpr int files_per_folder = 50;
constexpr const char* asset_kinds[] = {"css", "js", "img"};

struct site_t {
    int pages = 0;
    int files = 0;
};

void write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

// A page of 1-4 KB that includes the header and footer, and every third one a sidebar too.
std::string page(std::mt19937& random, int number) {
    static const std::string paragraph =
        "<p>Observing notes: the seeing was steady after midnight and the transparency good enough to "
        "split the double star at high power. <a href=\"../index.shtml\">Back</a> &amp; more.</p>\n";
    std::string text = "<!--#set var=\"title\" value=\"Notes " + std::to_string(number) +
                       "\" --><!--#include virtual=\"/include/header.inc\" -->\n";
    if (number % 3 == 0) text += "<!--#include virtual=\"/include/sidebar.inc\" -->\n";
    const std::size_t body = std::uniform_int_distribution<std::size_t>(1000, 4000)(random);
    while (text.size() < body) text += paragraph;
    return text + "<!--#include virtual=\"/include/footer.inc\" -->\n";
}

std::string small_file(std::mt19937& random) {
    std::string bytes(std::uniform_int_distribution<std::size_t>(200, 4000)(random), '\0');
    for (char& c : bytes) c = static_cast<char>(' ' + random() % 95);
    return bytes;
}

// Pages twenty to a folder, other files fifty to a folder in css, js and img folders beside them.
site_t generate_site(const std::string& root, int pages, int files) {
    site_t site;
    std::mt19937 random(20240601);
    fs::create_directories(root + "/include");
    write_file(root + "/include/header.inc",
               "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
               "<title><!--#echo var=\"title\" --></title>\n</head>\n<body>\n<main>\n");
    write_file(root + "/include/sidebar.inc", "<aside><a href=\"/index.shtml\">Home</a></aside>\n");
    write_file(root + "/include/footer.inc",
               "</main>\n<footer>Last changed <!--#echo var=\"LAST_MODIFIED\" --></footer>\n</body>\n</html>\n");
    for (int folder = 0; site.pages < pages || site.files < files; ++folder) {
        const std::string path = root + "/section" + std::to_string(folder / 20) + "/topic" + std::to_string(folder);
        fs::create_directories(path);
        for (int p = 0; p < pages_per_folder && site.pages < pages; ++p, ++site.pages)
            write_file(path + "/page" + std::to_string(p) + ".shtml", page(random, site.pages));
        for (int f = 0; f < files_per_folder && site.files < files; ++f, ++site.files) {
            const std::string kind = asset_kinds[f % 3];
            fs::create_directories(path + "/" + kind);
            write_file(path + "/" + kind + "/file" + std::to_string(f) + "." + kind, small_file(random));
        }
    }
    return site;
}

// Counts the lines and drops them, as the command-line program's output to /dev/null would.
class NullLog : public CompileLogBase {
public:
    void output_line(const std::string&) override { ++lines; }
    void error(const std::string&) override { ++problems; }
    void warning(const std::string&) override { ++problems; }
    int lines = 0;
    int problems = 0;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double core_run(const std::string& source, const std::string& destination, const SSIDirectoryPreferences& preferences,
                const site_t& site) {
    NullLog log;
    const auto start = std::chrono::steady_clock::now();
    convert_directory("", source, destination, preferences, log);
    const double seconds = seconds_since(start);
    if (log.problems != 0 || log.lines != site.pages + site.files)
        throw std::runtime_error("the core run logged " + std::to_string(log.problems) + " problems and " +
                                 std::to_string(log.lines) + " lines");
    return seconds;
}

// As the user does it: both folders chosen in the trees, then Convert, until the window says the run ended.
double window_run(MainWindow& window, const std::string& source, const std::string& destination, const site_t& site) {
    fs::create_directory(destination);
    if (!window.findChild<FoldersTree*>("source_tree")->select_path(source) ||
        !window.findChild<FoldersTree*>("destination_tree")->select_path(destination))
        throw std::runtime_error("cannot select the folders");
    QEventLoop loop;
    QObject::connect(&window, &MainWindow::conversion_finished, &loop, &QEventLoop::quit);
    const auto start = std::chrono::steady_clock::now();
    window.findChild<QPushButton*>("convert_button")->click();
    loop.exec();
    const double seconds = seconds_since(start);
    const auto* list = window.findChild<QListWidget*>("log_list");
    const QString status = window.findChild<QLabel*>("status_label")->text();
    if (list->count() != site.pages + site.files + 2 || list->item(list->count() - 1)->text() != "Finished!" ||
        status != "0 errors, 0 warnings")
        throw std::runtime_error("the window's run logged " + std::to_string(list->count()) + " lines, " +
                                 status.toStdString());
    return seconds;
}

double thread_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The window's log alone: lines written from another thread at the pace of a run, until all
// are shown. Returns the window thread's processor time for them.
double log_lines_run(MainWindow& window, int lines, double lines_per_second) {
    auto* log = window.findChild<GUICompileLog*>();
    auto* list = window.findChild<QListWidget*>("log_list");
    list->clear();
    const double start = thread_cpu_seconds();
    QThread* writer = QThread::create([log, lines, lines_per_second] {
        const auto begin = std::chrono::steady_clock::now();
        for (int i = 0; i < lines; ++i) {
            log->message("Converting section" + std::to_string(i) + "/page.shtml...");
            if (i % 500 == 0)
                std::this_thread::sleep_until(begin + std::chrono::duration<double>(i / lines_per_second));
        }
    });
    writer->start();
    while (list->count() < lines) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = thread_cpu_seconds() - start;
    writer->wait();
    delete writer;
    return seconds;
}

int number_after(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return std::max(0, std::atoi(argv[i + 1]));
    return fallback;
}

void run(int argc, char** argv) {
    const int pages = number_after(argc, argv, "--pages", 20000);
    const int files = number_after(argc, argv, "--files", 30000);
    const int runs = std::max(1, number_after(argc, argv, "--runs", 3));
    const ScratchFolder scratch("orrinfold-gui");
    // The window reads its settings; they come from the scratch folder, not the user's.
    qputenv("XDG_CONFIG_HOME", scratch.path("config").c_str());
    qputenv("XDG_CACHE_HOME", scratch.path("cache").c_str());
    const std::string source = scratch.path("site");
    const site_t site = generate_site(source, pages, files);
    std::printf("site: %d pages + %d other files under %s, best of %d runs\n", site.pages, site.files, source.c_str(),
                runs);

    init_preferences();
    app_preferences.virtual_root = source;
    // What the window runs with: one job per processor.
    SSIDirectoryPreferences preferences = app_preferences;
    preferences.jobs = 0;
    MainWindow window;
    window.show();
    QCoreApplication::processEvents();

    double core_best = std::numeric_limits<double>::infinity();
    double window_best = core_best;
    // The two take turns, so that a load from elsewhere slows both alike.
    for (int i = 0; i < runs; ++i) {
        const std::string core_destination = scratch.path("core-" + std::to_string(i));
        core_best = std::min(core_best, core_run(source, core_destination, preferences, site));
        fs::remove_all(core_destination);
        const std::string window_destination = scratch.path("window-" + std::to_string(i));
        window_best = std::min(window_best, window_run(window, source, window_destination, site));
        fs::remove_all(window_destination);
    }
    const int lines = std::max(site.pages + site.files, 1);
    const double log_seconds = log_lines_run(window, lines, lines / core_best);
    std::printf("%-28s %8.3f s\n", "core run (no log)", core_best);
    std::printf("%-28s %8.3f s\n", "desktop program's run", window_best);
    std::printf("%-28s %8.3f s  %.2f us a line (processor time of the window's thread)\n", "its log alone", log_seconds,
                log_seconds * 1e6 / lines);
    std::printf("ratio desktop / core: %.2f (target <= 1.2)\n", window_best / core_best);
}
}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    try {
        run(argc, argv);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gui_bench: %s\n", e.what());
        return 1;
    }
}
