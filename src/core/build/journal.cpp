#include "build/journal.h"

#include "build/manifest_text.h"
#include "platform/file.h"
#include "platform/file_system.h"

#include <charconv>
#include <stdexcept>
#include <utility>
#include <vector>

using namespace manifest_text;

namespace {
constexpr std::size_t buffered_at_most = std::size_t{64} * 1024;
constexpr auto flush_every = std::chrono::seconds(1);

std::uint32_t parse_place(std::string_view text, std::size_t table_size) {
    std::uint32_t place = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), place);
    if (error != std::errc() || end != text.data() + text.size() || place >= table_size)
        throw std::runtime_error("bad dependency");
    return place;
}
}  // namespace

std::string Journal::path_for(const std::string& record_path) {
    const std::size_t dot = record_path.rfind('.');
    return (dot == std::string::npos ? record_path : record_path.substr(0, dot)) + ".journal";
}

Journal::Journal(std::string path, std::string destination, std::string options)
    : path_(std::move(path)), flushed_(std::chrono::steady_clock::now()) {
    append_head(text_, streamed_header, destination, options);
}

Journal::~Journal() = default;

void Journal::append(const std::string& source, const manifest_entry_t& entry, const Manifest& current) noexcept {
    if (failed_) return;
    try {
        for (; dependencies_written_ < current.dependencies.size(); ++dependencies_written_)
            append_file(text_, "t\t", current.dependencies[dependencies_written_]);
        for (; leftovers_written_ < current.leftovers.size(); ++leftovers_written_)
            append_file(text_, "x\t", current.leftovers[leftovers_written_]);
        append_entry(text_, source, entry);
        text_ += ".\n";  // the entry is whole: one cut off by a kill is left out
        pending_ = true;
        ++entries_;
    } catch (...) {
        failed_ = true;
        text_.clear();
    }
}

bool Journal::flush(bool force) noexcept {
    if (failed_) return false;
    if (!pending_) return true;
    const auto now = std::chrono::steady_clock::now();
    if (!force && text_.size() < buffered_at_most && now - flushed_ < flush_every) return true;
    try {
        if (!file_) file_ = std::make_unique<File>(path_, File::access_t::write);
        file_->write(text_.data(), text_.size());
        text_.clear();
        pending_ = false;
        flushed_ = now;
        return true;
    } catch (...) {
        failed_ = true;
        text_.clear();
        return false;
    }
}

bool Journal::become_record(const std::string& record_path, std::size_t entries) noexcept {
    if (failed_ || entries != entries_) return false;
    try {
        text_ += "end\t" + std::to_string(entries_) + "\n";
        pending_ = true;
        if (!flush(true)) return false;
        file_->close();
        replace_file(path_, record_path);
        file_.reset();
        return true;
    } catch (...) {
        failed_ = true;
        return false;
    }
}

void Journal::remove() noexcept {
    if (!file_) return;  // never written
    try {
        if (file_) file_->close();
    } catch (...) {
    }
    file_.reset();
    remove_file(path_);
}

bool Journal::fold(const std::string& path, Manifest& record) {
    if (!try_stat_path(path)) return false;
    File file(path, File::access_t::read);
    const std::string text = read_bytes(file, file.size());
    std::vector<std::uint32_t> table;  // the journal's numbers, as places in record
    std::vector<manifest_entry_t::file_t> leftovers;
    std::string source;
    std::optional<manifest_entry_t> entry;
    auto next_position = static_cast<std::uint32_t>(record.entries.size());
    std::size_t line_number = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) break;  // cut off by a kill
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        const fields_t part = fields(line);
        if (++line_number == 1) {
            if (line != streamed_header) return false;
        } else if (part[0] == "destination" && part.size == 2) {
            record.destination = unescaped(part[1]);
        } else if (part[0] == "options" && part.size == 2) {
            record.options = unescaped(part[1]);
        } else if (part[0] == "t" && part.size == 3) {
            table.push_back(record.add_dependency({unescaped(part[1]), parse_stamp(part[2])}));
        } else if (part[0] == "x" && part.size == 3) {
            leftovers.push_back({relative_path(part[1]), parse_stamp(part[2])});
        } else if ((part[0] == "c" || part[0] == "f" || part[0] == "d") && part.size == 4) {
            source = relative_path(part[1]);
            entry.emplace();
            entry->kind = static_cast<manifest_entry_t::kind_t>(part[0][0]);
            entry->source = parse_stamp(part[2]);
            if (part[3] != "0" && part[3] != "1") throw std::runtime_error(path + ": bad flag");
            entry->rebuild = part[3] == "1";
        } else if (part[0] == "o" && part.size == 3 && entry) {
            entry->outputs.push_back({relative_path(part[1]), parse_stamp(part[2])});
        } else if (part[0] == "i" && part.size == 2 && entry) {
            entry->dependencies.push_back(table[parse_place(part[1], table.size())]);
        } else if (line == "." && entry) {
            // In the record's order where it replaces an entry, else after every entry.
            const auto found = record.entries.find(source);
            entry->position = found != record.entries.end() ? found->second.position : next_position++;
            record.entries.insert_or_assign(std::move(source), std::move(*entry));
            entry.reset();
            for (auto& leftover : std::exchange(leftovers, {})) record.leftovers.push_back(std::move(leftover));
        } else {
            throw std::runtime_error(path + ":" + std::to_string(line_number) + ": unknown line");
        }
    }
    return line_number > 0;
}
