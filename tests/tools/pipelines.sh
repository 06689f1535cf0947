#!/usr/bin/env bash
# varnex-convert as shells and scripts use it: a loop stopped by Ctrl+C, a file list from
# find, a re-run that finishes only the rest, JSON read by python3, and logs through links.
# Usage: pipelines.sh VARNEX_CONVERT
set -euo pipefail
set -m  # background jobs get process groups of their own, as a terminal's jobs do
tool=$(realpath "$1")
[ -x "$tool" ] || { echo "FAIL: no tool at $1"; exit 1; }
work=$(mktemp -d)
jobs_started=()
trap 'for job in "${jobs_started[@]}"; do kill -- -"$job" 2>/dev/null || true; done; rm -rf "$work"' EXIT
trap 'exit 143' TERM
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

# 1500 small glyphs, one with a newline and one with a byte that is not UTF-8 in its name.
python3 - <<'PY'
import os, struct
os.mkdir("src")
pixels = bytes.fromhex("00ff0000ff000000" "0000ff00ff000000")
glyph = b"BM" + struct.pack("<IIIIiiHHIIiiII", 70, 0, 54, 40, 2, 2, 1, 24, 0, 16, 0, 0, 0, 0) + pixels
names = [b"g%04d.bmp" % i for i in range(1498)] + [b"new\nline.bmp", b"bad\xff.bmp"]
for name in names:
    with open(b"src/" + name, "wb") as f:
        f.write(glyph)
PY
count() { find "$1" -type f -printf . | wc -c; }  # names may hold newlines
whole=78  # the size of each output: 54 bytes of headers, two rows of 4 pixels
check_outputs() {  # every output whole, and no temporary file left
  python3 - "$1" "$whole" <<'PY' || fail "partial or temporary files in $1"
import os, sys
for name in os.listdir(sys.argv[1].encode()):
    assert not name.startswith(b"."), name
    assert os.path.getsize(sys.argv[1].encode() + b"/" + name) == int(sys.argv[2]), name
PY
}

# The log goes to a pipe that this script reads, so a signal arrives while a run converts.
mkfifo logpipe
exec 3<>logpipe
read_log_until() {  # reads the log's lines up to one starting with $1; they land in $log
  log=""
  while IFS= read -r -t 60 line <&3; do
    log+="$line"$'\n'
    [[ $line == "$1"* ]] && return 0
  done
  fail "the log never showed '$1'"
}

# A while loop, stopped by SIGINT to its process group as a terminal sends it: the running
# convert finishes its file and closes its log, and no later run starts.
# Only the first run logs into the pipe, so that a later run, if one starts, cannot block.
bash -c 'log=logpipe; n=0; while [ $n -lt 3 ]; do
  n=$((n+1)); echo run >>runs; "$0" -o out -l $log src/; log=later.log; done' "$tool" </dev/null &
loop=$!
jobs_started+=("$loop")
read_log_until "Converts: "
kill -INT -- -"$loop"
read_log_until "End time: "
status=0
wait "$loop" || status=$?
[ "$status" -eq 130 ] || fail "the loop ended with $status, not 130"
[ "$(wc -l <runs)" -eq 1 ] || fail "a later run started"
grep -q "^Task canceled" <<<"$log" || fail "no cancel lines in the log: $log"
check_outputs out
done_before=$(count out)
[ "$done_before" -lt 1500 ] || fail "the interrupted run converted everything"

# A signal ignored at start (nohup, a background job) stays ignored.
bash -c 'trap "" INT; exec "$0" -o ignored -l logpipe src/' "$tool" </dev/null &
job=$!
jobs_started+=("$job")
read_log_until "Converts: "
kill -INT -- -"$job"
read_log_until "End time: "
wait "$job" || fail "an ignored SIGINT stopped the run"
grep -q "^Task completed" <<<"$log" || fail "the run with SIGINT ignored did not complete"

# The re-run skips what the interrupted run did and converts the rest, exiting 0.
"$tool" --skip-existing -q -o out src/ || fail "the re-run with --skip-existing exited $?"
[ "$(grep -c "^Skipped, output file already exists: " Log.txt)" -eq "$done_before" ] || fail "skips not logged"
[ "$(count out)" -eq 1500 ] || fail "the re-run did not convert the rest"
check_outputs out

# Names from find, NUL-separated on standard input.
find src -name '*.bmp' -print0 | "$tool" -0 --files-from - -o found -l found.log
[ "$(count found)" -eq 1500 ] || fail "not every name from find was converted"

# JSON, one object a line, read by python3; names that are not UTF-8 come back as their bytes.
"$tool" --json -o json src/ >json.out
python3 - <<'PY' || fail "the JSON output did not round-trip the names"
import json, os
lines = [json.loads(line) for line in open("json.out", encoding="utf-8")]
files, summary = lines[:-1], lines[-1]["summary"]
assert summary == {"converted": 1500, "skipped": 0, "errors": 0, "warnings": 0, "canceled": False}, summary
sources = {os.fsencode(f["source"]) for f in files if f["status"] == "converted"}
assert sources == {b"src/" + name for name in os.listdir(b"src")}, sources ^ {b"src/" + n for n in os.listdir(b"src")}
assert b"src/bad\xff.bmp" in sources and os.path.exists(os.fsencode(files[0]["target"]))
PY

# A reader that goes away early: the tool ends by SIGPIPE after a whole file, leaving no partial one.
status=0
"$tool" --json -o piped src/ | head -n 1 >/dev/null || status=${PIPESTATUS[0]}
[ "$status" -eq 141 ] || fail "--json | head ended with $status, not by SIGPIPE"
check_outputs piped

# Standard output through a link, as /dev/stdout is, and as '-': the link stays.
ln -s /proc/self/fd/1 stdout-link
for log in stdout-link -; do
  out=$("$tool" -o linked --skip-existing -l "$log" src/g0000.bmp | cat)
  [[ $out == "Start time: "* ]] || fail "no log on stdout via $log"
done
[ -L stdout-link ] || fail "the link to standard output was replaced"

# A failed write to standard output exits nonzero: the help text, JSON, the log.
if [ -w /dev/full ]; then
  "$tool" --help >/dev/full 2>/dev/null && fail "--help >/dev/full exited 0"
  for args in "--json -o full1" "-l - -o full2"; do
    status=0
    "$tool" $args src/g0000.bmp >/dev/full 2>/dev/null || status=$?
    [ "$status" -eq 4 ] || fail "$args >/dev/full exited $status, not 4"
  done
fi
echo "OK"
