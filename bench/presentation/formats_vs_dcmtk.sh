#!/usr/bin/env bash
# Times fwconvert against DCMTK on the syntaxes other toolkits write, each as
# whole runs converting to explicit VR little endian:
#   RLE decode     a 125-frame 640x480 colour clip made by dcmcrle, against dcmdrle
#   Deflate read   a 10 MB native data set deflated by dcmconv +td, against dcmconv +te
#
#   bench/presentation/formats_vs_dcmtk.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build/release (fwconvert must be built there), RUNS
# to 5; prints the median wall time of each tool and the ratio. The outputs
# of both tools are compared pixel for pixel before timing.
set -euo pipefail

build=${1:-build/release}
runs=${2:-5}
fwconvert=$build/tools/fwconvert/fwconvert
[[ -x $fwconvert ]] || { echo "fwconvert not found in $build" >&2; exit 2; }
for tool in dcmcrle dcmdrle dcmconv; do
  command -v $tool >/dev/null || { echo "$tool (dcmtk) not installed" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# native.dcm W H FRAMES SAMPLES: ramps with edges and noise, shifted per
# frame like a moving picture.
make_native() {
  /usr/bin/python3 - "$@" <<'PY'
import sys
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian

path, W, H, FRAMES, SPP = sys.argv[1], *map(int, sys.argv[2:])
seed = 4242
base = bytearray(W * H * SPP)
i = 0
for y in range(H):
    for x in range(W):
        seed = (seed * 1103515245 + 12345) & 0xFFFFFFFF
        n = (seed >> 29) - 4
        edge = ((x // 32 + y // 32) % 5) == 0
        flat = ((x // 64 + y // 48) % 3) == 0
        for c in range(SPP):
            v = (x * 255 // (W - 1) + y * (c + 1)) % 256
            if edge:
                v = 255 - v
            base[i] = 128 if flat else min(255, max(0, v + n))
            i += 1
stride = W * SPP
frames = bytearray()
for f in range(FRAMES):
    shift = (f * 4 % H) * stride
    frames += base[shift:] + base[:shift]

meta = FileMetaDataset()
meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.77.1.1.1"
meta.MediaStorageSOPInstanceUID = "2.25.739104652811350928774.7.2"
meta.TransferSyntaxUID = ExplicitVRLittleEndian
ds = Dataset()
ds.file_meta = meta
ds.SOPClassUID = meta.MediaStorageSOPClassUID
ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
ds.Modality = "US"
ds.PatientName = "Bench^Formats"
ds.PatientID = "BENCH2"
ds.SamplesPerPixel = SPP
ds.PhotometricInterpretation = "RGB" if SPP == 3 else "MONOCHROME2"
if SPP == 3:
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
ds.save_as(path, write_like_original=False)
PY
}

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

same_pixels() {
  /usr/bin/python3 -c "
import sys, pydicom
a, b = (pydicom.dcmread(p).PixelData for p in sys.argv[1:3])
sys.exit(0 if a == b else 1)" "$1" "$2" || { echo "pixels differ: $1 $2" >&2; exit 1; }
}

report() { # name ours theirs tool
  awk -v n="$1" -v o="$2" -v t="$3" -v tool="$4" 'BEGIN {
    printf "%s: fwconvert %d ms, %s %d ms, fwconvert is %.2f times as fast\n", n, o, tool, t, t / o
  }'
}

make_native "$work/clip.dcm" 640 480 125 3
dcmcrle "$work/clip.dcm" "$work/clip-rle.dcm"
echo "RLE clip: $(stat -c %s "$work/clip-rle.dcm") bytes, 125 frames 640x480 colour"
"$fwconvert" --ts 1.2.840.10008.1.2.1 "$work/clip-rle.dcm" "$work/ours-rle.dcm"
dcmdrle "$work/clip-rle.dcm" "$work/theirs-rle.dcm"
same_pixels "$work/ours-rle.dcm" "$work/theirs-rle.dcm"
report "RLE decode" "$(median_ms "$fwconvert" --ts 1.2.840.10008.1.2.1 "$work/clip-rle.dcm" "$work/ours-rle.dcm")" \
  "$(median_ms dcmdrle "$work/clip-rle.dcm" "$work/theirs-rle.dcm")" dcmdrle

make_native "$work/big.dcm" 640 480 34 1
dcmconv +td "$work/big.dcm" "$work/big-deflated.dcm"
echo "Deflated file: $(stat -c %s "$work/big.dcm") bytes native, $(stat -c %s "$work/big-deflated.dcm") deflated"
"$fwconvert" --ts 1.2.840.10008.1.2.1 "$work/big-deflated.dcm" "$work/ours-inflated.dcm"
dcmconv +te "$work/big-deflated.dcm" "$work/theirs-inflated.dcm"
same_pixels "$work/ours-inflated.dcm" "$work/theirs-inflated.dcm"
report "Deflate read" \
  "$(median_ms "$fwconvert" --ts 1.2.840.10008.1.2.1 "$work/big-deflated.dcm" "$work/ours-inflated.dcm")" \
  "$(median_ms dcmconv +te "$work/big-deflated.dcm" "$work/theirs-inflated.dcm")" "dcmconv +te"
