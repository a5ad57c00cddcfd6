#include "ssi/expr/regex.h"

#include <mutex>

std::optional<std::string> regex_captures_t::echoed(std::size_t n) const {
    if (whole_only && n > 0) return std::nullopt;
    return group(n);
}

std::optional<std::string> regex_captures_t::group(std::size_t n) const {
    if (n > groups || n >= spans.size() || spans[n].first < 0 || spans[n].second < spans[n].first) return std::nullopt;
    return subject.substr(static_cast<std::size_t>(spans[n].first),
                          static_cast<std::size_t>(spans[n].second - spans[n].first));
}

pattern_t RegexCache::compiled(const std::string& pattern, bool ignore_case) {
    std::string key = (ignore_case ? "i" : "-") + pattern;
    {
        const std::shared_lock lock(mutex_);
        if (const auto found = patterns_.find(key); found != patterns_.end()) return found->second;
    }
    // Compiled outside the lock; two threads meeting a new pattern at once both compile it,
    // and the first one stored is kept.
    pattern_t result = compile_regex(pattern, ignore_case);
    const std::unique_lock lock(mutex_);
    if (patterns_.size() >= max_patterns) return result;
    return patterns_.try_emplace(std::move(key), std::move(result)).first->second;
}

std::size_t RegexCache::size() const {
    const std::shared_lock lock(mutex_);
    return patterns_.size();
}

std::optional<bool> match_regex(const std::string& subject, const std::string& pattern,
                                std::optional<regex_captures_t>* captures, bool ignore_case, std::string& error,
                                RegexCache* cache) {
    const pattern_t regex = cache != nullptr ? cache->compiled(pattern, ignore_case) : compile_regex(pattern, ignore_case);
    if (!regex.code) {
        error = regex.error;
        return std::nullopt;
    }
    return run_regex(*regex.code, pattern, subject, captures, error);
}
