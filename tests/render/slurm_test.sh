#!/usr/bin/env bash
# The array job script on a real one-node Slurm cluster of its own: munged,
# slurmctld and slurmd started here (no systemd, private socket, ports and
# state folder), a six-row study submitted with one row broken, then checked:
# the five good outputs, the broken task FAILED with its error in its log, a
# second submission that changes nothing, and the same manifest rendered
# locally giving the same pictures.
# Usage: slurm_test.sh QUORVEX_RENDER
# Exit 0 all checks passed, 1 a check failed, 77 Slurm or munge not installed.
# QV_KEEP=1 leaves the temporary folder (configuration, daemon and task logs).
set -uo pipefail
export PATH=$PATH:/usr/sbin:/sbin
render=${1:?usage: slurm_test.sh QUORVEX_RENDER}
here=$(cd "$(dirname "$0")" && pwd)
array_script=$here/../../scripts/slurm/quorvex-render-array.sbatch
# Debian's own python3, the one python3-pil is for (another on PATH may lack it).
python=/usr/bin/python3
[ -x "$python" ] || python=python3

for tool in munged slurmctld slurmd sbatch sinfo scontrol scancel; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (packages slurm-wlm and munge)"
        exit 77
    fi
done
# Whatever Slurm job or cluster this runs under is not the one tested here.
for name in $(compgen -e | grep '^SLURM_'); do unset "$name"; done

tmp=$(mktemp -d /tmp/qv-slurm-test.XXXXXX) || exit 1
export SLURM_CONF=$tmp/slurm.conf
munged_pid="" slurmctld_pid="" slurmd_pid="" show_logs=0 failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# SIGTERM, then SIGKILL after 10 s, for a daemon this script started.
stop() {
    local pid=$1
    kill "$pid" 2>/dev/null || return
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.2
    done
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

# Stops what this script started, newest first, by its own pids only.
cleanup() {
    if [ -n "$slurmctld_pid" ] && kill -0 "$slurmctld_pid" 2>/dev/null; then
        scancel --quiet --user="$(id -un)" 2>/dev/null
    fi
    for pid in $slurmd_pid $slurmctld_pid $munged_pid; do
        stop "$pid"
    done
    if [ "$show_logs" = 1 ]; then
        for log in slurmctld.log slurmctld.console slurmd.log slurmd.console munged.log munged.console; do
            [ -s "$tmp/$log" ] || continue
            echo "--- last lines of $tmp/$log"
            tail -n 15 "$tmp/$log"
        done
    fi
    [ -n "${QV_KEEP:-}" ] || rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Fails the whole test at once when a daemon cannot be brought up.
die() {
    echo "FAIL: $*"
    show_logs=1
    exit 1
}

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
    "$python" -c '
import socket
held = [socket.socket() for _ in range(2)]
for s in held:
    s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in held))'
}

