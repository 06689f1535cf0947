#!/usr/bin/env bash
# Start-up time of the window program: from launching the executable to the first
# paint of its main window reaching the screen, over several runs.
# Usage: bash bench/startup.sh [RUNS] [PROGRAM]   (goal: 200 ms or less)
# PROGRAM defaults to build/bin/varnex. Without a DISPLAY a private Xvfb is started
# when it is installed; otherwise the offscreen platform is used.
# The moment of the paint is Qt's own widget-painting log line for the main
# window's first flush; the program is copied into a temporary folder so that
# it finds no settings, and each run is ended once it has painted.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=${1:-10}
program=${2:-$root/build/bin/varnex}
[ -x "$program" ] || { echo "no program at $program (build it first)" >&2; exit 2; }

work=$(mktemp -d)
xpid=""
cleanup() {
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cp "$program" "$work/varnex"
mkdir -m 700 "$work/runtime" "$work/home"

platform=xcb
if [ -z "${DISPLAY:-}" ]; then
  if command -v Xvfb >/dev/null; then
    display=:$(( 200 + RANDOM % 100 ))
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 & xpid=$!
    export DISPLAY=$display
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  else
    platform=offscreen
  fi
fi

now_us() { local t=${EPOCHREALTIME/[.,]/}; echo "$t"; }

measure() {
  local fifo="$work/log" t0 t1="" line pid
  rm -f "$fifo"
  mkfifo "$fifo"
  t0=$(now_us)
  HOME="$work/home" XDG_CONFIG_HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=$platform \
    QT_LOGGING_RULES="qt.widgets.painting=true" "$work/varnex" 2>"$fifo" >/dev/null & pid=$!
  while IFS= read -r line; do
    case $line in
      *"Flushing QRegion"*"of QMainWindow"*) t1=$(now_us); break ;;
    esac
  done <"$fifo"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  [ -n "$t1" ] || { echo "the main window was never painted" >&2; return 1; }
  echo $(( (t1 - t0) / 1000 ))
}

measure >/dev/null  # a first run to warm the file cache
results=()
for _ in $(seq "$runs"); do results+=("$(measure)"); done
sorted=$(printf '%s\n' "${results[@]}" | sort -n)
min=$(echo "$sorted" | head -1)
max=$(echo "$sorted" | tail -1)
median=$(echo "$sorted" | sed -n "$(( (runs + 1) / 2 ))p")
echo "start to first paint ($platform, $runs runs): min ${min} ms, median ${median} ms, max ${max} ms (goal <= 200 ms)"
