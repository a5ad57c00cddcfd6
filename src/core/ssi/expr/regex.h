#pragma once

#include "platform/shared_mutex.h"

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <utility>

// Regular expressions of the Apache dialect: PCRE2 with Apache's options (DOTALL,
// DOLLAR_ENDONLY) and match limits so that no pattern can run away, or the C++ library's
// expressions where PCRE2 is missing (regex_std.cpp).

// The groups of the last regular expression a document evaluated, read as $0 to $9.
struct regex_captures_t {
    std::string subject;
    std::size_t groups = 0;  // capturing groups in the pattern
    std::array<std::pair<std::ptrdiff_t, std::ptrdiff_t>, 10> spans{};  // {-1, -1}: took no part
    // Set by the newer syntax, after which pages see only $0 (as Apache shows them); the
    // expressions themselves still read every group.
    bool whole_only = false;
    // The text of group n; nullopt when the pattern has no such group or it took no part.
    std::optional<std::string> group(std::size_t n) const;
    // Group n as echo and the legacy syntax's $n see it.
    std::optional<std::string> echoed(std::size_t n) const;
};

// A pattern as the library compiled it; read-only, so threads may match with it at once.
struct compiled_regex_t;
// A compiled pattern, or (code empty) why it does not compile.
struct pattern_t {
    std::shared_ptr<const compiled_regex_t> code;
    std::string error;
};

// What each library provides.
pattern_t compile_regex(const std::string& pattern, bool ignore_case);
// Matches with a compiled pattern, the captures stored; nullopt when the match passes the
// library's limits (error says which).
std::optional<bool> run_regex(const compiled_regex_t& code, const std::string& pattern, const std::string& subject,
                              std::optional<regex_captures_t>* captures, std::string& error);

// Patterns compiled once per run: a site's pages evaluate the same few patterns many times.
// Workers converting pages at once share one cache; every call is safe from any thread.
class RegexCache {
public:
    pattern_t compiled(const std::string& pattern, bool ignore_case);
    // How many patterns are kept.
    std::size_t size() const;

private:
    // Past this many patterns (a page computing them from variables) new ones are not kept.
    static constexpr std::size_t max_patterns = 4096;

    mutable SharedMutex mutex_;
    std::unordered_map<std::string, pattern_t> patterns_;  // keyed by the case flag and the pattern
};

// Whether a regular expression matches, with the captures stored; nullopt when the pattern does
// not compile or the match passes the library's limits (error says which). Without a cache the
// pattern is compiled for this match alone.
std::optional<bool> match_regex(const std::string& subject, const std::string& pattern,
                                std::optional<regex_captures_t>* captures, bool ignore_case, std::string& error,
                                RegexCache* cache = nullptr);