write_conf() {
    local node=$1 ctld_port=$2 d_port=$3 node_line
    # The node as slurmd sees it; RealMemory left out, so a little less free
    # memory at registration cannot drain the node.
    node_line=$(slurmd -C | head -n 1 | sed 's/ RealMemory=[0-9]*//')
    [[ $node_line == NodeName=* ]] || die "slurmd -C printed no node line"
    mkdir -p "$tmp/state" "$tmp/spool"
    cat >"$SLURM_CONF" <<CONF
ClusterName=qvtest
SlurmctldHost=$node
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$ctld_port
SlurmdPort=$d_port
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$tmp/munge.socket
StateSaveLocation=$tmp/state
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/slurmctld.pid
SlurmdPidFile=$tmp/slurmd.pid
SlurmctldLogFile=$tmp/slurmctld.log
SlurmdLogFile=$tmp/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SchedulerType=sched/backfill
MpiDefault=none
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

# Six recordings of 40 Pupil gaze samples each; p04's content is of no
# known format, so its row passes the manifest's checks and fails at render.
write_study() {
    local dir=$1 i
    mkdir -p "$dir"
    for i in 1 2 3 4 5 6; do
        "$python" -c '
import math, sys
i = int(sys.argv[1])
print("gaze_timestamp,world_index,confidence,norm_pos_x,norm_pos_y,base_data")
for k in range(40):
    x = 0.5 + 0.3 * math.cos(0.3 * k + i)
    y = 0.5 + 0.3 * math.sin(0.2 * k * i)
    print(f"{0.004 * k:.3f},{k},0.95,{x:.4f},{y:.4f},\"a b\"")' "$i" >"$dir/p0$i.csv" || die "cannot write p0$i.csv"
    done
    printf 'not a gaze file\n\x01\x02\x03\n' >"$dir/p04.csv"
    {
        printf 'id\tdata\tsize\tsigma\n'
        for i in 1 2 3 4 5 6; do printf 'p0%d\tp0%d.csv\t64x48\t4\n' "$i" "$i"; done
    } >"$dir/study.tsv"
}

# Submits the six rows to out_dir and waits; the job id goes to $job. The
# job's status is sbatch's: for an array, the highest of its tasks'.
submit() {
    local out_dir=$1 status
    job=$(cd "$tmp/run" && QUORVEX_RENDER=$render sbatch --parsable --wait --array=1-6 "$array_script" \
        "$tmp/study/study.tsv" --out-dir "$out_dir")
    status=$?
    job=${job%%;*}
    [[ $job =~ ^[0-9]+$ ]] || die "sbatch printed no job id ('$job')"
    [ "$status" -ne 0 ] || fail "job $job: sbatch --wait exited 0 though row 4 fails"
}

# Every task's state and exit code as scontrol shows them, row 4 FAILED and
# the others COMPLETED; each log holds its row's line, with the given word
# for the good rows.
check_tasks() {
    local job=$1 good_word=$2 i info state code log
    for i in 1 2 3 4 5 6; do
        info=$(scontrol show job "${job}_$i" 2>&1)
        state=$(grep -o 'JobState=[A-Z_]*' <<<"$info" | head -n 1)
        code=$(grep -o ' ExitCode=[0-9]*:[0-9]*' <<<"$info" | head -n 1)
        log=$tmp/run/quorvex-render-${job}_$i.out
        if [ "$i" = 4 ]; then
            [ "$state" = JobState=FAILED ] || fail "job ${job}_4: $state, expected FAILED"
            [[ $code == " ExitCode=0:"* || -z $code ]] && fail "job ${job}_4:$code, expected a nonzero exit code"
            grep -q '^row 4 (p04): failed: .*p04.csv' "$log" 2>/dev/null ||
                fail "$log has no 'row 4 (p04): failed' line: $(head -c 300 "$log" 2>&1)"
        else
            [ "$state" = JobState=COMPLETED ] || fail "job ${job}_$i: $state, expected COMPLETED"
            [ "$code" = " ExitCode=0:0" ] || fail "job ${job}_$i:$code, expected 0:0"
            grep -q "^row $i (p0$i): $good_word" "$log" 2>/dev/null ||
                fail "$log has no 'row $i (p0$i): $good_word' line: $(head -c 300 "$log" 2>&1)"
        fi
    done
}

# Names, sizes, modification times (ns) and digests of a folder's files.
snapshot() {
    (cd "$1" && stat -c '%n %s %y' -- * && sha256sum -- *) 2>&1
}

# The five good rows' pictures in two folders, pixel for pixel: the PNG
# bytes when they match, else the decoded pixels.
same_pictures() {
    local a=$1 b=$2 i
    for i in 1 2 3 5 6; do
        [ -f "$b/p0$i.png" ] || {
            fail "$b/p0$i.png was not rendered"
            continue
        }
        cmp -s "$a/p0$i.png" "$b/p0$i.png" && continue
        "$python" -c '
import sys
from PIL import Image
a, b = (Image.open(p) for p in sys.argv[1:])
sys.exit(a.mode != b.mode or a.size != b.size or a.tobytes() != b.tobytes())' "$a/p0$i.png" "$b/p0$i.png" ||
            fail "p0$i.png: the Slurm and the local render differ in their pixels"
    done
}

start_munge
node=$(hostname -s)
read -r ctld_port d_port <<<"$(free_ports)" || die "no free ports"
write_conf "$node" "$ctld_port" "$d_port"
start_slurm "$node"
echo "${SECONDS}s: cluster up: node $node, ports $ctld_port/$d_port, in $tmp"

write_study "$tmp/study"
mkdir -p "$tmp/run" "$tmp/out" "$tmp/out2"

submit "$tmp/out"
echo "${SECONDS}s: first array: job $job"
for i in 1 2 3 5 6; do
    [ -s "$tmp/out/p0$i.png" ] || fail "row $i: $tmp/out/p0$i.png was not rendered"
done
[ -e "$tmp/out/p04.png" ] && fail "row 4 is broken but $tmp/out/p04.png exists"
check_tasks "$job" rendered
before=$(snapshot "$tmp/out")

# Again: every good row is up to date, the broken one fails once more.
submit "$tmp/out"
echo "${SECONDS}s: second array: job $job"
check_tasks "$job" skipped
after=$(snapshot "$tmp/out")
[ "$before" = "$after" ] || fail "the second array changed the outputs:"$'\n'"$(diff <(echo "$before") <(echo "$after"))"

# The same manifest on this machine's cores gives the same pictures.
local_log=$(env -u SLURM_ARRAY_TASK_ID "$render" batch "$tmp/study/study.tsv" --jobs 2 --out-dir "$tmp/out2" 2>&1)
status=$?
[ "$status" = 1 ] || fail "local batch exited $status, expected 1 (row 4 fails): $local_log"
same_pictures "$tmp/out" "$tmp/out2"

if [ "$failures" -gt 0 ]; then
    show_logs=1
    echo "slurm_test: $failures check(s) failed"
    exit 1
fi
echo "slurm_test: every check passed"
