#!/usr/bin/env bash
# The desktop entry and the AppStream metainfo pass Debian's validators without
# a single remark, as written in the source and as installed in a portable folder.
# Usage: validate.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
for tool in desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/deps.sh test installs it)"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A space in the folder's name tests the quoting of the entry's paths.
cmake --install "$build" --prefix "$work/Var nex" >/dev/null
failed=0
for entry in "$source/app/varnex.desktop" "$work/Var nex/varnex.desktop"; do
  if ! out=$(desktop-file-validate "$entry" 2>&1) || [ -n "$out" ]; then
    echo "desktop-file-validate $entry:"; echo "$out"; failed=1
  fi
done
shopt -s nullglob
metainfo=("$work/Var nex"/*.metainfo.xml)
[ ${#metainfo[@]} -eq 1 ] || { echo "expected one metainfo file in the install folder, found ${#metainfo[@]}"; exit 1; }
out=$(appstreamcli validate --no-net --no-color "${metainfo[0]}" 2>&1 | grep -v '^$') || true
if ! grep -qx '.*Validation was successful\.' <<<"$out" || [ "$(wc -l <<<"$out")" -ne 1 ]; then
  echo "appstreamcli validate ${metainfo[0]}:"; echo "$out"; failed=1
fi
exit $failed
