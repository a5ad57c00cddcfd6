#include "ssi/apache_dialect.h"

#include "base/compile_log.h"
#include "base/exceptions.h"
#include "base/text.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "ssi/codecs.h"
#include "ssi/document_cache.h"
#include "ssi/document_output.h"
#include "ssi/preferences.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

// The Apache dialect's commands other than flow control. Each handler reads its arguments in
// order, as Apache does: what comes before a bad argument has already been written.

namespace {

// Apache refuses to include a file whose MIME type is not text/* (it could be a program).
// These are the common such types' extensions, as Debian's mime.types gives them.
bool is_non_text_type(const std::string& name) {
    static constexpr std::string_view extensions[] = {
        "7z",   "atom", "avi",  "bin",  "bmp",  "bz2",  "class", "dll",  "dmg", "doc",   "docx", "eot",
        "eps",  "epub", "exe",  "flac", "gif",  "gz",   "ico",   "iso",  "jar", "jpeg",  "jpg",  "json",
        "m4a",  "mov",  "mp3",  "mp4",  "mpeg", "mpg",  "odp",   "ods",  "odt", "oga",   "ogg",  "ogv",
        "otf",  "pdf",  "png",  "ppt",  "pptx", "ps",   "rar",   "rss",  "rtf", "svg",   "swf",  "tar",
        "tgz",  "tif",  "tiff", "ttf",  "wasm", "wav",  "webm",  "webp", "woff", "woff2", "xhtml", "xls",
        "xlsx", "xml",  "xz",   "zip"};
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string extension = name.substr(dot + 1);
    for (char& c : extension) c = ascii_lower(c);
    return std::binary_search(std::begin(extensions), std::end(extensions), extension);
}

}  // namespace

ApacheDialect::target_t ApacheDialect::target(const Argument& argument) {
    std::string value;
    try {
        value = to_narrow(expand(decode_entities(*argument.value)));
    } catch (const value_too_long&) {
        parser_.fail("Path of '" + to_narrow(argument.name) + "' is longer than " + std::to_string(max_value_length) +
             " characters");
    }
    target_t target;
    if (argument.name == u"file") {
        // Only the document's own folder and below, as Apache allows.
        const std::optional<std::string> relative = value.starts_with('/') ? std::nullopt : normalized(value);
        if (!relative || relative->empty()) parser_.fail("Unable to access file \"" + value + "\": only paths below the document's folder are allowed");
        target.path = parser_.directory_ + *relative;
        if (url_ && relative->rfind('/') == 0) target.url = std::string(folder_of(*url_)) + relative->substr(1);
        return target;
    }
    if (const std::size_t hash = value.find('#'); hash != std::string::npos) value.resize(hash);
    if (const std::size_t question = value.find('?'); question != std::string::npos) {
        target.query = value.substr(question + 1);
        value.resize(question);
    }
    if (!unescape_url(value, false) || value.find('\0') != std::string::npos)
        parser_.fail("Unable to include \"" + value + "\": bad escape in the URL");
    // A document included by file= from another folder has no URL: Apache takes its relative
    // paths from the root.
    if (!value.starts_with('/')) value = (url_ ? std::string(folder_of(*url_)) : std::string("/")) + value;
    target.url = normalized(value);
    if (!target.url) parser_.fail("Unable to include \"" + value + "\": the path leads above the virtual root");
    const std::string& root = parser_.preferences_->virtual_root;
    target.path = (root.empty() ? parser_.directory_ : root) + *target.url;
    return target;
}

