#include "build/manifest.h"

#include "build/manifest_text.h"

#include "base/exceptions.h"
#include "base/text.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/file_lock.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cinttypes>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace {
constexpr std::string_view suffix = ".manifest";
}  // namespace

namespace manifest_text {

// Paths may hold any byte but NUL: the few that would end a field or a line are escaped.
void append_escaped(std::string& out, std::string_view text) {
    // A plain loop: find_first_of looks each byte up in the set with a call of its own.
    const auto special = [](char c) { return c == '%' || c == '\t' || c == '\n' || c == '\r'; };
    for (std::size_t start = 0;;) {
        std::size_t at = start;
        while (at < text.size() && !special(text[at])) ++at;
        out.append(text.substr(start, at - start));
        if (at == text.size()) return;
        static constexpr char hex[] = "0123456789ABCDEF";
        const auto c = static_cast<unsigned char>(text[at]);
        out += {'%', hex[c >> 4], hex[c & 15]};
        start = at + 1;
    }
}

std::string unescaped(std::string_view text) {
    if (text.find('%') == std::string_view::npos) return std::string(text);  // most paths
    std::string out;
    out.reserve(text.size());
    if (!append_percent_decoded(out, text)) throw std::runtime_error("bad escape");
    return out;
}

// A source or an output: joined onto a root, so it must stay below it.
std::string relative_path(std::string_view text) {
    std::string path = unescaped(text);
    if (!is_plain_relative_path(path)) throw std::runtime_error("not a path below its folder");
    return path;
}

// Five numbers: device, inode, size, seconds and nanoseconds of the modification time.
void append_stamp(std::string& out, const file_stamp_t& stamp) {
    // Each number goes out with the space after it in one append.
    const auto put = [&out](auto value, bool last) {
        char digits[24];  // any 64-bit number in decimal, and a space
        char* const end = std::to_chars(digits, digits + sizeof digits - 1, value).ptr;
        *end = ' ';
        out.append(digits, static_cast<std::size_t>(end - digits) + (last ? 0 : 1));
    };
    put(stamp.identity.device, false);
    put(stamp.identity.inode, false);
    put(stamp.size, false);
    put(stamp.seconds, false);
    put(stamp.nanoseconds, true);
}

file_stamp_t parse_stamp(std::string_view text) {
    file_stamp_t stamp;
    const char* at = text.data();
    const char* const end = at + text.size();
    const auto take = [&](auto& value, bool last) {
        const std::from_chars_result result = std::from_chars(at, end, value);
        if (result.ec != std::errc() || result.ptr == at) throw std::runtime_error("bad file stamp");
        at = result.ptr;
        if (last ? at != end : (at == end || *at++ != ' ')) throw std::runtime_error("bad file stamp");
    };
    take(stamp.identity.device, false);
    take(stamp.identity.inode, false);
    take(stamp.size, false);
    take(stamp.seconds, false);
    take(stamp.nanoseconds, true);
    return stamp;
}

bool is_header(std::string_view line) { return line == header || line == streamed_header; }

void append_head(std::string& out, std::string_view first_line, std::string_view destination, std::string_view options) {
    out += first_line;
    out += "\ndestination\t";
    append_escaped(out, destination);
    out += "\noptions\t";
    append_escaped(out, options);
    out += '\n';
}

void append_file(std::string& out, std::string_view kind, const manifest_entry_t::file_t& file) {
    out += kind;
    append_escaped(out, file.path);
    out += '\t';
    append_stamp(out, file.stamp);
    out += '\n';
}

void append_entry(std::string& out, std::string_view source, const manifest_entry_t& entry,
                  const std::vector<std::uint32_t>* renumbered) {
    out.push_back(static_cast<char>(entry.kind));
    out += '\t';
    append_escaped(out, source);
    out += '\t';
    append_stamp(out, entry.source);
    out += entry.rebuild ? "\t1\n" : "\t0\n";
    for (const manifest_entry_t::file_t& file : entry.outputs) append_file(out, "o\t", file);
    for (const std::uint32_t place : entry.dependencies) {
        char digits[16];
        out += "i\t";
        out.append(digits, std::to_chars(digits, digits + sizeof digits,
                                         renumbered != nullptr ? (*renumbered)[place] : place).ptr);
        out += '\n';
    }
}

fields_t fields(std::string_view line) {
    fields_t parts;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        if (parts.size == parts.part.size()) throw std::runtime_error("too many fields");
        parts.part[parts.size++] = line.substr(start, tab - start);
        if (tab == std::string_view::npos) return parts;
        start = tab + 1;
    }
}
}  // namespace manifest_text

