#!/bin/sh
# Submits a brakmoor7 scan of a recorder archive to a Slurm cluster: a job array of TASKS
# tasks (default 10), each analysing its share of the files, then the assembling scan,
# which starts once every task has ended, however it ended, analyses what they left
# undone and writes the tables into OUT. Prints both job ids.
# usage: submit-scan.sh ARCHIVE OUT [TASKS] [SCAN OPTION...]
set -eu

usage() {
    cat <<'USAGE'
usage: submit-scan.sh ARCHIVE OUT [TASKS] [SCAN OPTION...]
Scans ARCHIVE (a folder of recordings, or one file) into the output folder OUT with a
Slurm job array of TASKS tasks (default 10), then assembles the tables in OUT. SCAN
OPTIONs (--clips, --channel N, --time-zone ZONE, ...) go to every scan. BRAKMOOR7 names
the program if it is not on PATH on the nodes; the requests for CPUs, memory and time
are in scan-array.sbatch beside this script. Each job's log goes to OUT/slurm-logs.
USAGE
}

case "${1:-}" in
    -h | --help) usage; exit 0 ;;
esac
[ $# -ge 2 ] || { usage >&2; exit 1; }
archive="$1"
out="$2"
shift 2
tasks=10
case "${1:-}" in
    '' | -*) ;;
    *) tasks="$1"; shift ;;
esac
[ "${1:-}" != "--" ] || shift
case "$tasks" in
    '' | *[!0-9]* | 0)
        echo "submit-scan.sh: TASKS must be a whole number from 1 up, not \"$tasks\"" >&2
        exit 1
        ;;
esac
if [ ! -e "$archive" ]; then
    echo "submit-scan.sh: no such archive: $archive" >&2
    exit 1
fi

# Login nodes usually see the same software as the nodes: a program missing here is most
# likely missing there too, but only the nodes can tell.
program="${BRAKMOOR7:-brakmoor7}"
if ! command -v "$program" >/dev/null 2>&1; then
    echo "submit-scan.sh: warning: $program is not found here; the jobs will fail unless" \
        "the nodes have it (set BRAKMOOR7 to its path)" >&2
fi

batch_script="$(cd "$(dirname "$0")" && pwd)/scan-array.sbatch"
# Slurm opens a job's log before the job runs, so the folder must already be there.
logs="$out/slurm-logs"
mkdir -p "$logs"

# --parsable prints "JOBID" or "JOBID;CLUSTER".
array_job=$(sbatch --parsable --array="1-$tasks" --output="$logs/scan-%A_%a.out" \
    "$batch_script" "$archive" "$out" "$tasks" "$@")
array_job="${array_job%%;*}"
if ! assembling_job=$(sbatch --parsable --dependency="afterany:$array_job" \
    --output="$logs/assemble-%j.out" "$batch_script" "$archive" "$out" "$@"); then
    echo "submit-scan.sh: array job $array_job is queued, but the assembling scan was not;" \
        "submit it with: sbatch --dependency=afterany:$array_job $batch_script $archive $out $*" >&2
    exit 1
fi
assembling_job="${assembling_job%%;*}"
echo "array job $array_job ($tasks tasks)"
echo "assembling job $assembling_job"