void ApacheDialect::do_include(SSIParser& parser, const Command& command) {
    ApacheDialect& self = of(parser);
    if (command.arguments.empty()) parser.fail("Missing argument for 'include'");
    for (const Argument& argument : command.arguments) {
        if (!argument.value) break;
        self.require_known(command, argument);
        const target_t target = self.target(argument);
        std::optional<SSIParser> child;
        try {
            parser.require_readable(target.path);
            const file_status_t status = (parser.state_->cache != nullptr ? parser.state_->cache->status(target.path) : stat_path(target.path));
            parser.depends_on(target.path, status);
            if (status.kind == file_kind_t::directory)
                raise(std::runtime_error(target.path + ": Is a directory"));
            if (is_non_text_type(std::string(base_name(target.path))))
                raise(std::runtime_error(target.path + ": not included, its type is not text (as in Apache)"));
            const auto& parses = parser.preferences_->parses_include;
            if (parses && !parses(base_name(target.path))) {
                // Included as it stands, byte for byte, as Apache does with what it does not parse.
                File file(target.path, File::access_t::read);
                unsigned char chunk[64 * 1024];
                for (std::size_t got; (got = file.read(chunk, sizeof chunk)) > 0;) parser.output_->write(chunk, got);
                continue;
            }
            if (target.query) {
                std::string unescaped = *target.query;
                unescape_url(unescaped, false);
                self.assign(u"QUERY_STRING", to_wide(*target.query));
                self.assign(u"QUERY_STRING_UNESCAPED", to_wide(escape_shell(unescaped)));
            }
            child.emplace(target.path, *parser.output_, *parser.preferences_, *parser.state_, *parser.log_);
        } catch (const std::runtime_error& e) {
            parser.fail(e.what());
        }
        child->parent_ = &parser;
        of(*child).url_ = target.url;
        of(*child).query_ = target.query.value_or("");
        child->process();
    }
}

namespace {
// Apache's value encodings, for echo and set; nullopt for an unknown name.
std::optional<std::string> encoded(const std::string& text, const std::u16string& encoding) {
    if (encoding == u"NONE") return text;
    if (encoding == u"ENTITY") return escape_html(text);
    if (encoding == u"URL" || encoding == u"URLENCODED") return escape_url(text, encoding == u"URLENCODED");
    if (encoding == u"BASE64") return encode_base64(text);
    return std::nullopt;
}

// echo takes a list of encodings ("url,entity"), separated by commas or blanks, applied in turn.
std::optional<std::string> encoded_in_turn(std::string text, const std::u16string& encodings) {
    std::size_t from = 0;
    for (;;) {
        const std::size_t end = std::min(encodings.find_first_of(u", \t", from), encodings.size());
        if (end > from) {
            std::optional<std::string> next = encoded(text, encodings.substr(from, end - from));
            if (!next) return std::nullopt;
            text = std::move(*next);
        }
        if (end == encodings.size()) return text;
        from = end + 1;
    }
}
}  // namespace

void ApacheDialect::do_echo(SSIParser& parser, const Command& command) {
    ApacheDialect& self = of(parser);
    if (command.arguments.empty()) parser.fail("Missing argument for 'echo'");
    // An encoding holds for every var after it; an unknown one fails only when a value is shown.
    std::u16string encoding = u"ENTITY";
    for (const Argument& argument : command.arguments) {
        if (!argument.value) break;
        self.require_known(command, argument);
        const std::u16string value = decode_entities(*argument.value);
        if (argument.name == u"var") {
            const std::optional<std::u16string> found = self.looked_up(self.expand(value), self.echo_text_);
            if (!found) {
                parser.write(self.echo_text_);
                continue;
            }
            const std::optional<std::string> text = encoded_in_turn(to_narrow(*found), to_ascii_upper(encoding));
            if (!text) parser.fail("Unknown value '" + to_narrow(encoding) + "' of 'encoding' in command 'echo'");
            parser.write(to_wide(*text));
        } else {
            encoding = value;
        }
    }
}

