#!/usr/bin/env bash
# Starts a two-node Slurm cluster on this machine, in a network namespace of its own with only
# loopback, and runs the farm program through it: srun on both nodes, the score-gating health
# check both ways, tiers as node features, a failed node; then the same fan-out through pdsh and
# ClusterShell. Everything lives in one temporary folder and is stopped on every way out.
set -eEuo pipefail
trap 'echo "test-farm-engines.sh: \"$BASH_COMMAND\" failed (line $LINENO, status $?)" >&2' ERR
cd "$(dirname "$0")/.."
build=${1:-build-test}
if [ "$(id -u)" -ne 0 ]; then
  echo "engines test skipped: the daemons and the network namespace need root"
  exit 0
fi
missing=()
for program in ip unshare munged slurmctld slurmd sinfo srun scontrol pdsh clush python3 dpkg cpack; do
  command -v "$program" >/dev/null || missing+=("$program")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "engines test: missing ${missing[*]} (bash scripts/install-deps.sh test installs them)" >&2
  exit 1
fi
[ -f "$build/CMakeCache.txt" ] || { echo "engines test: $build is not a configured build folder" >&2; exit 1; }
[ -n "${PS_ENGINES_NAMESPACE:-}" ] || PS_ENGINES_NAMESPACE=1 exec unshare -n -- bash "$0" "$build"
started=$SECONDS
ip link set lo up
work=$(mktemp -d)
chmod 755 "$work"  # munged wants its socket's folder readable by all
daemons=()

# The daemons' own words: their logs and what they printed before opening them.
daemon_logs() {
  local log
  for log in "$work"/slurmctld.log "$work"/slurmctld.out "$work"/slurmd-*.log "$work"/slurmd-*.out "$work"/munge/log; do
    [ -s "$log" ] || continue
    echo "--- last lines of ${log#"$work"/}" >&2
    tail -n 25 "$log" >&2
  done
}
stop() {
  local status=$? pid tries left
  [ $status -eq 0 ] || daemon_logs
  for pid in "${daemons[@]}"; do kill "$pid" 2>/dev/null || true; done
  for tries in $(seq 300); do  # guards against a hang only
    left=0
    for pid in "${daemons[@]}"; do [ -d "/proc/$pid" ] && left=1; done
    [ $left -eq 0 ] && break
    sleep 0.1
  done
  # Anything else in this namespace was started here (job steps, fan-out children).
  for pid in /proc/[0-9]*; do
    pid=${pid#/proc/}
    [ "$pid" != $$ ] && [ "/proc/$pid/ns/net" -ef /proc/$$/ns/net ] || continue
    echo >&2 "left running, killed: $pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"
    kill -9 "$pid" 2>/dev/null || true
    status=1
  done
  rm -rf "$work"
  exit $status
}
trap stop EXIT
trap 'exit 1' INT TERM
fail() { echo "$*" >&2; exit 1; }
quiet() {  # command...: its output is shown only when it fails
  "$@" >"$work/command.log" 2>&1 || { cat "$work/command.log" >&2; fail "failed: $*"; }
}

# The package's own files, unpacked here as scripts/test-package.sh does.
cmake --build "$build" -j2 --target DirUrarovavu packaging_files >/dev/null
(cd "$build" && quiet cpack -G DEB)
root=$work/root
dpkg -x "$build/dirurarovavu_$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")_amd64.deb" "$root"
farm=$root/usr/bin/dirurarovavu-farm
healthcheck=$root/usr/share/dirurarovavu/slurm/healthcheck

# munge, with all its files here
mkdir -m 700 "$work/munge"
head -c 1024 /dev/urandom >"$work/munge/key"
chmod 400 "$work/munge/key"
munged --force --socket="$work/munge.socket" --key-file="$work/munge/key" --pid-file="$work/munge/pid" \
  --log-file="$work/munge/log" --seed-file="$work/munge/seed"
daemons+=("$(cat "$work/munge/pid")")

