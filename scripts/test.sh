#!/usr/bin/env bash
# Installs what is needed, builds Varnex with its tests and runs every test.
# Environment: VARNEX_BUILD_DIR (default build), VARNEX_WERROR, VARNEX_SANITIZE
# (ON/OFF), VARNEX_BMPSUITE_DIR (the BMP conformance set, optional).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/deps.sh" test
build=${VARNEX_BUILD_DIR:-$root/build}
sanitize=${VARNEX_SANITIZE:-OFF}
bench=ON
[ "$sanitize" = ON ] && bench=OFF
cmake -S "$root" -B "$build" -G Ninja \
  -DVARNEX_WERROR="${VARNEX_WERROR:-OFF}" -DVARNEX_SANITIZE="$sanitize" \
  -DVARNEX_BENCH="$bench" -DVARNEX_BMPSUITE_DIR="${VARNEX_BMPSUITE_DIR:-}"
cmake --build "$build" -j "$(nproc)"
if [ "$sanitize" = ON ]; then
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp:print_suppressions=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fi
ctest --test-dir "$build" -j 2 --output-on-failure
