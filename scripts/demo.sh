#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds KelUbc and plays the demo host's
# scripted session headless. Extra arguments go to ubc-demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j"$(nproc)" --target ubc-demo sample_dictionary > /dev/null
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bin/ubc-demo" --scenario --out "$build/demo-output" "$@"
