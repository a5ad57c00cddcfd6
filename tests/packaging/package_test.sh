#!/bin/sh
# The Debian package as a user gets it: its name and fields, the files it holds, and the
# programs run from a scratch root it is unpacked into.
#   package_test.sh BUILD      after "make package BUILD=BUILD" (make package-test does both)
set -u
build=$1
repo=$(cd "$(dirname "$0")/../.." && pwd)
id=org.orrinfold.Orrinfold
failed=0
fail() { echo "FAIL: $*"; failed=1; }

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb=$build/orrinfold_${version}_$(dpkg --print-architecture).deb
[ -n "$version" ] && [ -f "$deb" ] || { echo "FAIL: no package $deb"; exit 1; }
echo "$deb:"
dpkg-deb --field "$deb" Package Version Section Maintainer Depends Recommends

[ "$(dpkg-deb --field "$deb" Package)" = orrinfold ] || fail "Package field"
[ "$(dpkg-deb --field "$deb" Version)" = "$version" ] || fail "Version field"
[ "$(dpkg-deb --field "$deb" Section)" = web ] || fail "Section field"
[ -n "$(dpkg-deb --field "$deb" Maintainer)" ] || fail "no Maintainer"
[ -n "$(dpkg-deb --field "$deb" Description)" ] || fail "no Description"
depends=$(dpkg-deb --field "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')
for library in libc6 libstdc++6 libqt6widgets6 libpcre2-8-0; do
    printf '%s\n' "$depends" | grep -qxF "$library" || fail "Depends lacks $library"
done

# Nothing but the programs and their data.
others=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -vxE '\./(usr/(share/)?)?' |
    grep -vE '^\./usr/(bin|share/(orrinfold|applications|icons|metainfo|man|bash-completion|zsh|fish))(/|$)')
[ -z "$others" ] && echo "Files: only usr/bin and the data folders" || fail "unexpected files:" $others

root=$(mktemp -d) && trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
for file in bin/orrinfold bin/orrinfold-gui share/orrinfold/help/index.shtml \
    share/applications/$id.desktop share/icons/hicolor/scalable/apps/$id.svg share/metainfo/$id.metainfo.xml \
    share/man/man1/orrinfold.1 share/man/man1/orrinfold-gui.1 share/bash-completion/completions/orrinfold \
    share/zsh/vendor-completions/_orrinfold share/fish/vendor_completions.d/orrinfold.fish; do
    [ -f "$root/usr/$file" ] || fail "the package lacks usr/$file"
done
for program in orrinfold orrinfold-gui; do
    ! readelf -d "$root/usr/bin/$program" | grep -qE 'R(UN)?PATH' || fail "$program keeps a library path"
done

# The installed programs, from the scratch root.
out=$("$root/usr/bin/orrinfold" --version)
[ "$out" = "Orrinfold $version" ] && echo "orrinfold --version: $out" || fail "orrinfold --version printed '$out'"
last=$("$root/usr/bin/orrinfold" "$repo/examples/site" "$root/site" 2>&1 | tail -n 1)
[ "$last" = "Finished!" ] && echo "orrinfold examples/site: $last" || fail "converting examples/site ended with '$last'"
# The desktop program looks for its help in its own folder's ../share/orrinfold/help.
[ -f "$root/usr/bin/../share/orrinfold/help/index.shtml" ] || fail "no help pages beside the desktop program"
export QT_QPA_PLATFORM=offscreen HOME="$root/home" XDG_CONFIG_HOME="$root/home/.config" XDG_RUNTIME_DIR="$root"
out=$("$root/usr/bin/orrinfold-gui" --version)
[ "$out" = "orrinfold-gui $version" ] && echo "orrinfold-gui --version: $out" || fail "orrinfold-gui --version printed '$out'"
"$root/usr/bin/orrinfold-gui" --screenshot "$root/window.png" 2>"$root/gui.log" && [ -s "$root/window.png" ] &&
    echo "orrinfold-gui --screenshot: a picture of the window" ||
    fail "orrinfold-gui --screenshot wrote no picture: $(cat "$root/gui.log")"

[ $failed -eq 0 ] && echo "OK: the package"
exit $failed
