#pragma once

#include <iosfwd>
#include <string>

// The conversion log: one call, one line. The site walk and the SSI engine write to it;
// progress, error and warning lines all reach the user as the bare text.
class CompileLogBase {
public:
    virtual ~CompileLogBase() = default;

    virtual void output_line(const std::string& text);
    virtual void message(const std::string& text);
    virtual void error(const std::string& text);
    virtual void warning(const std::string& text);
};

// Writes each line to a stream as it comes, followed by a line feed, and flushes it.
// Quiet mode drops progress lines and keeps errors and warnings.
class StreamLog : public CompileLogBase {
public:
    explicit StreamLog(std::ostream& out, bool quiet = false) : out_(out), quiet_(quiet) {}

    void output_line(const std::string& text) override;
    void message(const std::string& text) override;

private:
    std::ostream& out_;
    bool quiet_;
};
