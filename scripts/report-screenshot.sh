#!/usr/bin/env bash
# Renders an ubc-report HTML page in headless Chromium and writes a PNG,
# reduced to a palette so that it stays small enough for the README.
#   scripts/report-screenshot.sh REPORT.html OUT.png [WIDTH [HEIGHT]]
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 REPORT.html OUT.png [WIDTH [HEIGHT]]" >&2; exit 2; }
cd "$(dirname "$0")/.."
scripts/setup-debian.sh chromium fonts-noto-cjk imagemagick
html=$(realpath "$1")
out=$(realpath -m "$2")
width=${3:-1280}
height=${4:-2000}
profile=$(mktemp -d)
raw="$profile/raw.png"
trap 'rm -rf "$profile"' EXIT
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$profile" --hide-scrollbars --screenshot="$raw" \
    --window-size="$width,$height" "file://$html" > /dev/null 2>&1
[ -s "$raw" ] || { echo "chromium wrote no screenshot" >&2; exit 1; }
convert "$raw" -strip -colors 128 -define png:compression-level=9 "PNG8:$out"
echo "$out"
