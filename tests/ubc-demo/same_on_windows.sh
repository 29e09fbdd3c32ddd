#!/usr/bin/env bash
# Plays the demo scenario with a Linux build of ubc-demo and a Windows build
# under Wine, and checks that the records and coded events are equal byte for
# byte apart from times and durations, session and project ids, the machine
# digest (Wine's machine id is not Linux's), and the output folder's path (a
# Windows path under Wine, with its drive).
# usage: same_on_windows.sh LINUX_DEMO WINDOWS_DEMO WORK_DIR   (Wine set up by the caller)
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 LINUX_DEMO WINDOWS_DEMO WORK_DIR" >&2; exit 2; }
work=$(realpath -m "$3")
rm -rf "$work"
mkdir -p "$work"
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
winout="Z:$(echo "$work/out" | tr / '\\')"

normalise() {
    # Paths as the records write them: JSON-escaped, the Windows one with backslashes.
    local escaped=${2//\\/\\\\\\\\}
    sed -E 's/"(trigertime|time|sessionid|projectid|ver2|gid|hardwareid)":"[^"]*"/"\1":"~"/g
            s/"(duration|tjsc)":"[0-9]+"/"\1":"~"/g' "$1" |
        sed -e "s#${escaped}#OUT#g" -e "s#Z:$work/out#OUT#g" -e "s#$work/out#OUT#g" | sed -E 's#OUT(\\\\|/)#OUT/#g'
}

for side in linux windows; do
    if [ $side = linux ]; then
        QT_QPA_PLATFORM=offscreen "$1" --scenario --out "$work/out" > "$work/$side.log" 2>&1 ||
            { echo "$1 failed:"; tail -n 20 "$work/$side.log"; exit 1; }
    else
        WINEQT_QPA_PLATFORM=offscreen "$wine" "$2" --scenario --out "$winout" > "$work/$side.log" 2>&1 ||
            { echo "$2 failed:"; tail -n 20 "$work/$side.log"; exit 1; }
    fi
    mv "$work/out" "$work/$side"
    for file in records coded-events; do
        [ -s "$work/$side/$file.jsonl" ] || { echo "$side: no $file"; exit 1; }
        normalise "$work/$side/$file.jsonl" "$winout" > "$work/$side.$file"
    done
done
status=0
for file in records coded-events; do
    diff "$work/linux.$file" "$work/windows.$file" > "$work/$file.diff" ||
        { status=1; echo "$file differ:"; head -c 4000 "$work/$file.diff"; }
done
[ $status = 0 ] && echo "records and coded events agree: $(wc -l < "$work/linux.records") records, $(wc -l < "$work/linux.coded-events") coded events"
exit $status
