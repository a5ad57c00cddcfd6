#pragma once

#include "base/location.h"
#include "base/text.h"
#include "platform/document_file.h"
#include "ssi/codecs.h"

#include <cstdint>
#include <ctime>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

class CompileLogBase;
class DocumentCache;
enum class severity_t;
class DocumentOutput;
class OutputOrigins;
struct SSIParserPreferences;
class SSIDialect;

// A handler gives up on a directive after logging why; the dispatcher drops it.
struct ssi_command_exception : std::exception {};
// A break directive ends the document that holds it.
struct ssi_break_exception : std::exception {};
// A directive ran past the end of the document.
struct eof_exception : std::exception {};
// An expanded value grew past max_value_length.
struct value_too_long : std::exception {};

// What a converted page's output depends on besides the page itself, so that a later run can
// tell whether it is still up to date: every file an include, fsize or flastmod read or looked
// at, with its status then, and whether the page showed the current time.
struct page_dependencies_t {
    std::vector<std::pair<std::string, file_status_t>> files;
    bool uses_time = false;
};

// Limits that keep hostile documents within bounded memory and stack. A name or argument value
// (before or after expanding variables) holds at most max_value_length characters, and the
// variables of a document at most max_variables_length together; a directive that would pass
// either is dropped with an error. Includes nest at most max_include_depth documents deep.
inline constexpr std::size_t max_value_length = std::size_t{1} << 20;
inline constexpr std::size_t max_variables_length = 16 * max_value_length;
inline constexpr std::size_t max_include_depth = 256;
// Apache's limit of nested subrequests (LimitInternalRecursion), which its includes count against.
inline constexpr std::size_t apache_include_depth = 11;

// Converts one SSI document: copies its text to the output unchanged and replaces each
// directive by what its command produces, in the document's own encoding. Reads the
// document through a window (all of it when small); borrows the output, preferences, state
// and log, which must outlive it.
class SSIParser {
public:
    using variables_t = std::map<std::u16string, std::u16string, std::less<>>;  // looked up by views too
    using size_format_t = ::size_format_t;

    // What a top-level document shares with everything it includes, at any depth.
    struct State {
        variables_t variables;
        std::optional<std::tm> last_modified;         // the top-level document's, local time
        std::vector<file_identity_t> open_documents;  // the include chain, to catch cycles
        DocumentCache* cache = nullptr;               // included documents kept for the run, when given
        // Diagnostics name documents under site_folder as site_prefix + the rest of the path;
        // both belong to the walk, which outlives every document.
        std::string_view site_folder;
        std::string_view site_prefix;
        std::size_t variables_length = 0;  // characters held by variables' values
        // Apache dialect: the last timefmt configured anywhere, which LAST_MODIFIED, DATE_LOCAL
        // and DATE_GMT are shown in.
        std::u16string shared_time_format;
        // Apache dialect: each variable's name as first spelled, in the order first set.
        std::vector<std::u16string> spelled;
        page_dependencies_t* dependencies = nullptr;  // filled when given
        // The top-level document as the walk found it (within the site, its status read): an
        // fsize or flastmod of the page itself needs no look of its own.
        std::string_view page_path;
        std::optional<file_status_t> page_status;
        OutputOrigins* origins = nullptr;  // where the output's bytes come from, recorded when given
    };

    // One parsed directive, its arguments in the order written. The default dialect keeps each
    // name once, its value expanded; the Apache dialect keeps them raw (an argument may come
    // without a value), because its handlers read them one by one and decode each in its own way.
    struct Argument {
        std::u16string name;
        std::optional<std::u16string> value;
    };
    struct Command {
        std::u16string name;
        std::vector<Argument> arguments;
        std::string malformed;  // why the directive cannot run (it then fails)
        std::string too_long;  // why the directive is dropped: a part of it passed max_value_length
        // The value of the first argument of that name; null when there is none or it has no value.
        const std::u16string* find(std::u16string_view argument) const;
    };

    using handler_t = void (*)(SSIParser&, const Command&);
    struct command_info_t {
        handler_t handler;
        std::set<std::u16string> required;
        std::set<std::u16string> optional;
        bool flow = false;  // runs also where a false branch stops the output (if, elif, else, endif)
    };
    using command_table_t = std::map<std::u16string, command_info_t>;

    SSIParser(const std::string& path, DocumentOutput& output, const SSIParserPreferences& preferences, State& state,
              CompileLogBase& log);
    // A document already in memory; relative paths resolve against directory.
    SSIParser(std::string_view document, std::string directory, DocumentOutput& output,
              const SSIParserPreferences& preferences, State& state, CompileLogBase& log);
    SSIParser(const SSIParser&) = delete;
    SSIParser& operator=(const SSIParser&) = delete;
    ~SSIParser();

    // Converts the whole document. Returns after its end, a break and an unexpected end of
    // the document; failures of the file system pass through.
    void process();
    // Writes directive output in the document's encoding.
    void write(std::u16string_view text);
    // Where the directive being executed stands, with the include directives that led here.
    diagnostic_location_t location();
    // Logs an error about the directive being executed, writes what the dialect shows for a
    // failed directive, and drops it.
    [[noreturn]] void fail(const std::string& text);

    // A directive's position is worked out only when a diagnostic needs it, by counting from
    // the last position worked out (or the start) of the document.
    struct line_cursor_t {
        std::uint64_t offset = 0;
        std::uint64_t line = 1;
        std::uint64_t column = 1;
        int pending = 0;  // continuation bytes still expected of a UTF-8 character
        void advance(const unsigned char* from, const unsigned char* to, bool wide) noexcept;
    };

private:
    friend class OrrinfoldDialect;
    friend class ApacheDialect;

