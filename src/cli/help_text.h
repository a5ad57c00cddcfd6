#pragma once

// The command line's usage lines, printed after a usage error, and the part of --help that
// follows the list of options.
inline constexpr const char* usage_text =
    "Usage: orrinfold [--virtual-root DIR] [--convert MASKS] [--skip MASKS] [--allow-outside PATH]\n"
    "                 [--dialect orrinfold|apache] [--ap-expr] [--rename-pages EXT [--redirects]]\n"
    "                 [--check-links] [--config FILE] [--apache-config FILE]\n"
    "                 [-j N] [--full] [--state-dir DIR] [--watch [--settle MS]]\n"
    "                 [-q] [-v] [-k] [--werror] [--color=WHEN] [--all-diagnostics]\n"
    "                 [-n] [--log-format text|json] [--sarif FILE] SOURCE DEST\n"
    "       orrinfold --check [options] SOURCE\n"
    "       orrinfold init [options] [SOURCE [DEST]]\n"
    "       orrinfold serve [options] [--port P] [--bind ADDR] [--open] SOURCE [DEST]\n"
    "       orrinfold --help | -V, --version\n";

inline constexpr const char* help_footer = R"(
Orrinfold mirrors SOURCE into DEST. Documents whose names match a Convert mask go
through the SSI engine (include, echo, set, config, fsize, flastmod, break); entries
matching a Skip mask are left out, folders included; every other file is copied.
DEST is created when missing. Each file gets a progress line; errors in documents
are reported one line each and the run goes on; "Finished!" ends a good run.

Masks: a list separated by spaces, each matched against a whole file or folder name
(never a path), letters compared without regard to case. '*' matches any run of
characters, '?' exactly one; a dot is an ordinary character. Skip is tested first.
A repeated option adds its masks to the list; an empty list ('') matches nothing.
  --convert "*.shtml *.html"   converts both kinds of page
  --skip "*.inc include .git"  leaves out .inc files and folders named include or .git
Folders named .git, .svn or .hg are copied like any other unless skipped; the run
warns about each one.

Virtual root: where <!--#include virtual="/..." --> (and fsize, flastmod) paths that
start with "/" are looked up. By default it is SOURCE, the folder a web server would
serve, so virtual="/inc/menu.inc" reads SOURCE/inc/menu.inc from every page.
  orrinfold --virtual-root ~/www ~/www/blog ~/public   a site within a larger root
  orrinfold --virtual-root '' site public             no root: every path, "/" ones
                                                      too, is taken relative to the
                                                      folder of its document

Dialects: --dialect orrinfold (the default) is Orrinfold's own SSI: the seven
commands above, every included file parsed, a missing include ends the run.
--dialect apache does what Apache httpd's mod_include does for a site served from
the virtual root with "Options +IncludesNOEXEC": if/elif/else/endif with Apache's
expressions (legacy syntax; --ap-expr for the newer one, like "SSILegacyExprParser
off"), include file= and virtual= (a URL: %XX escapes, ?query), echo encoding=, set,
config errmsg/echomsg/timefmt/sizefmt, printenv, comment, Apache's variables
(DOCUMENT_NAME, DOCUMENT_URI, LAST_MODIFIED, USER_NAME, ...) and formats. Only
included files that match a Convert mask are parsed; others are included as they
are. A directive that fails writes "[an error occurred while processing this
directive]" (or config errmsg) into the page, is reported, and the page goes on.
exec is always refused. Choose apache for a site written for Apache.

Static hosts: --rename-pages html writes each converted page as NAME.html
(index.shtml becomes index.html, which hosts serve for "/"), and rewrites the links
to renamed pages in converted pages and in copied .html, .htm and .css files (href,
src, srcset, action and the other URL attributes, meta refresh, url() in styles);
only the name in each such link changes, every other byte stays. Two entries that
would get one name are an error before anything is written. --redirects also
writes a small page under each old name that sends browsers to the new one.
--check-links reports every local link in the output that leads to nothing
(PATH:LINE:COL: warning: broken link 'x.html') and counts them in the summary.

Rebuilds: a run records what it wrote (outside DEST, in $XDG_CACHE_HOME/orrinfold
or ~/.cache/orrinfold, or in --state-dir DIR), and the next run into DEST converts
only the pages that changed or whose included files, fsize/flastmod targets or
options changed (pages that show DATE_LOCAL or DATE_GMT, or reported a problem,
every time), copies only changed files, and removes outputs whose source is gone
or now skipped, but only files it wrote itself and that nobody changed since.
The summary counts the files up to date (-v lists them). --full does every file.
A second run into the same DEST while one is going refuses to start.
Files are converted and copied on one worker per processor (-j N for N; -j 1 does
one after the other); the log, the outputs and the diagnostics are the same.
--watch, after the run, waits for changes in SOURCE (and the virtual root) and
rebuilds what changed each time, until Ctrl-C: once SOURCE has been quiet for 200 ms
(--settle MS), it looks only at the files it saw change and at the files pages read. `orrinfold serve` also serves DEST to a
browser that reloads as you save (see orrinfold serve --help).

Diagnostics go to standard error, progress lines and the summary to standard
output (on a terminal, one status line redrawn in place unless -v). An error or
warning in a document is printed the way compilers print them, with the path as
it opens from the current folder (SOURCE as given), the line and the column of
the directive, and one note per include that led there:
  site/news/a.shtml:12:5: warning: Unknown SSI command: foo
  site/inc/menu.inc:3:1: error: Missing required argument 'var' in command 'echo'
  site/news/a.shtml:2:1: note: included from here
The same diagnostic of an included document met by other pages is printed once,
with a note at the end counting them (--all-diagnostics prints each). Colour on a
terminal; --color=always|never, NO_COLOR and CLICOLOR_FORCE decide otherwise.
Each run ends with a summary: N documents converted, N files copied, N skipped;
N errors, N warnings.

Safety: outputs are written beside their target and renamed over it when complete,
so a page is never seen half-written and a page that fails keeps its previous
output. Links in DEST are replaced, never written through. Pages read only within
SOURCE, the virtual root and places given with --allow-outside; links in SOURCE
that lead elsewhere, and broken links, are skipped with a warning. Ctrl-C (or
SIGTERM) stops the run after the file in progress.

Exit status (the same with --check): 0 when the run completed with no error; 1
when any error was reported (the run completes and prints its summary, naming
the first files that failed) or ended it (work done before it stays), with
--werror when any warning was reported, or when standard output could not be
written; 2 for a usage error; 130 or 143 when
interrupted (with --watch, 0 when stopped between two rebuilds).
)";

// The part of `orrinfold serve --help` that follows the list of options.
inline constexpr const char* serve_help_footer = R"(
serve builds SOURCE into DEST as a run with the same options does (only what changed
since the last run into DEST), then watches SOURCE like --watch and serves DEST at
http://127.0.0.1:8000/ (or the next free port). Without DEST the site is built into a
folder of the user's cache, kept between starts. Pages are sent with a small script
(never written to DEST): after each rebuild the browser reloads the pages whose output
changed, swaps changed style sheets, and shows the errors and warnings of the last
rebuild over the page until they are fixed. Ctrl-C stops watching and serving.
)";
