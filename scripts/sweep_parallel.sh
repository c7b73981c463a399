#!/usr/bin/env bash
# Runs the points of an amisim sweep plan through GNU parallel, then merges them.
#   scripts/sweep_parallel.sh PLAN_DIR [parallel options...]
# e.g. on the machines listed in the file nodes (each with amisim and the kit at the same paths
# and PLAN_DIR on a shared file system):
#   scripts/sweep_parallel.sh /shared/plan --sshloginfile nodes
# Points already done are skipped by amisim itself, so the same command resumes a plan.
# AMISIM names the amisim program (default: amisim on the PATH).
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: $0 PLAN_DIR [parallel options...]" >&2
  exit 2
fi
plan=$(cd "$1" && pwd)
shift
amisim=${AMISIM:-amisim}
points=$(sed -n 's/^  "points": \([0-9]*\),*$/\1/p' "$plan/plan.json")
if [ -z "$points" ] || [ "$points" -lt 1 ]; then
  echo "$0: $plan/plan.json names no points" >&2
  exit 2
fi
# a failing point is recorded in its folder; the merge below reports it
parallel --will-cite "$@" "$amisim" --run-point "$plan" {} ::: $(seq 0 $((points - 1))) || true
exec "$amisim" --merge "$plan"
