#!/usr/bin/env bash
# Runs the benchmark suite and writes bench/REPORT.md: every figure beside its
# reference measured in the same run, as a ratio, with the machine's load
# before and after. Wall times on a shared machine are noisy: rerun on a quiet
# one before comparing reports.
#
#   bash bench/report.sh [BUILD_DIR]      (default build/release, Release build)
#
# References: DCMTK (file read/write, dcmdjpeg, storescu -xy with
# TCP_NODELAY=1 into one storescp +xy --max-pdu 16384), a bare libjpeg-turbo
# encode and a memcpy of the frame (capture callback), the file's own size
# (peak memory of sending a 125-frame 1920x1080 clip), fwstore's own bytes
# replayed (the receiver's floor), instruction counts under valgrind's
# callgrind where wall times are noisy.
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/release}
REPORT=bench/REPORT.md

cmake --build "$BUILD" --target bench_encoding bench_capture bench_acquisition_window fwconvert fwstore \
  fwacquire make_store_data replay_store \
  station_memory >/dev/null || { echo "report: build failed" >&2; exit 1; }

work=$(mktemp -d)
scp_pid=
cleanup() {
  if [[ -n $scp_pid ]]; then kill "$scp_pid" 2>/dev/null; wait "$scp_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

load() { cut -d' ' -f1-3 /proc/loadavg; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
# Median real (or CPU) time in ms of one Google Benchmark case from its JSON
# output.
median_ms() { # json, name[, real_time or cpu_time]
  python3 - "$1" "$2" "${3:-real_time}" <<'EOF'
import json, sys
data = json.load(open(sys.argv[1]))
scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
for b in data["benchmarks"]:
    if b.get("run_name") == sys.argv[2] and b.get("aggregate_name") == "median":
        print("%.3f" % (b[sys.argv[3]] * scale[b["time_unit"]]))
        break
else:
    print("n/a")
EOF
}

LOAD_BEFORE=$(load)
echo "load before: $LOAD_BEFORE"
rows=()
row() { rows+=("| $1 | $2 | $3 | $4 | $5 |"); echo "$1: $2 vs $3 -> $4 ($5)"; }

# File read and write of a 40 MB multi-frame file against DCMTK.
# The file-on-disk cases write below the build folder: /tmp may be a RAM
# file system.
mkdir -p "$BUILD/bench/encoding/out"
TMPDIR=$BUILD/bench/encoding/out "$BUILD/bench/encoding/bench_encoding" --benchmark_filter=Multiframe --benchmark_repetitions=7 \
  --benchmark_report_aggregates_only=true --benchmark_format=json >"$work/encoding.json" 2>/dev/null
for op in Read Write; do
  fw=$(median_ms "$work/encoding.json" "BM_Fw_${op}_Multiframe")
  dc=$(median_ms "$work/encoding.json" "BM_Dcmtk_${op}_Multiframe")
  row "$op a 40 MB multi-frame file (in memory)" "$fw ms" "DCMTK $dc ms" "$(ratio "$dc" "$fw")x as fast" "median of 7"
done
# The same write into a file on disk: DcmObj::Write against DCMTK's saveFile.
fw=$(median_ms "$work/encoding.json" "BM_Fw_WriteFile_Multiframe/real_time")
dc=$(median_ms "$work/encoding.json" "BM_Dcmtk_WriteFile_Multiframe/real_time")
fw_cpu=$(median_ms "$work/encoding.json" "BM_Fw_WriteFile_Multiframe/real_time" cpu_time)
dc_cpu=$(median_ms "$work/encoding.json" "BM_Dcmtk_WriteFile_Multiframe/real_time" cpu_time)
row "Write a 40 MB multi-frame file to disk" "$fw ms, cpu $fw_cpu ms" "DCMTK saveFile $dc ms, cpu $dc_cpu ms" \
  "$(ratio "$dc" "$fw")x as fast, $(ratio "$fw_cpu" "$dc_cpu")x the CPU" "median of 7; page cache, no sync"

# Conversion of a 125-frame 640x480 JPEG Baseline clip to explicit VR little endian.
bash bench/presentation/convert_vs_dcmdjpeg.sh "$BUILD" 5 >"$work/convert.txt" 2>&1
fw_ms=$(sed -nE 's/^fwconvert: ([0-9.]+) ms.*peak ([0-9.]+) MiB.*/\1/p' "$work/convert.txt")
fw_mib=$(sed -nE 's/^fwconvert: ([0-9.]+) ms.*peak ([0-9.]+) MiB.*/\2/p' "$work/convert.txt")
dc_ms=$(sed -nE 's/^dcmdjpeg: +([0-9.]+) ms.*peak ([0-9.]+) MiB.*/\1/p' "$work/convert.txt")
dc_mib=$(sed -nE 's/^dcmdjpeg: +([0-9.]+) ms.*peak ([0-9.]+) MiB.*/\2/p' "$work/convert.txt")
row "Convert a 125-frame clip (fwconvert)" "$fw_ms ms, peak $fw_mib MiB" "dcmdjpeg $dc_ms ms, peak $dc_mib MiB" \
  "$(ratio "$dc_ms" "$fw_ms")x as fast, $(ratio "$fw_mib" "$dc_mib")x the memory" "median of 5 whole runs"

# Store of 200 stills and of 5 clips against storescu, and both against the
# receiver's floor: fwstore's own bytes replayed with no work besides the
# socket's, into the same storescp.
bash bench/store/store_vs_storescu.sh "$BUILD" 5 >"$work/store.txt" 2>&1
store_field() { # line field: wall, cpu or peak
  case $2 in
  wall) echo "$1" | sed -nE 's/.* ([0-9.]+) s +[0-9.]+ files\/s.*/\1/p' ;;
  cpu) echo "$1" | sed -nE 's/.* MB\/s +cpu +([0-9.]+) s.*/\1/p' ;;
  receiver) echo "$1" | sed -nE 's/.*receiver cpu +([0-9.]+) s.*/\1/p' ;;
  peak) echo "$1" | sed -nE 's/.*peak +([0-9.]+) MiB.*/\1/p' ;;
  esac
}
for set in stills clips; do
  fw=$(grep -E "^fwstore +$set" "$work/store.txt")
  dc=$(grep -E "^storescu -xy +$set" "$work/store.txt")
  fl=$(grep -E "^receiver floor +$set" "$work/store.txt")
  big=$(grep -E "^storescu 128K PDU +$set" "$work/store.txt")
  fw_s=$(store_field "$fw" wall) dc_s=$(store_field "$dc" wall) fl_s=$(store_field "$fl" wall) big_s=$(store_field "$big" wall)
  fw_cpu=$(store_field "$fw" cpu) dc_cpu=$(store_field "$dc" cpu) fl_cpu=$(store_field "$fl" cpu)
  big_cpu=$(store_field "$big" cpu) fl_rx=$(store_field "$fl" receiver)
  fw_pk=$(store_field "$fw" peak) dc_pk=$(store_field "$dc" peak)
  row "Store $set (fwstore)" "$fw_s s, cpu $fw_cpu s, peak $fw_pk MiB" "storescu -xy $dc_s s, cpu $dc_cpu s, peak $dc_pk MiB" \
    "$(ratio "$dc_s" "$fw_s")x as fast, $(ratio "$fw_cpu" "$dc_cpu")x the CPU, $(ratio "$fw_pk" "$dc_pk")x the memory" "best of 5 whole runs"
  row "Store $set: receiver floor" "fwstore $(ratio "$fw_s" "$fl_s")x the floor; storescu -xy $(ratio "$dc_s" "$fl_s")x the floor" \
    "replay of fwstore's bytes $fl_s s, cpu $fl_cpu s; storescp's own CPU in it $fl_rx s" \
    "best possible: $(ratio "$dc_s" "$fl_s")x as fast as storescu$(awk -v d="$dc_s" -v f="$fl_s" \
      'BEGIN { if (f > 0 && d / f < 1.2) printf ", so 1.2x is out of reach here" }')" \
    "best of 5; same storescp (its CPU time bounds any sender's wall time)"
  row "Store $set: storescu, 128 KiB PDUs" "storescu -xy $big_s s, cpu $big_cpu s" "storescu -xy, 16 KiB PDUs, $dc_s s" \
    "$(ratio "$dc_s" "$big_s")x as fast" "storescp --max-pdu 131072; best of 5"
