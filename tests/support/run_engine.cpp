#include "run_engine.h"

#include "recording_log.h"
#include "ssi/document_output.h"
#include "ssi/ssi_parser.h"

engine_result_t run_engine(std::string_view document, const SSIParserPreferences& preferences,
                           const std::string& directory) {
    RecordingLog log;
    DocumentOutput output;
    SSIParser::State state;
    SSIParser parser(document, directory, output, preferences, state, log);
    parser.process();
    return {output.text(), log.texts()};
}