using namespace manifest_text;

file_stamp_t stamp_of(const file_status_t& status) {
    return {status.identity, status.size, status.modified, status.modified_nanoseconds};
}

std::optional<Manifest> Manifest::read(const std::string& path, std::uint64_t limit) {
    if (!try_stat_path(path)) return std::nullopt;
    File file(path, File::access_t::read);
    if (file.size() > limit) throw std::runtime_error(path + ": larger than any record of this site");
    // Read straight into memory not cleared first: a large site's record is megabytes.
    const auto size = static_cast<std::size_t>(std::min(file.size(), limit));
    const auto bytes = std::make_unique_for_overwrite<char[]>(size);
    const std::string_view text(bytes.get(), file.read(bytes.get(), size));
    Manifest manifest;
    manifest.entries.reserve(text.size() / 128);
    manifest_entry_t* entry = nullptr;
    std::size_t count = 0;
    bool ended = false;
    std::size_t line_number = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) throw std::runtime_error("the last line is cut off");
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        ++line_number;
        if (ended) throw std::runtime_error("text after the end");
        const fields_t part = fields(line);
        try {
            if (line_number == 1) {
                if (!is_header(line)) throw std::runtime_error("not a manifest of this format");
            } else if (part[0] == "destination" && part.size == 2) {
                manifest.destination = unescaped(part[1]);
            } else if (part[0] == "options" && part.size == 2) {
                manifest.options = unescaped(part[1]);
            } else if (part[0].size() == 1 && (part[0] == "c" || part[0] == "f" || part[0] == "d") &&
                       part.size == 4) {
                const auto [at, fresh] = manifest.entries.try_emplace(relative_path(part[1]));
                if (!fresh) throw std::runtime_error("an entry recorded twice");
                entry = &at->second;
                entry->position = static_cast<std::uint32_t>(count);
                entry->kind = static_cast<manifest_entry_t::kind_t>(part[0][0]);
                entry->source = parse_stamp(part[2]);
                if (part[3] != "0" && part[3] != "1") throw std::runtime_error("bad flag");
                entry->rebuild = part[3] == "1";
                ++count;
            } else if (part[0] == "o" && part.size == 3 && entry != nullptr) {
                entry->outputs.push_back({relative_path(part[1]), parse_stamp(part[2])});
            } else if (part[0] == "x" && part.size == 3 && entry == nullptr) {
                manifest.leftovers.push_back({relative_path(part[1]), parse_stamp(part[2])});
            } else if (part[0] == "t" && part.size == 3 && entry == nullptr) {
                manifest.dependencies.push_back({unescaped(part[1]), parse_stamp(part[2])});
            } else if (line == "." && entry != nullptr) {
                entry = nullptr;  // the end of an entry of a record written as the run went
            } else if (part[0] == "i" && part.size == 2 && entry != nullptr) {
                std::uint32_t place = 0;
                const auto [end_of_number, error] = std::from_chars(part[1].data(), part[1].data() + part[1].size(), place);
                if (error != std::errc() || end_of_number != part[1].data() + part[1].size() ||
                    place >= manifest.dependencies.size())
                    throw std::runtime_error("bad dependency");
                entry->dependencies.push_back(place);
            } else if (part[0] == "end" && part.size == 2) {
                if (part[1] != std::to_string(count)) throw std::runtime_error("entries are missing");
                ended = true;
            } else {
                throw std::runtime_error("unknown record");
            }
        } catch (const std::runtime_error& e) {
            throw std::runtime_error(path + ":" + std::to_string(line_number) + ": " + e.what());
        }
    }
    if (!ended) throw std::runtime_error(path + ": the end is missing");
    return manifest;
}

