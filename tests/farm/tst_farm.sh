#!/usr/bin/env bash
# Runs the farm test on a one-node Slurm cluster of its own: its own temporary state folder
# and free ports, so that a cluster a user started is left alone; the cluster is stopped
# whatever happens. Skipped (77) where this machine cannot start Slurm's daemons.
# Usage: tst_farm.sh SOURCE_DIR TEST_PROGRAM
set -uo pipefail
source_dir=$1 test_program=$2

skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "slurmd must run as root to start jobs"
for program in munged slurmctld slurmd sbatch scontrol; do
  command -v "$program" >/dev/null || skip "$program is missing (scripts/install-deps.sh installs slurm-wlm and munge)"
done
[ -r /etc/munge/munge.key ] || skip "there is no munge key (/etc/munge/munge.key)"

TUFTMILL_SLURM_DIR=$(mktemp -d "${TMPDIR:-/tmp}/tuftmill-farm-test.XXXXXX") || exit 1
export TUFTMILL_SLURM_DIR
cluster=$source_dir/scripts/slurm-local.sh
cleanup() {
  bash "$cluster" stop
  rm -rf "$TUFTMILL_SLURM_DIR"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

logs() { tail -n 20 "$TUFTMILL_SLURM_DIR"/*.log "$TUFTMILL_SLURM_DIR"/munge/*.log 2>/dev/null; }
started=$(bash "$cluster" start) || { echo "the local cluster did not start"; logs; exit 1; }
eval "$started" # SLURM_CONF for sbatch
"$test_program" || { status=$?; logs; exit $status; }
