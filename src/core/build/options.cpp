#include "build/options.h"

#include "html/links.h"
#include "platform/clock.h"
#include "ssi/preferences.h"
#include "version.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <optional>

std::string options_text(const SSIDirectoryPreferences& preferences, const LinkRewriter* rewriter) {
    std::string text = std::string(orrinfold::version) + "|" +
                       (preferences.dialect == dialect_t::apache ? "apache" : "orrinfold") +
                       (preferences.ap_expressions ? "+ap" : "") + "|" + preferences.convert_filter + "|" +
                       preferences.skip_filter + "|" + preferences.virtual_root + "|" + preferences.rename_pages +
                       (preferences.redirects ? "+redirects" : "");
    for (const std::string& folder : preferences.readable_folders) text += "|" + folder;
    const std::int64_t now = current_time();
    for (const std::int64_t at : {now, now - 183 * 86400}) {
        if (const std::optional<std::tm> local = local_time(at); local && at >= 0) {
            const std::optional<std::tm> universal = universal_time(at);
            text += "|" + std::to_string((local->tm_yday - universal->tm_yday) * 1440 +
                                         (local->tm_hour - universal->tm_hour) * 60 + local->tm_min - universal->tm_min);
        }
    }
    if (rewriter != nullptr) {
        std::uint64_t hash = 0;  // a sum of each renamed page's FNV-1a, whatever the order
        for (const auto& [page, output] : rewriter->renamed()) {
            std::uint64_t one = 14695981039346656037u;
            for (const char c : page + '\0' + output) one = (one ^ static_cast<unsigned char>(c)) * 1099511628211u;
            hash += one;
        }
        char hex[32];
        std::snprintf(hex, sizeof hex, "|%016" PRIx64, hash);
        text += hex;
    }
    return text;
}
