#include "ssi/document_output.h"

#include "platform/file.h"

namespace {
constexpr std::size_t capacity = 64 * 1024;
}

DocumentOutput::DocumentOutput(File* file, bool discard) : file_(file), discard_(discard) {
    // Room for a whole page at once, rather than growing it step by step.
    if (file_ != nullptr && !discard_) buffer_.reserve(capacity);
}

DocumentOutput::~DocumentOutput() {
    try {
        flush();
    } catch (...) {
    }
}

void DocumentOutput::write(const void* data, std::size_t size) {
    written_ += size;
    if (discard_) return;
    if (file_ != nullptr && buffer_.size() + size > capacity) {
        flush();
        if (size >= capacity) {
            file_->write(data, size);
            return;
        }
    }
    buffer_.append(static_cast<const char*>(data), size);
}

void DocumentOutput::flush() {
    if (file_ == nullptr || buffer_.empty()) return;
    // Cleared even when the write fails, so the destructor never writes the same bytes twice.
    struct clear_on_exit {
        std::string& text;
        ~clear_on_exit() { text.clear(); }
    } clear{buffer_};
    file_->write(buffer_.data(), buffer_.size());
}
