#!/usr/bin/env bash
# Runs the monitor over the bundled recording and shows the clips it saved.
# Usage: scripts/demo.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/demo-output"
rm -rf "$out"
mkdir -p "$out"
cd "$out"
echo "Analysing data/demo.wav (52 s of synthetic song, noise and distractors)..."
"$top/$build/src/brakmoor7" --input "$top/data/demo.wav" --clip-dir Calls \
    --log-file Calls/LogDick.txt --stop-file stop.txt
echo
echo "Clips saved in $out/Calls:"
ls -l Calls
echo
echo "Level log:"
cat Calls/LogDick.txt
