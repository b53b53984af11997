#!/usr/bin/env bash
# Times fwconvert against DCMTK's dcmdjpeg, both as whole runs, on the same
# 125-frame 640x480 JPEG baseline clip (colour, every component 1x1 as the
# station writes its clips), converting to explicit VR little endian.
#
#   bench/presentation/convert_vs_dcmdjpeg.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build/release (fwconvert must be built there), RUNS
# to 7; prints the median wall time and peak memory of each tool (GNU time),
# the ratios and the machine's load. The native clip is generated with pydicom and compressed with
# fwconvert itself. decode_floor (built beside fwconvert) gives the floor:
# the bare libjpeg-turbo decode of the same frames on every core, nothing
# written.
set -euo pipefail

build=${1:-build/release}
runs=${2:-7}
fwconvert=$build/tools/fwconvert/fwconvert
floor=$build/bench/presentation/decode_floor
[[ -x $fwconvert ]] || { echo "fwconvert not found in $build" >&2; exit 2; }
[[ -x $floor ]] || { echo "decode_floor not found in $build" >&2; exit 2; }
command -v dcmdjpeg >/dev/null || { echo "dcmdjpeg (dcmtk) not installed" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$work/native.dcm" <<'PY'
import sys
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian

W, H, FRAMES = 640, 480, 125
# One frame of smooth colour ramps with edges and noise, shifted per frame
# like a moving picture.
seed = 4242
row_bytes = []
base = bytearray(W * H * 3)
i = 0
for y in range(H):
    for x in range(W):
        seed = (seed * 1103515245 + 12345) & 0xFFFFFFFF
        n = (seed >> 29) - 4
        edge = ((x // 32 + y // 32) % 5) == 0
        for c in range(3):
            v = (x * 255 // (W - 1) + y * (c + 1)) % 256
            if edge:
                v = 255 - v
            base[i] = min(255, max(0, v + n))
            i += 1
stride = W * 3
frames = bytearray()
for f in range(FRAMES):
    shift = (f * 4 % H) * stride
    frames += base[shift:] + base[:shift]

meta = FileMetaDataset()
meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.77.1.1.1"
meta.MediaStorageSOPInstanceUID = "2.25.739104652811350928774.7.1"
meta.TransferSyntaxUID = ExplicitVRLittleEndian
ds = Dataset()
ds.file_meta = meta
ds.SOPClassUID = meta.MediaStorageSOPClassUID
ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
ds.Modality = "ES"
ds.PatientName = "Bench^Clip"
ds.PatientID = "BENCH1"
ds.SamplesPerPixel = 3
ds.PhotometricInterpretation = "RGB"
ds.PlanarConfiguration = 0
ds.NumberOfFrames = str(FRAMES)
ds.Rows = H
ds.Columns = W
ds.BitsAllocated = 8
ds.BitsStored = 8
ds.HighBit = 7
ds.PixelRepresentation = 0
ds.PixelData = bytes(frames)
ds.is_little_endian = True
ds.is_implicit_VR = False
ds.save_as(sys.argv[1], write_like_original=False)
PY

"$fwconvert" --ts 1.2.840.10008.1.2.4.50 "$work/native.dcm" "$work/clip.dcm"
echo "clip: $(stat -c %s "$work/clip.dcm") bytes, 125 frames 640x480 JPEG baseline"

# Median wall time in ms and median peak resident memory in KiB of RUNS
# runs of the command, as "ms kib" (GNU time's wall clock and maximum
# resident set size).
median_run() {
  local times=() peaks=()
  for ((r = 0; r < runs; r++)); do
    local report
    report=$(mktemp -p "$work")
    /usr/bin/time -v -o "$report" "$@" >/dev/null 2>&1
    times+=($(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; printf "%d", s * 1000}' "$report"))
    peaks+=($(awk -F': ' '/Maximum resident set size/ {print $2}' "$report"))
  done
  local t p
  t=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}')
  p=$(printf '%s\n' "${peaks[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}')
  echo "$t $p"
}

read -r ours ours_kib < <(median_run "$fwconvert" --ts 1.2.840.10008.1.2.1 "$work/clip.dcm" "$work/ours.dcm")
read -r theirs theirs_kib < <(median_run dcmdjpeg "$work/clip.dcm" "$work/theirs.dcm")
read -r bare bare_kib < <(median_run "$floor" "$work/clip.dcm")
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v o="$ours" -v t="$theirs" -v om="$ours_kib" -v tm="$theirs_kib" -v b="$bare" -v bm="$bare_kib" 'BEGIN {
  printf "fwconvert: %d ms (%.2f ms per frame), peak %.1f MiB\n", o, o / 125, om / 1024
  printf "dcmdjpeg:  %d ms (%.2f ms per frame), peak %.1f MiB\n", t, t / 125, tm / 1024
  printf "floor:     %d ms (%.2f ms per frame), peak %.1f MiB (bare libjpeg-turbo decode, every core, no output)\n", b, b / 125, bm / 1024
  printf "dcmdjpeg takes %.2f times the floor; fwconvert %.2f times\n", t / b, o / b
  printf "fwconvert is %.2f times as fast (goal: at least 3) with %.2f times the peak memory (goal: at most 1)\n", t / o, om / tm
}'
