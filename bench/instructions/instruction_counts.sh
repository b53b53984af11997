#!/usr/bin/env bash
# Instruction counts (valgrind --tool=callgrind, event Ir) of the jobs whose
# wall times are too noisy on a shared machine, each beside its reference on
# the same input:
#
#   capture callback     SGCallback::BufferCB on a 1920x1080 frame, against
#                        the bare JPEG encode of the same (filtered) frame
#   read / write         the 40 MB multi-frame file in memory, and the write
#                        to a file on disk, against DCMTK on the same bytes
#                        (system calls are not counted: user space only)
#   convert              fwconvert against dcmdjpeg, whole processes, on one
#                        25-frame 640x480 JPEG Baseline clip to explicit VR
#                        little endian; and on a 5-frame clip, so that the
#                        cost per frame shows without the start-up
#
# The micro-benchmark programs run one iteration each under callgrind with
# collection switched on only inside the measured function; the count is per
# call. Prints one line per job: "NAME IR CALLS".
#
#   bench/instructions/instruction_counts.sh [BUILD_DIR]
set -euo pipefail

build=${1:-build/release}
command -v valgrind >/dev/null || { echo "valgrind is not installed (scripts/install-deps.sh)" >&2; exit 2; }
for program in bench/capture/bench_capture bench/encoding/bench_encoding tools/fwconvert/fwconvert \
  bench/store/make_store_data; do
  [[ -x $build/$program ]] || { echo "missing $build/$program (build it first)" >&2; exit 2; }
done
build=$(cd "$build" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Collected Ir of a callgrind output file and the calls of the functions
# whose names start with the pattern (without its trailing '*'), as "IR CALLS".
counts() { # out-file pattern
  python3 - "$1" "$2" <<'EOF_PY'
import re, sys
path, pattern = sys.argv[1], sys.argv[2].rstrip("*")
names, total, calls, callee = {}, None, 0, None
for line in open(path, errors="replace"):
    if line.startswith("totals:") or (total is None and line.startswith("summary:")):
        total = int(line.split()[1])
    m = re.match(r"c?fn=\((\d+)\)(?: (.*))?", line)
    if m:
        if m.group(2):
            names[m.group(1)] = m.group(2).rstrip("\n")
        callee = names.get(m.group(1), "") if line.startswith("cfn=") else None
        continue
    if line.startswith("calls=") and callee is not None:
        if callee.startswith(pattern):
            calls += int(line.split("=")[1].split()[0])
        callee = None
print(total or 0, calls)
EOF_PY
}

# One micro-benchmark case, one iteration, counted inside function.
micro() { # name program filter function-pattern
  local out=$work/$1.out
  (cd "$work" && TMPDIR=$work valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect="$4" \
    "$build/$2" --benchmark_filter="$3" --benchmark_min_time=0.000000001 >"$work/$1.log" 2>&1) ||
    { tail -5 "$work/$1.log" >&2; return 1; }
  echo "$1 $(counts "$out" "$4")"
}

# A whole process.
whole() { # name command...
  local name=$1 out=$work/$1.out
  shift
  valgrind --tool=callgrind --callgrind-out-file="$out" "$@" >"$work/$name.log" 2>&1 ||
    { tail -5 "$work/$name.log" >&2; return 1; }
  local ir _
  read -r ir _ < <(counts "$out" "")
  echo "$name $ir 1"
}

micro capture_callback bench/capture/bench_capture 'BM_BufferCB/1920/1080$' 'fw::SGCallback::BufferCB(*'
micro turbo_encode bench/capture/bench_capture 'BM_JpegEncodeOnly/1920/1080$' 'fw::JpegEncode8(*'
micro fw_read bench/encoding/bench_encoding 'BM_Fw_Read_Multiframe$' 'fw::DcmObj::ReadFrom(*'
micro dcmtk_read bench/encoding/bench_encoding 'BM_Dcmtk_Read_Multiframe$' 'bench::DcmtkFile::Read(*'
micro fw_write bench/encoding/bench_encoding 'BM_Fw_Write_Multiframe$' 'fw::DcmObj::WriteTo(*'
micro dcmtk_write bench/encoding/bench_encoding 'BM_Dcmtk_Write_Multiframe$' 'bench::DcmtkFile::Write(*'
micro fw_write_file bench/encoding/bench_encoding 'BM_Fw_WriteFile_Multiframe' \
  'fw::DcmObj::Write(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&)'
micro dcmtk_write_file bench/encoding/bench_encoding 'BM_Dcmtk_WriteFile_Multiframe' 'bench::DcmtkFile::WriteFile(*'

for frames in 25 5; do
  "$build/bench/store/make_store_data" "$work/data$frames" 0 1 "$frames" >/dev/null
  clip=$(ls "$work/data$frames"/clips/*.dcm | head -1)
  whole "fwconvert_$frames" "$build/tools/fwconvert/fwconvert" --ts 1.2.840.10008.1.2.1 "$clip" "$work/ours.dcm"
  whole "dcmdjpeg_$frames" dcmdjpeg "$clip" "$work/theirs.dcm"
done
