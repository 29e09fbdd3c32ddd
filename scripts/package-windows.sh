#!/usr/bin/env bash
# Installs the Windows cross-build (made by scripts/test-windows.sh) into a
# folder and zips it: the DLLs, headers, CMake package, KelUbc.db, the
# programs, and the Qt and MinGW runtime DLLs and plugins beside them.
#   BUILD_DIR  the cross-build folder (default build-windows)
#   OUT        the zip to write (default kelubc-<version>-windows-x86_64.zip here)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-windows}
[ -f "$build/CMakeCache.txt" ] || { echo "no cross-build in $build: run scripts/test-windows.sh first" >&2; exit 1; }
command -v zip > /dev/null || { echo "zip is needed (apt-get install zip)" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=kelubc-$version-windows-x86_64
out=$(realpath -m "${OUT:-$name.zip}")
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --build "$build" -j"$(nproc)"
cmake --install "$build" --prefix "$stage/$name" > /dev/null
rm -f "$out"
(cd "$stage" && zip -qr "$out" "$name")
echo "$out"
