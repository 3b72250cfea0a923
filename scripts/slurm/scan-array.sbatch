#!/bin/bash
# Scans a recorder archive with brakmoor7 as a Slurm job. As task K of a job array of N
# tasks it analyses every N-th file of the scan order (K, K+N, ...) into the shared output
# folder; submitted without --array it is the assembling scan, which analyses whatever the
# tasks left undone and writes the tables. submit-scan.sh submits both.
#
# usage: sbatch --array=1-N scan-array.sbatch ARCHIVE OUT [N] [SCAN OPTION...]
#        sbatch --dependency=afterany:ARRAYJOB scan-array.sbatch ARCHIVE OUT [SCAN OPTION...]
# N defaults to the number of tasks in the array; give it whenever you submit only some
# of the tasks again (--array=3,7), since every task must agree on N. SCAN OPTIONs (such
# as --clips or --time-zone America/Chicago) must be the same for the tasks and the
# assembling scan. BRAKMOOR7 names the program if it is not on PATH on the nodes.
#
# Edit the requests below for your cluster; options given to sbatch override them. Bash,
# not sh, so that the "module" command of clusters that have one works here.
# Each task runs one scan with one thread per CPU it is given.
#SBATCH --job-name=brakmoor7-scan
#SBATCH --cpus-per-task=4
# The scan streams every file, so memory does not grow with the length of a recording.
#SBATCH --mem-per-cpu=512M
# Per task: hours of audio in its share / (speed of one core x CPUs), with a margin. A
# task cut off by its time limit loses only the file in progress; the assembling scan
# analyses the rest of its share.
#SBATCH --time=04:00:00
# A task requeued after a node failure starts again from its journal, keeping its log.
#SBATCH --requeue
#SBATCH --open-mode=append
# Most clusters want these two; remove the second # and fill them in.
##SBATCH --partition=PARTITION
##SBATCH --account=ACCOUNT
set -eu

usage() {
    echo "usage: sbatch [--array=1-N] scan-array.sbatch ARCHIVE OUT [N] [SCAN OPTION...]" >&2
    echo "(the comments at the top of scan-array.sbatch say more)" >&2
    exit 1
}

[ $# -ge 2 ] || usage
archive="$1"
out="$2"
shift 2
shards=""
case "${1:-}" in
    --) shift ;;
    '' | -*) ;;
    *[!0-9]*) usage ;;
    *) shards="$1"; shift ;;
esac
program="${BRAKMOOR7:-brakmoor7}"
threads="${SLURM_CPUS_PER_TASK:-1}"

if [ -z "${SLURM_ARRAY_TASK_ID:-}" ]; then
    exec "$program" scan --out "$out" --jobs "$threads" "$@" "$archive"
fi

shards="${shards:-${SLURM_ARRAY_TASK_COUNT:-0}}"
shard="$SLURM_ARRAY_TASK_ID"
if [ "$shard" -lt 1 ] || [ "$shard" -gt "$shards" ]; then
    echo "scan-array.sbatch: task $shard is not one of 1 to $shards;" \
        "submit with --array=1-$shards" >&2
    exit 1
fi
exec "$program" scan --out "$out" --jobs "$threads" --shard "$shard/$shards" "$@" "$archive"
