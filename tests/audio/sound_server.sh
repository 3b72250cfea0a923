# Sourced by the shell tests that need a sound device: a private PulseAudio server with a
# virtual input (the monitor of a null sink), in a private HOME and XDG_RUNTIME_DIR under
# a fresh $work. On exit it ends the server and the processes in run_pid and player_pid,
# and removes $work.
#   start_sound_server    starts it (again) and waits until it answers
#   stop_sound_server     ends it, even when it was frozen with SIGSTOP
#   stop PID              ends a process this test started, if it still runs
#   wait_for_capture DIR  waits until run_pid records from the server
#   wait_for FILE PATTERN SECONDS   until a line of FILE matches, or fails
#   fail MESSAGE [DIR]    ends the test, showing DIR/err and DIR/out
#   quiet FILE            prints FILE without the sound libraries' own lines
#   now_ms                wall clock in milliseconds

work=$(mktemp -d)
server_pid=""
run_pid=""
player_pid=""
mkdir -p -m 700 "$work/home" "$work/run"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
export PULSE_SERVER="unix:$work/run/pulse/native" PULSE_COOKIE="$work/home/cookie"
unset DBUS_SESSION_BUS_ADDRESS DISPLAY
# Under the sanitizers: whole stacks, so that leaks inside the sound library's plugins can
# be told apart from this program's.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}${ASAN_OPTIONS:+:}fast_unwind_on_malloc=0"
export LSAN_OPTIONS="${LSAN_OPTIONS:-}${LSAN_OPTIONS:+:}suppressions=$(cd "$(dirname "$0")" && pwd)/sound_libraries.supp"

# Without norewinds=1 the start of the played recording goes missing.
cat >"$work/virtual.pa" <<'PA'
load-module module-native-protocol-unix auth-anonymous=1
load-module module-null-sink sink_name=vsink format=s16le rate=22050 channels=1 norewinds=1
set-default-sink vsink
set-default-source vsink.monitor
PA

start_sound_server() {
    pulseaudio --daemonize=no -n -F "$work/virtual.pa" --exit-idle-time=-1 --use-pid-file=no \
        --disable-shm=yes >>"$work/server.log" 2>&1 &
    server_pid=$!
    waited=0
    until pactl info >/dev/null 2>&1; do
        waited=$((waited + 1))
        if [ "$waited" -gt 100 ]; then
            echo "the sound server did not come up:" >&2
            cat "$work/server.log" >&2
            exit 1
        fi
        sleep 0.1
    done
}

stop() {
    if [ -n "$1" ] && kill "$1" 2>/dev/null; then wait "$1" 2>/dev/null || true; fi
}

cleanup() {
    stop "$run_pid"
    stop "$player_pid"
    stop_sound_server
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

stop_sound_server() {
    if [ -n "$server_pid" ]; then
        kill -CONT "$server_pid" 2>/dev/null || true
        if kill "$server_pid" 2>/dev/null; then wait "$server_pid" 2>/dev/null || true; fi
    fi
    server_pid=""
}

quiet() {
    grep -v '^ALSA lib\|^Cannot connect\|^jack server\|^JackShm' "$1" >&2 || true
}

now_ms() {
    echo $(($(date +%s%N) / 1000000))
}

fail() {
    echo "$1" >&2
    [ -z "${2:-}" ] || { echo "--- errors:" >&2; cat "$2/err" >&2; echo "--- output:" >&2; cat "$2/out" >&2; }
    exit 1
}

wait_for() {
    tries=$(($3 * 10))
    until grep -q "$2" "$1" 2>/dev/null; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}

wait_for_capture() {
    tries=300
    until [ -n "$(pactl list short source-outputs 2>/dev/null)" ]; do
        tries=$((tries - 1))
        kill -0 "$run_pid" 2>/dev/null && [ "$tries" -gt 0 ] || fail "capture did not start" "$1"
        sleep 0.1
    done
}
