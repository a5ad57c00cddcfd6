#pragma once

#include <string>

class LinkRewriter;
struct SSIDirectoryPreferences;

// Everything besides the files that shapes the outputs, as the record keeps it: a run with
// other options does every file again. The local time zone counts (LAST_MODIFIED and
// flastmod show local times), and so does the set of renamed pages (links to them are
// rewritten); rewriter is null when no page is renamed.
std::string options_text(const SSIDirectoryPreferences& preferences, const LinkRewriter* rewriter);
