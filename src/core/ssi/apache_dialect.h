#pragma once

#include "ssi/dialect.h"
#include "ssi/expr/regex.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Apache formats times into a buffer of 8192 bytes: longer texts are cut there.
inline constexpr std::size_t apache_time_length = 8191;
inline constexpr std::u16string_view default_error_text = u"[an error occurred while processing this directive]";

// The Apache dialect: what Apache httpd's mod_include does for a page served from the virtual
// root with includes but no exec, the page's URL being its path under the root. Where Apache's
// behaviour is odd (flow control after a bad expression, encodings, formats), pages rely on
// it, so it is kept. Each document, included ones too, has its own: Apache gives every
// document its own messages, flow-control state and regular-expression captures.
class ApacheDialect final : public SSIDialect {
public:
    using Argument = SSIParser::Argument;

    explicit ApacheDialect(SSIParser& parser) : SSIDialect(parser) {}
    static ApacheDialect& of(SSIParser& parser) { return static_cast<ApacheDialect&>(*parser.dialect_); }

    const SSIParser::command_table_t& commands() const override;
    void start(bool top_level) override;
    void read_directive(Command& command) override;
    bool admits(const Command& command) override;
    void unknown_command(const Command& command) override;
    void check_arguments(const SSIParser::command_info_t&, const Command&) override {}
    [[noreturn]] void on_directive_error(const std::string& text) override;
    void on_end_of_file() override;
    void finish() override;
    std::size_t include_depth() const override { return apache_include_depth; }
    bool refuses_cycles() const override { return false; }

private:
    struct target_t {
        std::string path;
        std::optional<std::string> url;
        std::optional<std::string> query;
    };

    // Folds "." and ".." out of a path of '/'-separated parts; nullopt when ".." climbs above its start.
    static std::optional<std::string> normalized(std::string_view path);
    std::u16string read_value();
    // Whether the closer (SSIEndTag) starts `skipped` units on from the next one.
    bool closer_ahead(std::size_t skipped);
    bool at_closer();
    // A variable as echo and expansions see it; nullopt when unset.
    std::optional<std::u16string> variable(std::u16string_view name);
    std::u16string expand(std::u16string_view value);
    bool assign(std::u16string_view name, const std::u16string& value);
    // Fails the directive when its row does not name the argument.
    void require_known(const Command& command, const Argument& argument);
    target_t target(const Argument& argument);
    const Argument& expression(const Command& command, const char* directive);
    void branch(const Argument& expression);
    [[noreturn]] void branch_error(const std::string& text);
    // A variable of the newer syntax; from_request is set for one only a request could give.
    std::optional<std::string> server_variable(const std::string& name, bool& from_request);
    // Reports, when asked to, that what the page shows here would come from a request.
    void request_dependent(const std::string& what, std::u16string_view shows);
    // variable(), reporting a request's variable that the page does not set.
    std::optional<std::u16string> looked_up(std::u16string_view name, std::u16string_view shows);
    bool file_exists(const std::string& path);

    static void do_include(SSIParser& parser, const Command& command);
    static void do_echo(SSIParser& parser, const Command& command);
    static void do_set(SSIParser& parser, const Command& command);
    static void do_config(SSIParser& parser, const Command& command);
    static void do_file_info(SSIParser& parser, const Command& command);
    static void do_printenv(SSIParser& parser, const Command& command);
    static void do_comment(SSIParser& parser, const Command& command);
    static void do_exec(SSIParser& parser, const Command& command);
    static void do_if(SSIParser& parser, const Command& command);
    static void do_elif(SSIParser& parser, const Command& command);
    static void do_else(SSIParser& parser, const Command& command);
    static void do_endif(SSIParser& parser, const Command& command);

    std::u16string error_text_{default_error_text};
    std::u16string echo_text_{u"(none)"};
    std::u16string closer_{u"-->"};
    bool taken_ = true;          // a branch of the innermost if was taken (or none is open)
    bool else_ignored_ = false;  // after a failed if or elif, the next else changes nothing
    // A malformed directive in a branch not taken stops every later directive of the document,
    // endif too, as in Apache: the rest of the document is left out.
    bool stalled_ = false;
    std::uint64_t skipped_ifs_ = 0;        // ifs opened inside a branch not taken
    std::vector<std::uint64_t> open_ifs_;  // where each open if stands
    std::optional<regex_captures_t> captures_;
    std::optional<std::string> url_;  // none for a document included by file= from another folder
    std::string query_;               // the query this document was included with
};
