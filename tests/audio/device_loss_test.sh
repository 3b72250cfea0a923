#!/bin/sh
# A sound device that goes away mid-run, on a private sound server with a virtual input:
# - the server killed: the run ends with "No audio input" and status 1 within 15 s, or,
#   with --reconnect, reports the loss, reconnects once the server is back, and saves
#   the clips of a recording played after that;
# - no server at the start: with --reconnect it is waited for, and SIGTERM ends the wait;
# - the server frozen (SIGSTOP): the run ends with status 1 within 20 s, or, with
#   --reconnect, waits and carries on after SIGCONT.
# Never a line of the sound libraries' own. Prints the times it measures.
# usage: device_loss_test.sh BRAKMOOR7 DEMO_WAV
set -eu
program="$1"
demo="$2"
. "$(dirname "$0")/sound_server.sh"


# launch NAME OPTIONS...: starts the program; dir names its files.
launch() {
    dir="$work/$1"
    shift
    mkdir "$dir"
    "$program" "$@" --clip-dir "$dir/Calls" --log-file "$dir/Calls/log" \
        --stop-file "$dir/no-stop" >"$dir/out" 2>"$dir/err" &
    run_pid=$!
}

# start_run NAME OPTIONS...: launches and waits until it records from the server.
start_run() {
    launch "$@"
    wait_for_capture "$dir"
    sleep 1
}

# ends_within SECONDS: waits for the run to end; its status goes to `status`.
ends_within() {
    tries=$(($1 * 10))
    while kill -0 "$run_pid" 2>/dev/null; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || fail "the run did not end within $1 s" "$dir"
        sleep 0.1
    done
    status=0
    wait "$run_pid" || status=$?
    run_pid=""
}

# ended_without_audio LABEL: the run ended as a run without sound input must.
ended_without_audio() {
    [ "$status" -eq 1 ] || fail "status $status after the server $1" "$dir"
    grep -qx "No audio input" "$dir/err" || fail "no \"No audio input\"" "$dir"
    no_library_lines
}

no_library_lines() {
    ! grep -q "^Expression '\|^ALSA lib" "$dir/err" || fail "library complaints shown" "$dir"
}

# stop_cleanly: SIGTERM ends a run that recovered with status 0 and no stream left.
stop_cleanly() {
    kill -TERM "$run_pid"
    ends_within 10
    [ "$status" -eq 0 ] || fail "status $status after SIGTERM" "$dir"
    [ -z "$(pactl list short source-outputs)" ] || fail "the stream outlived the run" "$dir"
    no_library_lines
}

sox "$demo" "$work/second.wav" trim 11.5 4.5

# No server yet, with --reconnect.
launch absent --reconnect
wait_for "$dir/err" "^Sound input lost: .*; retrying$" 30 || fail "no wait for a device" "$dir"
kill -TERM "$run_pid"
sent=$(now_ms)
ends_within 10
echo "SIGTERM while waiting for a device to exit: $(($(now_ms) - sent)) ms"
[ "$status" -eq 0 ] || fail "status $status after SIGTERM" "$dir"
grep -qx "Stopped by the signal SIGTERM" "$dir/err" || fail "no line for the signal" "$dir"
no_library_lines

start_sound_server

# Killed, without --reconnect.
start_run killed
stop_sound_server
lost=$(now_ms)
ends_within 15
echo "killed server to exit: $(($(now_ms) - lost)) ms"
ended_without_audio "was killed"

# Killed, with --reconnect: back two seconds later, then a recording with a song bout.
start_sound_server
start_run killed-reconnect --reconnect
stop_sound_server
lost=$(now_ms)
wait_for "$dir/err" "^Sound input lost: .*; retrying$" 15 || fail "no loss reported" "$dir"
echo "killed server to the loss message: $(($(now_ms) - lost)) ms"
sleep 2
start_sound_server
back=$(now_ms)
wait_for "$dir/err" "^Sound input restored after [0-9]* s$" 30 || fail "not restored" "$dir"
echo "server back to the restoration: $(($(now_ms) - back)) ms"
paplay "$work/second.wav" &
player_pid=$!
wait_for "$dir/out" "Saved clip" 20 || fail "no clip of the recording played afterwards" "$dir"
stop "$player_pid"
player_pid=""
stop_cleanly

# Frozen, without --reconnect.
start_run frozen
kill -STOP "$server_pid"
frozen=$(now_ms)
ends_within 20
echo "frozen server to exit: $(($(now_ms) - frozen)) ms"
ended_without_audio "froze"
stop_sound_server

# Frozen, with --reconnect: thawed once the loss is reported.
start_sound_server
start_run frozen-reconnect --reconnect
kill -STOP "$server_pid"
frozen=$(now_ms)
wait_for "$dir/err" "^Sound input lost: No audio input; retrying$" 20 || fail "no loss reported" "$dir"
echo "frozen server to the loss message: $(($(now_ms) - frozen)) ms"
kill -CONT "$server_pid"
wait_for "$dir/err" "^Sound input restored after [0-9]* s$" 30 || fail "not restored" "$dir"
echo "restored $(($(now_ms) - frozen)) ms after the freeze"
stop_cleanly
