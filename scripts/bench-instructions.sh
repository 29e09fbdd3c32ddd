#!/usr/bin/env bash
# Instructions per iteration of one benchmark, counted by callgrind: a figure
# that other jobs on the machine do not move, for comparing two versions of a
# hot path while timings are noisy. Counts only user-space instructions (a
# system call's work in the kernel is not in them) and says nothing of cache
# misses or atomic operations: confirm a saving with scripts/bench.sh on a
# quiet machine.
#   scripts/bench-instructions.sh PROGRAM BENCHMARK CALL [MIN_TIME]
# PROGRAM is a program in BUILD_DIR/bin/bench (default build-bench), BENCHMARK
# its benchmark, CALL the text of the function the benchmark calls once per
# iteration as callgrind names it (it counts the iterations), MIN_TIME the
# benchmark's --benchmark_min_time under callgrind (default 1; it runs about
# fifty times slower, and a few thousand iterations hide the first one's
# set-up). Prints the instructions per iteration, all of the benchmark's
# loop, and those of CALL alone. Example:
#   scripts/bench-instructions.sh bench_ruvubc BM_LogRecord RuvUbc::logUbcDataProtocol
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 3 ]; then
    sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
program=$1 bench=$2 call=$3 min_time=${4:-1}
build=${BUILD_DIR:-build-bench}
binary=$build/bin/bench/$program
[ -x "$binary" ] || { echo "no $binary: build it first (cmake --build $build --target $program)" >&2; exit 1; }
command -v valgrind > /dev/null || { echo "valgrind is not installed" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} valgrind --tool=callgrind --callgrind-out-file="$scratch/out" \
    --toggle-collect="*$bench(*" "$binary" --benchmark_filter="^$bench\$" --benchmark_min_time="$min_time" \
    > "$scratch/log" 2>&1 || { cat "$scratch/log" >&2; exit 1; }
callgrind_annotate --inclusive=yes --tree=caller "$scratch/out" > "$scratch/tree" 2> /dev/null
total=$(awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1 }' "$scratch/tree")
# The caller line "N < ...BENCHMARK(benchmark::State&) (Kx)" just above "* ...CALL".
awk -v b="$bench(benchmark::State" -v f="$call" '
    index($0, "< ") && index($0, b) { last = $0; next }
    index($0, "*  ") && index($0, f) && last != "" { print last; found = 1; exit }
    { last = "" }
    END { exit !found }' "$scratch/tree" > "$scratch/line" || { echo "$call is not called from $bench" >&2; exit 1; }
sed -E 's/^ *([0-9,]+).*\(([0-9,]+)x\).*/\1 \2/' "$scratch/line" | tr -d , |
    awk -v n="$bench" -v t="$total" -v f="$call" '{
        printf "%s: %d iterations, %.0f instructions per iteration, %.0f in %s\n", n, $2, t / $2, $1 / $2, f }'
