#!/usr/bin/env bash
# The array job script on a real one-node Slurm cluster of its own (munged,
# slurmctld and slurmd started here, private socket, ports and state folder):
# a six-row study with one broken row, submitted twice, then run locally.
# Usage: slurm_test.sh QUORVEX_RENDER. Exit 0 passed, 1 failed, 77 Slurm or
# munge not installed. QV_KEEP=1 leaves the temporary folder and its logs.
set -uo pipefail
export PATH=$PATH:/usr/sbin:/sbin
render=${1:?usage: slurm_test.sh QUORVEX_RENDER}
array_script=$(cd "$(dirname "$0")/../../scripts/slurm" && pwd)/quorvex-render-array.sbatch

for tool in munged slurmctld slurmd sbatch sinfo scontrol scancel; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (slurm-wlm, munge)"; exit 77; }
done
# Whatever Slurm job or cluster this runs under is not the one tested here.
for name in $(compgen -e | grep '^SLURM_'); do unset "$name"; done

tmp=$(mktemp -d /tmp/qv-slurm-test.XXXXXX) || exit 1
export SLURM_CONF=$tmp/slurm.conf
munged_pid="" slurmctld_pid="" slurmd_pid="" show_logs=0 failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Fails the whole test at once, with the daemons' logs.
die() { fail "$@"; show_logs=1; exit 1; }

