#!/bin/sh
# Scans a small archive on a private one-node Slurm cluster through
# scripts/slurm/submit-scan.sh: three array tasks, one shard each, then the assembling
# scan after all of them. Every run of the program is recorded (job, task, times,
# arguments); the tables must equal a plain scan's byte for byte. Slurm's own job states
# are not trusted: the jobs are judged by what they wrote. Leaves nothing running.
# usage: cluster_scan_test.sh BRAKMOOR7 DEMO_WAV
set -eu
program=$(realpath "$1")
demo=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" -ne 0 ]; then
    echo "slurmd runs jobs only as root: skipped" >&2
    exit 77
fi
submit="$here/../../scripts/slurm/submit-scan.sh"
. "$here/one_node_cluster.sh"
. "$here/test_archive.sh"
work=$(mktemp -d)
cleanup() {
    stop_one_node_cluster
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' HUP INT PIPE TERM
tasks=3

fail() {
    echo "$*" >&2
    for log in "$work"/out/slurm-logs/*; do
        [ -e "$log" ] && { echo "--- $log" >&2; cat "$log" >&2; }
    done
    exit 1
}

# The jobs run this in place of the program: it runs the program, then records the run
# under the job's id. Array tasks linger a second, so that an assembling scan that did not
# wait for them would be seen starting before they end.
mkdir "$work/runs"
cat >"$work/recorded-brakmoor7" <<RECORDER
#!/bin/sh
started=\$(date +%s.%N)
status=0
"$program" "\$@" || status=\$?
[ -z "\${SLURM_ARRAY_TASK_ID:-}" ] || sleep 1
printf '%s %s %s %s %s %s\n' "\${SLURM_ARRAY_JOB_ID:--}" "\${SLURM_ARRAY_TASK_ID:--}" \
    "\$started" "\$(date +%s.%N)" "\$status" "\$*" >"$work/runs/\$SLURM_JOB_ID.tmp"
mv "$work/runs/\$SLURM_JOB_ID.tmp" "$work/runs/\$SLURM_JOB_ID"
exit \$status
RECORDER
chmod +x "$work/recorded-brakmoor7"

cd "$work"
make_test_archive "$demo" archive
# Room for every job at once at the batch script's 4 CPUs each, as on a real cluster, so
# that only its dependency holds the assembling scan back.
start_one_node_cluster "$work/cluster" $(((tasks + 1) * 4))

seconds_since() {
    awk -v since="$1" -v now="$(date +%s.%N)" 'BEGIN { printf "%.2f", now - since }'
}
submitted=$(date +%s.%N)
BRAKMOOR7="$work/recorded-brakmoor7" "$submit" archive out "$tasks" >submitted.txt
array_job=$(awk '/^array job/ { print $3 }' submitted.txt)
assembling_job=$(awk '/^assembling job/ { print $3 }' submitted.txt)
[ -n "$array_job" ] && [ -n "$assembling_job" ] ||
    fail "submit-scan.sh printed no job ids: $(cat submitted.txt)"

job_state() {
    scontrol -o show job "$1" | sed -n 's/.*JobState=\([A-Z_]*\).*/\1/p'
}
waited=0
until [ -e "runs/$assembling_job" ]; do
    case "$(job_state "$assembling_job")" in
        PENDING | CONFIGURING | RUNNING | COMPLETING | "") ;;
        *)
            sleep 1
            [ -e "runs/$assembling_job" ] || fail "the assembling job ended without running a scan"
            ;;
    esac
    waited=$((waited + 1))
    [ "$waited" -le 1200 ] || fail "the assembling job did not finish within two minutes"
    sleep 0.1
done
echo "submission to assembled tables: $(seconds_since "$submitted") s" >&2

# One run per array task with its own shard, on as many threads as CPUs it was given,
# and the assembling scan after all of them.
ran() {
    cut -d' ' -f6- "runs/$1"
}
threads=$(scontrol -o show job "$assembling_job" | sed -n 's|.* CPUs/Task=\([0-9]*\).*|\1|p')
for task in $(seq "$tasks"); do
    run=$(grep -l "^$array_job $task " runs/* || true)
    [ -n "$run" ] || fail "array task $task did not run the program"
    expected="scan --out out --jobs $threads --shard $task/$tasks archive"
    [ "$(ran "${run#runs/}")" = "$expected" ] || fail "task $task ran: $(cat "$run")"
done
[ "$(find runs -type f | wc -l)" -eq $((tasks + 1)) ] || fail "not one run per job: $(cat runs/*)"
[ "$(ran "$assembling_job")" = "scan --out out --jobs $threads archive" ] ||
    fail "the assembling job ran: $(cat "runs/$assembling_job")"
early=$(awk -v assembly="$(cut -d' ' -f3 "runs/$assembling_job")" \
    '$1 != "-" && $4 > assembly { print FILENAME }' runs/*)
[ -z "$early" ] || fail "the assembling scan started before $early ended"

# A file that is not audio makes a scan end with status 2, and a run that could not
# start with 1.
for run in runs/*; do
    case "$(cut -d' ' -f5 "$run")" in
        0 | 2) ;;
        *) fail "a scan failed: $(cat "$run")" ;;
    esac
done

started=$(date +%s.%N)
status=0
"$program" scan --quiet --out plain archive >plain.log 2>&1 || status=$?
echo "the same scan without Slurm: $(seconds_since "$started") s" >&2
[ "$(cut -d' ' -f5 "runs/$assembling_job")" -eq "$status" ] ||
    fail "the assembling scan ended with another status than a plain scan's ($status)"
for table in detections.selections.txt detections.csv files.csv; do
    cmp "plain/$table" "out/$table" || fail "$table differs from a plain scan's"
done
