#!/usr/bin/env bash
# Times varnex-convert against `cp -r` over the same generated glyphs, the two run
# alternately, and prints the minimum, median and maximum of the per-round ratios.
# Goal: the median ratio is at most 1.15.
#
# Every round writes into folders of its own and nothing is deleted until the series
# ends: on ext4, files created right after many were deleted make the kernel scan the
# freed inodes, which would time the file system instead of the program. Deletions made
# before the run (an earlier series, a build) have the same effect for a few minutes; a
# fresh file system avoids them: TMPDIR=<an empty mount> bench/convert_vs_cp.sh.
#
# Usage: bench/convert_vs_cp.sh [BUILD_DIR] [ROUNDS] [COUNT]
#   BUILD_DIR  build folder holding bin/varnex-convert (default: build)
#   ROUNDS     timed rounds, each running both commands once (default: 9)
#   COUNT      number of 16x16 8-bit glyphs (default: 2000)
# VARNEX_CONVERT=path times another varnex-convert instead.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
rounds=${2:-9}
count=${3:-2000}
tool=${VARNEX_CONVERT:-$build/bin/varnex-convert}
[ -x "$tool" ] || { echo "convert_vs_cp: $tool is not built" >&2; exit 2; }

work=$(mktemp -d)
# Synced after the removal, the freed inodes stop slowing the next series after a minute
# instead of five.
trap 'rm -rf "$work"; sync' EXIT
mkdir "$work/src"

# Little-endian bytes of a number as printf escapes.
le() { local v=$1 n=$2 out=""; for ((i = 0; i < n; i++)); do out+=$(printf '\\x%02x' $(((v >> (8 * i)) & 255))); done; printf '%s' "$out"; }

# File header, info header and a 256-colour table (a grey ramp, index 1 red).
{
  printf 'BM'; printf "$(le $((14 + 40 + 1024 + 256)) 4)$(le 0 4)$(le $((14 + 40 + 1024)) 4)"
  printf "$(le 40 4)$(le 16 4)$(le 16 4)$(le 1 2)$(le 8 2)$(le 0 4)$(le 256 4)$(le 0 4)$(le 0 4)$(le 256 4)$(le 0 4)"
  for ((c = 0; c < 256; c++)); do
    if ((c == 1)); then printf '\x00\x00\xff\x00'; else printf "$(le $((c | c << 8 | c << 16)) 4)"; fi
  done
} > "$work/head.bin"
# Sixteen pixel variants: background index 200, a diagonal stroke of index 1.
for ((v = 0; v < 16; v++)); do
  for ((y = 0; y < 16; y++)); do
    row=""
    for ((x = 0; x < 16; x++)); do
      if (((x + v) % 16 == y || (x + v + 1) % 16 == y)); then row+='\x01'; else row+='\xc8'; fi
    done
    printf "$row"
  done > "$work/pix$v.bin"
  cat "$work/head.bin" "$work/pix$v.bin" > "$work/variant$v.bmp"
done
for ((i = 0; i < count; i++)); do
  cp "$work/variant$((i % 16)).bmp" "$work/src/glyph$i.bmp"
done

# Nanoseconds from the shell's own clock: starting a `date` for each reading would add a
# process start to both sides and pull the ratio towards 1.
now() { local t=${EPOCHREALTIME/./}; echo "${t}000"; }
# The glob is expanded once, here: sorting 2,000 names is the shell's work, not the tool's,
# and took about 3 ms, a twenty-fifth of the copy.
sources=("$work"/src/*.bmp)
# Both take the folder of their round; neither deletes anything. Each starts after a
# sync, so the write-back of the files the other one made is not timed against it.
run_convert() {
  sync
  local start; start=$(now)
  "$tool" --output "$1/out" --log "$1/Log.txt" "${sources[@]}" > /dev/null
  echo $(($(now) - start))
}
run_cp() {
  sync
  local start; start=$(now)
  cp -r "$work/src" "$1/copy"
  echo $(($(now) - start))
}

# One untimed pass of each warms the page cache.
mkdir "$work/warm"
run_convert "$work/warm" > /dev/null
run_cp "$work/warm" > /dev/null
converted=$(find "$work/warm/out" -name '*.bmp' | wc -l)
[ "$converted" -eq "$count" ] || { echo "convert_vs_cp: converted $converted of $count files" >&2; exit 1; }

ratios=() converts=() copies=()
for ((r = 0; r < rounds; r++)); do
  mkdir "$work/round$r"
  # Alternate which command goes first, so neither always finds a warmer cache.
  if ((r % 2 == 0)); then
    tc=$(run_convert "$work/round$r"); tp=$(run_cp "$work/round$r")
  else
    tp=$(run_cp "$work/round$r"); tc=$(run_convert "$work/round$r")
  fi
  converts+=("$tc") copies+=("$tp")
  ratios+=("$(awk -v c="$tc" -v p="$tp" 'BEGIN { printf "%.3f", c / p }')")
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
least() { printf '%s\n' "$@" | sort -g | head -n 1; }
most() { printf '%s\n' "$@" | sort -g | tail -n 1; }
ms() { awk -v n="$1" 'BEGIN { printf "%.1f", n / 1e6 }'; }
echo "glyphs: $count (16x16, 8-bit), rounds: $rounds"
echo "varnex-convert median: $(ms "$(median "${converts[@]}")") ms ($(awk -v n="$(median "${converts[@]}")" -v c="$count" 'BEGIN { printf "%.1f", n / c / 1e3 }') us per file)"
echo "cp -r median:          $(ms "$(median "${copies[@]}")") ms"
echo "ratios: ${ratios[*]}"
[ -n "${BENCH_VERBOSE:-}" ] && echo "convert ns: ${converts[*]}" && echo "cp ns: ${copies[*]}"
echo "ratio min/median/max: $(least "${ratios[@]}") / $(median "${ratios[@]}") / $(most "${ratios[@]}") (goal: median <= 1.15)"
