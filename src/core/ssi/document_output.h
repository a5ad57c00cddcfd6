#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class File;

// Where a document's output goes: collected and handed to the output file in large writes,
// so that a page dense with directives does not cost a system call per directive.
// Without a file everything stays in memory (the engine's in-memory entry), unless the
// output is discarded (a run that only checks the site).
class DocumentOutput {
public:
    explicit DocumentOutput(File* file = nullptr, bool discard = false);
    DocumentOutput(const DocumentOutput&) = delete;
    DocumentOutput& operator=(const DocumentOutput&) = delete;
    // Hands over whatever a failure left unwritten, so the file holds everything produced
    // before the failure; a second failure then is dropped, the first one is on its way.
    ~DocumentOutput();

    void write(const void* data, std::size_t size);
    void flush();

    // The output so far (in-memory mode), or what is still waiting for the file.
    const std::string& text() const noexcept { return buffer_; }
    // How many bytes were written in all: where the next one goes in the output.
    std::uint64_t size() const noexcept { return written_; }

private:
    File* file_;
    bool discard_;
    std::string buffer_;
    std::uint64_t written_ = 0;
};
