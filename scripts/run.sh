#!/usr/bin/env bash
# Installs what is missing, builds Framewell in Release and runs it in a
# complete local demo environment:
#
#   - a demo PACS (Orthanc, with Orthanc Explorer to look at what arrived) and
#     a worklist server (DCMTK's wlmscpfs) with entries for today for a few
#     made-up patients of the station's modality, on free loopback ports;
#   - a demo program folder (build/demo/home, used through FRAMEWELL_HOME, so a
#     real configuration is never touched) whose "quillbrook.cfg" points at them;
#   - the first video input device, or a moving test pattern when there is none.
#
# With a display the station opens in it, ready to acquire. Without one the
# walk-through program drives the station's windows offscreen (worklist search,
# Acquire, two stills and a clip, Send, close), writes screenshots and exits
# with its status. Everything started here is stopped by process id on exit.
#
# Settings: FRAMEWELL_DEMO_MODALITY (the station's modality, default US),
# FRAMEWELL_VIDEO_SOURCE (a GStreamer source instead of the device decision).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

bash scripts/install-deps.sh
BUILD=build/station
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DFRAMEWELL_TESTS=OFF -DFRAMEWELL_BENCH=OFF >/dev/null
TARGETS=(framewell)
# The walk-through is built when the tree has it.
if cmake --build "$BUILD" --target help | grep '^fwwalkthrough:' >/dev/null; then TARGETS+=(fwwalkthrough); fi
cmake --build "$BUILD" --target "${TARGETS[@]}"
STATION=$ROOT/$BUILD/app/framewell
WALKTHROUGH=$(find "$ROOT/$BUILD" -type f -name fwwalkthrough -perm -u+x 2>/dev/null | sed -n 1p)

# shellcheck source=peers.sh
source scripts/peers.sh

DEMO=$ROOT/build/demo
HOME_DIR=$DEMO/home
PEERS=$DEMO/peers
started=()
stop_started() {
  local i pid
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do
    pid=${started[$i]}
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  started=()
}
trap stop_started EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A fresh PACS and worklist each run; the program folder keeps its logs.
rm -rf "$PEERS"
mkdir -p "$PEERS" "$HOME_DIR"

MODALITIES=(US CR CT MR DX ES OT)
MODALITY=${FRAMEWELL_DEMO_MODALITY:-US}
MODALITY_INDEX=-1
for i in "${!MODALITIES[@]}"; do
  [ "${MODALITIES[$i]}" = "$MODALITY" ] && MODALITY_INDEX=$i
done
if [ "$MODALITY_INDEX" -lt 0 ]; then
  echo "run: FRAMEWELL_DEMO_MODALITY must be one of ${MODALITIES[*]}" >&2
  exit 2
fi

PACS_AET=DEMOPACS
WL_AET=DEMOWL
PACS_PORT=$(peers_free_port)
HTTP_PORT=$(peers_free_port)
while [ "$HTTP_PORT" = "$PACS_PORT" ]; do HTTP_PORT=$(peers_free_port); done
WL_PORT=$(peers_free_port)
while [ "$WL_PORT" = "$PACS_PORT" ] || [ "$WL_PORT" = "$HTTP_PORT" ]; do WL_PORT=$(peers_free_port); done

CONFIG=$HOME_DIR/quillbrook.cfg
peers_station_config "$CONFIG" FRAMEWELL "Demo Hospital" "$PACS_AET" 127.0.0.1 "$PACS_PORT" \
  "$WL_AET" 127.0.0.1 "$WL_PORT" "$MODALITY_INDEX"
# The worklist carries the modality the station's configuration selects.
MODALITY=$(peers_station_modality "$CONFIG")

ORTHANC_CONFIG=$(peers_orthanc_config "$PEERS/orthanc" "$PACS_PORT" "$HTTP_PORT" "$PACS_AET")
bash scripts/peers.sh run-orthanc "$ORTHANC_CONFIG" >"$PEERS/orthanc.log" 2>&1 &
started+=($!)
peers_wait_listening "${started[-1]}" "$PACS_PORT" &&
  peers_wait_listening "${started[-1]}" "$HTTP_PORT" ||
  { echo "run: the demo PACS (Orthanc) did not start; see $PEERS/orthanc.log" >&2; exit 1; }

WL_FOLDER=$(peers_wlmscpfs_db "$PEERS/worklist" "$WL_AET")
PATIENTS=$(peers_demo_worklist "$WL_FOLDER" "$MODALITY" "$(date +%Y%m%d)")
bash scripts/peers.sh run-wlmscpfs "$PEERS/worklist" "$WL_PORT" >"$PEERS/wlmscpfs.log" 2>&1 &
started+=($!)
peers_wait_listening "${started[-1]}" "$WL_PORT" ||
  { echo "run: the demo worklist server (wlmscpfs) did not start; see $PEERS/wlmscpfs.log" >&2; exit 1; }

# The video source, decided before the station starts: the first video input
# device when the machine has one, else a moving test pattern.
if [ -n "${FRAMEWELL_VIDEO_SOURCE:-}" ]; then
  VIDEO="$FRAMEWELL_VIDEO_SOURCE (FRAMEWELL_VIDEO_SOURCE)"
else
  DEVICE=$(timeout 10 gst-device-monitor-1.0 Video/Source 2>/dev/null |
    sed -nE 's/^[[:space:]]*name[[:space:]]*:[[:space:]]*(.*)$/\1/p' | sed -n 1p || true)
  if [ -n "$DEVICE" ]; then
    VIDEO="the first video input device: $DEVICE"
  else
    export FRAMEWELL_VIDEO_SOURCE="videotestsrc is-live=true pattern=ball"
    VIDEO="a moving test pattern (no video input device found)"
  fi
fi

cat <<TEXT
Demo environment (stopped again when this command ends):
  PACS (Orthanc)       AE title $PACS_AET, 127.0.0.1 port $PACS_PORT
  Orthanc Explorer     http://127.0.0.1:$HTTP_PORT/app/explorer.html
  worklist (wlmscpfs)  AE title $WL_AET, 127.0.0.1 port $WL_PORT, for today, modality $MODALITY:
$(sed 's/^/                         /' <<<"$PATIENTS")
  program folder       $HOME_DIR (FRAMEWELL_HOME; logs/ and temp/ below it)
  video                $VIDEO
TEXT

export FRAMEWELL_HOME=$HOME_DIR
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "Starting the station; search the worklist ("Search WL") to begin. Close it to end the demo."
  # In the background and waited for, so that INT and TERM reach the traps
  # at once and the station is stopped with the peers.
  "$STATION" &
  started+=($!)
  set +e
  wait "${started[-1]}"
  RC=$?
  set -e
  exit "$RC"
fi

SCREENSHOTS=$DEMO/screenshots
echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset): running the walk-through offscreen."
if [ -z "$WALKTHROUGH" ]; then
  echo "run: the walk-through program (fwwalkthrough) is not part of this tree" >&2
  exit 1
fi
rm -rf "$SCREENSHOTS"
mkdir -p "$SCREENSHOTS"
QT_QPA_PLATFORM=offscreen "$WALKTHROUGH" --screenshots "$SCREENSHOTS" \
  --orthanc-url "http://127.0.0.1:$HTTP_PORT" &
started+=($!)
set +e
wait "${started[-1]}"
RC=$?
set -e
echo "Screenshots: $SCREENSHOTS"
if [ "$RC" -eq 0 ]; then
  echo "The walk-through succeeded."
else
  echo "The walk-through failed (exit code $RC); the station's log is in $HOME_DIR/logs/." >&2
fi
exit "$RC"