export SLURM_CONF=$work/slurm.conf
mkdir -p "$work/state" "$work/spool" "$work/gate" "$work/results"
cat >"$SLURM_CONF" <<CONF
ClusterName=psfarm
SlurmctldHost=localhost
SlurmctldPort=6817
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$work/munge.socket
CommunicationParameters=EnableIPv6
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
SlurmdParameters=config_overrides
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool/%n
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd-%n.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd-%n.log
HealthCheckProgram=$work/healthcheck
HealthCheckInterval=3600
NodeName=node1 NodeAddr=127.0.0.1 Port=6818 CPUs=2 State=UNKNOWN
NodeName=node2 NodeAddr=127.0.0.1 Port=6819 CPUs=2 State=UNKNOWN
PartitionName=farm Nodes=node1,node2 Default=YES MaxTime=INFINITE State=UP
CONF

# slurmd loads a cgroup plugin even with the plugins above. Its autodetection takes the mount on
# /sys/fs/cgroup: a cgroup2 mount there beside v1 hierarchies elsewhere (a container or chroot on a
# hybrid host) makes it pick v2, which then refuses ("Hybrid mode is not supported"). The kernel's
# list of this process's hierarchies decides instead: v2 only where no v1 hierarchy exists. No
# systemd manages this test's daemons, so the v2 plugin must not ask one for a scope.
cgroup_plugin=cgroup/v2
! grep -qv '^0::' /proc/self/cgroup || cgroup_plugin=cgroup/v1
printf '%s\n' "CgroupPlugin=$cgroup_plugin" IgnoreSystemd=yes >"$work/cgroup.conf"

# slurmd runs the health check with no PATH and no SLURM_CONF; this wrapper only picks each
# node's settings, so that the two nodes of one machine can be held to different bars.
cat >"$work/healthcheck" <<WRAPPER
#!/bin/sh
PS_HEALTHCHECK_CONF=$work/gate/\$SLURMD_NODENAME.conf exec $healthcheck
WRAPPER
chmod +x "$work/healthcheck"
settings() {  # node, settings lines...
  local node=$1
  shift
  printf '%s\n' "FARM=$farm" "SLURM_CONF=$SLURM_CONF" "OUT=$work/gate" "$@" >"$work/gate/$node.conf"
}
settings node1 MIN_SCORE=0 TIERS=A:0
settings node2 MIN_SCORE=0 TIERS=A:1e9,B:0

slurmctld -D -i >"$work/slurmctld.out" 2>&1 &
daemons+=($!)
for node in node1 node2; do
  slurmd -D -N "$node" >"$work/slurmd-$node.out" 2>&1 &
  daemons+=($!)
done
state() { sinfo -h -N -n "$1" -o %T; }
wait_state() {  # node, state; the limit only guards against a hang
  local tries
  for tries in $(seq 600); do
    [ "$(state "$1")" = "$2" ] && return
    sleep 0.25
  done
  sinfo -R >&2
  fail "$1 is $(state "$1"), not $2"
}
features() { sinfo -h -N -n "$1" -o %f; }
lands() {  # feature -> the node srun runs on
  srun -C "$1" -N1 sh -c 'echo $SLURMD_NODENAME'
}
collected() {  # folder -> the farm table, which must have a row for both nodes
  local table
  table=$("$farm" collect "$1" 2>&1) || true
  grep -qw node1 <<<"$table" && grep -qw node2 <<<"$table" || fail "no row for both nodes in: $table"
  echo "$table"
}
score() { python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["ps_result"])' "$1"; }

fake_farm() {  # name, body of the benchmark's stand-in: a farm program that runs it
  mkdir "$work/$1"
  # A link: the farm program finds its library through it and the stand-in beside it.
  ln -s "$farm" "$work/$1/"
  printf '#!/bin/sh\n%s\n' "$2" >"$work/$1/DirUrarovavu"
  chmod +x "$work/$1/DirUrarovavu"
}
health() {  # node, settings lines...: the check as slurmd runs it, with no PATH and no SLURM_CONF
  settings "$@"
  env -i SLURMD_NODENAME="$1" "$work/healthcheck"
}

# At start slurmd runs the health check before registering; both nodes reach their bar and tier.
wait_state node1 idle
wait_state node2 idle
echo "slurm up, the health check run by slurmd: $((SECONDS - started)) s"
[ "$(features node1)" = A ] && [ "$(lands A)" = node1 ] || fail "feature A is not node1's alone"
[ "$(features node2)" = B ] && [ "$(lands B)" = node2 ] || fail "feature B is not node2's alone"

quiet srun -N2 --ntasks-per-node=1 --exclusive sh -c \
  "exec '$farm' run --test SingleSpeed --out '$work/results' --host \$SLURMD_NODENAME >'$work/'\$SLURMD_NODENAME.out"
