#!/usr/bin/env bash
# Starts a single-node Slurm of its own (munged, slurmctld and slurmd, as
# root, everything in a temporary folder, on free ports), submits
# docs/cluster's poster array and join scripts to it and compares the poster
# with a one-machine render. Every daemon it starts is stopped by its process
# id when it ends, whatever the outcome.
# Usage: slurm.sh SPIRELL-RENDER
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
docs=$here/../../docs/cluster
RENDER=$(realpath "$1")
source "$here/common.sh"

[ "$(id -u)" = 0 ] || fail "starting munged, slurmctld and slurmd needs root (this runs as $(id -un))"
for program in munged munge slurmctld slurmd; do
    need_program "$program" "munge slurm-wlm"
done
for program in sbatch sinfo scancel; do
    need_program "$program" slurm-wlm
done
need_options --part --join

work=$(mktemp -d)
chmod 755 "$work"
daemons=()
stop_daemons() {
    # Jobs first, so that no job step outlives its slurmd.
    [ ! -e "$work/slurm.conf" ] || timeout 10 scancel --user=root >/dev/null 2>&1 || true
    local pid
    for pid in "${daemons[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${daemons[@]}"; do
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
# What the daemons and jobs said, shown when the test fails.
show_logs() {
    local log
    for log in "$work"/*.log "$work"/jobs/*; do
        [ -e "$log" ] || continue
        echo "--- $log" >&2
        tail -n 20 "$log" >&2
    done
}
finish() {
    local status=$?
    [ "$status" = 0 ] || show_logs
    stop_daemons
    exit "$status"
}
trap finish EXIT

# Two free ports, so that a Slurm already on this machine is left alone.
free_port() {
    local port
    for port in $(shuf -i 20000-40000 -n 200); do
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null &&
            [ "$port" != "${ports[0]:-}" ]; then
            echo "$port"
            return
        fi
    done
    fail "no free port found"
}
ports=()
ports+=("$(free_port)")
ports+=("$(free_port)")

# A MUNGE key of our own, readable by its owner alone, as munged requires.
mkdir -m 755 "$work/munge"
dd if=/dev/urandom of="$work/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$work/munge/munge.key"
socket=$work/munge/munge.socket
munged --foreground --force --socket="$socket" --key-file="$work/munge/munge.key" \
    --pid-file="$work/munge/munged.pid" --log-file="$work/munged.log" \
    --seed-file="$work/munge/munged.seed" 2>>"$work/munged.log" &
daemons+=($!)

wait_for() {
    local what=$1 seconds=$2
    shift 2
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        if ((SECONDS >= deadline)); then
            fail "$what did not come up within $seconds s"
        fi
        sleep 0.2
    done
}
wait_for munged 10 munge --socket="$socket" --no-input

mkdir -m 755 "$work/state" "$work/spool" "$work/jobs"
cat >"$work/slurm.conf" <<CONF
ClusterName=spirelltest
SlurmctldHost=localhost
SlurmctldPort=${ports[0]}
SlurmdPort=${ports[1]}
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
JobAcctGatherType=jobacct_gather/none
MpiDefault=none
ReturnToService=2
NodeName=localhost NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=debug Nodes=localhost Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$work/slurm.conf
slurmctld -D -f "$SLURM_CONF" >>"$work/slurmctld.out.log" 2>&1 &
daemons+=($!)
slurmd -D -N localhost -f "$SLURM_CONF" >>"$work/slurmd.out.log" 2>&1 &
daemons+=($!)
node_idle() {
    [ "$(sinfo --noheader --nodes=localhost --format=%T)" = idle ]
}
wait_for "an idle node in sinfo" 30 node_idle
echo "== Slurm is up: slurmctld on port ${ports[0]}, slurmd on ${ports[1]}"

cd "$work"
export SPIRELL_RENDER=$RENDER
view=(thistle --size 768 --scale 2)
"$RENDER" "${view[@]}" --quiet -o one.png

echo "== a poster as an array of 4 tasks and a join job that waits for them"
array=$(sbatch --parsable --array=0-3 --cpus-per-task=1 --output="$work/jobs/poster-%A_%a.out" \
    "$docs/slurm-poster.sbatch" parts "${view[@]}")
timeout 120 sbatch --wait --dependency="afterok:$array" --output="$work/jobs/join-%j.out" \
    "$docs/slurm-join.sbatch" parts poster.png ||
    fail "the join job failed with status $?"
same_file one.png poster.png

echo "== one part run again by Slurm, then a join with another part missing"
cp parts/part-2.png first-part-2.png
before=$(identity parts/part-2.png)
rm parts/part-0.png
again=$(SPIRELL_PARTS=4 sbatch --parsable --array=2 --cpus-per-task=1 \
    --output="$work/jobs/again-%A_%a.out" "$docs/slurm-poster.sbatch" parts "${view[@]}")
status=0
timeout 120 sbatch --wait --dependency="afterok:$again" --output="$work/jobs/join-%j.out" \
    "$docs/slurm-join.sbatch" parts poster-2.png || status=$?
[ "$(identity parts/part-2.png)" != "$before" ] || fail "Slurm did not run part 2 again"
same_file first-part-2.png parts/part-2.png
[ "$status" = 2 ] || fail "the join with part 0 missing ended with status $status, not 2"
[ ! -e poster-2.png ] || fail "a poster was written without one of its parts"
grep -h "part 0/4" jobs/join-*.out || fail "the join did not name the missing part"
echo "PASS"
