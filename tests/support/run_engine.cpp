#include "run_engine.h"

#include "build/convert.h"
#include "recording_log.h"
#include "ssi/document_output.h"
#include "ssi/ssi_parser.h"
#include "temp_tree.h"

#include <gtest/gtest.h>

engine_result_t run_engine(std::string_view document, const SSIParserPreferences& preferences,
                           const std::string& directory, bool log_kinds) {
    RecordingLog log;
    DocumentOutput output;
    SSIParser::State state;
    SSIParser(document, directory, output, preferences, state, log).process();
    return {output.text(), log.texts(log_kinds)};
}

std::string as_utf16(std::string_view bytes, bool bom) {
    std::u16string units;
    for (const char b : bytes) units.push_back(static_cast<unsigned char>(b));
    return utf16le(units, bom);
}

namespace {
void expect_cases(const std::vector<engine_case_t>& cases, const SSIParserPreferences& preferences,
                  const std::string& directory, bool log_kinds, bool also_utf16) {
    for (const engine_case_t& c : cases) {
        SCOPED_TRACE(c.name);
        const engine_result_t narrow = run_engine(c.document, preferences, directory, log_kinds);
        EXPECT_EQ(narrow.output, c.output);
        EXPECT_EQ(narrow.log, c.log);
        if (!also_utf16) continue;
        const engine_result_t wide = run_engine(as_utf16(c.document), preferences, directory, log_kinds);
        EXPECT_EQ(wide.output, as_utf16(c.output)) << "UTF-16";
        EXPECT_EQ(wide.log, c.log) << "UTF-16";
    }
}
}  // namespace

void expect_engine_cases(const std::vector<engine_case_t>& cases, const SSIParserPreferences& preferences,
                         const std::string& directory, bool log_kinds) {
    expect_cases(cases, preferences, directory, log_kinds, true);
}
void expect_document_cases(const std::vector<engine_case_t>& cases, const SSIParserPreferences& preferences,
                           const std::string& directory) {
    expect_cases(cases, preferences, directory, false, false);
}

file_conversion_t convert_document(const std::string& source, const std::string& destination,
                                   const std::string& virtual_root) {
    file_conversion_t result;
    RecordingLog log;
    SSIParser::State state;
    SSIDirectoryPreferences preferences = default_preferences();
    preferences.virtual_root = virtual_root;
    try {
        convert_file(source, destination, preferences, state, log);
    } catch (const std::exception& e) {
        result.error = e.what();
    }
    result.log = log.texts();
    result.locations = log.locations;
    result.open_documents = state.open_documents;
    return result;
}
