#include "build/outputs.h"

#include "base/compile_log.h"
#include "platform/file.h"

#include <string_view>

StagedOutputs::StagedOutputs() = default;
StagedOutputs::StagedOutputs(StagedOutputs&&) noexcept = default;
StagedOutputs& StagedOutputs::operator=(StagedOutputs&&) noexcept = default;
StagedOutputs::~StagedOutputs() = default;

OutputFile& StagedOutputs::open(const std::string& target, bool fresh) {
    outputs_.push_back({std::make_unique<OutputFile>(target), fresh});
    return *outputs_.back().file;
}

void StagedOutputs::close() {
    for (staged_t& output : outputs_) output.file->file().close();
}

void StagedOutputs::commit() {
    for (staged_t& output : outputs_) {
        if (output.fresh)
            output.file->commit();
        else
            output.file->commit_if_changed();
    }
    outputs_.clear();
}

void write_text_file(StagedOutputs& outputs, const std::string& path, const std::string& text,
                     std::optional<unsigned> permissions, bool fresh) {
    OutputFile& output = outputs.open(path, fresh);
    output.file().write(text.data(), text.size());
    if (permissions) output.set_permissions(*permissions);
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
