#!/usr/bin/env bash
# Times fwconvert against DCMTK's dcmdjpeg, both as whole runs, on the same
# 125-frame 640x480 JPEG baseline clip (colour, every component 1x1 as the
# station writes its clips), converting to explicit VR little endian.
#
#   bench/presentation/convert_vs_dcmdjpeg.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build/release (fwconvert must be built there), RUNS
# to 5; prints the median wall time of each tool, per run and per frame, and
# the ratio. The native clip is generated with pydicom and compressed with
# fwconvert itself.
set -euo pipefail

build=${1:-build/release}
runs=${2:-5}
fwconvert=$build/tools/fwconvert/fwconvert
[[ -x $fwconvert ]] || { echo "fwconvert not found in $build" >&2; exit 2; }
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

# Median wall time in ms of RUNS runs of the command.
median_ms() {
  local times=()
  for ((r = 0; r < runs; r++)); do
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'
}

ours=$(median_ms "$fwconvert" --ts 1.2.840.10008.1.2.1 "$work/clip.dcm" "$work/ours.dcm")
theirs=$(median_ms dcmdjpeg "$work/clip.dcm" "$work/theirs.dcm")
cmp -s <(stat -c %s "$work/ours.dcm") <(stat -c %s "$work/theirs.dcm") || true
awk -v o="$ours" -v t="$theirs" 'BEGIN {
  printf "fwconvert: %d ms (%.2f ms per frame)\n", o, o / 125
  printf "dcmdjpeg:  %d ms (%.2f ms per frame)\n", t, t / 125
  printf "fwconvert is %.2f times as fast (goal: at least 2.5)\n", t / o
}'