void ApacheDialect::do_set(SSIParser& parser, const Command& command) {
    ApacheDialect& self = of(parser);
    if (command.arguments.size() < 2) parser.fail("Missing argument for 'set'");
    std::optional<std::u16string> name;
    std::u16string decoding = u"NONE", encoding = u"NONE";
    const auto known = [](const std::u16string& coding) {
        return coding == u"NONE" || coding == u"URL" || coding == u"URLENCODED" || coding == u"BASE64" ||
               coding == u"ENTITY";
    };
    for (const Argument& argument : command.arguments) {
        if (!argument.value) break;
        self.require_known(command, argument);
        if (argument.name == u"var") {
            name = self.expand(decode_entities(*argument.value));
        } else if (argument.name == u"decoding" || argument.name == u"encoding") {
            std::u16string& coding = argument.name == u"decoding" ? decoding : encoding;
            coding = to_ascii_upper(decode_entities(*argument.value));
            if (!known(coding))
                parser.fail("Unknown value '" + to_narrow(*argument.value) + "' of '" + to_narrow(argument.name) +
                            "' in command 'set'");
        } else {
            if (!name) parser.fail("'var' must come before 'value' in command 'set'");
            std::string value = to_narrow(self.expand(*argument.value));
            if (decoding == u"URL" || decoding == u"URLENCODED")
                unescape_url(value, decoding == u"URLENCODED");
            else if (decoding == u"BASE64")
                value = decode_base64(value);
            else if (decoding == u"ENTITY")
                value = to_narrow(decode_entities(to_wide(value)));
            value = *encoded(value, encoding);
            if (!self.assign(*name, to_wide(value)))
                parser.fail("Variables would hold more than " + std::to_string(max_variables_length) +
                            " characters in all; 'set' dropped");
        }
    }
}

void ApacheDialect::do_config(SSIParser& parser, const Command& command) {
    if (command.arguments.empty()) parser.fail("Missing argument for 'config'");
    ApacheDialect& self = of(parser);
    for (const Argument& argument : command.arguments) {
        if (!argument.value) break;
        const std::u16string value = self.expand(*argument.value);
        self.require_known(command, argument);
        if (argument.name == u"errmsg") {
            self.error_text_ = value;
        } else if (argument.name == u"echomsg") {
            self.echo_text_ = value;
        } else if (argument.name == u"timefmt") {
            parser.time_format_ = value;
            parser.state_->shared_time_format = value;
        } else {
            const std::u16string format = decode_entities(value);
            if (format == u"bytes")
                parser.size_format_ = size_format_t::bytes;
            else if (format == u"abbrev")
                parser.size_format_ = size_format_t::abbrev;
            else
                parser.fail("Unknown value '" + to_narrow(format) + "' of 'sizefmt' in command 'config'");
        }
    }
}

// fsize and flastmod: one handler, told apart by the directive's name.
void ApacheDialect::do_file_info(SSIParser& parser, const Command& command) {
    ApacheDialect& self = of(parser);
    const bool size = command.name == u"fsize";
    const std::string name = size ? "fsize" : "flastmod";
    if (command.arguments.empty()) parser.fail("Missing argument for '" + name + "'");
    for (const Argument& argument : command.arguments) {
        if (!argument.value) break;
        self.require_known(command, argument);
        const target_t target = self.target(argument);
        file_status_t status;
        try {
            parser.require_readable(target.path);
            status = (parser.state_->cache != nullptr ? parser.state_->cache->status(target.path) : stat_path(target.path));
            parser.depends_on(target.path, status);
        } catch (const std::runtime_error& e) {
            parser.fail(e.what());
        }
        if (!size)
            parser.write(format_time(parser.time_format_, local_time(status.modified), true, apache_time_length));
        else
            parser.write(to_wide(parser.size_format_ == size_format_t::bytes ? grouped_size(status.size)
                                                                            : abbreviated_size(status.size)));
    }
}

void ApacheDialect::do_printenv(SSIParser& parser, const Command& command) {
    ApacheDialect& self = of(parser);
    if (!command.arguments.empty()) parser.fail("'printenv' takes no arguments");
    // As Apache lists them: in the order first set, each name as first spelled.
    for (const std::u16string& name : parser.state_->spelled)
        if (const auto value = self.variable(name))
            parser.write(to_wide(escape_html(to_narrow(name)) + "=" + escape_html(to_narrow(*value)) + "\n"));
}

void ApacheDialect::do_comment(SSIParser&, const Command&) {}

void ApacheDialect::do_exec(SSIParser& parser, const Command&) {
    of(parser).request_dependent("exec", of(parser).error_text_);
    parser.fail("'exec' is not supported: a static conversion never runs commands");
}

