#!/usr/bin/env bash
# Installs what is needed, builds Varnex, installs it as a portable folder and
# starts it from there, in that folder as the desktop entry does: the default
# output directory is "Varnex Output" in the folder the program starts in, so
# nothing lands in the checkout. Environment: VARNEX_BUILD_DIR (default
# build-run), VARNEX_INSTALL_DIR (default out/Varnex). Settings.ini and Log.txt
# are kept in the install folder, beside the program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/deps.sh" run
build=${VARNEX_BUILD_DIR:-$root/build-run}
prefix=${VARNEX_INSTALL_DIR:-$root/out/Varnex}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEX_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
cmake --install "$build" --prefix "$prefix" >/dev/null
echo "Varnex is installed in $prefix"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset); start $prefix/varnex from a desktop session." >&2
  exit 1
fi
cd "$prefix"
exec ./varnex
