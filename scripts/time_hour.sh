#!/usr/bin/env bash
# Times `brakmoor7 --input` over one hour of audio made of the bundled recording, on
# one core, and prints the user time and its ratio to the audio's duration. The run
# happens in a scratch directory, which is removed afterwards; with KEEP_CLIPS=DIR the
# clips it saved are copied to DIR first, so two builds' clips can be compared.
# Usage: scripts/time_hour.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
program="$top/$build/src/brakmoor7"
[ -x "$program" ] || { echo "time_hour.sh: $program is not built" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
hour="$scratch/hour.wav"
copies=()
for _ in $(seq 70); do copies+=("$top/data/demo.wav"); done
sox "${copies[@]}" "$hour"
seconds=$(soxi -D "$hour")

cd "$scratch"
taskset -c 0 /usr/bin/time -f '%U %S %e' -o times.txt \
    "$program" --input "$hour" --clip-dir Calls --log-file Calls/LogDick.txt \
    --stop-file stop.txt > /dev/null
read -r user system elapsed < times.txt
clips=$(ls Calls | grep -c '^Dick_' || true)
[ -n "${KEEP_CLIPS:-}" ] && { mkdir -p "$KEEP_CLIPS"; cp Calls/Dick_* "$KEEP_CLIPS"/; }
awk -v a="$seconds" -v u="$user" -v s="$system" -v e="$elapsed" -v c="$clips" 'BEGIN {
    printf "audio %.1f s, %d clips\n", a, c
    printf "user %.2f s, system %.2f s, elapsed %.2f s\n", u, s, e
    printf "%.0f times real time (user), %.0f times (elapsed)\n", a / u, a / e
}'
