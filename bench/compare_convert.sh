#!/usr/bin/env bash
# Times two builds of varnex-convert against each other over the same generated
# glyphs, alternately, each run writing into a new folder, and prints the median
# of each and the median ratio B / A. Use it to price a change of the tool.
#
# Usage: bench/compare_convert.sh TOOL_A TOOL_B [ROUNDS] [COUNT] [BITS]
#   TOOL_A, TOOL_B  the two varnex-convert executables (A is the baseline)
#   ROUNDS          timed rounds, each running both once (default: 9)
#   COUNT           number of 16x16 glyphs (default: 2000)
#   BITS            24 (default) or 8: a glyph with a 256-colour table
set -euo pipefail
tool_a=${1:?TOOL_A missing}
tool_b=${2:?TOOL_B missing}
rounds=${3:-9}
count=${4:-2000}
bits=${5:-24}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"

# A 16x16 24-bit glyph: a dark diagonal on a light background.
{
  printf 'BM\x36\x03\x00\x00\x00\x00\x00\x00\x36\x00\x00\x00'
  printf '\x28\x00\x00\x00\x10\x00\x00\x00\x10\x00\x00\x00\x01\x00\x18\x00'
  printf '\x00\x00\x00\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  for ((y = 0; y < 16; y++)); do
    for ((x = 0; x < 16; x++)); do
      if ((x == y)); then printf '\x20\x20\x20'; else printf '\xe0\xe0\xe0'; fi
    done
  done
} > "$work/glyph.bmp"
if [ "$bits" = 8 ]; then
  python3 - "$work/glyph.bmp" <<'PY'
import struct, sys
table = b''.join(struct.pack('<I', i * 0x010101) for i in range(256))
pixels = bytes(0x20 if x == y else 0xE0 for y in range(16) for x in range(16))
offset = 54 + len(table)
head = b'BM' + struct.pack('<IHHI', offset + len(pixels), 0, 0, offset)
head += struct.pack('<IiiHHIIiiII', 40, 16, 16, 1, 8, 0, len(pixels), 0, 0, 256, 0)
open(sys.argv[1], 'wb').write(head + table + pixels)
PY
fi
for ((i = 0; i < count; i++)); do cp "$work/glyph.bmp" "$work/src/glyph$i.bmp"; done

now() { date +%s%N; }
# Runs one tool into the new folder run$2 and prints the time it took in nanoseconds.
run() {
  local start; start=$(now)
  "$1" --output "$work/run$2/out" --log "$work/run$2.log" "$work"/src/*.bmp
  echo $(($(now) - start))
}

run "$tool_a" warm-a > /dev/null
run "$tool_b" warm-b > /dev/null
[ "$(find "$work/runwarm-b/out" -name '*.bmp' | wc -l)" -eq "$count" ] || { echo "compare_convert: B converted too few" >&2; exit 1; }

times_a=() times_b=() ratios=()
for ((r = 0; r < rounds; r++)); do
  # Alternate which tool goes first, so neither always finds a warmer cache.
  if ((r % 2 == 0)); then ta=$(run "$tool_a" "a$r"); tb=$(run "$tool_b" "b$r"); else tb=$(run "$tool_b" "b$r"); ta=$(run "$tool_a" "a$r"); fi
  times_a+=("$ta") times_b+=("$tb")
  ratios+=("$(awk -v a="$ta" -v b="$tb" 'BEGIN { printf "%.3f", b / a }')")
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ms() { awk -v n="$1" 'BEGIN { printf "%.1f", n / 1e6 }'; }
echo "glyphs: $count (16x16, $bits-bit), rounds: $rounds"
echo "A median: $(ms "$(median "${times_a[@]}")") ms  ($tool_a)"
echo "B median: $(ms "$(median "${times_b[@]}")") ms  ($tool_b)"
echo "B / A median ratio: $(median "${ratios[@]}")"
