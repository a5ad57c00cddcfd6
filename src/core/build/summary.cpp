#include "build/summary.h"

std::string summary_text(const run_summary_t& summary, bool keep_going, bool check, bool links, bool dry_run) {
    const auto count = [](std::uint64_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    const char* done = dry_run ? " to convert, " : check ? " checked, " : " converted, ";
    std::string text = std::string(dry_run ? "dry run: " : "") + count(summary.documents, "document", "documents") + done +
                       count(summary.copies, "file", "files") + (check ? " to copy, " : " copied, ") +
                       std::to_string(summary.skipped) + " skipped";
    if (summary.up_to_date > 0) text += ", " + std::to_string(summary.up_to_date) + " up to date";
    if (summary.removed > 0) text += ", " + std::to_string(summary.removed) + (dry_run ? " to remove" : " removed");
    text += "; " + count(summary.errors, "error", "errors") + ", " + count(summary.warnings, "warning", "warnings");
    if (keep_going) text += ", " + count(summary.failed_documents, "document", "documents") + " failed";
    if (summary.request_dependent > 0)
        text += ", " + count(summary.request_dependent, "place depends", "places depend") + " on the request";
    if (summary.failed_copies > 0) text += ", " + count(summary.failed_copies, "copy", "copies") + " failed";
    if (!summary.failed.empty()) {
        // Enough to start with; the diagnostics above name every one.
        constexpr std::size_t named = 5;
        text += " (";
        for (std::size_t i = 0; i < summary.failed.size() && i < named; ++i)
            text += (i > 0 ? ", " : "") + summary.failed[i];
        if (summary.failed.size() > named) text += " and " + std::to_string(summary.failed.size() - named) + " more";
        text += ")";
    }
    if (links) text += "; " + count(summary.broken_links, "broken link", "broken links");
    return text;
}
