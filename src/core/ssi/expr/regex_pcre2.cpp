// Regular expressions through PCRE2, the library Apache itself uses, so patterns mean the same.
#include "ssi/expr/regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstdint>
#include <memory>

namespace {
// Enough for any pattern a page means; a catastrophic one stops here instead of hanging the run.
constexpr std::uint32_t match_limit = 1'000'000;
constexpr std::uint32_t depth_limit = 10'000;

std::string error_message(int code) {
    PCRE2_UCHAR text[256];
    pcre2_get_error_message(code, text, sizeof text);
    return reinterpret_cast<const char*>(text);
}
}  // namespace

struct compiled_regex_t {
    std::unique_ptr<pcre2_code, decltype(&pcre2_code_free)> code{nullptr, &pcre2_code_free};
};

pattern_t compile_regex(const std::string& pattern, bool ignore_case) {
    int code = 0;
    PCRE2_SIZE offset = 0;
    const std::uint32_t options = PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY | (ignore_case ? PCRE2_CASELESS : 0u);
    auto compiled = std::make_shared<compiled_regex_t>();
    compiled->code.reset(
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options, &code, &offset, nullptr));
    if (!compiled->code) return {nullptr, "Regular expression /" + pattern + "/ does not compile: " + error_message(code)};
    return {std::move(compiled), {}};
}

std::optional<bool> run_regex(const compiled_regex_t& compiled, const std::string& pattern, const std::string& subject,
                              std::optional<regex_captures_t>* captures, std::string& error) {
    const std::unique_ptr<pcre2_match_context, decltype(&pcre2_match_context_free)> context(
        pcre2_match_context_create(nullptr), &pcre2_match_context_free);
    pcre2_set_match_limit(context.get(), match_limit);
    pcre2_set_depth_limit(context.get(), depth_limit);
    const std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> data(
        pcre2_match_data_create_from_pattern(compiled.code.get(), nullptr), &pcre2_match_data_free);
    const int result = pcre2_match(compiled.code.get(), reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(),
                                   0, 0, data.get(), context.get());
    if (captures != nullptr) {
        regex_captures_t& stored = captures->emplace();
        stored.subject = subject;
        std::uint32_t groups = 0;
        pcre2_pattern_info(compiled.code.get(), PCRE2_INFO_CAPTURECOUNT, &groups);
        stored.groups = groups;
        stored.spans.fill({-1, -1});
        if (result > 0) {
            const PCRE2_SIZE* vector = pcre2_get_ovector_pointer(data.get());
            for (std::size_t i = 0; i < stored.spans.size() && i < static_cast<std::size_t>(result); ++i)
                if (vector[2 * i] != PCRE2_UNSET)
                    stored.spans[i] = {static_cast<std::ptrdiff_t>(vector[2 * i]),
                                       static_cast<std::ptrdiff_t>(vector[2 * i + 1])};
        }
    }
    if (result >= 0 || result == PCRE2_ERROR_NOMATCH) return result >= 0;
    error = "Regular expression /" + pattern + "/ failed: " + error_message(result);
    return std::nullopt;
}
