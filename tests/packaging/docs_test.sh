#!/bin/sh
# The man pages, the shell completions, the desktop entry and the AppStream metadata.
#   docs_test.sh options ORRINFOLD [ORRINFOLD_GUI]   every option either program (and
#       `orrinfold serve`) prints in its --help is in its man page and in each completion file, and they name no other option
#   docs_test.sh validate                            the pages render without warnings, the
#       completions parse, desktop-file-validate and appstreamcli find nothing (77: a tool is missing)
set -u
here=$(dirname "$0")
packaging=$here/../../packaging
id=org.orrinfold.Orrinfold
failed=0
fail() { echo "FAIL: $*"; failed=1; }

scratch=$(mktemp -d) && trap 'rm -rf "$scratch"' EXIT

# The options in --help's option list (lines "  -q,--quiet", "  --check", "  -h, --help").
help_options() {
    "$@" --help 2>/dev/null | grep -E '^ +-' | grep -oE -- '(^|[ ,])--?[a-zA-Z][a-zA-Z-]*' | tr -d ' ,' | sort -u
}
# A file as text: roff's "\-" as "-", fish's "-s x" and "-l name" as "-x" and "--name".
plain() { sed -e 's/\\-/-/g' -e 's/-s \([a-zA-Z]\) /-\1 /g' -e 's/-l \([a-z][a-z-]*\)/--\1/g' "$1"; }
# Every option of the list is in the file, and the file names no other long option.
same_options() {  # file, options
    plain "$1" > "$scratch/text"
    for option in $2; do
        grep -qE -- "(^|[^a-zA-Z0-9_-])$option([^a-zA-Z0-9_-]|\$)" "$scratch/text" || fail "$(basename "$1") lacks $option"
    done
    printf '%s\n' $2 > "$scratch/known"
    extra=$(grep -oE -- '--[a-z][a-z-]*' "$scratch/text" | sort -u | grep -vxF -f "$scratch/known")
    [ -z "$extra" ] || fail "$(basename "$1") names options the program does not have:" $extra
}

case ${1:-} in
options)
    cli=$( { help_options "$2"; help_options "$2" serve; } | sort -u)
    [ -n "$cli" ] || fail "no options in $2 --help"
    for file in orrinfold.1 completions/orrinfold.bash completions/_orrinfold completions/orrinfold.fish; do
        same_options "$packaging/$file" "$cli"
    done
    if [ -n "${3:-}" ]; then
        gui=$(QT_QPA_PLATFORM=offscreen help_options "$3")
        [ -n "$gui" ] || fail "no options in $3 --help"
        same_options "$packaging/orrinfold-gui.1" "$gui"
    fi
    ;;
validate)
    for tool in man bash zsh fish desktop-file-validate appstreamcli; do
        command -v $tool >/dev/null || { echo "SKIP: $tool is missing (scripts/install-deps.sh package)"; exit 77; }
    done
    for page in orrinfold.1 orrinfold-gui.1; do
        warnings=$(MANWIDTH=80 man --warnings=w -l "$packaging/$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "man $page: $warnings"
    done
    bash -n "$packaging/completions/orrinfold.bash" || fail "bash completion does not parse"
    zsh -n "$packaging/completions/_orrinfold" || fail "zsh completion does not parse"
    fish --no-config --no-execute "$packaging/completions/orrinfold.fish" || fail "fish completion does not parse"
    # The bash completion offers the dialects, also after "=".
    offered=$(bash -c '. "$1"; COMP_WORDS=(orrinfold --dialect = a); COMP_CWORD=3; _orrinfold; echo "${COMPREPLY[*]}"' \
        - "$packaging/completions/orrinfold.bash")
    [ "$offered" = apache ] || fail "bash completion of --dialect=a offers '$offered'"
    offered=$(fish --no-config -c "source '$packaging/completions/orrinfold.fish'; complete -C 'orrinfold --dialect '" | cut -f1 | tr '\n' ' ')
    [ "$offered" = "apache orrinfold " ] || fail "fish completion of --dialect offers '$offered'"
    out=$(desktop-file-validate "$packaging/$id.desktop" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate: $out"
    out=$(appstreamcli validate --no-net "$packaging/$id.metainfo.xml" 2>&1)
    [ $? -eq 0 ] && ! printf '%s\n' "$out" | grep -qE '^[EW]:' || fail "appstreamcli validate: $out"
    ;;
*) echo "usage: $0 options ORRINFOLD [ORRINFOLD_GUI] | validate" >&2; exit 2 ;;
esac
[ $failed -eq 0 ] && echo "OK: ${1}"
exit $failed
