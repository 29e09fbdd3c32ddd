#!/usr/bin/env bash
# Plays the demo scenario with two builds of ubc-demo, one per Qt major
# version, and checks that the records and coded events are equal byte for
# byte apart from times and durations, session and project ids, and the Qt
# version (ver2).
# usage: same_across_qt.sh DEMO_A DEMO_B WORK_DIR
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 DEMO_A DEMO_B WORK_DIR" >&2; exit 2; }
work=$3
rm -rf "$work"
mkdir -p "$work"

# Each run writes to the same folder, so the project path in the records is the same.
for side in a b; do
    demo=$1
    shift
    QT_QPA_PLATFORM=offscreen "$demo" --scenario --out "$work/out" > "$work/$side.log" 2>&1 ||
        { echo "$demo failed:"; tail -n 20 "$work/$side.log"; exit 1; }
    mv "$work/out" "$work/$side"
    grep -o '"ver2":"[0-9]*\.' "$work/$side/records.jsonl" | sort -u > "$work/$side.qt"
    [ "$(wc -l < "$work/$side.qt")" = 1 ] || { echo "$demo: no single Qt version in its records"; exit 1; }
    for file in records coded-events; do
        [ -s "$work/$side/$file.jsonl" ] || { echo "$demo wrote no $file"; exit 1; }
        sed -E 's/"(trigertime|time|sessionid|projectid|ver2)":"[^"]*"/"\1":"~"/g
                s/"(duration|tjsc)":"[0-9]+"/"\1":"~"/g' "$work/$side/$file.jsonl" > "$work/$side.$file"
    done
done

if cmp -s "$work/a.qt" "$work/b.qt"; then
    echo "both demos run on Qt $(tr -d '"ver2:.' < "$work/a.qt"): nothing to compare"
    exit 1
fi
status=0
for file in records coded-events; do
    diff "$work/a.$file" "$work/b.$file" > "$work/$file.diff" ||
        { status=1; echo "$file differ:"; head -c 4000 "$work/$file.diff"; }
done
[ $status = 0 ] && echo "records and coded events agree: $(wc -l < "$work/a.records") records, $(wc -l < "$work/a.coded-events") coded events"
exit $status