done

# The capture callback per 1920x1080 frame.
"$BUILD/bench/capture/bench_capture" --benchmark_filter='(BufferCB|JpegEncodeOnly|FrameCopy)/1920/1080' \
  --benchmark_repetitions=7 --benchmark_report_aggregates_only=true --benchmark_format=json >"$work/capture.json" 2>/dev/null
cb=$(median_ms "$work/capture.json" "BM_BufferCB/1920/1080")
enc=$(median_ms "$work/capture.json" "BM_JpegEncodeOnly/1920/1080")
cp=$(median_ms "$work/capture.json" "BM_FrameCopy/1920/1080")
row "Capture callback, 1920x1080 frame" "$cb ms" "bare turbo encode $enc ms; memcpy $cp ms" "$(ratio "$cb" "$enc")x the encode" "median of 7"

# Thumbnail strip refresh after the 30th object.
"$BUILD/bench/acquisition_window/bench_acquisition_window" --benchmark_filter='RefreshAfter30thObject|FullRedecode30Objects' \
  --benchmark_format=json >"$work/strip.json" 2>/dev/null
strip=$(python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(" ".join("%.1f" % b["real_time"] for b in d["benchmarks"]))' "$work/strip.json" 2>/dev/null)
refresh=${strip%% *}; redecode=${strip##* }
row "Thumbnail refresh after the 30th object" "$refresh ms" "full re-decode $redecode ms" "$(ratio "$redecode" "$refresh")x as fast" "QT offscreen"

# The station's memory after 30 objects: the acquisition window offscreen on
# a live 1920x1080 test source, 5 stills and a 4-5 s clip, five times.
if "$BUILD/bench/acquisition_window/station_memory" >"$work/memory.txt" 2>&1; then
  summary=$(grep '^after ' "$work/memory.txt")
  field() { echo "$summary" | sed -nE "s/.*$1 ([0-9.]+) MiB.*/\1/p"; }
  hwm=$(field VmHWM) rss=$(field 'VmHWM [0-9.]+ MiB, VmRSS') files=$(field files) largest=$(field largest)
  opened=$(field 'first object VmRSS')
  row "Station memory after 30 objects (25 stills, 5 clips, 1080p)" "VmHWM $hwm MiB, VmRSS $rss MiB" \
    "window open before the first object: VmRSS $opened MiB; files $files MiB, largest $largest MiB" \
    "+$(awk -v a="$rss" -v b="$opened" 'BEGIN { printf "%.1f", a - b }') MiB resident for 30 objects" \
    "acquisition window offscreen, one run"
else
  row "Station memory after 30 objects" "n/a" "n/a" "n/a" "station_memory failed: $(tail -1 "$work/memory.txt")"
fi

# Peak memory of sending one 125-frame 1920x1080 clip, against its file size.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/rx" "$work/clip" "$work/home"
TCP_NODELAY=1 storescp +xy --max-pdu 16384 --ignore -aet STORESCP "$port" >"$work/storescp.log" 2>&1 &
scp_pid=$!
for _ in $(seq 100); do ss -ltnpH "sport = :$port" | grep -q "pid=$scp_pid," && break; sleep 0.05; done
FRAMEWELL_HOME=$work/home "$BUILD/tools/fwacquire/fwacquire" --source "videotestsrc is-live=true pattern=ball" \
  --size 1920x1080 --stills 0 --clips 1 --patient-id BENCH --name BENCH^CLIP --keep "$work/clip" \
  -aec STORESCP 127.0.0.1 "$port" >"$work/acquire.log" 2>&1
clip=$(ls "$work"/clip/*.dcm 2>/dev/null | head -1)
if [[ -n $clip ]]; then
  /usr/bin/time -f "%M" -o "$work/peak.txt" "$BUILD/tools/fwstore/fwstore" -aec STORESCP 127.0.0.1 "$port" "$clip" \
    >"$work/fwstore.log" 2>&1
  peak_kib=$(tail -1 "$work/peak.txt")
  size=$(stat -c %s "$clip")
  frames=$(dcmdump +P 0028,0008 "$clip" 2>/dev/null | sed -nE 's/.*IS \[([0-9]+)\].*/\1/p')
  row "Peak memory sending one 1920x1080 clip ($frames frames)" "$(awk -v k="$peak_kib" 'BEGIN { printf "%.1f MiB", k / 1024 }')" \
    "file $(awk -v s="$size" 'BEGIN { printf "%.1f MiB", s / 1048576 }')" \
    "file + $(awk -v k="$peak_kib" -v s="$size" 'BEGIN { printf "%.1f MiB", k / 1024 - s / 1048576 }')" "fwstore, one run"
else
  row "Peak memory sending one 1920x1080 clip" "n/a" "n/a" "n/a" "fwacquire made no clip: $(tail -1 "$work/acquire.log")"
fi

# Instruction counts (callgrind, Ir) where wall times on a shared machine are
# noisy: the same jobs on the same inputs, counted instead of timed.
if bash bench/instructions/instruction_counts.sh "$BUILD" >"$work/ir.txt" 2>"$work/ir.log"; then
  ir() { awk -v n="$1" '$1 == n && $3 > 0 { m = $2 / $3 / 1e6; printf(m < 10 ? "%.3f" : "%.1f", m) }' "$work/ir.txt"; }
  ir_row() { # job ours reference reference-name comparison how
    local a b
    a=$(ir "$2") b=$(ir "$3")
    row "$1 (instructions)" "$a M Ir" "$4 $b M Ir" "$(ratio "$a" "$b")x $5" "$6"
  }
  ir_row "Capture callback, 1920x1080 frame" capture_callback turbo_encode "bare turbo encode" "the encode's" \
    "callgrind, one call each"
  ir_row "Read a 40 MB multi-frame file (in memory)" fw_read dcmtk_read "DCMTK" "DCMTK's" "callgrind, per call"
  ir_row "Write a 40 MB multi-frame file (in memory)" fw_write dcmtk_write "DCMTK" "DCMTK's" "callgrind, per call"
  ir_row "Write a 40 MB multi-frame file to disk" fw_write_file dcmtk_write_file "DCMTK saveFile" "DCMTK's" \
    "callgrind, user space only: the kernel's copy is not counted"
  ir_row "Convert a 25-frame 640x480 clip" fwconvert_25 dcmdjpeg_25 "dcmdjpeg" "dcmdjpeg's" \
    "callgrind, whole processes, all threads"
  # Per frame: the difference between the 25- and the 5-frame clip, start-up
  # and the file's fixed costs left out.
  frame_ir() { awk -v a="$1_25" -v b="$1_5" '$1 == a { x = $2 } $1 == b { y = $2 } END { printf "%.2f", (x - y) / 20 / 1e6 }' \
    "$work/ir.txt"; }
  fw_frame=$(frame_ir fwconvert) dc_frame=$(frame_ir dcmdjpeg)
  row "Convert, per 640x480 frame (instructions)" "$fw_frame M Ir" "dcmdjpeg $dc_frame M Ir" \
    "$(ratio "$fw_frame" "$dc_frame")x dcmdjpeg's" "callgrind, (25-frame run - 5-frame run) / 20"
else
  row "Instruction counts" "n/a" "n/a" "n/a" "instruction_counts.sh failed: $(tail -1 "$work/ir.log")"
fi

LOAD_AFTER=$(load)
{
  echo "# Benchmark report"
  echo
  echo "Written by \`bash bench/report.sh\` on $(date -u +%Y-%m-%dT%H:%MZ), $(nproc) cores,"
  echo "load average (1, 5, 15 min) $LOAD_BEFORE before and $LOAD_AFTER after."
  echo "Ratios compare with the reference measured in the same run."
  echo
  echo "| job | Framewell | reference | ratio | how |"
  echo "|---|---|---|---|---|"
  printf '%s\n' "${rows[@]}"
  echo
  echo "Rows marked (instructions) count instructions executed (valgrind --tool=callgrind, Ir) instead"
  echo "of timing: they do not move with the machine's load. A receiver floor row replays the bytes"
  echo "fwstore sent into the same storescp with no work of the sender's own; no sender can beat it."
} >"$REPORT"
echo "report: $REPORT"