std::uint32_t Manifest::add_dependency(const manifest_entry_t::file_t& dependency) {
    std::vector<std::uint32_t>& places = places_[dependency.path];
    for (const std::uint32_t place : places)
        if (dependencies[place].stamp == dependency.stamp) return place;
    places.push_back(static_cast<std::uint32_t>(dependencies.size()));
    dependencies.push_back(dependency);
    return places.back();
}

struct Manifest::plan_t {
    struct written_t {
        const std::string* source;
        const manifest_entry_t* entry;
        bool more;  // an entry of more, numbered by its table
        std::size_t recorded = none;  // its place in recorded, for one of those
    };
    static constexpr std::size_t none = SIZE_MAX;
    std::vector<written_t> written;
    // The new number of each dependency of this and of more, unused when no entry names it.
    static constexpr std::uint32_t unused = UINT32_MAX;
    std::vector<std::uint32_t> numbers;
    std::vector<std::uint32_t> more_numbers;
    std::vector<const manifest_entry_t::file_t*> table;  // in their new order
};

Manifest::plan_t Manifest::plan(const Manifest* more,
                                const std::function<bool(const manifest_entry_t&)>& wanted) const {
    // The entries in the walk's order, then those the walk did not reach in the order they had.
    plan_t plan;
    std::vector<plan_t::written_t>& written = plan.written;
    written.reserve(entries.size() + recorded.size() + (more != nullptr ? more->entries.size() : 0));
    for (const auto& [source, entry] : entries) written.push_back({&source, &entry, false});
    for (std::size_t i = 0; i < recorded.size(); ++i) written.push_back({&recorded[i].first, &recorded[i].second, false, i});
    if (more != nullptr)
        for (const auto& [source, entry] : more->entries)
            if (!entry.replaced && !entries.contains(source) && (!wanted || wanted(entry)))
                written.push_back({&source, &entry, true});
    std::sort(written.begin(), written.end(), [](const plan_t::written_t& a, const plan_t::written_t& b) {
        if (a.entry->walked != b.entry->walked) return a.entry->walked < b.entry->walked;
        if (a.entry->position != b.entry->position) return a.entry->position < b.entry->position;
        return *a.source < *b.source;
    });

    // The dependencies that the entries written name are numbered anew, in the order first
    // named, and written first.
    plan.numbers.assign(dependencies.size(), plan_t::unused);
    plan.more_numbers.assign(more != nullptr ? more->dependencies.size() : 0, plan_t::unused);
    for (const plan_t::written_t& entry : written) {
        std::vector<std::uint32_t>& renumbered = entry.more ? plan.more_numbers : plan.numbers;
        const std::vector<manifest_entry_t::file_t>& from = entry.more ? more->dependencies : dependencies;
        for (const std::uint32_t place : entry.entry->dependencies)
            if (renumbered[place] == plan_t::unused) {
                renumbered[place] = static_cast<std::uint32_t>(plan.table.size());
                plan.table.push_back(&from[place]);
            }
    }
    return plan;
}

