#include "build/outputs.h"

#include "base/compile_log.h"
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
    const std::string_view head = std::string_view(text).substr(0, 8192);
    if (head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF") || head.find('\0') != std::string_view::npos) {
        log.diagnostic(severity_t::warning, "Links not rewritten: the page is not UTF-8 or ASCII text",
                       {{page, 0, 0, page}, {}});
        return std::nullopt;
    }
    return rewriter.rewrite(text, kind, page);
}
