#!/usr/bin/env bash
# Installs what is missing, builds Framewell in Release and starts the station.
# Without a display it says so, shows the station starting on a virtual
# display (Xvfb) for a few seconds, and exits 0 when it has logged its start.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build/station -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DFRAMEWELL_TESTS=OFF -DFRAMEWELL_BENCH=OFF >/dev/null
cmake --build build/station --target framewell
STATION=build/station/app/framewell

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$STATION"
fi

SECONDS_SHOWN=${FRAMEWELL_DEMO_SECONDS:-5}
echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset)."
echo "Starting the station on a virtual display (Xvfb) for ${SECONDS_SHOWN} s to show that it starts and logs."
if [ -n "${FRAMEWELL_HOME:-}" ]; then
  FOLDER=${FRAMEWELL_HOME%/}
else
  FOLDER=$(cd "$(dirname "$STATION")" && pwd)
fi
LOG="$FOLDER/logs/$(date +%Y%m%d)_qbk.log"
count_lines() { if [ -f "$LOG" ]; then wc -l <"$LOG"; else echo 0; fi; }
BEFORE=$(count_lines)

set +e
xvfb-run -a -s "-screen 0 1280x1024x24" timeout "$SECONDS_SHOWN" "$STATION"
RC=$?
set -e
if [ "$RC" -ne 0 ] && [ "$RC" -ne 124 ]; then
  echo "The station ended with exit code $RC."
  exit "$RC"
fi

AFTER=$(count_lines)
if [ "$AFTER" -le "$BEFORE" ]; then
  echo "The station did not write its log ($LOG)."
  exit 1
fi
echo "The station started and logged to $LOG:"
tail -n $((AFTER - BEFORE)) "$LOG"
echo "Stopped after ${SECONDS_SHOWN} s. On a machine with a display, the same command opens the station."