Manifest Manifest::merged(Manifest* more, const std::function<bool(const manifest_entry_t&)>& wanted) {
    const plan_t plan = this->plan(more, wanted);
    Manifest result;
    result.destination = destination;
    result.options = options;
    result.dependencies.reserve(plan.table.size());
    for (const manifest_entry_t::file_t* dependency : plan.table) result.dependencies.push_back(*dependency);
    result.leftovers = leftovers;
    if (more != nullptr && !wanted)
        result.leftovers.insert(result.leftovers.end(), more->leftovers.begin(), more->leftovers.end());
    result.entries.reserve(plan.written.size());
    // Entries of the two maps move over whole, those recorded by this run one by one.
    for (std::size_t i = 0; i < plan.written.size(); ++i) {
        const plan_t::written_t& written = plan.written[i];
        manifest_entry_t* entry = nullptr;
        if (written.recorded != plan_t::none) {
            auto& [source, moved] = recorded[written.recorded];
            entry = &result.entries.try_emplace(std::move(source), std::move(moved)).first->second;
        } else {
            auto node = (written.more ? *more : *this).entries.extract(*written.source);
            entry = &result.entries.insert(std::move(node)).position->second;
        }
        entry->position = static_cast<std::uint32_t>(i);
        entry->walked = manifest_entry_t::not_walked;
        entry->kept = false;
        entry->replaced = false;
        const std::vector<std::uint32_t>& renumbered = written.more ? plan.more_numbers : plan.numbers;
        for (std::uint32_t& place : entry->dependencies) place = renumbered[place];
    }
    return result;
}

void Manifest::write(const std::string& path, const Manifest* more,
                     const std::function<bool(const manifest_entry_t&)>& wanted) const {
    const plan_t plan = this->plan(more, wanted);
    // Written in pieces, so that a large record never needs its whole text in memory.
    OutputFile output(path);
    std::string text;
    const auto flush = [&](bool always) {
        if (!always && text.size() < (std::size_t{1} << 20)) return;
        output.file().write(text.data(), text.size());
        text.clear();
    };
    append_head(text, header, destination, options);
    for (const manifest_entry_t::file_t* dependency : plan.table) {
        append_file(text, "t\t", *dependency);
        flush(false);
    }
    // Only a record with leftovers has these lines, so that others stay as they were.
    for (const manifest_entry_t::file_t& leftover : leftovers) append_file(text, "x\t", leftover);
    if (more != nullptr && !wanted)
        for (const manifest_entry_t::file_t& leftover : more->leftovers) append_file(text, "x\t", leftover);
    for (const plan_t::written_t& written : plan.written) {
        append_entry(text, *written.source, *written.entry, written.more ? &plan.more_numbers : &plan.numbers);
        flush(false);
    }
    text += "end\t" + std::to_string(plan.written.size()) + "\n";
    flush(true);
    output.commit();
}

std::string manifest_path(const std::string& folder, const file_identity_t& destination) {
    char name[64];
    std::snprintf(name, sizeof name, "%" PRIx64 "-%" PRIx64, destination.device, destination.inode);
    return folder + "/" + name + std::string(suffix);
}

void prune_manifests(const std::string& folder) {
    Directory directory(folder);
    for (std::string name; directory.next(name);) {
        if (!name.ends_with(suffix)) continue;
        const std::string path = folder + "/" + name;
        const std::string stem = path.substr(0, path.size() - suffix.size());
        try {
            const std::optional<FileLock> lock = FileLock::try_lock(stem + ".lock");
            if (!lock) continue;  // a run is using it
            // The destination's line comes second: the rest of the record need not be read.
            File file(path, File::access_t::read);
            const std::string head = read_bytes(file, 16384);
            const std::string_view prefix = "\ndestination\t";
            const std::size_t start = head.find(prefix);
            const std::size_t end = start == std::string::npos ? start : head.find('\n', start + prefix.size());
            if (!is_header(std::string_view(head).substr(0, head.find('\n'))) || end == std::string::npos)
                continue;  // the run into it says so
            const std::size_t from = start + prefix.size();
            const std::string destination = unescaped(std::string_view(head).substr(from, end - from));
            const std::optional<file_status_t> status = try_stat_path(destination);
            if (status && status->kind == file_kind_t::directory && manifest_path(folder, status->identity) == path)
                continue;
            remove_file(path);
            remove_file(stem + ".journal");
            remove_file(stem + ".lock");
        } catch (const std::runtime_error&) {
            // Another run's business, or unreadable: left as it is.
        }
    }
}
