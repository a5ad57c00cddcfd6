#!/bin/sh
# Runs the Windows build's test suites (core_tests.exe, cli_tests.exe) under Wine and prints,
# for each, how many tests ran, passed and were skipped, with the reasons of the skipped ones.
# Usage: sh scripts/windows-test.sh [BUILD]   (BUILD: the cross-build folder, build-win)
set -eu
build=${1:-build-win}
wine=$(command -v wine64 || command -v wine || true)
[ -n "$wine" ] || { echo "windows-test: Wine is missing (scripts/install-deps.sh windows)" >&2; exit 1; }

# A scratch Wine prefix of the build's own, quiet; the tests' fixed zone; a UTF-8 locale, since
# Wine stores file names through the locale's character set.
export WINEPREFIX="${WINEPREFIX:-$(cd "$build" && pwd)/wine}"
export WINEDEBUG=-all
export TZ=UTC
export LC_ALL=C.UTF-8
[ -d "$WINEPREFIX" ] || "$wine" wineboot --init >/dev/null 2>&1 || true

status=0
for suite in core_tests cli_tests; do
    log=$build/$suite.log
    # The Windows C library ends lines with CR LF.
    if "$wine" "$build/$suite.exe" --gtest_brief=1 2>&1 | tr -d '\r' >"$log"; then :; fi
    if grep -q '^\[  FAILED  \]' "$log" || ! grep -q '^\[  PASSED  \]' "$log"; then result=FAILED; status=1; else result=passed; fi
    ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran.*/\1/p' "$log")
    passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$log")
    skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}.*/\1/p' "$log")
    echo "$suite (Windows, under Wine): $result: ${ran:-0} tests run, ${passed:-0} passed, ${skipped:-0} skipped"
    # Each skip's reason is the line after its "Skipped".
    awk '/: Skipped$/ { getline reason; print "  skipped: " reason }' "$log"
    if [ "$result" = FAILED ]; then
        grep -E -B3 -A12 'Failure|FAILED|exception' "$log" | head -150
        echo "(the whole log: $log)"
    fi
done
exit $status
