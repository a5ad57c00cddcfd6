#include "build/outputs.h"

#include "base/compile_log.h"
#include "html/web_text.h"
#include "platform/file.h"

#include <string_view>

void commit_output(OutputFile& output, bool fresh) {
    if (fresh)
        output.commit();
    else
        output.commit_if_changed();
}

void write_text_file(const std::string& path, const std::string& text, std::optional<unsigned> permissions,
                     bool fresh) {
    OutputFile output(path);
    output.file().write(text.data(), text.size());
    if (permissions) output.set_permissions(*permissions);
    commit_output(output, fresh);
}

std::optional<std::string> rewritten(const LinkRewriter& rewriter, const std::string& text, text_kind_t kind,
                                     const std::string& page, CompileLogBase& log) {
    const auto not_text = [&] {
        log.diagnostic(severity_t::warning, "Links not rewritten: the page is not UTF-8 or ASCII text",
                       {{page, 0, 0, page}, {}});
        return std::nullopt;
    };
    // A UTF-16 page is rewritten in UTF-8 and goes back to UTF-16 in its own byte order; one
    // that would not come back byte for byte is left as it is.
    if (const page_encoding_t encoding = page_encoding(text); encoding != page_encoding_t::utf8) {
        bool exact = true;
        const std::string utf8 = utf16_page_text(text, encoding, exact);
        if (!exact) return not_text();
        const std::optional<std::string> changed = rewriter.rewrite(utf8, kind, page);
        if (!changed) return std::nullopt;
        return utf16_page_bytes(*changed, encoding);
    }
    if (std::string_view(text).substr(0, 8192).find('\0') != std::string_view::npos) return not_text();
    return rewriter.rewrite(text, kind, page);
}
