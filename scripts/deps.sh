#!/usr/bin/env bash
# Installs the Debian packages Varnex needs (apt-get, through sudo when not
# root). Packages already present are left alone.
# Usage: deps.sh [run|test]
#   run   what building, installing and running the program need (the default);
#   test  the run set plus the test stack: compilers and libraries of the unit
#         tests, benchmarks and fuzzers, the validators, the end-to-end tier's X
#         server and tools, and the Debian packaging tools.
# VARNEX_EXTRA_PACKAGES adds more, e.g. "chromium" for the help page's browser check.
set -euo pipefail
set_name=${1:-run}
# Building and running: the compiler, the build tools, Qt, and the desktop opener
# the program hands its help page and output folder to.
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev xdg-utils)
# Wayland sessions run the program natively (qt6-wayland); the window-system calls
# Qt has no public interface for need Qt's platform headers, xcb and wayland-client.
packages+=(qt6-wayland qt6-base-private-dev libxcb1-dev libwayland-dev wayland-protocols)
case "$set_name" in
  run) ;;
  test)
    # Unit tests, benchmarks and the clang builds of the fuzzers.
    packages+=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev)
    # The validators of the desktop entry and the AppStream metainfo.
    packages+=(desktop-file-utils appstream)
    # The end-to-end tests: an X server, a window manager, input and window tools.
    packages+=(xvfb openbox xdotool x11-utils file python3)
    # Its Wayland backend: a headless compositor, and the keymap for its virtual keyboard.
    packages+=(sway libxkbcommon-dev)
    # The Debian package: its dependency scan and its checker.
    packages+=(dpkg-dev lintian)
    # A FAT file system through FUSE, for saving where hard links and no-replace renames are missing.
    packages+=(fusefat fuse3 dosfstools)
    ;;
  *) echo "usage: $0 [run|test]" >&2; exit 2 ;;
esac
packages+=(${VARNEX_EXTRA_PACKAGES:-})
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
