#!/usr/bin/env bash
# Plants each fault in a scratch copy of the sources and reports which tests catch it.
# Usage: run.sh [-t TREE] [FAULT...]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
tree=$(cd "$here/../.." && pwd)
if [[ ${1:-} == -t ]]; then tree=$(cd "$2" && pwd); shift 2; fi
scratch=${TMPDIR:-/tmp}/orrinfold-mutants
work=$scratch/tree stage=$scratch/stage results=$scratch/results.txt
faults=("$@")
(( ${#faults[@]} )) || faults=("$here"/faults/*.patch)

# Copy the tree, rewriting only files whose content changed: a fresh mtime makes them rebuild,
# and an unchanged file keeps the build's objects.
rm -rf "$stage" && mkdir -p "$stage" "$work"
tar -C "$tree" --exclude=./.git --exclude='./build*' -c . | tar -x -C "$stage"
restore() {  # FILE...: put back the tree's version
    local f
    for f; do
        cmp -s "$stage/$f" "$work/$f" && continue
        mkdir -p "$(dirname "$work/$f")" && cp "$stage/$f" "$work/$f"
    done
}
(cd "$stage" && find . -type f -print0) | while IFS= read -r -d '' f; do restore "$f"; done

cd "$work"
[[ -f build/CMakeCache.txt ]] || cmake -S . -B build -DORRINFOLD_BUILD_BENCH=OFF >"$scratch/configure.log"
build() { cmake --build build -j2 >"$scratch/build.log" 2>&1; }
# Prints the names of the failing tests, one a line.
failed_tests() {
    ctest --test-dir build -j2 --timeout 120 >"$scratch/ctest.log" 2>&1 || true
    sed -n '/The following tests FAILED:/,$p' "$scratch/ctest.log" |
        sed -nE 's/^[[:space:]]*[0-9]+ - (.+) \([^)]*\)$/\1/p'
}

echo "Baseline: building and testing $tree"
build || { echo "the unmodified tree does not build; see $scratch/build.log"; exit 2; }
if [[ -n $(failed_tests) ]]; then echo "the unmodified suite fails; see $scratch/ctest.log"; exit 2; fi

: >"$results"
declare -A count=([caught]=0 [SURVIVED]=0 [NOAPPLY]=0 [NOBUILD]=0)
report() {
    printf '%-8s %s\n' "$1" "$2" | tee -a "$results"
    count[$1]=$((count[$1] + 1))
}
for fault in "${faults[@]}"; do
    [[ -f $fault ]] || fault=$here/faults/${fault%.patch}.patch
    [[ -f $fault ]] || { echo "no such fault: $fault"; exit 2; }
    name=$(basename "$fault" .patch)
    mapfile -t touched < <(sed -n 's|^+++ b/\([^[:space:]]*\).*|\1|p' "$fault")
    if ! patch -p1 -s -f --dry-run <"$fault" >/dev/null 2>&1; then
        report NOAPPLY "$name"; continue
    fi
    patch -p1 -s -f --no-backup-if-mismatch <"$fault" >/dev/null
    if ! build; then
        report NOBUILD "$name"
    else
        failed=$(failed_tests | paste -sd, -)
        if [[ -n $failed ]]; then report caught "$name  by $failed"; else report SURVIVED "$name"; fi
    fi
    restore "${touched[@]}"
done
echo "${#faults[@]} faults: ${count[caught]} caught, ${count[SURVIVED]} survived," \
    "${count[NOAPPLY]} did not apply, ${count[NOBUILD]} did not build" | tee -a "$results"
(( count[caught] == ${#faults[@]} ))
