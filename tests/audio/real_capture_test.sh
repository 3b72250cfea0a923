#!/bin/sh
# Captures through the sound device path from a private sound server with a virtual
# input: a seeded random recording is played into it and must come back sample for
# sample, in order, with no gap or repeat. Also checks that the program lists the input
# devices and names a device that is not there. Leaves nothing running or behind.
# usage: real_capture_test.sh CAPTURE_PROBE BRAKMOOR7
set -eu
probe="$1"
program="$2"
. "$(dirname "$0")/sound_server.sh"

start_sound_server

"$program" --list-devices >"$work/devices" 2>"$work/devices.log"
if ! grep -q '(default)' "$work/devices"; then
    echo "--list-devices shows no default input device:" >&2
    cat "$work/devices" >&2
    quiet "$work/devices.log"
    exit 1
fi
if "$probe" capture "$work/none.raw" 1 "$work/none" --device no-such-device 2>"$work/none.log"; then
    echo "capture from a missing device succeeded" >&2
    exit 1
fi
grep -q 'No sound input device has "no-such-device" in its name' "$work/none.log"

"$probe" make-recording "$work/recording.wav" 2 20261208
# 14 frames of 8192 samples: about 5.2 s, room for the 2 s recording and the start delay.
"$probe" capture "$work/capture.raw" 14 "$work/ready" 2>"$work/capture.log" &
run_pid=$!
waited=0
until [ -e "$work/ready" ]; do
    waited=$((waited + 1))
    if [ "$waited" -gt 100 ] || ! kill -0 "$run_pid" 2>/dev/null; then
        echo "capture did not start:" >&2
        quiet "$work/capture.log"
        exit 1
    fi
    sleep 0.1
done
paplay "$work/recording.wav"
status=0
wait "$run_pid" || status=$?
run_pid=""
if [ "$status" -ne 0 ]; then
    echo "capture failed with status $status:" >&2
    quiet "$work/capture.log"
    exit 1
fi
"$probe" find "$work/recording.wav" "$work/capture.raw"
