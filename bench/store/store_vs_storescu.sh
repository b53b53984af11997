#!/bin/bash
# Times whole runs of fwstore against DCMTK's storescu sending the same files
# to the same storescp (JPEG Baseline accepted, 16384-byte maximum PDU,
# received data not written to disk) on loopback: 200 stills of 640x480 and
# 5 clips of 125 frames, JPEG Baseline. Reports files/s, MB/s and CPU time
# (user + system) and peak memory (maximum resident set size) of both, and the
# ratios.
#
# The receiver's floor: what fwstore sends is recorded once through
# replay_store and replayed as fast as the socket takes it, waiting only for
# storescp's answers; no sender can finish much sooner against this storescp,
# and none sooner than the CPU time storescp itself spends on the store. Then
# storescu once more into a second storescp that accepts the largest PDU DCMTK
# allows (131072 bytes), which shows what the 16 KB PDUs cost the receiver.
#
#   bench/store/store_vs_storescu.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build/release (fwstore, make_store_data and
# replay_store built); the best of RUNS (default 3) wall times is reported,
# with its CPU time and the CPU time storescp spent meanwhile.
# The DCMTK programs get TCP_NODELAY=1: without it Debian's DCMTK waits on
# Nagle's algorithm about 50 ms per object.
set -euo pipefail

build=${1:-build/release}
runs=${2:-3}
fwstore="$build/tools/fwstore/fwstore"
maker="$build/bench/store/make_store_data"
replay="$build/bench/store/replay_store"
for program in "$fwstore" "$maker" "$replay"; do
  [[ -x $program ]] || { echo "missing $program (build it first)" >&2; exit 2; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

echo "making the objects..." >&2
"$maker" "$work/data" 200 5 125

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
# Waits until process $1 listens on port $2.
await_listener() {
  for _ in $(seq 100); do
    ss -ltnpH "sport = :$2" | grep -q "pid=$1," && return 0
    sleep 0.05
  done
  echo "nothing listens on port $2" >&2
  return 1
}
start_storescp() { # port max-pdu log
  TCP_NODELAY=1 storescp +xy --max-pdu "$2" --ignore -aet STORESCP "$1" >"$3" 2>&1 &
  pids+=($!)
  await_listener $! "$1"
}
port=$(free_port)
start_storescp "$port" 16384 "$work/storescp.log"
scp_pid=${pids[-1]}
big_port=$(free_port)
start_storescp "$big_port" 131072 "$work/storescp-131072.log"
big_scp_pid=${pids[-1]}
receiver=$scp_pid

# One timed run: prints "wall cpu peak receiver-cpu" (seconds, seconds, KiB,
# seconds) of the program, to the microsecond (time(1) rounds to 10 ms, which
# is a sixth of a run of 200 stills); fails when the sender did. The peak
# still comes from time(1): a child forked from Python would start with
# Python's resident set. The receiver's CPU time (storescp $receiver, one
# thread) during the run is a floor for the run's wall time that the load on
# the machine does not lower.
timed() {
  python3 - "$work/run.log" "$work/peak.txt" "$receiver" "$@" <<'EOF_PY' || { cat "$work/run.log" >&2; return 1; }
import os, subprocess, sys, time
def run_ns(pid):  # time on a CPU so far, from the scheduler's statistics
    with open("/proc/%s/schedstat" % pid) as f:
        return int(f.read().split()[0])
with open(sys.argv[1], "w") as log:
    receiver_before = run_ns(sys.argv[3])
    start = time.perf_counter()
    child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", sys.argv[2]] + sys.argv[4:],
                             stdout=log, stderr=subprocess.STDOUT)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    time.sleep(0.05)  # the receiver finishes the release after the sender has gone
    receiver = (run_ns(sys.argv[3]) - receiver_before) / 1e9
peak = int(open(sys.argv[2]).read().split()[-1])
print("%.4f %.4f %d %.4f" % (wall, usage.ru_utime + usage.ru_stime, peak, receiver))
sys.exit(0 if os.waitstatus_to_exitcode(status) == 0 else 1)
EOF_PY
}

