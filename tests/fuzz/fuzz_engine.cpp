// Fuzzes the SSI engine over an in-memory document. The first byte picks how the document is
// read: bit 0 as UTF-16 (a byte order mark goes in front), bit 1 checking, bit 2 with the
// include cache, bit 3 in the Apache dialect, bit 4 with its newer expressions. Documents may include the fixed files of a small site made at start-up,
// reached through a virtual root and relative paths, with a cycle and a UTF-16 member.
#include "base/compile_log.h"
#include "platform/file_system.h"
#include "ssi/document_cache.h"
#include "ssi/document_output.h"
#include "ssi/preferences.h"
#include "ssi/ssi_parser.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {
struct site_t {
    std::string root;

    site_t() {
        char pattern[] = "/tmp/orrinfold-fuzz-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) std::abort();
        root = pattern;
        make_directory(root + "/sub");
        write("a.inc", "<!--#set var=\"v\" value=\"$v.\" --><!--#echo var=\"v\" -->");
        write("sub/b.shtml", "[<!--#include virtual=\"/a.inc\" -->]<!--#flastmod virtual=\"../a.inc\" -->");
        write("sub/self.inc", "<!--#include virtual=\"self.inc\" -->");
        write("sub/w.inc", std::string("\xFF\xFE<\0!\0-\0-\0#\0e\0c\0h\0o\0 \0v\0a\0r\0=\0v\0 \0-\0-\0>\0", 40));
        // Larger than the reading window, with a directive across its edge.
        std::string big(256 * 1024 - 3, 't');
        big += "<!--#echo var=\"v\" -->";
        big.append(4096, 'u');
        write("big.inc", big);
    }
    ~site_t() { std::system(("rm -rf '" + root + "'").c_str()); }

    void write(const std::string& name, const std::string& text) const {
        std::ofstream(root + "/" + name, std::ios::binary) << text;
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const site_t site;
    if (size == 0) return 0;
    const unsigned mode = data[0];
    std::string document(reinterpret_cast<const char*>(data + 1), size - 1);
    if ((mode & 1U) != 0) document.insert(0, "\xFF\xFE");

    SSIParserPreferences preferences;
    preferences.virtual_root = site.root;
    preferences.check = (mode & 2U) != 0;
    preferences.readable_folders = {site.root};
    preferences.dialect = (mode & 8U) != 0 ? dialect_t::apache : dialect_t::orrinfold;
    preferences.ap_expressions = (mode & 16U) != 0;
    DocumentCache cache;
    SSIParser::State state;
    if ((mode & 4U) != 0) state.cache = &cache;
    CompileLogBase log;
    DocumentOutput output(nullptr, true);
    try {
        SSIParser(document, site.root + "/sub", output, preferences, state, log).process();
    } catch (const std::runtime_error&) {
        // A missing include, a cycle, a path outside the site: the run's own errors.
    }
    return 0;
}
