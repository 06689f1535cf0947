#!/usr/bin/env bash
# The archive made by cpack is the portable folder: extracted into a fresh
# folder it runs varnex-convert and converts a glyph there.
# Usage: archive.sh BUILD_DIR VERSION GUI(ON/OFF)
set -euo pipefail
build=$1 version=$2 gui=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
name="Varnex-$version-Linux-x86_64"
archive="$work/package/$name.tar.gz"
[ -f "$archive" ] || { echo "no $name.tar.gz:"; ls "$work/package"; exit 1; }
mkdir "$work/user"
tar -xzf "$archive" -C "$work/user"
[ "$(ls "$work/user")" = "$name" ] || { echo "the archive has more than its one folder:"; ls "$work/user"; exit 1; }
dir="$work/user/$name"
expected=(varnex-convert man/man1/varnex-convert.1 completion/varnex-convert.bash)
expected+=(README.txt)
[ "$gui" = ON ] && expected+=(varnex Help/index.html varnex.png varnex.desktop org.example.varnex.metainfo.xml
  install-desktop-entry.sh man/man1/varnex.1)
for file in "${expected[@]}"; do
  [ -f "$dir/$file" ] || { echo "missing from the archive: $file"; exit 1; }
done
if grep -rlF -e "$work" -e _CPack_Packages "$dir" --include="*.desktop" --include="*.xml"; then
  echo "the files above name the folder the archive was made in"; exit 1
fi
grep -q 'glibc 2.34\|C library 2.34' "$dir/README.txt" && grep -q 'Qt 6.4' "$dir/README.txt" ||
  { echo "README.txt does not say what the program needs"; exit 1; }
if [ "$gui" = ON ]; then
  # The menu entry written from wherever the archive was unpacked, here a folder
  # whose name needs quoting, starts the program there and shows its icon.
  moved="$work/user/Var \$nex \"100%\""
  mv "$dir" "$moved"
  dir=$moved
  HOME="$work/home" XDG_DATA_HOME="" "$dir/install-desktop-entry.sh" >/dev/null
  entry="$work/home/.local/share/applications/varnex.desktop"
  grep -qxF "Exec=\"$work/user/Var \\\\\$nex \\\\\"100%%\\\\\"/varnex\"" "$entry" &&
    grep -qxF "Path=$dir" "$entry" && grep -qxF "Icon=$dir/varnex.png" "$entry" ||
    { echo "the written entry does not name the folder:"; cat "$entry"; exit 1; }
  if command -v desktop-file-validate >/dev/null; then
    out=$(desktop-file-validate "$entry" 2>&1) && [ -z "$out" ] || { echo "desktop-file-validate: $out"; exit 1; }
  fi
  HOME="$work/home" "$dir/install-desktop-entry.sh" --remove >/dev/null
  [ ! -e "$entry" ] || { echo "--remove left the entry"; exit 1; }
fi
out=$("$dir/varnex-convert" --version)
[ "$out" = "varnex-convert (Varnex) $version" ] || { echo "--version printed: $out"; exit 1; }
# A 2 x 2 24-bit glyph, converted from a folder that is not the program's.
cd "$work"
header='BM\106\0\0\0\0\0\0\0\66\0\0\0\50\0\0\0\2\0\0\0\2\0\0\0\1\0\30\0\0\0\0\0\20\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0'
printf "$header"'\0\377\0\0\377\0\0\0\0\0\377\0\377\0\0\0' >glyph.bmp
"$dir/varnex-convert" -o out glyph.bmp
[ "$(stat -c %s out/glyph.bmp)" -eq 78 ] || { echo "the two-image glyph is not 4 x 2 pixels"; exit 1; }
grep -q $'^Converted: glyph.bmp\r$' Log.txt || { echo "unexpected log:"; cat Log.txt; exit 1; }
