#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds KelUbc and plays the demo host's
# scripted session headless, then writes the HTML report of that session.
# Extra arguments go to ubc-demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j"$(nproc)" --target ubc-demo ubc-report sample_dictionary > /dev/null
out="$build/demo-output"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bin/ubc-demo" --scenario --out "$out" "$@"
"$build/bin/ubc-report" --quiet "$out/records.jsonl" --coded "$out/coded-events.jsonl" \
    --dict "$build/bin/KelUbc.db" --html "$out/report.html" --json "$out/report.json"
echo "HTML report:      $(cd "$out" && pwd)/report.html"
