#!/usr/bin/env bash
# Loads the help page in headless Chromium and fails on an image that does not
# load or a link to a missing file or section. Skips when Chromium is missing
# (scripts/deps.sh test installs it when VARNEX_EXTRA_PACKAGES names chromium).
# Usage: help_page.sh SOURCE_DIR
set -euo pipefail
source=$1
browser=$(command -v chromium || command -v chromium-browser || true)
[ -n "$browser" ] || { echo "SKIP: chromium is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$source/help/Help" "$work/Help"
cp "$(dirname "${BASH_SOURCE[0]}")/help-check.js" "$work/Help/.help-check.js"
sed -i 's|</body>|<script src=".help-check.js"></script></body>|' "$work/Help/index.html"
timeout 120 "$browser" --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
  --disable-component-update --disable-sync --user-data-dir="$work/profile" --allow-file-access-from-files \
  --virtual-time-budget=10000 --dump-dom "file://$work/Help/index.html" >"$work/dom.html" 2>"$work/browser.log" || {
  echo "chromium failed:"; tail -n 20 "$work/browser.log"; exit 1
}
verdict=$(grep -o 'HELP-CHECK[^<]*' "$work/dom.html" || true)
echo "${verdict:-HELP-CHECK did not run}"
[[ $verdict == "HELP-CHECK OK"* ]]