table=$(collected "$work/results")
echo "$table"
! grep -q FAILED <<<"$table" || fail "a node failed under srun"
echo "srun on both nodes: $((SECONDS - started)) s"

# The checks below replay node1's output: the benchmark itself has been run above.
fake_farm replay "cat '$work/node1.out'"
fake_farm broken 'echo "no benchmark here"; exit 3'
health node1 FARM="$work/replay/dirurarovavu-farm" MIN_SCORE=1e9
wait_state node1 drained
sinfo -R -o '%30E %9u %19H %N'
drained=$(sinfo -R -h -n node1 -o %E)
[ "$drained" = "PS $(score "$work/results/node1.json") below 1e9" ] || fail "node1 drained for: $drained"
[ "$(state node2)" = idle ] || fail "node2 is $(state node2) after node1 was drained"
health node1 FARM="$work/replay/dirurarovavu-farm" MIN_SCORE=1
wait_state node1 idle
# A drain of someone else's stays; of the features only the tier is the check's.
scontrol update nodename=node1 state=drain reason=maintenance availablefeatures=gpu,A activefeatures=gpu,A
health node1 FARM="$work/replay/dirurarovavu-farm" MIN_SCORE=1 TIERS=A:1e9,C:0
[ "$(sinfo -R -h -n node1 -o %E)" = maintenance ] && [ "$(features node1)" = gpu,C ] ||
  fail "node1: $(sinfo -R -h -n node1 -o %E), features $(features node1)"
# A failure on it is appended to that reason, and taken off again when the node passes.
health node1 FARM="$work/broken/dirurarovavu-farm" MIN_SCORE=1
[ "$(sinfo -R -h -n node1 -o %E)" = "maintenance; PS benchmark failed" ] || fail "node1: $(sinfo -R -h -n node1 -o %E)"
health node1 FARM="$work/replay/dirurarovavu-farm" MIN_SCORE=1
[ "$(sinfo -R -h -n node1 -o %E)" = maintenance ] || fail "node1: $(sinfo -R -h -n node1 -o %E)"
scontrol update nodename=node1 state=resume
# A typo in the settings drains nothing: the check says why and exits with 2.
status=0
health node2 FARM="$work/replay/dirurarovavu-farm" "MIN_SCORE=15O  # the bar" 2>"$work/refused" || status=$?
[ $status -eq 2 ] && grep -q 'MIN_SCORE=15O: not a number' "$work/refused" && [ "$(state node2)" = idle ] ||
  fail "node2 with MIN_SCORE=15O: exit code $status, $(state node2), $(cat "$work/refused")"
wait_state node1 idle

# A benchmark that fails on node2 drains node2 alone, and its record says so.
health node2 FARM="$work/broken/dirurarovavu-farm" MIN_SCORE=0
wait_state node2 drained
[ "$(state node1)" = idle ] || fail "node1 is $(state node1) after node2 failed"
[ "$(sinfo -R -h -n node2 -o %E)" = "PS benchmark failed" ] || fail "node2 drained for: $(sinfo -R -h -n node2 -o %E)"
table=$(collected "$work/gate")
grep -w node2 <<<"$table" | grep -q FAILED && ! grep -w node1 <<<"$table" | grep -q FAILED ||
  fail "node2 alone should be FAILED in: $table"

# A program that writes no record: node1's last one, a pass, must not stand in for it.
health node1 FARM="$work/broken/DirUrarovavu"
wait_state node1 drained
scontrol update nodename=node1,node2 state=resume
wait_state node1 idle
wait_state node2 idle

# Fan-out from here to each node through srun, as a farm without ssh would.
for fanout in pdsh clush; do
  quiet $fanout -S -R exec -w node1,node2 srun -N1 -w %h "$work/replay/dirurarovavu-farm" run --test SingleSpeed \
    --out "$work/$fanout" --host %h
  collected "$work/$fanout" >/dev/null
done
# -S is what makes one failed host fail the fan-out.
! pdsh -S -R exec -w node1,node2 test %h = node1 2>/dev/null || fail "pdsh -S hid a failed host"
! clush -S -R exec -w node1,node2 test %h = node1 2>/dev/null || fail "clush -S hid a failed host"
echo "slurm, pdsh and clush checks: $((SECONDS - started)) s"
