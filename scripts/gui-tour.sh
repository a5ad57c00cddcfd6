#!/bin/sh
# Plays a new user's first run of the desktop program in a real X window (Xvfb) and saves
# screenshots in docs/: the example site converted with the default options (the error box
# offers the source folder as the virtual root), the retry that converts it, a run with
# problems (main window and Problems view) and the Options dialog. Needs xvfb-run.
#   scripts/gui-tour.sh [BUILD] [OUTPUT-FOLDER]
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
out=$(mkdir -p "${2:-$repo/docs}" && cd "${2:-$repo/docs}" && pwd)
cmake --build "$build" --target gui_tour orrinfold-gui >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home"
# A fresh home folder: no settings, no recent folders, as on a first start.
HOME="$work/home" XDG_CONFIG_HOME="" XDG_CACHE_HOME="$work/home/.cache" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x1024x24" "$build/tests/gui/gui_tour" "$repo/examples/site" "$out"
