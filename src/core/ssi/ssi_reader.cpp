#include "ssi/ssi_parser.h"


#include "base/exceptions.h"
#include "base/text.h"
#include "ssi/dialect.h"
#include "ssi/document_cache.h"
#include "ssi/preferences.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

// How a parser gets its document's bytes: small or cached documents whole, large ones through
// a window that slides along the file, so memory stays bounded and nothing is mapped.

namespace {
constexpr std::size_t window_size = 256 * 1024;

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}
}  // namespace

SSIParser::SSIParser(const std::string& path, DocumentOutput& output, const SSIParserPreferences& preferences,
                     State& state, CompileLogBase& log)
    : preferences_(&preferences),
      log_(&log),
      path_(path),
      directory_(directory_of(path)),
      output_(&output),
      time_format_(default_time_format),
      state_(&state),
      dialect_(make_dialect(preferences.dialect, *this)) {
    const bool top_level = state.open_documents.empty();
    open_document(path);
    dialect_->start(top_level);
}

SSIParser::SSIParser(std::string_view document, std::string directory, DocumentOutput& output,
                     const SSIParserPreferences& preferences, State& state, CompileLogBase& log)
    : preferences_(&preferences),
      log_(&log),
      directory_(std::move(directory)),
      size_(document.size()),
      output_(&output),
      time_format_(default_time_format),
      state_(&state),
      dialect_(make_dialect(preferences.dialect, *this)) {
    begin_ = current_ = reinterpret_cast<const unsigned char*>(document.data());
    end_ = begin_ + document.size();
    dialect_->start(true);
}

SSIParser::~SSIParser() {
    if (in_chain_) state_->open_documents.pop_back();
}

void SSIParser::open_document(const std::string& path) {
    // Only included documents are kept: a top-level page is read once per run anyway.
    DocumentCache* cache = state_->open_documents.empty() ? nullptr : state_->cache;
    // With a cache, one stat tells whether the kept copy is still the file.
    const file_status_t status = cache != nullptr ? cache->status(path) : file_.emplace(path).status();
    require_regular_file(status, path);
    if (!state_->open_documents.empty()) depends_on(path, status);
    // POSIX lets a file be opened while it is open, so an include cycle is caught by identity.
    auto& chain = state_->open_documents;
    // Apache has no cycle check of its own: a page that includes itself is nested until its
    // limit of subrequests, and the innermost include fails.
    if (dialect_->refuses_cycles() && std::find(chain.begin(), chain.end(), status.identity) != chain.end())
        raise(std::runtime_error("Include cycle: " + path + " is already being processed"));
    const std::size_t depth = dialect_->include_depth();
    if (chain.size() >= depth)
        raise(std::runtime_error("Includes nested more than " + std::to_string(depth) + " documents deep: " + path));

    if (cache != nullptr) held_ = cache->find(path, status);
    if (!held_) {
        if (!file_) file_.emplace(path);
        size_ = file_->status().size;
        if (cache != nullptr && size_ <= DocumentCache::max_document) {
            auto text = std::make_shared<std::string>(static_cast<std::size_t>(size_), '\0');
            text->resize(file_->read(text->data(), text->size()));
            file_.reset();
            cache->store(path, status, text);
            held_ = std::move(text);
        }
    }
    if (held_) {
        size_ = held_->size();
        begin_ = current_ = reinterpret_cast<const unsigned char*>(held_->data());
        end_ = begin_ + held_->size();
    } else {
        fill_window();
    }
    chain.push_back(status.identity);
    in_chain_ = true;
}

void SSIParser::depends_on(const std::string& path, const file_status_t& status) {
    if (state_->dependencies != nullptr) state_->dependencies->files.emplace_back(path, status);
}

void SSIParser::uses_time() {
    if (state_->dependencies != nullptr) state_->dependencies->uses_time = true;
}

void SSIParser::fill_window() {
    capacity_ = static_cast<std::size_t>(std::min<std::uint64_t>(size_, window_size));
    window_ = std::make_unique_for_overwrite<unsigned char[]>(std::max<std::size_t>(capacity_, 1));
    begin_ = current_ = end_ = window_.get();
    complete_ = false;
    refill();
}

bool SSIParser::refill() {
    if (complete_) return false;
    // Keep the unit before current_ (unget_char may step back onto it) and all after it.
    const unsigned char* keep = std::max(begin_, current_ - unit_size_);
    const std::size_t kept = static_cast<std::size_t>(end_ - keep);
    if (kept > capacity_ / 2) {
        // A directive longer than half the window: make room for it.
        capacity_ = std::max<std::size_t>(capacity_ * 2, 64);
        auto larger = std::make_unique_for_overwrite<unsigned char[]>(capacity_);
        std::memcpy(larger.get(), keep, kept);
        window_ = std::move(larger);
    } else if (kept > 0) {
        std::memmove(window_.get(), keep, kept);
    }
    offset_ += static_cast<std::uint64_t>(keep - begin_);
    current_ = window_.get() + (current_ - keep);
    begin_ = window_.get();
    end_ = begin_ + kept;

    // Read no further than the size seen at opening: a file growing meanwhile is not followed.
    const std::uint64_t left = size_ - (offset_ + kept);
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(left, capacity_ - kept));
    const std::size_t got = wanted > 0 ? file_->read(window_.get() + kept, wanted) : 0;
    end_ += got;
    if (got < wanted || got == left) {
        complete_ = true;
        size_ = offset_ + static_cast<std::uint64_t>(end_ - begin_);
        file_.reset();
    }
    return got > 0;
}

bool SSIParser::available(std::size_t bytes) {
    while (static_cast<std::size_t>(end_ - current_) < bytes)
        if (!refill()) return false;
    return true;
}

char16_t SSIParser::get_char_at_edge() {
    available(static_cast<std::size_t>(unit_size_));
    if (current_ >= end_) raise(eof_exception{});
    const char16_t c = char_at(current_);
    current_ += unit_size_;
    return c;
}

char16_t SSIParser::peek_char(std::size_t n) {
    const std::size_t offset = n * static_cast<std::size_t>(unit_size_);
    available(offset + static_cast<std::size_t>(unit_size_));
    if (current_ > end_ || offset >= static_cast<std::size_t>(end_ - current_)) raise(eof_exception{});
    return char_at(current_ + offset);
}
