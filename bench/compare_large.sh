#!/usr/bin/env bash
# Times two builds of varnex-convert on one large generated glyph, alternately, each run
# writing into a new folder; prints each tool's median time and peak memory, the median
# time ratio B / A, and B's peak memory over the output file's size.
# Goals for a 4096 x 4096 glyph: B / A at most 1/3 against the old baseline, memory at most 1.2.
#
# Usage: bench/compare_large.sh TOOL_A TOOL_B [ROUNDS] [SIDE] [BITS]
#   ROUNDS  timed rounds, each running both once (default: 5)
#   SIDE    width and height in pixels (default: 4096); BITS is 24 (default) or 8
set -euo pipefail
tool_a=${1:?TOOL_A missing}
tool_b=${2:?TOOL_B missing}
rounds=${3:-5}
side=${4:-4096}
bits=${5:-24}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/big.bmp" "$side" "$bits" <<'PY'
import os, struct, sys
path, side, bits = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
table = b''.join(struct.pack('<I', i * 0x010101) for i in range(256)) if bits == 8 else b''
stride = (side * bits + 31) // 32 * 4
offset = 54 + len(table)
head = b'BM' + struct.pack('<IHHI', offset + stride * side, 0, 0, offset)
head += struct.pack('<IiiHHIIiiII', 40, side, side, 1, bits, 0, stride * side, 2835, 2835, len(table) // 4, 0)
with open(path, 'wb') as f:
    f.write(head + table)
    for _ in range(side):  # random rows
        f.write(os.urandom(stride))
PY

# Runs one tool into the new folder run$2 and prints "seconds kilobytes".
run() {
  /usr/bin/time -f "%e %M" -o "$work/time$2" "$1" --output "$work/run$2" --log "$work/run$2.log" "$work/big.bmp"
  cat "$work/time$2"
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

: > "$work/a"; : > "$work/b"
for ((r = 0; r < rounds; r++)); do
  mkdir "$work/runa$r" "$work/runb$r"
  # Alternate which tool goes first, and let the other's 100 MB reach the disk before each
  # run: otherwise the second always pays for the first one's write-back.
  if ((r % 2 == 0)); then
    sync; run "$tool_a" "a$r" >> "$work/a"; sync; run "$tool_b" "b$r" >> "$work/b"
  else
    sync; run "$tool_b" "b$r" >> "$work/b"; sync; run "$tool_a" "a$r" >> "$work/a"
  fi
done
out=$(stat -c %s "$work/runb0/big.bmp")
cmp -s "$work/runa0/big.bmp" "$work/runb0/big.bmp" || echo "outputs differ"
ta=$(cut -d' ' -f1 "$work/a" | median); tb=$(cut -d' ' -f1 "$work/b" | median)
ma=$(cut -d' ' -f2 "$work/a" | median); mb=$(cut -d' ' -f2 "$work/b" | median)
echo "A: median $ta s, peak $ma KB"
echo "B: median $tb s, peak $mb KB"
awk -v a="$ta" -v b="$tb" -v m="$mb" -v o="$out" \
  'BEGIN {printf "B / A: %.2f   B peak / output: %.2f\n", b / a, m * 1024 / o}'
