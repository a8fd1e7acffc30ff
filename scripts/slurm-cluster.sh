#!/usr/bin/env bash
# A one-node Slurm cluster on this machine, for trying the farm scripts under
# a real scheduler: munged, slurmctld and slurmd with a minimal configuration
# of their own (no cgroups, processes tracked through /proc, no task
# binding), so it runs inside a container and as root. Nothing outside the
# state folder is touched: the daemons use their own key, socket, ports and
# spool, and the system's /etc/slurm and /etc/munge are left alone.
#
#   scripts/slurm-cluster.sh run COMMAND [ARG...]   start, run COMMAND with
#                                                  SLURM_CONF set, stop
#   scripts/slurm-cluster.sh start DIR              start with its state in DIR
#   scripts/slurm-cluster.sh stop DIR               stop the daemons of DIR
#
# After `start`, use the cluster with `export SLURM_CONF=DIR/slurm.conf`.
# Needs Debian's slurm-wlm and munge (scripts/install-deps.sh --tests).
set -euo pipefail

usage() {
    sed -n '8,14p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

die() {
    echo "slurm-cluster: $*" >&2
    exit 1
}

# A TCP port on loopback that nothing answers on now, other than $1.
free_port() {
    local port
    for _ in $(seq 100); do
        port=$((20000 + RANDOM % 40000))
        [ "$port" != "${1:-}" ] || continue
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return 0
        fi
    done
    die "no free TCP port found"
}

# Waits up to $2 seconds for the command $1 to succeed.
wait_for() {
    local what=$1 seconds=$2
    for ((i = 0; i < seconds * 5; ++i)); do
        if eval "$what" >/dev/null 2>&1; then return 0; fi
        sleep 0.2
    done
    return 1
}

start() {
    local dir=$1
    for tool in munged slurmctld slurmd sinfo sbatch; do
        command -v "$tool" >/dev/null || die "$tool not found: install slurm-wlm and munge (scripts/install-deps.sh --tests)"
    done
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    [ ! -e "$dir/slurmctld.pid" ] || die "$dir already holds a cluster (stop it first)"
    mkdir -p "$dir/state" "$dir/spool" "$dir/tmp" "$dir/log"
    # munged insists that its key and folders belong to the user running it
    # and are not writable by others.
    chmod 700 "$dir"
    local user host controller_port node_port
    user=$(id -un)
    controller_port=$(free_port)
    node_port=$(free_port "$controller_port")
    host=$(hostname -s)
    dd if=/dev/urandom of="$dir/munge.key" bs=1024 count=1 status=none
    chmod 400 "$dir/munge.key"
    munged --socket="$dir/munge.sock" --key-file="$dir/munge.key" --pid-file="$dir/munged.pid" \
        --log-file="$dir/log/munged.log" --seed-file="$dir/munged.seed" --force ||
        die "munged did not start (see $dir/log/munged.log)"

    : >"$dir/plugstack.conf"
    cat >"$dir/slurm.conf" <<EOF
ClusterName=pennaro
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$controller_port
SlurmdPort=$node_port
SlurmUser=$user
SlurmdUser=$user
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge.sock
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SwitchType=switch/none
MpiDefault=none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/builtin
ReturnToService=2
MailProg=/bin/true
PlugStackConfig=$dir/plugstack.conf
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
TmpFS=$dir/tmp
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
SlurmctldTimeout=30
SlurmdTimeout=30
InactiveLimit=0
KillWait=5
MinJobAge=300
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=local Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
    export SLURM_CONF=$dir/slurm.conf
    slurmctld -f "$SLURM_CONF" -i || die "slurmctld did not start (see $dir/log/slurmctld.log)"
    slurmd -f "$SLURM_CONF" || die "slurmd did not start (see $dir/log/slurmd.log)"
    # The node is usable once the controller has heard from slurmd.
    if ! wait_for '[ "$(sinfo -h -N -o %t)" = idle ]' 60; then
        sinfo -N >&2 || true
        die "the node did not come up within 60 s (logs in $dir/log)"
    fi
}

# Stops one daemon from its pid file: TERM, then KILL after a grace period.
stop_daemon() {
    local pidfile=$1 pid
    [ -s "$pidfile" ] || return 0
    pid=$(cat "$pidfile")
    kill -TERM "$pid" 2>/dev/null || { rm -f "$pidfile"; return 0; }
    wait_for "! kill -0 $pid" 15 || kill -KILL "$pid" 2>/dev/null || true
    rm -f "$pidfile"
}

stop() {
    local dir=$1
    [ -d "$dir" ] || return 0
    if [ -f "$dir/slurm.conf" ] && [ -s "$dir/slurmctld.pid" ]; then
        SLURM_CONF=$dir/slurm.conf scancel --quiet --user "$(id -un)" 2>/dev/null || true
    fi
    stop_daemon "$dir/slurmd.pid"
    stop_daemon "$dir/slurmctld.pid"
    stop_daemon "$dir/munged.pid"
}

[ $# -ge 1 ] || usage
case $1 in
start)
    [ $# -eq 2 ] || usage
    start "$2"
    ;;
stop)
    [ $# -eq 2 ] || usage
    stop "$2"
    ;;
run)
    shift
    [ $# -ge 1 ] || usage
    # The socket path must stay short (sun_path holds 108 bytes).
    state=$(mktemp -d /tmp/pennaro-slurm.XXXXXX)
    trap 'stop "$state"; rm -rf "$state"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    start "$state"
    SLURM_CONF=$state/slurm.conf "$@"
    ;;
*)
    usage
    ;;
esac