    void open_document(const std::string& path);
    void depends_on(const std::string& path, const file_status_t& status);
    void uses_time();
    void fill_window();
    bool refill();
    bool available(std::size_t bytes);
    void store_server_software();
    // Stores a variable within max_variables_length; false (nothing stored) past it.
    bool assign_variable(const std::u16string& name, const std::u16string& value);
    void detect_encoding();
    void choose_opener();  // after detect_encoding: the opener for this document's tag and encoding
    void walk();
    bool find_directive();
    // Copies literal text of the document to the output, noting where it came from.
    void copy_text(const unsigned char* from, std::size_t size);
    // Notes that the output from here on is the current directive's.
    void note_directive();
    void parse_command(Command& command);
    void skip_spaces();
    void execute_command(const Command& command);
    void report(severity_t severity, const std::string& text);
    source_position_t position_of(std::uint64_t offset);
    std::string display_path(const std::string& path) const;
    bool looks_binary() const noexcept;
    // A path named by include, fsize or flastmod, and whether it starts with "/" but was taken
    // relative to the document for want of a virtual root.
    struct resolved_path_t {
        std::string path;
        bool rootless = false;
    };
    // Runs work on target; a failure of the file system in it becomes a located_error at this
    // directive, which for a missing rootless path says why and how to set a root.
    void run_located(const resolved_path_t& target, const std::function<void()>& work);
    // Refuses a path that leads, after "..", and links, out of the readable folders.
    void require_readable(const std::string& path) const;
    std::string resolved_path(const std::string& path) const;

    // Inside the window a character costs a few instructions; the edge goes out of line.
    char16_t get_char() {
        if (end_ - current_ < unit_size_) return get_char_at_edge();
        const char16_t c = char_at(current_);
        current_ += unit_size_;
        return c;
    }
    char16_t get_char_at_edge();
    void unget_char() noexcept { current_ -= unit_size_; }
    char16_t peek_char(std::size_t n);
    char16_t char_at(const unsigned char* position) const noexcept {
        if (!wide_) return widen_byte(*position);
        // A lone last byte of an odd-sized UTF-16 document is read with a zero high byte.
        const unsigned high = position + 1 < end_ ? position[1] : 0u;
        return static_cast<char16_t>(position[0] | (high << 8u));
    }

    static void do_break(SSIParser& parser, const Command& command);
    static void do_config(SSIParser& parser, const Command& command);
    static void do_echo(SSIParser& parser, const Command& command);
    static void do_flastmod(SSIParser& parser, const Command& command);
    static void do_fsize(SSIParser& parser, const Command& command);
    static void do_include(SSIParser& parser, const Command& command);
    static void do_set(SSIParser& parser, const Command& command);
    static resolved_path_t resolve_path(SSIParser& parser, const Command& command);

    const SSIParserPreferences* preferences_;
    CompileLogBase* log_;
    std::string path_;  // empty for a document held in memory by its caller
    std::string directory_;
    SSIParser* parent_ = nullptr;         // the document that includes this one
    std::uint64_t directive_offset_ = 0;  // where the opener of the current directive starts
    std::uint64_t text_start_ = 0;        // past a byte order mark
    line_cursor_t cursor_;
    // The document's bytes from offset_ on are in [begin_, end_); while complete_ is false
    // more come from file_ into window_. A cached document is held whole in held_.
    std::optional<DocumentFile> file_;
    std::shared_ptr<const std::string> held_;
    std::unique_ptr<unsigned char[]> window_;
    std::size_t capacity_ = 0;
    std::uint64_t size_ = 0;
    std::uint64_t offset_ = 0;
    bool complete_ = true;
    DocumentOutput* output_;
    bool wide_ = false;
    int unit_size_ = 1;
    // The bytes that open a directive in this document, in its encoding.
    const unsigned char* opener_ = nullptr;
    std::size_t opener_length_ = 0;
    std::size_t opener_pivot_ = 0;  // the byte of it looked for first
    std::string custom_opener_;  // holds them when SSIStartTag changed them
    const unsigned char* begin_ = nullptr;
    const unsigned char* current_ = nullptr;
    const unsigned char* end_ = nullptr;
    std::u16string time_format_;
    size_format_t size_format_ = size_format_t::abbrev;
    State* state_;
    bool in_chain_ = false;
    bool printing_ = true;  // false inside a branch an if did not take
    std::uint32_t origin_ = 0;  // this document's number in state_->origins
    std::unique_ptr<SSIDialect> dialect_;  // this document's
};

// The engine's white space: tab, line feed, form feed, carriage return, space and U+200B.
constexpr bool is_space(char16_t c) noexcept {
    return c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r' || c == u' ' || c == u'\x200B';
}

// The stored value of a variable, or "(none)".
std::u16string lookup_variable(const SSIParser::variables_t& variables, std::u16string_view name);
// Replaces $name and ${name} references in an argument value; \$ is a literal $. Throws
// value_too_long when the result would pass max_value_length.
std::u16string expand_variables(std::u16string_view value, const SSIParser::variables_t& variables);

inline constexpr std::u16string_view default_time_format = u"%a, %d-%b-%Y %H:%M:%S";
// A date in the given strftime format; a time that could not be broken down prints as "".
// With library_composites, %c, %x and %X take the C library's forms; the text is cut to kept bytes.
std::u16string format_time(std::u16string_view format, const std::optional<std::tm>& time,
                           bool library_composites = false, std::size_t kept = 511);
