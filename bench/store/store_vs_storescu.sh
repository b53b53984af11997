#!/bin/bash
# Times whole runs of fwstore against DCMTK's storescu sending the same files
# to the same storescp (JPEG Baseline accepted, 16384-byte maximum PDU,
# received data not written to disk) on loopback: 200 stills of 640x480 and
# 5 clips of 125 frames, JPEG Baseline. Reports files/s, MB/s and CPU time
# (user + system) and peak memory (maximum resident set size) of both, and the
# ratios.
#
#   bench/store/store_vs_storescu.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build/release (fwstore and make_store_data built);
# the best of RUNS (default 3) wall times is reported, with its CPU time.
# The DCMTK programs get TCP_NODELAY=1: without it Debian's DCMTK waits on
# Nagle's algorithm about 50 ms per object.
set -euo pipefail

build=${1:-build/release}
runs=${2:-3}
fwstore="$build/tools/fwstore/fwstore"
maker="$build/bench/store/make_store_data"
for program in "$fwstore" "$maker"; do
  [[ -x $program ]] || { echo "missing $program (build it first)" >&2; exit 2; }
done

work=$(mktemp -d)
scp_pid=
cleanup() {
  if [[ -n $scp_pid ]]; then kill "$scp_pid" 2>/dev/null || true; wait "$scp_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "making the objects..." >&2
"$maker" "$work/data" 200 5 125

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
TCP_NODELAY=1 storescp +xy --max-pdu 16384 --ignore -aet STORESCP "$port" >"$work/storescp.log" 2>&1 &
scp_pid=$!
for _ in $(seq 100); do
  ss -ltnpH "sport = :$port" | grep -q "pid=$scp_pid," && break
  sleep 0.05
done

# One timed run: prints "wall cpu peak" (seconds, seconds, KiB); fails when
# the sender did.
timed() {
  local out="$work/time.txt"
  /usr/bin/time -f "%e %U %S %M" -o "$out" "$@" >"$work/run.log" 2>&1 || { cat "$work/run.log" >&2; return 1; }
  awk '{ printf "%s %.3f %s\n", $1, $2 + $3, $4 }' "$out"
}

# Best wall time of the runs, with the CPU time of that run; the highest peak
# memory of all runs.
best() {
  local best_wall= best_cpu= peak=0
  for _ in $(seq "$runs"); do
    read -r wall cpu kib < <(timed "$@")
    if [[ -z $best_wall ]] || awk -v a="$wall" -v b="$best_wall" 'BEGIN { exit !(a < b) }'; then
      best_wall=$wall best_cpu=$cpu
    fi
    ((kib > peak)) && peak=$kib
  done
  echo "$best_wall $best_cpu $peak"
}

report() { # name files bytes wall cpu peak-KiB
  awk -v n="$1" -v f="$2" -v b="$3" -v w="$4" -v c="$5" -v m="$6" \
    'BEGIN { printf "%-22s %5d files %8.1f MB  %7.3f s  %8.1f files/s  %7.1f MB/s  cpu %7.3f s  peak %6.1f MiB\n", n, f, b / 1e6, w, f / w, b / 1e6 / w, c, m / 1024 }'
}

for set in stills clips; do
  files=("$work/data/$set"/*.dcm)
  bytes=$(cat "${files[@]}" | wc -c)
  read -r fw_wall fw_cpu fw_peak < <(best "$fwstore" -aec STORESCP 127.0.0.1 "$port" "${files[@]}")
  read -r dc_wall dc_cpu dc_peak < <(best env TCP_NODELAY=1 storescu -xy --max-pdu 16384 -aec STORESCP 127.0.0.1 "$port" "${files[@]}")
  report "fwstore $set" "${#files[@]}" "$bytes" "$fw_wall" "$fw_cpu" "$fw_peak"
  report "storescu -xy $set" "${#files[@]}" "$bytes" "$dc_wall" "$dc_cpu" "$dc_peak"
  awk -v fw="$fw_wall" -v dc="$dc_wall" -v fc="$fw_cpu" -v dcc="$dc_cpu" -v fm="$fw_peak" -v dm="$dc_peak" \
    'BEGIN { printf "%-22s speed fwstore/storescu %.2f, cpu fwstore/storescu %.2f, peak fwstore/storescu %.2f\n", "ratio", dc / fw, fc / dcc, fm / dm }'
done
