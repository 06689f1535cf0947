#!/bin/sh
# Adds Varnex to the desktop's application menu for the current user: writes
# varnex.desktop with this folder's absolute paths into
# $XDG_DATA_HOME/applications (default ~/.local/share/applications), replacing
# an entry an earlier run wrote. Run it again after moving the folder;
# --remove takes the entry away.
set -eu
dir=$(cd "$(dirname "$0")" && pwd -P)
case ${XDG_DATA_HOME:-} in
  /*) data=$XDG_DATA_HOME ;;
  *) data=${HOME:?HOME is not set}/.local/share ;;
esac
apps=$data/applications
entry=$apps/varnex.desktop
if [ "${1:-}" = --remove ]; then
  if [ -f "$entry" ] && grep -q '^X-Varnex-Folder=' "$entry"; then
    rm -f "$entry"
    echo "Removed $entry"
  else
    echo "No Varnex entry at $entry" >&2
  fi
  exit 0
fi
[ $# -eq 0 ] || { echo "usage: $0 [--remove]" >&2; exit 2; }
[ -x "$dir/varnex" ] && [ -f "$dir/varnex.desktop" ] || { echo "$dir does not hold varnex and varnex.desktop" >&2; exit 1; }
case $dir in
  *[[:cntrl:]]*) echo "The folder's name holds a control character; move the folder to a plainer name." >&2; exit 1 ;;
esac
# A value of a desktop entry doubles its backslashes; Exec's argument is quoted,
# and inside the quotes ", `, $ and \ take a backslash and % is doubled.
value=$(printf '%s' "$dir" | sed 's/\\/\\\\/g')
arg=$(printf '%s' "$dir" | sed -e 's/[\\"`$]/\\&/g' -e 's/%/%%/g' -e 's/\\/\\\\/g')
mkdir -p "$apps"
tmp=$(mktemp "$apps/.varnex.desktop.XXXXXX")
trap 'rm -f "$tmp"' EXIT
# The folder's entry with its Exec and Icon made absolute, Path added, and a key
# that marks the entry as this script's, so --remove takes nothing else.
while IFS= read -r line || [ -n "$line" ]; do
  case $line in
    Exec=varnex) printf 'Exec="%s/varnex"\nPath=%s\n' "$arg" "$value" ;;
    Icon=varnex) printf 'Icon=%s/varnex.png\n' "$value" ;;
    *) printf '%s\n' "$line" ;;
  esac
done <"$dir/varnex.desktop" >"$tmp"
printf 'X-Varnex-Folder=%s\n' "$value" >>"$tmp"
chmod 644 "$tmp"
mv -f "$tmp" "$entry"
trap - EXIT
command -v update-desktop-database >/dev/null 2>&1 && update-desktop-database -q "$apps" 2>/dev/null || true
echo "Installed $entry"