# SIGTERM, then SIGKILL after 10 s, for a daemon this script started.
stop() {
    kill "$1" 2>/dev/null || return
    timeout 10 tail -s 0.2 --pid="$1" -f /dev/null
    kill -9 "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}

# Stops what this script started, newest first, by its own pids only.
cleanup() {
    kill -0 "$slurmctld_pid" 2>/dev/null && scancel --quiet --user="$(id -un)" 2>/dev/null
    for pid in $slurmd_pid $slurmctld_pid $munged_pid; do stop "$pid"; done
    [ "$show_logs" = 1 ] && tail -n 15 -- "$tmp"/*.log "$tmp"/*.console 2>/dev/null
    [ -n "${QV_KEEP:-}" ] || rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

start_munge() {
    dd if=/dev/urandom of="$tmp/munge.key" bs=1 count=1024 status=none || die "cannot write the munge key"
    chmod 0400 "$tmp/munge.key"
    # -F keeps munged in the foreground, so $! is its own pid. -f: munged wants
    # its socket's folder searchable by all; this one is the private mktemp folder.
    munged -F -f --key-file="$tmp/munge.key" --socket="$tmp/munge.socket" --pid-file="$tmp/munged.pid" \
        --log-file="$tmp/munged.log" --seed-file="$tmp/munged.seed" >"$tmp/munged.console" 2>&1 &
    munged_pid=$!
    for _ in $(seq 50); do
        [ -S "$tmp/munge.socket" ] && return
        kill -0 "$munged_pid" 2>/dev/null || die "munged exited at start"
        sleep 0.2
    done
    die "munged made no socket in 10 s"
}

# Two TCP ports nothing listens on, for the controller and the node daemon.
free_ports() {
    python3 -c 'import socket
held = [socket.socket() for _ in range(2)]
for s in held: s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in held))'
}

write_conf() {
    local node=$1 ctld_port=$2 d_port=$3 node_line
    # The node as slurmd sees it, but for RealMemory: a little less free memory
    # at registration would drain the node.
    node_line=$(slurmd -C | head -n 1 | sed 's/ RealMemory=[0-9]*//')
    [[ $node_line == NodeName=* ]] || die "slurmd -C printed no node line"
    # Only what differs from Slurm's defaults.
    cat >"$SLURM_CONF" <<CONF
ClusterName=qvtest
SlurmctldHost=$node
SlurmctldPort=$ctld_port
SlurmdPort=$d_port
AuthInfo=socket=$tmp/munge.socket
StateSaveLocation=$tmp/state
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/slurmctld.pid
SlurmdPidFile=$tmp/slurmd.pid
SlurmctldLogFile=$tmp/slurmctld.log
SlurmdLogFile=$tmp/slurmd.log
ProctrackType=proctrack/linuxproc
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
# Finished jobs stay visible to scontrol (there is no accounting for sacct).
MinJobAge=600
$node_line
PartitionName=qvtest Nodes=$node Default=YES MaxTime=INFINITE State=UP
CONF
}

start_slurm() {
    local node=$1 state=""
    # In the foreground they log to stderr too: kept apart from the test's own lines.
    slurmctld -D -f "$SLURM_CONF" >"$tmp/slurmctld.console" 2>&1 &
    slurmctld_pid=$!
    slurmd -D -f "$SLURM_CONF" >"$tmp/slurmd.console" 2>&1 &
    slurmd_pid=$!
    for _ in $(seq 120); do
        kill -0 "$slurmctld_pid" 2>/dev/null || die "slurmctld exited at start"
        kill -0 "$slurmd_pid" 2>/dev/null || die "slurmd exited at start"
        state=$(sinfo -h -n "$node" -o %t 2>/dev/null)
        [ "$state" = idle ] && return
        sleep 0.5
    done
    die "node $node not idle after 60 s (state '$state')"
}

# Six recordings of 40 Pupil gaze samples and their manifest; p04 is of no known
# format, so its row passes the manifest's checks and fails at render.
write_study() {
    python3 - "$1" <<'PY' || die "cannot write the study"
import math, sys
d = sys.argv[1]
rows = ["id\tdata\tsize\tsigma"]
for i in range(1, 7):
    rows.append(f"p0{i}\tp0{i}.csv\t64x48\t4")
    with open(f"{d}/p0{i}.csv", "w") as f:
        print("gaze_timestamp,world_index,confidence,norm_pos_x,norm_pos_y,base_data", file=f)
        for k in range(40):
            x, y = 0.5 + 0.3 * math.cos(0.3 * k + i), 0.5 + 0.3 * math.sin(0.2 * k * i)
            print(f"{0.004 * k:.3f},{k},0.95,{x:.4f},{y:.4f},\"a b\"", file=f)
open(f"{d}/p04.csv", "w").write("not a gaze file\n\x01\x02\x03\n")
open(f"{d}/study.tsv", "w").write("\n".join(rows) + "\n")
PY
}

# Submits the six rows to $tmp/out and waits; the job id goes to $job. The
# job's status is sbatch's: for an array, the highest of its tasks'.
submit() {
    local status
    job=$(cd "$tmp/run" && QUORVEX_RENDER=$render sbatch --parsable --wait --array=1-6 "$array_script" \
        "$tmp/study/study.tsv" --out-dir "$tmp/out")
    status=$?
    job=${job%%;*}
    [[ $job =~ ^[0-9]+$ ]] || die "sbatch printed no job id ('$job')"
    [ "$status" -ne 0 ] || fail "job $job: sbatch --wait exited 0 though row 4 fails"
}

# Fails unless the log holds a line matching the pattern.
log_has() { grep -q "$2" "$1" 2>/dev/null || fail "$1 has no line '$2': $(head -c 300 "$1" 2>&1)"; }

# Each task's state and exit code (row 4 FAILED, the others COMPLETED), its
# row's line in its log (the given word for good rows) and picture (none for 4).
check_tasks() {
    local job=$1 good_word=$2 i info state log
    for i in 1 2 3 4 5 6; do
        info=$(scontrol show job "${job}_$i" 2>&1)
        state=$(grep -o 'JobState=[A-Z_]*' <<<"$info" | head -n 1)
        state+=$(grep -o ' ExitCode=[0-9]*:[0-9]*' <<<"$info" | head -n 1)
        log=$tmp/run/quorvex-render-${job}_$i.out
        if [ "$i" = 4 ]; then
            [[ $state == "JobState=FAILED ExitCode="[1-9]* ]] || fail "job ${job}_4: $state, not FAILED, nonzero"
            log_has "$log" '^row 4 (p04): failed: .*p04.csv'
            [ -e "$tmp/out/p04.png" ] && fail "row 4 is broken but $tmp/out/p04.png exists"
        else
            [ "$state" = "JobState=COMPLETED ExitCode=0:0" ] || fail "job ${job}_$i: $state, not COMPLETED, 0:0"
            log_has "$log" "^row $i (p0$i): $good_word"
            [ -s "$tmp/out/p0$i.png" ] || fail "row $i: $tmp/out/p0$i.png was not rendered"
        fi
    done
}

# Names, sizes, modification times (ns) and digests of the outputs.
snapshot() { (cd "$tmp/out" && stat -c '%n %s %y' -- * && sha256sum -- *) 2>&1; }

mkdir -p "$tmp"/{state,spool,study,run,out,out2}
start_munge
node=$(hostname -s)
read -r ctld_port d_port <<<"$(free_ports)" || die "no free ports"
write_conf "$node" "$ctld_port" "$d_port"
start_slurm "$node"
echo "${SECONDS}s: cluster up: node $node, ports $ctld_port/$d_port, in $tmp"

write_study "$tmp/study"

submit
check_tasks "$job" rendered
before=$(snapshot)

# Again: every good row is up to date, the broken one fails once more.
submit
check_tasks "$job" skipped
after=$(snapshot)
[ "$before" = "$after" ] || fail "the second array changed the outputs:"$'\n'"$(diff <(echo "$before") <(echo "$after"))"

# The same manifest on this machine's cores gives the same pictures.
local_log=$(env -u SLURM_ARRAY_TASK_ID "$render" batch "$tmp/study/study.tsv" --jobs 2 --out-dir "$tmp/out2" 2>&1)
status=$?
[ "$status" = 1 ] || fail "local batch exited $status, expected 1 (row 4 fails): $local_log"
# One renderer, one input: the same PNG bytes.
for i in 1 2 3 5 6; do
    cmp -s "$tmp/out/p0$i.png" "$tmp/out2/p0$i.png" || fail "p0$i.png: the local render is missing or differs"
done

[ "$failures" = 0 ] || die "slurm_test: $failures check(s) failed"
echo "slurm_test: every check passed"
