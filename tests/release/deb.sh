#!/usr/bin/env bash
# The Debian package: built from a prefix-layout build folder of its own, it
# passes lintian, holds nothing outside /usr, and, unpacked into a root-owned
# tree, runs varnex-convert for an unprivileged user (nobody, when run as root).
# Usage: deb.sh SOURCE_DIR BUILD_DIR VERSION GUI(ON/OFF)
set -euo pipefail
source=$1 build=$2 version=$3 gui=$4
for tool in lintian dpkg-shlibdeps dpkg-deb; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is not installed (scripts/deps.sh test installs it)"
    [ -n "${CI:-}${VARNEX_E2E_REQUIRED:-}" ] && exit 1
    exit 77
  fi
done
# Kept between runs so that a second run only rebuilds what changed. Built as the
# README says, without -Werror: the plain build checks the warnings.
deb_build=$build/package-deb
cmake -S "$source" -B "$deb_build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEX_TESTS=OFF \
  -DVARNEX_INSTALL_LAYOUT=prefix -DVARNEX_GUI="$gui" >/dev/null
cmake --build "$deb_build" --target package >"$deb_build/package.log" 2>&1 || { cat "$deb_build/package.log"; exit 1; }
deb=$deb_build/varnex_${version}_amd64.deb
[ -f "$deb" ] || { echo "no $(basename "$deb"):"; ls "$deb_build"; exit 1; }
lintian --fail-on error,warning "$deb" || { echo "lintian found errors or warnings"; exit 1; }

failed=0
fail() { echo "$*"; failed=1; }
paths=$(dpkg-deb -c "$deb" | awk '{print $6}')
grep -v '^\./$' <<<"$paths" | grep -v '^\./usr/' && fail "files outside /usr (above)"
expected=(usr/bin/varnex-convert usr/share/man/man1/varnex-convert.1.gz usr/share/doc/varnex/copyright
          usr/share/doc/varnex/changelog.gz)
[ "$gui" = ON ] && expected+=(usr/bin/varnex usr/libexec/varnex/varnex usr/libexec/varnex/Help/index.html
  usr/share/man/man1/varnex.1.gz usr/share/applications/varnex.desktop)
for file in "${expected[@]}"; do
  grep -qx "\./$file" <<<"$paths" || fail "missing from the package: /$file"
done
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Section)" = graphics ] || fail "Section: $(field Section)"
grep -q 'libc6' <<<"$(field Depends)" || fail "Depends lacks the scanned libraries: $(field Depends)"
if [ "$gui" = ON ]; then
  grep -q 'libqt6widgets6' <<<"$(field Depends)" || fail "Depends lacks Qt: $(field Depends)"
  [ "$(field Recommends)" = "qt6-wayland, xdg-utils" ] || fail "Recommends: $(field Recommends)"
fi

# Unpacked as root and run by someone who can write none of it.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
chmod 755 "$tree"
dpkg-deb -x "$deb" "$tree/root"
run=()
if [ "$(id -u)" -eq 0 ]; then
  run=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
  work=$tree/work
  mkdir "$work"
  chown nobody:nogroup "$work"
else
  work=$tree/work
  mkdir "$work"
fi
[ "$gui" = ON ] && { [ "$(readlink -f "$tree/root/usr/bin/varnex")" = "$tree/root/usr/libexec/varnex/varnex" ] ||
  fail "/usr/bin/varnex does not lead to the program"; }
out=$("${run[@]}" "$tree/root/usr/bin/varnex-convert" --version)
[ "$out" = "varnex-convert (Varnex) $version" ] || fail "--version printed: $out"
header='BM\106\0\0\0\0\0\0\0\66\0\0\0\50\0\0\0\2\0\0\0\2\0\0\0\1\0\30\0\0\0\0\0\20\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0'
printf "$header"'\0\377\0\0\377\0\0\0\0\0\377\0\377\0\0\0' >"$work/glyph.bmp"
chmod 644 "$work/glyph.bmp"
(cd "$work" && "${run[@]}" "$tree/root/usr/bin/varnex-convert" -o out glyph.bmp) || fail "the conversion failed"
[ "$(stat -c %s "$work/out/glyph.bmp" 2>/dev/null)" = 78 ] || fail "the two-image glyph is not 4 x 2 pixels"
[ "$(id -u)" -eq 0 ] && { [ "$(stat -c %U "$work/Log.txt")" = nobody ] || fail "the log is not the user's"; }
grep -q $'^Converted: glyph.bmp\r$' "$work/Log.txt" || fail "unexpected log: $(cat "$work/Log.txt")"
exit $failed
