#include "cli_log.h"

#include "console.h"
#include "json_log.h"

#include <array>
#include <cerrno>
#include <ostream>

const char* severity_name(severity_t severity) {
    switch (severity) {
        case severity_t::error: return "error";
        case severity_t::warning: return "warning";
        case severity_t::note: return "note";
    }
    return "note";
}

namespace {
std::string_view severity_color(severity_t severity) {
    switch (severity) {
        case severity_t::error: return sgr::error;
        case severity_t::warning: return sgr::warning;
        case severity_t::note: return sgr::note;
    }
    return sgr::note;
}

// "a//b" from a SOURCE given with a trailing slash reads "a/b"; a leading "//" stays.
std::string single_slashes(std::string path) {
    for (std::size_t at = path.find("//", 1); at != std::string::npos; at = path.find("//", at)) path.erase(at, 1);
    return path;
}

// The lines the conversion writes for each file, which the status line stands for.
bool is_file_progress(const std::string& text) {
    for (const char* start : {"Converting ", "Copying ", "Removing "})
        if (text.starts_with(start) && text.ends_with("...")) return true;
    return text.starts_with("Up to date: ");
}
}  // namespace

bool is_apache_only(const std::string& text) {
    static const std::array<std::string, 5> texts = {
        "Unknown SSI command: if", "Unknown SSI command: elif", "Unknown SSI command: else",
        "Unknown SSI command: endif", "'file' argument is not supported (only 'virtual')"};
    for (const std::string& known : texts)
        if (text == known) return true;
    return false;
}

namespace {
std::string seconds_text(double seconds) {
    const auto whole = static_cast<unsigned long long>(seconds + 0.5);
    if (whole < 60) return std::to_string(whole) + " s";
    return std::to_string(whole / 60) + " min " + std::to_string(whole % 60) + " s";
}
}  // namespace

std::string user_path(const source_position_t& position) {
    return position.file.empty() ? position.path : single_slashes(position.file);
}

std::string user_place(const source_position_t& position) {
    source_position_t shown = position;
    shown.path = user_path(position);
    return to_string(shown);
}

CliLog::CliLog(std::ostream& out, std::ostream& err, cli_log_settings_t settings)
    : out_(out), err_(err), settings_(settings) {}

void CliLog::write_out(const std::string& line, bool now) {
    clear_status();
    errno = 0;
    out_ << printable(line) << '\n';
    if (out_.fail() && write_errno_ == 0) write_errno_ = errno;
    // A write a line costs a long run to a pipe about a tenth of its time.
    constexpr auto batch_time = std::chrono::milliseconds(100);
    if (now || !settings_.batched || std::chrono::steady_clock::now() - flushed_ >= batch_time) flush_out();
}

void CliLog::flush_out() {
    errno = 0;
    out_.flush();
    flushed_ = std::chrono::steady_clock::now();
    if (out_.fail() && write_errno_ == 0) write_errno_ = errno;
}

void CliLog::output_line(const std::string& text) { write_out(text); }

namespace {
// A progress line as a dry run lists it: what would happen to the file, then its name.
std::string itemized(const std::string& text) {
    static const struct { const char* start; const char* end; const char* item; } kinds[] = {
        {"Converting ", "...", "convert "}, {"Copying ", "...", "copy "}, {"Removing ", "...", "remove "},
        {"Up to date: ", "", "up to date "}};
    for (const auto& kind : kinds) {
        const std::string_view start = kind.start, end = kind.end;
        if (text.size() >= start.size() + end.size() && text.starts_with(start) && text.ends_with(end))
            return kind.item + text.substr(start.size(), text.size() - start.size() - end.size());
    }
    return text;
}
}  // namespace

void CliLog::message(const std::string& text) {
    if (settings_.quiet) return;
    if (settings_.itemize) return write_out(itemized(text));
    if (settings_.status_line && is_file_progress(text)) return draw_status(false);
    write_out(text);
}

void CliLog::summary(const std::string& text) {
    before_err();
    run_started_ = false;  // a watch's next run counts its own rate
    for (const repeat_t& repeat : repeats_) {
        if (repeat.other_pages.empty()) continue;
        const std::size_t others = repeat.other_pages.size();
        write_diagnostic(severity_t::note, repeat.place,
                         std::string("the same ") + severity_name(repeat.severity) + " in " + grouped(others) +
                             (others == 1 ? " other page" : " other pages"));
    }
    repeats_.clear();
    repeat_index_.clear();
    write_out(text, true);
}

