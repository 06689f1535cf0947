#!/usr/bin/env bash
# Converts the same inputs with two builds of varnex-convert and reports every output that
# differs, so a change to the reader, the rule or the writer can be checked byte for byte
# against a known-good build.
#
# Usage: bench/compare_outputs.sh REFERENCE_TOOL [TOOL] [INPUT_DIR...]
#   REFERENCE_TOOL  the known-good varnex-convert
#   TOOL            the one under test (default: build/bin/varnex-convert)
#   INPUT_DIR       folders of .bmp files (default: random fixtures only); random
#                   fixtures in every depth and size class are always added
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
reference=${1:?reference tool}
tool=${2:-$root/build/bin/varnex-convert}
shift $(($# < 2 ? $# : 2))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Random fixtures: every depth, odd and even widths, both row orders, tables with repeats.
python3 - "$work/random" <<'PY'
import random, struct, sys, os
out = sys.argv[1]; os.makedirs(out)
rnd = random.Random(11)
colours = [0xFF00FF, 0xFFFFFF, 0x000000, 0x123456, 0x808080, 0xC0C0C0]
def bmp(bits, w, h, top, palette, masks, pixel):
    stride = (w * bits + 31) // 32 * 4
    rows = []
    for fr in range(h):
        y = fr if top else h - 1 - fr
        row = bytearray(stride)
        for x in range(w):
            v = pixel(x, y)
            if bits >= 8:
                row[x * bits // 8:(x + 1) * bits // 8] = v.to_bytes(bits // 8, 'little')
            else:
                bit = x * bits
                row[bit // 8] |= v << (8 - bits - bit % 8)
        rows.append(bytes(row))
    comp = 3 if masks else 0
    head = struct.pack('<IiiHHIIiiII', 40, w, -h if top else h, 1, bits, comp, 0, 2835, 2835, len(palette), 0)
    head += b''.join(struct.pack('<I', m) for m in masks)
    head += b''.join(struct.pack('<BBBB', c >> 16 & 255, c >> 8 & 255, c & 255, 0) for c in palette)
    off = 14 + len(head)
    data = b''.join(rows)
    return b'BM' + struct.pack('<IHHI', off + len(data), 0, 0, off) + head + data
n = 0
for bits in (1, 2, 4, 8, 16, 24, 32):
    for size in [(1, 1), (3, 2), (16, 16), (17, 5), (61, 33), (300, 200)]:
        for top in (False, True):
            w, h = size
            palette = [rnd.choice(colours) for _ in range(rnd.randint(1, 1 << bits))] if bits <= 8 else []
            masks = [0xF800, 0x07E0, 0x001F] if bits == 16 and rnd.random() < .5 else []
            blocks = {}
            def pixel(x, y):
                key = (x // 3, y // 2)
                if key not in blocks:
                    blocks[key] = rnd.randrange(1 << bits) if bits <= 8 else rnd.choice(colours) if bits == 24 else rnd.randrange(1 << min(bits, 24))
                return blocks[key]
            open(f'{out}/r{n:03d}_{bits}.bmp', 'wb').write(bmp(bits, w, h, top, palette, masks, pixel))
            n += 1
PY

inputs=("$work"/random/*.bmp)
for dir in "$@"; do inputs+=("$dir"/*.bmp); done
"$reference" --output "$work/expected" --log "$work/expected.log" "${inputs[@]}" > /dev/null || true
"$tool" --output "$work/actual" --log "$work/actual.log" "${inputs[@]}" > /dev/null || true

differ=0 same=0
for input in "${inputs[@]}"; do
  name=$(basename "$input")
  e=$work/expected/$name a=$work/actual/$name
  if [ -f "$e" ] && [ -f "$a" ] && cmp -s "$e" "$a"; then
    same=$((same + 1))
  elif [ ! -e "$e" ] && [ ! -e "$a" ]; then
    same=$((same + 1))
  else
    differ=$((differ + 1)); echo "differs: $input"
  fi
done
# The logs name the same outcome for every file once their time stamps are set aside.
strip() { grep -v -e '^Start time' -e '^End time' -e 'Elapsed' "$1" | sed "s#$work/[a-z]*##g"; }
if ! diff <(strip "$work/expected.log") <(strip "$work/actual.log") > /dev/null; then
  echo "logs differ:"; diff <(strip "$work/expected.log") <(strip "$work/actual.log") | head -20
  differ=$((differ + 1))
fi
echo "inputs: ${#inputs[@]}, identical outcomes: $same, differences: $differ"
[ "$differ" -eq 0 ]
