#!/usr/bin/env bash
# Static analysis of the library's sources: clang-tidy (checks in .clang-tidy)
# and cppcheck (warning, performance, portability). Fails on any finding.
#   BUILD_DIR  folder for the compile commands (default: build-lint); only
#              configured, nothing is built.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh clang-tidy cppcheck

build=${BUILD_DIR:-build-lint}
cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DKELUBC_BUILD_TESTS=OFF \
    -DKELUBC_BUILD_APPS=OFF -DKELUBC_BUILD_TOOLS=OFF -DKELUBC_BUILD_BENCH=OFF > /dev/null

status=0
echo "== clang-tidy"
# The Windows sources (*_win.cpp) are not in this build's compile commands.
files=$(find src -name '*.cpp' ! -name '*_win.cpp' | sort)
# xargs fails (123) when any file has a finding.
printf '%s\n' $files | xargs -P 2 -n 1 clang-tidy -p "$build" --quiet 2> "$build/clang-tidy.stderr" || status=1
[ $status = 0 ] || tail -n 20 "$build/clang-tidy.stderr"

echo "== cppcheck"
includes=()
for dir in src/*/; do includes+=(-I "$dir"); done
cppcheck --quiet --error-exitcode=1 --enable=warning,performance,portability --std=c++17 \
    --library=qt --inline-suppr --suppressions-list=cppcheck-suppressions.txt \
    -j 2 -D__GNUC__ -DQ_DECL_EXPORT= -DQ_DECL_IMPORT= "${includes[@]}" src || status=1

[ $status = 0 ] && echo "lint: clean"
exit $status
