#!/usr/bin/env bash
# Builds the benchmarks (RelWithDebInfo, -DKELUBC_BUILD_BENCH=ON) and prints
# one table: each hot path's median CPU time over REPS rounds, and each ratio
# against its target. Every measurement runs in a process of its own with a
# fresh record log, so the two sides of a ratio run under the same conditions
# whichever runs first (appending slows down once a log passes about a
# gigabyte). Where a benchmark also times its two sides in alternating blocks
# within one process, that ratio is the verdict: the machine's speed drifts
# from one process to the next (the same write(2) has cost from 430 to
# 2,050 ns within an hour here), and the fresh processes' ratio, printed for
# comparison, moves with it. Each round runs the list once, in BENCH_ORDER. Run it on a
# quiet machine; not part of CI.
#   KELUBC_QT_MAJOR  5 (default) or 6: the Qt to build against
#   BUILD_DIR        build folder (default: build, or build-qt6 for Qt 6)
#   REPS             rounds (default: 5)
#   MIN_TIME         seconds per measurement (default: 0.2)
#   BENCH_ORDER      forward (default) or reverse: the order within a round
#   BENCH_PREBUILT   set: the benchmarks in BUILD_DIR are built already
#   BENCH_RUNNER     a program that runs them (wine64 for a Windows build),
#   BENCH_EXE        and their file name suffix (.exe)
#   BENCH_TIME       cpu_time (default) or real_time: the time each median is of
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh jq

suffix=""
[ "${KELUBC_QT_MAJOR:-5}" = 6 ] && suffix=-qt6
build=${BUILD_DIR:-build$suffix}
reps=${REPS:-5}
min_time=${MIN_TIME:-0.2}
order=${BENCH_ORDER:-forward}
case $order in forward|reverse) ;; *) echo "BENCH_ORDER is forward or reverse, not $order" >&2; exit 2 ;; esac
targets=(bench_ruvubc bench_watcher bench_namedevents bench_actions bench_report bench_upload)
if [ -z "${BENCH_PREBUILT:-}" ]; then
    cmake -S . -B "$build" -DKELUBC_QT_MAJOR="${KELUBC_QT_MAJOR:-5}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELUBC_BUILD_BENCH=ON > /dev/null
fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" > /dev/null
runner=()
[ -n "${BENCH_RUNNER:-}" ] && runner=("$BENCH_RUNNER")
exe=${BENCH_EXE:-}
time_key=${BENCH_TIME:-cpu_time}

# program:benchmark, each measured in a process of its own
list=(bench_watcher:BM_DeliveryTrivialFilter bench_watcher:BM_DeliveryWatcher bench_watcher:BM_WatcherMouseMove
      bench_namedevents:BM_DirectRecord bench_namedevents:BM_NamedEventCached bench_namedevents:BM_NamedEventListCached
      bench_namedevents:BM_NamedEventPaired bench_namedevents:BM_NamedEventListPaired bench_namedevents:BM_CachedLookupUpperBound
      bench_ruvubc:BM_RawWrite bench_ruvubc:BM_LogRecord bench_ruvubc:BM_LogRecordPaired
      bench_ruvubc:BM_RawWriteOwnTexts bench_ruvubc:BM_LogRecordOwnTexts bench_ruvubc:BM_LogRecordOwnTextsPaired
      bench_actions:BM_DirectActionRecord bench_actions:BM_ActionExecute bench_actions:BM_ActionPaired
      bench_actions:BM_HelperDirect bench_actions:BM_CodedSend bench_actions:BM_CodedSendPaired
      bench_upload:BM_RecordUploadOff bench_upload:BM_RecordUploadOn)
