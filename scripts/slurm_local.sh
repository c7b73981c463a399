#!/usr/bin/env bash
# Starts a one-node Slurm cluster on this machine (Debian slurm-wlm and munge), runs the points
# of an amisim sweep plan as a Slurm job array on it, merges them, and stops the daemons.
#   scripts/slurm_local.sh PLAN_DIR
# Needs root (the daemons run as root on a private configuration under a temporary folder;
# the system's own Slurm configuration is not touched). AMISIM names the amisim program
# (default: amisim on the PATH). Exit status: the merge's.
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 PLAN_DIR" >&2
  exit 2
fi
for tool in slurmctld slurmd sbatch sinfo munged; do
  if ! command -v "$tool" > /dev/null; then
    echo "$0: $tool is missing: install the Debian packages slurm-wlm and munge" >&2
    exit 3
  fi
done
here=$(cd "$(dirname "$0")" && pwd)
plan=$(cd "$1" && pwd)
amisim=$(command -v "${AMISIM:-amisim}")
points=$(sed -n 's/^  "points": \([0-9]*\),*$/\1/p' "$plan/plan.json")
[ -n "$points" ] && [ "$points" -ge 1 ] || { echo "$0: $plan/plan.json names no points" >&2; exit 2; }

work=$(mktemp -d /tmp/amisim_slurm.XXXXXX)
node=$(hostname -s)
mkdir -p "$work/state" "$work/spool" "$work/munge"
started_munge=""
cleanup() {
  for pidfile in "$work/slurmd.pid" "$work/slurmctld.pid"; do
    [ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2> /dev/null || true
  done
  [ -n "$started_munge" ] && [ -f "$work/munge/munged.pid" ] &&
    kill "$(cat "$work/munge/munged.pid")" 2> /dev/null || true
  sleep 1
  rm -rf "$work"
}
trap cleanup EXIT

# munge: a private key and socket unless a munged already answers
export MUNGE_SOCKET="$work/munge/munge.socket"
if ! munge -n -S /run/munge/munge.socket.2 > /dev/null 2>&1; then
  dd if=/dev/urandom of="$work/munge/munge.key" bs=1024 count=1 status=none
  chmod 600 "$work/munge/munge.key"
  munged --force --key-file="$work/munge/munge.key" --socket="$MUNGE_SOCKET" \
    --pid-file="$work/munge/munged.pid" --log-file="$work/munge/munged.log" \
    --seed-file="$work/munge/munged.seed"
  started_munge=1
else
  MUNGE_SOCKET=/run/munge/munge.socket.2
fi

cat > "$work/slurm.conf" << CONF
ClusterName=amisimlocal
SlurmctldHost=$node
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$MUNGE_SOCKET
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
SlurmctldPort=16817
SlurmdPort=16818
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
MpiDefault=none
ReturnToService=2
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
NodeName=$node CPUs=$(nproc) State=UNKNOWN
PartitionName=local Nodes=$node Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF="$work/slurm.conf"
slurmctld -f "$SLURM_CONF"
slurmd -f "$SLURM_CONF"
for _ in $(seq 1 30); do
  state=$(sinfo -h -N -o %t 2> /dev/null | head -1 || true)
  [ "$state" = "idle" ] && break
  sleep 1
done
if [ "$state" != "idle" ]; then
  echo "$0: the Slurm node did not come up (state '${state:-none}'); its logs:" >&2
  tail -n 20 "$work/slurmctld.log" "$work/slurmd.log" >&2 || true
  exit 4
fi
echo "slurm: one-node cluster up on $node; submitting $points array tasks"
AMISIM="$amisim" sbatch --wait --quiet --array=0-$((points - 1)) --chdir="$work" \
  --export=ALL "$here/sweep_slurm_array.sh" "$plan" || true
"$amisim" --merge "$plan"
