#!/bin/sh
# Splits the scan of one archive into shards that share one output folder, as array tasks
# on a cluster or parallel processes on a workstation do, then lets a scan without
# --shard assemble the tables: whether the shards ran one after another, all at once, or
# one of them was killed part-way through a file, the tables must equal a plain scan's
# byte for byte.
# usage: sharding_test.sh BRAKMOOR7 DEMO_WAV
set -eu
program=$(realpath "$1")
demo=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/test_archive.sh"
work=$(mktemp -d)
shard_pids=""
cleanup() {
    for pid in $shard_pids; do
        if kill "$pid" 2>/dev/null; then wait "$pid" 2>/dev/null || true; fi
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' HUP INT PIPE TERM
shards=3

fail() {
    echo "$*" >&2
    exit 1
}

# A scan ends with 0, or 2 for the file in the archive that is not audio.
scan() {
    status=0
    "$program" scan --quiet "$@" >>"$work/scans.log" 2>&1 || status=$?
    case "$status" in
        0 | 2) ;;
        *) cat "$work/scans.log" >&2; fail "scan $* ended with status $status" ;;
    esac
}

assemble_and_compare() {
    out="$1"
    for table in detections.selections.txt detections.csv files.csv; do
        [ ! -e "$out/$table" ] || fail "a shard wrote the combined $table"
    done
    scan --out "$out" --jobs 2 archive
    for table in detections.selections.txt detections.csv files.csv; do
        cmp "plain/$table" "$out/$table" || fail "$table differs from a plain scan's ($out)"
    done
}

cd "$work"
# Long enough that the first shard is still analysing its second file when it is killed.
make_test_archive "$demo" archive 3
scan --out plain --jobs 2 archive

for shard in $(seq "$shards"); do
    scan --out one-by-one --jobs 1 --shard "$shard/$shards" archive
done
assemble_and_compare one-by-one

for shard in $(seq "$shards"); do
    "$program" scan --quiet --out side-by-side --jobs 1 --shard "$shard/$shards" archive \
        >>scans.log 2>&1 &
    shard_pids="$shard_pids $!"
done
for pid in $shard_pids; do
    status=0
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || [ "$status" -eq 2 ] ||
        fail "a shard run side by side ended with status $status"
done
shard_pids=""
assemble_and_compare side-by-side

# The first shard's files are the first and the long fourth: it is killed once the first
# is on disk.
"$program" scan --quiet --out killed --jobs 1 --shard "1/$shards" archive >>scans.log 2>&1 &
shard_pids=$!
waited=0
until [ -n "$(find killed/journal -name '*.entry' 2>/dev/null)" ]; do
    kill -0 "$shard_pids" 2>/dev/null || fail "the first shard ended before it was killed"
    waited=$((waited + 1))
    [ "$waited" -le 600 ] || fail "the first shard wrote nothing within a minute"
    sleep 0.05
done
kill -KILL "$shard_pids" 2>/dev/null || fail "the first shard ended before it was killed"
wait "$shard_pids" 2>/dev/null || true
shard_pids=""
for shard in $(seq 2 "$shards"); do
    scan --out killed --jobs 1 --shard "$shard/$shards" archive
done
assemble_and_compare killed
