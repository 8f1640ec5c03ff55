#!/usr/bin/env bash
# A one-node Slurm cluster on this machine, for trying farm renders and for the farm test:
#
#   scripts/slurm-local.sh start    munged, slurmctld and slurmd of our own; prints the
#                                   SLURM_CONF line the clients (sbatch, squeue) need
#   scripts/slurm-local.sh status   whether its daemons run, and the node's state
#   scripts/slurm-local.sh stop     ends the daemons by their pid files, removes the state
#
# Runs as root (slurmd starts the jobs as their users). Everything lives in one temporary
# folder, TUFTMILL_SLURM_DIR (default /tmp/tuftmill-slurm-<uid>): slurm.conf, munge's socket,
# state, spool, logs and pid files. The ports are picked free at start, and munged has a
# socket of its own, so a cluster or munged already on the machine is left alone.
# Installs slurm-wlm and munge through scripts/install-deps.sh where they are missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=${TUFTMILL_SLURM_DIR:-${TMPDIR:-/tmp}/tuftmill-slurm-$(id -u)}
conf=$dir/slurm.conf
daemons=(slurmd slurmctld munged) # stopped in this order

say() { echo "slurm-local: $*" >&2; }

pid_of() { # the live process of a pid file, or nothing
  local file=$dir/$1.pid pid
  [ -f "$file" ] || return 1
  pid=$(cat "$file" 2>/dev/null) || return 1
  [[ $pid =~ ^[0-9]+$ ]] && kill -0 "$pid" 2>/dev/null && echo "$pid"
}

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && ! ss -Htln "sport = :$1" | grep -q .; }

free_port() { # a port nothing listens on, other than $1
  local p
  for _ in $(seq 200); do
    p=$((20000 + RANDOM % 30000))
    if [ "$p" != "${1:-}" ] && port_free "$p"; then echo "$p"; return 0; fi
  done
  return 1
}

wait_for() { # wait_for SECONDS COMMAND...: until the command succeeds
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}

node_ready() { sinfo -h -N -o '%t' 2>/dev/null | grep -Eq '^(idle|mix|alloc)'; }

write_conf() {
  local host ctld_port slurmd_port
  host=$(hostname -s)
  ctld_port=$(free_port) || { say "no free port"; return 1; }
  slurmd_port=$(free_port "$ctld_port") || { say "no free port"; return 1; }
  cat >"$conf" <<EOF
# Written by scripts/slurm-local.sh for a one-node cluster on $host.
ClusterName=tuftmill-local
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/munge.socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
MinJobAge=3600
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=local Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
}

start() {
  if [ "$(id -u)" -ne 0 ]; then say "needs root (slurmd starts jobs as their users)"; return 2; fi
  if ! command -v slurmctld >/dev/null || ! command -v munged >/dev/null; then
    bash "$here/install-deps.sh"
  fi
  if [ ! -r /etc/munge/munge.key ]; then say "no munge key in /etc/munge/munge.key"; return 2; fi
  for d in "${daemons[@]}"; do
    if pid_of "$d" >/dev/null; then say "already running in $dir (stop it first)"; return 1; fi
  done
  mkdir -p "$dir"/{state,spool,munge}
  chmod 0755 "$dir"
  chown munge:munge "$dir/munge"
  chmod 0755 "$dir/munge" # clients must reach the socket
  write_conf
  export SLURM_CONF=$conf
  runuser -u munge -- munged --socket="$dir/munge/munge.socket" \
    --pid-file="$dir/munge/munged.pid" --log-file="$dir/munge/munged.log" \
    --seed-file="$dir/munge/munged.seed" --key-file=/etc/munge/munge.key ||
    { say "munged did not start"; stop keep; return 1; }
  # munged writes its pid file in its own folder; the others are found beside it.
  wait_for 10 test -s "$dir/munge/munged.pid" || { say "munged did not start"; stop keep; return 1; }
  ln -sf munge/munged.pid "$dir/munged.pid"
  if ! slurmctld -f "$conf" || ! slurmd -f "$conf"; then
    say "Slurm's daemons did not start; see $dir/slurmctld.log and $dir/slurmd.log"
    stop keep
    return 1
  fi
  if ! wait_for 60 node_ready; then
    say "the node did not come up; see $dir/slurmctld.log and $dir/slurmd.log"
    stop keep
    return 1
  fi
  say "running; for sbatch and squeue:"
  echo "export SLURM_CONF=$conf"
}

no_jobs() { [ -z "$(squeue -h -o %i 2>/dev/null)" ]; }

stop() {
  local pid jobs
  # Jobs still running would outlive the daemons: they are cancelled first.
  if pid_of slurmctld >/dev/null && [ -f "$conf" ]; then
    export SLURM_CONF=$conf
    jobs=$(squeue -h -o %i 2>/dev/null || true)
    if [ -n "$jobs" ]; then
      # shellcheck disable=SC2086 # one job id a word
      scancel $jobs 2>/dev/null || true
      wait_for 30 no_jobs || say "jobs were still running: $(squeue -h -o %i | tr '\n' ' ')"
    fi
  fi
  for d in "${daemons[@]}"; do
    pid=$(pid_of "$d") || continue
    kill "$pid" 2>/dev/null || true
    wait_for 30 bash -c "! kill -0 $pid" || kill -9 "$pid" 2>/dev/null || true
  done
  # Only a folder this script made is removed, and kept with its logs after a failed start.
  if [ "${1:-}" != keep ] && [ -f "$conf" ] && head -1 "$conf" | grep -q 'scripts/slurm-local.sh'; then rm -rf "$dir"; fi
}

status() {
  local running=0
  for d in "${daemons[@]}"; do
    if pid=$(pid_of "$d"); then echo "$d: running ($pid)"; running=$((running + 1)); else echo "$d: stopped"; fi
  done
  if [ $running -eq ${#daemons[@]} ]; then
    echo "export SLURM_CONF=$conf"
    SLURM_CONF=$conf sinfo -N 2>/dev/null || true
    return 0
  fi
  return 3
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  status) status ;;
  *) echo "usage: $0 start|stop|status" >&2; exit 2 ;;
esac
