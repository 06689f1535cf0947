#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
# Usage: fuzz.sh [SECONDS per target, default 60]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
bash "$root/scripts/deps.sh" test
build=${VARNEX_FUZZ_BUILD_DIR:-$root/build-fuzz}
CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNEX_GUI=OFF -DVARNEX_TESTS=OFF -DVARNEX_FUZZ=ON -DVARNEX_WERROR="${VARNEX_WERROR:-OFF}"
cmake --build "$build" -j "$(nproc)"
shopt -s nullglob
for target in "$build"/fuzz/*Fuzz; do
  name=$(basename "$target")
  work=$(mktemp -d)
  seeds=()
  [ -d "$root/fuzz/corpus/$name" ] && seeds+=("$root/fuzz/corpus/$name")
  if [ "$name" = BmpFuzz ] && [ -n "${VARNEX_BMPSUITE_DIR:-}" ]; then
    for d in g q b x; do [ -d "$VARNEX_BMPSUITE_DIR/$d" ] && seeds+=("$VARNEX_BMPSUITE_DIR/$d"); done
  fi
  echo "== $name for ${seconds}s"
  set +e
  ASAN_OPTIONS=detect_leaks=1 "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=1 "$work" "${seeds[@]}" >"$work.log" 2>&1
  rc=$?
  set -e
  tail -n 25 "$work.log"
  rm -f "$work.log"
  rm -rf "$work"
  [ "$rc" -eq 0 ] || { echo "$name failed ($rc)"; exit 1; }
done
