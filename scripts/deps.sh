#!/usr/bin/env bash
# Installs the Debian packages that building and testing Varnex need (apt-get,
# through sudo when not root). Packages already present are left alone.
# VARNEX_EXTRA_PACKAGES adds more, e.g. "chromium" for the help page's browser check.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev qt6-base-dev-tools libgl-dev clang libclang-rt-14-dev ${VARNEX_EXTRA_PACKAGES:-})
# The validators of the desktop entry and the AppStream metainfo, which the tests run.
packages+=(desktop-file-utils appstream)
# The end-to-end tests: an X server, a window manager, input and window tools, the desktop opener.
packages+=(xvfb openbox xdotool x11-utils xdg-utils file python3)
# A FAT file system through FUSE, for saving where hard links and no-replace renames are missing.
packages+=(fusefat fuse3 dosfstools)
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