void CliLog::error(const std::string& text) {
    before_err();
    write_diagnostic(severity_t::error, "orrinfold", text);
    after_err();
}

void CliLog::warning(const std::string& text) {
    before_err();
    write_diagnostic(severity_t::warning, "orrinfold", text);
    after_err();
}

void CliLog::diagnostic(severity_t severity, const std::string& text, const diagnostic_location_t& where) {
    watch_for_apache(text);
    if (!settings_.all_diagnostics && repeated(severity, text, where)) return;
    before_err();
    write_location(severity, text, where);
    after_err();
}

void CliLog::fatal(const std::string& text, const std::optional<diagnostic_location_t>& where) {
    watch_for_apache(text);
    before_err();
    if (where)
        write_location(severity_t::error, text, *where);
    else
        write_diagnostic(severity_t::error, "orrinfold", text);
}

void CliLog::notice(const std::string& text) {
    before_err();
    err_ << "orrinfold: " << printable(text) << '\n' << std::flush;
}

void CliLog::end_of_run(const run_outcome_t&) {
    flush_out();  // a watch waits next: the run's last lines are out before
    if (!apache_seen_) return;
    apache_seen_ = false;
    before_err();
    write_diagnostic(severity_t::note, "orrinfold", apache_hint);
}

void CliLog::write_diagnostic(severity_t severity, const std::string& place, const std::string& text) {
    if (settings_.color)
        err_ << sgr::bold << place << ":" << sgr::reset << ' ' << severity_color(severity) << severity_name(severity)
             << ":" << sgr::reset << ' ' << printable(text) << '\n';
    else
        err_ << place << ": " << severity_name(severity) << ": " << printable(text) << '\n';
    err_.flush();
}

void CliLog::write_location(severity_t severity, const std::string& text, const diagnostic_location_t& where) {
    write_diagnostic(severity, user_place(where.at), text);
    for (const source_position_t& include : where.included_from)
        write_diagnostic(severity_t::note, user_place(include), "included from here");
}

// A diagnostic of an included document, at the same place with the same text, met again
// through another page: counted for the note at the end instead of printed.
bool CliLog::repeated(severity_t severity, const std::string& text, const diagnostic_location_t& where) {
    if (where.included_from.empty()) return false;
    const std::string place = user_place(where.at);
    source_position_t top = where.included_from.back();
    top.line = 0;  // the page, wherever in it the include is
    const std::string page = user_place(top);
    std::string key = place;
    key.append(1, '\0').append(severity_name(severity)).append(1, '\0').append(text);
    const auto [found, added] = repeat_index_.try_emplace(std::move(key), repeats_.size());
    if (added) {
        repeats_.push_back({place, severity, page, {}});
        return false;
    }
    repeat_t& repeat = repeats_[found->second];
    if (repeat.first_page == page) return false;  // the same page includes it again
    repeat.other_pages.insert(page);
    return true;
}

void CliLog::watch_for_apache(const std::string& text) {
    if (settings_.dialect_hint && is_apache_only(text)) apache_seen_ = true;
}

// Standard output is flushed and the status line taken away, so that an error reads above it.
void CliLog::before_err() {
    clear_status();
    out_.flush();
}

void CliLog::after_err() {
    if (settings_.status_line && !settings_.quiet) draw_status(true);
}

void CliLog::clear_status() {
    if (!status_shown_) return;
    out_ << "\r\x1b[K" << std::flush;
    status_shown_ = false;
}

// "[1,200/20,000] 412 files/s, 43 s left", drawn at most ten times a second.
void CliLog::draw_status(bool force) {
    if (!progress_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && status_shown_ && now - drawn_ < std::chrono::milliseconds(100)) return;
    if (force && !status_shown_ && drawn_ == std::chrono::steady_clock::time_point{}) return;
    drawn_ = now;
    if (!run_started_) {
        started_ = now;
        run_started_ = true;
    }
    const progress_t progress = progress_();
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    const double rate = elapsed > 0.05 ? static_cast<double>(progress.done) / elapsed : 0.0;
    std::string line = "[" + grouped(progress.done) + "/" + (progress.total > 0 ? grouped(progress.total) : "?") + "]";
    if (rate > 0) {
        line += " " + grouped(static_cast<unsigned long long>(rate + 0.5)) + " files/s";
        if (progress.total > progress.done)
            line += ", " + seconds_text(static_cast<double>(progress.total - progress.done) / rate) + " left";
    }
    out_ << '\r' << line << "\x1b[K" << std::flush;
    status_shown_ = true;
}
