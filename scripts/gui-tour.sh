#!/bin/sh
# Plays a new user's first run of the desktop program in a real X window (Xvfb) and saves
# screenshots: the example site converted without a virtual root (the error names the
# remedy), the Options dialog with "Use the source folder as the virtual root" ticked, and
# the run that then goes through. Needs xvfb, xdotool, x11-apps and netpbm.
#   scripts/gui-tour.sh [BUILD] [OUTPUT-FOLDER]
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
out=$(mkdir -p "${2:-docs}" && cd "${2:-docs}" && pwd)
work=$(mktemp -d)
mkdir -p "$work/home/public" && cp -r "$repo/examples/site" "$work/home/site"
export HOME="$work/home" XDG_CONFIG_HOME="" QT_QPA_PLATFORM=xcb DISPLAY=:97

Xvfb :97 -screen 0 1024x768x24 >/dev/null 2>&1 & xvfb=$!
trap 'kill $app $xvfb 2>/dev/null; rm -rf "$work"' EXIT
sleep 1
"$build/orrinfold-gui" & app=$!
sleep 3

# Without a window manager a grab of the screen leaves dialogs blank: each is grabbed by
# itself and pasted where it stands.
shot() {  # FILE [WINDOW-NAME]
    xwd -root -silent | xwdtopnm 2>/dev/null >"$work/screen.pnm"
    if [ $# -gt 1 ]; then
        window=$(xdotool search --name "$2" | head -1)
        eval "$(xdotool getwindowgeometry --shell "$window")"
        xwd -id "$window" -silent | xwdtopnm 2>/dev/null >"$work/window.pnm"
        pnmpaste "$work/window.pnm" "$X" "$Y" "$work/screen.pnm" | pnmcut -width 820 -height 620 | pnmtopng >"$out/$1"
    else
        pnmcut -width 820 -height 620 "$work/screen.pnm" | pnmtopng >"$out/$1"
    fi
}

xdotool mousemove 700 600 click 1 sleep 0.3 key ctrl+l
xdotool type --delay 10 "$HOME/site"; xdotool key Return; sleep 0.5
xdotool mousemove 540 48 click 1 sleep 0.3
xdotool type --delay 10 "$HOME/public"; xdotool key Return; sleep 0.5
xdotool key alt+c; sleep 4
shot first-run-without-root.png "ORRIN: Error"
xdotool key Return; sleep 1
xdotool mousemove 412 599 click 1; sleep 1.5
xdotool windowfocus "$(xdotool search --name "Orrinfold Options" | head -1)"; sleep 0.3
xdotool key alt+u; sleep 0.5
shot first-run-options.png "Orrinfold Options"
xdotool key Return; sleep 1
xdotool mousemove 240 599 click 1; sleep 3
shot first-run-with-source-root.png
