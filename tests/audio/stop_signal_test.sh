#!/bin/sh
# A run that receives SIGTERM or SIGINT ends cleanly at the end of its step: status 0,
# one line naming the signal, the clip finished before intact, the song bout under way
# saved as far as it was heard, and, when capturing from a device, its stream gone from
# the sound server. Once for a sound device (a private server with a virtual input),
# once for a recording played at the pace of a sound card.
# usage: stop_signal_test.sh BRAKMOOR7 DEMO_WAV
set -eu
program="$1"
demo="$2"
checks="$(dirname "$0")/clip_checks.py"
. "$(dirname "$0")/sound_server.sh"


start_sound_server

# Two song bouts four seconds apart (at about 3 s and 7 s): the first one's clip is
# finished about 4.4 s in; the second is under way from about 7.3 s to 8.3 s.
sox "$demo" "$work/first.wav" trim 0 6
sox "$demo" "$work/second.wav" trim 11.5 4.5
sox "$work/first.wav" "$work/second.wav" "$work/bouts.wav"
"$program" --input "$work/bouts.wav" --clip-dir "$work/whole" --log-file "$work/whole/log" \
    --stop-file "$work/no-stop" >/dev/null
set -- "$work"/whole/Dick_*.wav
[ "$#" -eq 2 ] || fail "the unpaced run saved $# clips instead of 2"

# stop_by SIGNAL NAME OPTIONS...: runs until a signal comes during the second bout.
stop_by() {
    signal="$1"
    dir="$work/$2"
    shift 2
    mkdir "$dir"
    "$program" "$@" --clip-dir "$dir/Calls" --log-file "$dir/Calls/log" \
        --stop-file "$dir/no-stop" >"$dir/out" 2>"$dir/err" &
    run_pid=$!
    if [ "$#" -eq 0 ]; then
        wait_for_capture "$dir"
        paplay "$work/bouts.wav" &
        player_pid=$!
    fi
    wait_for "$dir/out" "Saved clip" 30 || fail "$signal: no first clip" "$dir"
    # From the first clip's end (about 4.4 s of audio) to the middle of the second bout.
    sleep 3.4
    kill "-$signal" "$run_pid"
    sent=$(now_ms)
    status=0
    wait "$run_pid" || status=$?
    echo "$signal to exit: $(($(now_ms) - sent)) ms"
    run_pid=""
    stop "$player_pid"
    player_pid=""
    [ "$status" -eq 0 ] || fail "$signal: status $status" "$dir"
    grep -qx "Stopped by the signal SIG$signal" "$dir/err" || fail "$signal: no line" "$dir"
    ! grep -q "^Expression '" "$dir/err" || fail "$signal: library complaints shown" "$dir"
    set -- "$dir"/Calls/Dick_*.wav
    [ "$#" -eq 2 ] || fail "$signal: $# clips instead of 2" "$dir"
    python3 "$checks" whole "$@" || fail "$signal: a clip is not whole" "$dir"
}

for signal in TERM INT; do
    stop_by "$signal" "device-$signal"
    [ -z "$(pactl list short source-outputs)" ] || fail "$signal: the stream outlived the run"

    stop_by "$signal" "file-$signal" --input "$work/bouts.wav" --realtime
    set -- "$work"/whole/Dick_*.wav
    first="$1"
    second="$2"
    set -- "$work/file-$signal"/Calls/Dick_*.wav
    cmp -s "$1" "$first" || fail "$signal: the first clip differs from the unpaced run's"
    python3 "$checks" prefix "$2" "$second" ||
        fail "$signal: the second clip is not the bout heard so far"
done
