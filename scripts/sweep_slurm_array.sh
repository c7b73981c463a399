#!/usr/bin/env bash
# One Slurm array task per point of an amisim sweep plan:
#   sbatch --array=0-$((POINTS - 1)) scripts/sweep_slurm_array.sh PLAN_DIR
# then, once the array is done:
#   amisim --merge PLAN_DIR
# PLAN_DIR must be on a file system every node sees; AMISIM names the amisim program there
# (default: amisim on the PATH). A task whose point is done already exits at once, so the
# array can be submitted again to finish a plan after a node was lost.
#SBATCH --job-name=amisim-sweep
#SBATCH --ntasks=1
#SBATCH --cpus-per-task=1
#SBATCH --output=slurm-%A_%a.out
set -euo pipefail
if [ $# -ne 1 ] || [ -z "${SLURM_ARRAY_TASK_ID:-}" ]; then
  echo "usage: sbatch --array=0-N $0 PLAN_DIR" >&2
  exit 2
fi
exec "${AMISIM:-amisim}" --run-point "$1" "$SLURM_ARRAY_TASK_ID"
