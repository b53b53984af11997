#!/bin/bash
# Times Send of an acquisition (25 stills and 5 clips of 125 frames, 640x480,
# JPEG Baseline) by the session against DCMTK's storescu -xy sending the same
# files to the same storescp (+xy, received data not written) on loopback.
#
#   bench/acquisition/send_vs_storescu.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build/release (send_acquisition built); the best of
# RUNS (default 3) wall times of each side is reported. The DCMTK programs get
# TCP_NODELAY=1: without it Debian's DCMTK waits on Nagle's algorithm about
# 50 ms per object.
set -euo pipefail

build=${1:-build/release}
runs=${2:-3}
sender="$build/bench/acquisition/send_acquisition"
[[ -x $sender ]] || { echo "missing $sender (build it first)" >&2; exit 2; }

work=$(mktemp -d)
scp_pid=
cleanup() {
  if [[ -n $scp_pid ]]; then kill "$scp_pid" 2>/dev/null || true; wait "$scp_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
TCP_NODELAY=1 storescp +xy --ignore -aet STORESCP "$port" >"$work/storescp.log" 2>&1 &
scp_pid=$!
for _ in $(seq 100); do
  ss -ltnpH "sport = :$port" | grep -q "pid=$scp_pid," && break
  sleep 0.05
done

read -r fw_wall bytes files < <("$sender" "$port" "$work" "$runs")

best=
for _ in $(seq "$runs"); do
  /usr/bin/time -f "%e" -o "$work/time.txt" env TCP_NODELAY=1 storescu -xy -aec STORESCP 127.0.0.1 "$port" \
    "$work"/files/*.dcm >"$work/storescu.log" 2>&1 || { cat "$work/storescu.log" >&2; exit 1; }
  wall=$(cat "$work/time.txt")
  if [[ -z $best ]] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$wall; fi
done

awk -v f="$files" -v b="$bytes" -v fw="$fw_wall" -v dc="$best" 'BEGIN {
  printf "session Send      %3d files %7.1f MB  %7.3f s  %7.1f MB/s\n", f, b / 1e6, fw, b / 1e6 / fw
  printf "storescu -xy      %3d files %7.1f MB  %7.3f s  %7.1f MB/s\n", f, b / 1e6, dc, b / 1e6 / dc
  printf "ratio             speed Send/storescu %.2f\n", dc / fw
}'
