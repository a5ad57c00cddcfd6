#include "build/outputs.h"

#include "base/compile_log.h"
#include "html/web_text.h"
#include "platform/file.h"

#include <string_view>

StagedOutputs::StagedOutputs() = default;
StagedOutputs::StagedOutputs(StagedOutputs&&) noexcept = default;
StagedOutputs& StagedOutputs::operator=(StagedOutputs&&) noexcept = default;
StagedOutputs::~StagedOutputs() = default;

OutputFile& StagedOutputs::open(const std::string& target, bool fresh, std::optional<unsigned> mode, bool empty) {
    outputs_.push_back({std::make_unique<OutputFile>(target, mode, empty), fresh});
    return *outputs_.back().file;
}

void StagedOutputs::close() {
    for (staged_t& output : outputs_) output.file->close();
}

void StagedOutputs::commit() {
    for (staged_t& output : outputs_) {
        if (output.fresh)
            output.file->commit();
        else
            output.file->commit_if_changed();
        if (const std::optional<file_status_t>& status = output.file->placed_status())
            placed_.emplace_back(output.file->file().path(), *status);
    }
    outputs_.clear();
}

std::optional<file_status_t> StagedOutputs::placed(const std::string& target) const {
    for (const auto& [path, status] : placed_)
        if (path == target) return status;
    return std::nullopt;
}

void write_text_file(StagedOutputs& outputs, const std::string& path, const std::string& text,
                     std::optional<unsigned> permissions, bool fresh) {
    OutputFile& output = outputs.open(path, fresh, permissions, fresh);
    output.file().write(text.data(), text.size());
    if (permissions) output.set_permissions(*permissions);
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
