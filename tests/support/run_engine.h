#pragma once

#include "platform/file_system.h"
#include "ssi/preferences.h"

#include <string>
#include <string_view>
#include <vector>

// Runs the SSI engine over an in-memory document, with relative paths taken from directory.
// With log_kinds each error and warning starts with "error: " or "warning: ".
struct engine_result_t {
    std::string output;
    std::vector<std::string> log;
};
engine_result_t run_engine(std::string_view document, const SSIParserPreferences& preferences = {},
                           const std::string& directory = ".", bool log_kinds = false);

// The same text as a UTF-16 document: each byte becomes one code unit, behind a byte order mark.
std::string as_utf16(std::string_view bytes, bool bom = true);

// One row of a directive table: a document with the output and the log lines it must give.
struct engine_case_t {
    std::string name;
    std::string document;
    std::string output;
    std::vector<std::string> log = {};
};

// Runs every row as an 8-bit and as a UTF-16 document; both must give the row's output
// (in their own encoding) and the same log.
void expect_engine_cases(const std::vector<engine_case_t>& cases, const SSIParserPreferences& preferences = {},
                         const std::string& directory = ".", bool log_kinds = false);
// Runs every row's document as it is, in its own encoding only.
void expect_document_cases(const std::vector<engine_case_t>& cases, const SSIParserPreferences& preferences = {},
                           const std::string& directory = ".");

// Converts one document file into destination with convert_file and default preferences.
// error is the text of the exception that ended it ("no failure" without one).
struct file_conversion_t {
    std::string error = "no failure";
    std::vector<std::string> log;
    std::vector<std::string> locations;  // of the diagnostics, as RecordingLog keeps them
    std::vector<file_identity_t> open_documents;  // the include chain the run left behind
};
file_conversion_t convert_document(const std::string& source, const std::string& destination,
                                   const std::string& virtual_root = {});