if [ "$order" = reverse ]; then
    for ((i = ${#list[@]} - 1; i >= 0; i--)); do reversed+=("${list[i]}"); done
    list=("${reversed[@]}")
fi

# name -> CPU ns of each round, space separated (counters as name.counter)
declare -A runs
for ((round = 1; round <= reps; round++)); do
    for entry in "${list[@]}"; do
        program=${entry%%:*} name=${entry#*:}
        out=$(QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "${runner[@]}" "$build/bin/bench/$program$exe" \
            --benchmark_filter="^$name\$" --benchmark_min_time="$min_time" --benchmark_format=json 2>/dev/null)
        while read -r key value; do
            runs[$key]="${runs[$key]:-} $value"
        done < <(jq -r --arg t "$time_key" '.benchmarks[] | . as $b | "\($b.name) \($b[$t])",
              (to_entries[] | select(.key | endswith("_ns")) | "\($b.name).\(.key) \(.value)")' <<< "$out")
    done
done

declare -A ns
for key in "${!runs[@]}"; do
    ns[$key]=$(tr ' ' '\n' <<< "${runs[$key]}" | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
done

failed=0
# row NAME VALUE TARGET-TEXT CONDITION(awk, v = value)
row() {
    local verdict
    if awk -v v="$2" "BEGIN { exit !($4) }"; then verdict=pass; else verdict=FAIL; failed=1; fi
    printf '%-48s %9.1f  %-44s %s\n' "$1" "$2" "$3" "$verdict"
}
need() { [ -n "${ns[$1]:-}" ] || { echo "missing result: $1" >&2; exit 1; }; }
for k in BM_DeliveryTrivialFilter BM_DeliveryWatcher BM_WatcherMouseMove BM_DirectRecord BM_NamedEventCached \
         BM_NamedEventListCached BM_NamedEventPaired.facade_ns BM_NamedEventPaired.direct_ns \
         BM_NamedEventListPaired.facade_ns BM_NamedEventListPaired.direct_ns \
         BM_CachedLookupUpperBound.lookup_ns BM_LogRecord BM_RawWrite BM_LogRecordPaired.append_ns \
         BM_LogRecordPaired.write_ns BM_LogRecordOwnTexts BM_RawWriteOwnTexts BM_LogRecordOwnTextsPaired.append_ns \
         BM_LogRecordOwnTextsPaired.write_ns BM_DirectActionRecord \
         BM_ActionExecute BM_ActionPaired.facade_ns BM_ActionPaired.direct_ns BM_HelperDirect BM_CodedSend \
         BM_CodedSendPaired.send_ns BM_CodedSendPaired.helper_ns BM_RecordUploadOn BM_RecordUploadOff; do
    need "$k"
done

# ratio LABEL NAME FACTOR BASELINE TEXT: NAME costs at most FACTOR x BASELINE;
# the value column is NAME's median, the ratio is printed with the target.
ratio() {
    local v=${ns[$2]} base=${ns[$4]} verdict
    if awk -v v="$v" -v b="$base" "BEGIN { exit !(v <= $3 * b) }"; then verdict=pass; else verdict=FAIL; failed=1; fi
    printf '%-48s %9.1f  %-44s %s\n' "$1" "$v" \
        "$(awk -v v="$v" -v b="$base" -v f="$3" -v t="$5" 'BEGIN { printf "%.2fx %s (%.1f ns); <= %sx", v / b, t, b, f }')" "$verdict"
}

# compare LABEL NAME BASELINE TEXT: a ratio printed for comparison only.
compare() {
    printf '%-48s %9.1f  %-44s %s\n' "$1" "${ns[$2]}" \
        "$(awk -v v="${ns[$2]}" -v b="${ns[$3]}" -v t="$4" 'BEGIN { printf "%.2fx %s (%.1f ns)", v / b, t, b }')" "info"
}

printf '%-48s %9s  %-44s %s\n' "hot path (benchmark)" "median ns" "ratio to baseline; target" "result"
printf '%.0s-' {1..112}; echo
ratio "Qt delivery through the watcher (DeliveryWatcher)" BM_DeliveryWatcher 1.1 BM_DeliveryTrivialFilter "trivial filter"
row "mouse move with time record (WatcherMouseMove)" "${ns[BM_WatcherMouseMove]}" "< 250 ns" "v < 250"
compare "named event, fresh processes (NamedEventCached)" BM_NamedEventCached BM_DirectRecord "record to RuvUbc"
ratio "named event, alternating blocks (facade_ns)" BM_NamedEventPaired.facade_ns 1.25 BM_NamedEventPaired.direct_ns "record to RuvUbc"
compare "list event, fresh processes (NamedEventListCached)" BM_NamedEventListCached BM_DirectRecord "record to RuvUbc"
ratio "named list event, alternating blocks (facade_ns)" BM_NamedEventListPaired.facade_ns 1.25 BM_NamedEventListPaired.direct_ns "record to RuvUbc"
row "cached look-up, upper bound (lookup_ns)" "${ns[BM_CachedLookupUpperBound.lookup_ns]}" "< 100 ns" "v < 100"
compare "action, fresh processes (ActionExecute)" BM_ActionExecute BM_DirectActionRecord "record to RuvUbc"
ratio "action record, alternating blocks (facade_ns)" BM_ActionPaired.facade_ns 1.25 BM_ActionPaired.direct_ns "record to RuvUbc"
compare "append, fresh processes (LogRecord)" BM_LogRecord BM_RawWrite "write(2)"
ratio "record log append, alternating blocks (append_ns)" BM_LogRecordPaired.append_ns 1.3 BM_LogRecordPaired.write_ns "write(2)"
compare "literals, fresh processes (LogRecordOwnTexts)" BM_LogRecordOwnTexts BM_RawWriteOwnTexts "write(2)"
ratio "record of literals, alternating (append_ns)" BM_LogRecordOwnTextsPaired.append_ns 1.3 BM_LogRecordOwnTextsPaired.write_ns "write(2)"
compare "coded send, fresh processes (CodedSend)" BM_CodedSend BM_HelperDirect "helper called"
ratio "coded send, alternating blocks (send_ns)" BM_CodedSendPaired.send_ns 1.3 BM_CodedSendPaired.helper_ns "helper called"
ratio "record with upload on (RecordUploadOn)" BM_RecordUploadOn 1.1 BM_RecordUploadOff "upload off"
# ubc-report over a generated log of a million records (about 650 MB), wall time.
if [ -z "${SKIP_REPORT:-}" ]; then
    report=$("${runner[@]}" "$build/bin/bench/bench_report$exe" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
        --benchmark_format=json 2>/dev/null)
    row "ubc-report, 1,000,000 records from a file (ms)" \
        "$(jq -r '.benchmarks[] | select(.aggregate_name == "median") | .real_time' <<< "$report")" "< 3000 ms, wall" "v < 3000"
fi
echo "Qt ${KELUBC_QT_MAJOR:-5}; ${time_key/_/ } per call, median of $reps rounds, order $order, each in a fresh process;" \
     "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $failed
