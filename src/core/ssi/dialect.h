#pragma once

#include "ssi/ssi_parser.h"

#include <cstddef>
#include <memory>
#include <string>

enum class dialect_t;

// Where the dialects differ, as named choices that the one dispatch and the scanner ask for.
// Each document has its own dialect object, which keeps what the dialect remembers of it.
class SSIDialect {
public:
    using Command = SSIParser::Command;

    explicit SSIDialect(SSIParser& parser) : parser_(parser) {}
    SSIDialect(const SSIDialect&) = delete;
    SSIDialect& operator=(const SSIDialect&) = delete;
    virtual ~SSIDialect() = default;

    // One row per command: its handler and the arguments it takes.
    virtual const SSIParser::command_table_t& commands() const = 0;
    // Sets what a document starts with (variables, formats).
    virtual void start(bool top_level) = 0;
    // Reads a directive's name and arguments; the opener is already read.
    virtual void read_directive(Command& command) = 0;
    // Whether a directive goes on to its handler; false when it was dealt with here.
    virtual bool admits(const Command& command) = 0;
    virtual void unknown_command(const Command& command) = 0;
    // Checks the arguments against the command's row before its handler runs.
    virtual void check_arguments(const SSIParser::command_info_t& info, const Command& command) = 0;
    // Logs an error, writes what stands in the page for a failed directive, and drops it.
    [[noreturn]] virtual void on_directive_error(const std::string& text) = 0;
    // The document ended inside a directive (already reported).
    virtual void on_end_of_file() = 0;
    // The document has been read to its end (or its break).
    virtual void finish() = 0;
    // How deep includes nest, and whether a document that includes itself is refused at once.
    virtual std::size_t include_depth() const = 0;
    virtual bool refuses_cycles() const = 0;

protected:
    SSIParser& parser_;
};

std::unique_ptr<SSIDialect> make_dialect(dialect_t dialect, SSIParser& parser);
