#!/bin/sh
# Installs the Debian packages the build and the tests need, only those that are missing;
# with "fuzz", also what the fuzz targets need; with "apache", the Apache httpd that the
# Apache dialect is compared against; with "package", what the Debian package and the checks
# of the man pages, completions and desktop files need. With "windows", the MinGW-w64
# cross-compiler, GoogleTest's sources and Wine, for the Windows build and its tests.
set -e
packages="cmake g++ make pkg-config libgtest-dev libcli11-dev qt6-base-dev libpcre2-dev libgumbo-dev libtomlplusplus-dev nlohmann-json3-dev python3
    libcpp-httplib-dev libgoogle-perftools-dev chromium chromium-driver python3-selenium"
[ "${1:-}" = fuzz ] && packages="$packages clang-14 libclang-rt-14-dev libfuzzer-14-dev"
[ "${1:-}" = apache ] && packages="$packages apache2 python3"
[ "${1:-}" = windows ] && packages="$packages g++-mingw-w64-x86-64-posix googletest wine wine64"
[ "${1:-}" = package ] && packages="$packages dpkg-dev binutils man-db groff-base zsh fish desktop-file-utils appstream"
missing=""
for package in $packages; do
    dpkg -s "$package" >/dev/null 2>&1 || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
echo "Installing:$missing"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y $missing
