#!/usr/bin/env bash
# Builds the benchmarks (RelWithDebInfo, -DKELUBC_BUILD_BENCH=ON) and prints
# one table: the median CPU time of each hot path over REPS runs, its target,
# and whether it meets it. Repetitions of a program's benchmarks run in random
# order, so that a drift of the machine falls on a pair alike. Run it on a
# quiet machine; not part of CI.
#   KELUBC_QT_MAJOR  5 (default) or 6: the Qt to build against
#   BUILD_DIR  build folder (default: build, or build-qt6 for Qt 6)
#   REPS       repetitions per benchmark (default: 5)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh jq

suffix=""
[ "${KELUBC_QT_MAJOR:-5}" = 6 ] && suffix=-qt6
build=${BUILD_DIR:-build$suffix}
reps=${REPS:-5}
cmake -S . -B "$build" -DKELUBC_QT_MAJOR="${KELUBC_QT_MAJOR:-5}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELUBC_BUILD_BENCH=ON > /dev/null
cmake --build "$build" -j"$(nproc)" --target bench_ruvubc bench_watcher bench_namedevents bench_actions bench_report bench_upload > /dev/null

# name -> median CPU ns (benchmarks) or median value (counters, as name.counter)
declare -A ns
for bench in bench_ruvubc bench_watcher bench_namedevents bench_actions bench_upload; do
    out=$(QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bin/bench/$bench" \
        --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
        --benchmark_min_time=0.2 --benchmark_enable_random_interleaving=true \
        --benchmark_format=json 2>/dev/null)
    while read -r name value; do
        ns[$name]=$value
    done < <(jq -r '.benchmarks[] | select(.aggregate_name == "median") | . as $b
        | "\($b.run_name) \($b.cpu_time)",
          (to_entries[] | select(.key | endswith("_ns")) | "\($b.run_name).\(.key) \(.value)")' <<< "$out")
done

failed=0
# row NAME VALUE TARGET-TEXT CONDITION(awk, v = value)
row() {
    local verdict
    if awk -v v="$2" "BEGIN { exit !($4) }"; then verdict=pass; else verdict=FAIL; failed=1; fi
    printf '%-50s %10.1f  %-42s %s\n' "$1" "$2" "$3" "$verdict"
}
need() { [ -n "${ns[$1]:-}" ] || { echo "missing result: $1" >&2; exit 1; }; }
for k in BM_TrivialFilter BM_WatcherOtherEvent BM_DeliveryTrivialFilter BM_DeliveryWatcher \
         BM_WatcherMouseMove BM_DirectRecord BM_NamedEventCached BM_NamedEventListCached \
         BM_CachedLookupUpperBound.lookup_ns BM_LogRecord BM_RawWrite BM_DirectActionRecord \
         BM_ActionExecute BM_HelperDirect BM_CodedSend BM_CodedSendPaired.send_ns BM_CodedSendPaired.helper_ns \
         BM_RecordUploadOn BM_RecordUploadOff; do
    need "$k"
done

# ratio LABEL NAME FACTOR BASELINE TEXT: NAME costs at most FACTOR x BASELINE
ratio() {
    local base=${ns[$4]} digits=0
    awk -v b="$base" 'BEGIN { exit !(b < 10) }' && digits=1
    row "$1" "${ns[$2]}" "$(printf '<= %s x %s (%.*f ns)' "$3" "$5" "$digits" "$base")" "v <= $3 * $base"
}

printf '%-50s %10s  %-42s %s\n' "hot path (benchmark)" "median ns" "target" "result"
printf '%.0s-' {1..112}; echo
ratio "unrelated event, filter call (WatcherOtherEvent)" BM_WatcherOtherEvent 1.5 BM_TrivialFilter "trivial filter"
ratio "unrelated event, Qt delivery (DeliveryWatcher)" BM_DeliveryWatcher 1.5 BM_DeliveryTrivialFilter "trivial filter"
row "mouse move with time record (WatcherMouseMove)" "${ns[BM_WatcherMouseMove]}" "< 250 ns" "v < 250"
ratio "named event, cached code (NamedEventCached)" BM_NamedEventCached 1.25 BM_DirectRecord "record to RuvUbc"
ratio "named list event, cached (NamedEventListCached)" BM_NamedEventListCached 1.25 BM_DirectRecord "record to RuvUbc"
row "cached look-up, upper bound (lookup_ns)" "${ns[BM_CachedLookupUpperBound.lookup_ns]}" "< 100 ns" "v < 100"
ratio "record log append (LogRecord)" BM_LogRecord 1.3 BM_RawWrite "plain write(2)"
ratio "action record (ActionExecute)" BM_ActionExecute 1.25 BM_DirectActionRecord "record to RuvUbc"
ratio "coded send with helper (CodedSend)" BM_CodedSend 1.3 BM_HelperDirect "helper called"
ratio "coded send, alternating blocks (send_ns)" BM_CodedSendPaired.send_ns 1.3 BM_CodedSendPaired.helper_ns "helper called"
ratio "record with upload on (RecordUploadOn)" BM_RecordUploadOn 1.1 BM_RecordUploadOff "upload off"
# ubc-report over a generated log of a million records (about 650 MB), wall time.
report=$("$build/bin/bench/bench_report" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
    --benchmark_format=json 2>/dev/null)
row "ubc-report, 1,000,000 records from a file (ms)" \
    "$(jq -r '.benchmarks[] | select(.aggregate_name == "median") | .real_time' <<< "$report")" "< 3000 ms, wall" "v < 3000"
echo "Qt ${KELUBC_QT_MAJOR:-5}; CPU time per call, median of $reps runs; load average: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $failed