# Best wall time of the runs, with the CPU times of that run; the highest peak
# memory of all runs.
best() {
  local best_wall= best_cpu= best_receiver= peak=0
  for _ in $(seq "$runs"); do
    read -r wall cpu kib receiver_cpu < <(timed "$@")
    if [[ -z $best_wall ]] || awk -v a="$wall" -v b="$best_wall" 'BEGIN { exit !(a < b) }'; then
      best_wall=$wall best_cpu=$cpu best_receiver=$receiver_cpu
    fi
    ((kib > peak)) && peak=$kib
  done
  echo "$best_wall $best_cpu $peak $best_receiver"
}

report() { # name files bytes wall cpu peak-KiB receiver-cpu
  awk -v n="$1" -v f="$2" -v b="$3" -v w="$4" -v c="$5" -v m="$6" -v r="$7" \
    'BEGIN { printf "%-24s %5d files %8.1f MB  %7.4f s  %8.1f files/s  %7.1f MB/s  cpu %7.4f s  peak %6.1f MiB  receiver cpu %7.4f s\n", n, f, b / 1e6, w, f / w, b / 1e6 / w, c, m / 1024, r }'
}

for set in stills clips; do
  files=("$work/data/$set"/*.dcm)
  bytes=$(cat "${files[@]}" | wc -c)
  read -r fw_wall fw_cpu fw_peak fw_rx < <(best "$fwstore" -aec STORESCP 127.0.0.1 "$port" "${files[@]}")
  read -r dc_wall dc_cpu dc_peak dc_rx < <(best env TCP_NODELAY=1 storescu -xy --max-pdu 16384 -aec STORESCP 127.0.0.1 "$port" "${files[@]}")
  # One recording of fwstore's bytes through the relay, then the replays.
  proxy_port=$(free_port)
  "$replay" record "$proxy_port" 127.0.0.1 "$port" "$work/$set.rec" 2>"$work/record.log" &
  proxy_pid=$!
  pids+=($proxy_pid)
  await_listener "$proxy_pid" "$proxy_port"
  "$fwstore" -aec STORESCP 127.0.0.1 "$proxy_port" "${files[@]}" >"$work/record-fwstore.log" 2>&1 ||
    { cat "$work/record-fwstore.log" >&2; exit 1; }
  wait "$proxy_pid" || { cat "$work/record.log" >&2; exit 1; }
  read -r fl_wall fl_cpu fl_peak fl_rx < <(best "$replay" replay 127.0.0.1 "$port" "$work/$set.rec")
  receiver=$big_scp_pid
  read -r big_wall big_cpu big_peak big_rx < <(best env TCP_NODELAY=1 storescu -xy --max-pdu 131072 -aec STORESCP 127.0.0.1 "$big_port" "${files[@]}")
  receiver=$scp_pid
  report "fwstore $set" "${#files[@]}" "$bytes" "$fw_wall" "$fw_cpu" "$fw_peak" "$fw_rx"
  report "storescu -xy $set" "${#files[@]}" "$bytes" "$dc_wall" "$dc_cpu" "$dc_peak" "$dc_rx"
  report "receiver floor $set" "${#files[@]}" "$bytes" "$fl_wall" "$fl_cpu" "$fl_peak" "$fl_rx"
  report "storescu 128K PDU $set" "${#files[@]}" "$bytes" "$big_wall" "$big_cpu" "$big_peak" "$big_rx"
  awk -v fw="$fw_wall" -v dc="$dc_wall" -v fc="$fw_cpu" -v dcc="$dc_cpu" -v fm="$fw_peak" -v dm="$dc_peak" \
    'BEGIN { printf "%-22s speed fwstore/storescu %.2f, cpu fwstore/storescu %.2f, peak fwstore/storescu %.2f\n", "ratio", dc / fw, fc / dcc, fm / dm }'
  awk -v fw="$fw_wall" -v dc="$dc_wall" -v fl="$fl_wall" \
    'BEGIN { printf "%-22s fwstore %.2fx the floor, storescu %.2fx the floor; the floor is %.2fx as fast as storescu\n", "floor", fw / fl, dc / fl, dc / fl }'
done
