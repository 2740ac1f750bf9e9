#!/usr/bin/env bash
# A one-node Slurm cluster on this machine for the service's cluster tests, everything under DIR:
#   scripts/slurm-test-cluster.sh start DIR   installs slurm-wlm and munge (scripts/install-deps.sh slurm),
#                                             starts munged, slurmctld and slurmd; prints the line to
#                                             source (DIR/env sets SLURM_CONF)
#   scripts/slurm-test-cluster.sh stop DIR    cancels the cluster's jobs and stops exactly those daemons
# Run as root (the daemons run as root, munged as munge). No system file changes but /etc/munge/munge.key
# when there is none. KX_SLURM_PORT (default 16817) and the next port are the daemons' ports, away from
# the defaults so that a site's own cluster on the machine is left alone.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: $0 start|stop DIR" >&2
  exit 2
}
[ $# -eq 2 ] || usage
action=$1
dir=$2

stop_pid_file() {
  local file=$1
  [ -f "$file" ] || return 0
  local pid
  pid=$(cat "$file")
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid"
  fi
  rm -f "$file"
}

if [ "$action" = stop ]; then
  [ -d "$dir" ] || exit 0
  if [ -f "$dir/slurm.conf" ] && [ -f "$dir/slurmctld.pid" ]; then
    SLURM_CONF="$dir/slurm.conf" scancel --partition=kx 2>/dev/null || true
  fi
  stop_pid_file "$dir/slurmd.pid"
  stop_pid_file "$dir/slurmctld.pid"
  stop_pid_file "$dir/munge/munged.pid"
  echo "slurm-test-cluster: stopped the daemons of $dir"
  exit 0
fi
[ "$action" = start ] || usage
[ "$(id -u)" -eq 0 ] || { echo "slurm-test-cluster: run as root (the daemons run as root)" >&2; exit 1; }

bash scripts/install-deps.sh slurm >/dev/null
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
# munged runs as munge and walks the path to its files.
chmod 755 "$dir"
mkdir -p "$dir/state" "$dir/spool" "$dir/munge"
chown munge:munge "$dir/munge"
chmod 755 "$dir/munge"  # munged wants its socket's directory open to every client

if [ ! -f /etc/munge/munge.key ]; then
  install -d -o munge -g munge -m 700 /etc/munge
  head -c 1024 /dev/urandom >/etc/munge/munge.key
  chown munge:munge /etc/munge/munge.key
  chmod 400 /etc/munge/munge.key
fi
runuser -u munge -- /usr/sbin/munged --socket="$dir/munge/munge.socket" --pid-file="$dir/munge/munged.pid" \
  --log-file="$dir/munge/munged.log" --seed-file="$dir/munge/munged.seed"
munge --socket="$dir/munge/munge.socket" -n | unmunge --socket="$dir/munge/munge.socket" >/dev/null

host=$(hostname -s)
port=${KX_SLURM_PORT:-16817}
memory=$(awk '/MemTotal/ { print int($2 / 1024 * 0.8) }' /proc/meminfo)
cat >"$dir/slurm.conf" <<EOF
ClusterName=kxtest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$dir/munge/munge.socket
CredType=cred/munge
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
MpiDefault=none
SchedulerType=sched/backfill
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
KillWait=2
MinJobAge=300
InactiveLimit=0
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) RealMemory=$memory State=UNKNOWN
PartitionName=kx Nodes=$host Default=YES MaxTime=INFINITE State=UP OverSubscribe=FORCE:8
EOF
echo "export SLURM_CONF=$dir/slurm.conf" >"$dir/env"
export SLURM_CONF="$dir/slurm.conf"
/usr/sbin/slurmctld -f "$SLURM_CONF" -i
/usr/sbin/slurmd -f "$SLURM_CONF"
for _ in $(seq 100); do
  if sinfo -h -o %t 2>/dev/null | grep -qE '^(idle|mix|alloc)'; then
    echo "slurm-test-cluster: node $host is up; . $dir/env"
    exit 0
  fi
  sleep 0.2
done
echo "slurm-test-cluster: the node did not come up; see $dir/slurmctld.log and $dir/slurmd.log" >&2
exit 1
