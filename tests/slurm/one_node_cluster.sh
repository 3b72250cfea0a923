# Sourced by the cluster tests: starts a private one-node Slurm cluster (munged, slurmctld,
# slurmd) in a folder of the test's, each daemon in the foreground as a background job
# whose pid is kept, and stops exactly those daemons again. Needs no systemd and leaves
# the system's own Slurm and munge configuration untouched.
# usage: . one_node_cluster.sh; start_one_node_cluster DIR CPUS; ...; stop_one_node_cluster
# The node claims CPUS CPUs and 1 GB for each (config_overrides), however few the machine
# has, so that a test can run jobs side by side that ask for more than a CI machine holds.

cluster_pids=""

# Two ports that nothing listens on now; another test cluster may be running here.
free_ports() {
    python3 -c '
import socket
held = []
for _ in range(2):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    held.append(s)
print(" ".join(str(s.getsockname()[1]) for s in held))'
}

# Waits up to ten seconds for a command to succeed; on failure shows the daemons' logs.
wait_for() {
    what="$1"
    shift
    waited=0
    until "$@" >/dev/null 2>&1; do
        waited=$((waited + 1))
        if [ "$waited" -gt 100 ]; then
            echo "$what did not come up:" >&2
            tail -n 20 "$cluster_dir"/*.log >&2 || true
            return 1
        fi
        sleep 0.1
    done
}

node_is_idle() {
    scontrol -o show node "$cluster_host" | grep -q 'State=IDLE'
}

start_one_node_cluster() {
    cluster_dir="$1"
    cpus="$2"
    cluster_host=$(hostname -s)
    mkdir -p "$cluster_dir/state" "$cluster_dir/spool"
    # munged refuses a socket folder that others can list, and a key others can read.
    mkdir -m 0711 "$cluster_dir/munge"
    mungekey --create --keyfile="$cluster_dir/munge/munge.key" --force
    chmod 0400 "$cluster_dir/munge/munge.key"
    munge_socket="$cluster_dir/munge/munge.socket"
    munged --foreground --force --socket="$munge_socket" \
        --key-file="$cluster_dir/munge/munge.key" --seed-file="$cluster_dir/munge/munged.seed" \
        --pid-file="$cluster_dir/munge/munged.pid" --log-file="$cluster_dir/munged.log" \
        >>"$cluster_dir/munged.log" 2>&1 &
    cluster_pids="$! $cluster_pids"
    wait_for "munged" munge --socket="$munge_socket" --string=ready || return 1

    ports=$(free_ports)
    cat >"$cluster_dir/slurm.conf" <<CONF
ClusterName=bm7test
SlurmctldHost=$cluster_host(127.0.0.1)
SlurmctldPort=${ports% *}
SlurmdPort=${ports#* }
SlurmUser=root
AuthType=auth/munge
AuthInfo=socket=$munge_socket
CredType=cred/munge
StateSaveLocation=$cluster_dir/state
SlurmdSpoolDir=$cluster_dir/spool
SlurmctldPidFile=$cluster_dir/slurmctld.pid
SlurmdPidFile=$cluster_dir/slurmd.pid
SlurmctldLogFile=$cluster_dir/slurmctld.log
SlurmdLogFile=$cluster_dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MinJobAge=600
MailProg=/bin/true
SchedulerParameters=batch_sched_delay=0
CommunicationParameters=NoInAddrAny
ReturnToService=2
SlurmdParameters=config_overrides
NodeName=$cluster_host NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$((cpus * 1024)) State=UNKNOWN
PartitionName=test Nodes=$cluster_host Default=YES MaxTime=INFINITE State=UP
CONF
    export SLURM_CONF="$cluster_dir/slurm.conf"

    slurmctld -D >>"$cluster_dir/slurmctld.log" 2>&1 &
    cluster_pids="$! $cluster_pids"
    wait_for "slurmctld" scontrol ping || return 1
    slurmd -D -N "$cluster_host" >>"$cluster_dir/slurmd.log" 2>&1 &
    cluster_pids="$! $cluster_pids"
    wait_for "slurmd" node_is_idle
}

no_jobs_left() {
    [ -z "$(squeue --noheader --format=%i)" ]
}

# Cancels the jobs still queued or running, whose processes would outlive slurmd, then
# stops the daemons, last started first, each by its own pid.
stop_one_node_cluster() {
    if [ -n "$cluster_pids" ] && ! no_jobs_left 2>/dev/null; then
        # shellcheck disable=SC2046 # one word per job id
        scancel $(squeue --noheader --format=%i) 2>/dev/null || true
        wait_for "the end of the cancelled jobs" no_jobs_left || true
    fi
    for pid in $cluster_pids; do
        if kill "$pid" 2>/dev/null; then wait "$pid" 2>/dev/null || true; fi
    done
    cluster_pids=""
}
