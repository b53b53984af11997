#!/usr/bin/env bash
# Builds the Debian package from a configured and built tree, checks its
# contents and control fields, extracts it and starts the extracted station
# offscreen with HOME and XDG_DATA_HOME pointing at scratch folders: an
# installed station must log into $XDG_DATA_HOME/framewell/logs/, never next
# to its executable (the extracted tree is writable, as /usr/bin is for root).
#
#   bash scripts/package-test.sh [BUILD_DIR]     (default build/release)
#
# Exits 0 when every check passed; prints one line per failed check.
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/release}
SHOW_SECONDS=${PACKAGE_TEST_SECONDS:-3}

if [ ! -f "$BUILD/CPackConfig.cmake" ]; then
  echo "package-test: $BUILD is not a configured build tree" >&2
  exit 1
fi
cmake --build "$BUILD" --target framewell fwdump fwconvert fwrender fwecho fwstore fwfind fwgrab fwacquire >/dev/null ||
  { echo "package-test: build failed" >&2; exit 1; }

WORK=$(cd "$BUILD" && pwd)/package-test
rm -rf "$WORK"
mkdir -p "$WORK"
if ! cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/out" >"$WORK/cpack.log" 2>&1; then
  cat "$WORK/cpack.log" >&2
  echo "package-test: cpack failed" >&2
  exit 1
fi
DEB=$(ls "$WORK"/out/framewell_*.deb 2>/dev/null | sed -n 1p)
if [ -z "$DEB" ]; then
  echo "package-test: cpack made no framewell_*.deb" >&2
  exit 1
fi
echo "package-test: built $DEB"

problems=0
fail() { echo "package-test: $*" >&2; problems=$((problems + 1)); }

dpkg-deb -c "$DEB" | awk '{print $NF}' >"$WORK/contents.txt"
for path in ./usr/bin/framewell ./usr/bin/fwdump ./usr/bin/fwconvert ./usr/bin/fwrender ./usr/bin/fwecho \
  ./usr/bin/fwstore ./usr/bin/fwfind ./usr/bin/fwgrab ./usr/bin/fwacquire \
  ./usr/share/applications/framewell.desktop ./usr/share/icons/hicolor/scalable/apps/framewell.svg \
  ./usr/share/framewell/installed; do
  grep -qxF "$path" "$WORK/contents.txt" || fail "the package lacks $path"
done

VERSION=$(sed -nE 's/^CMAKE_PROJECT_VERSION:STATIC=(.*)$/\1/p' "$BUILD/CMakeCache.txt")
field() { dpkg-deb -f "$DEB" "$1"; }
[ "$(field Package)" = framewell ] || fail "Package is '$(field Package)', not framewell"
[ "$(field Version)" = "$VERSION" ] || fail "Version is '$(field Version)', not $VERSION"
DEPENDS=$(field Depends)
# Loaded at run time, so no library scan can find them; and two that the
# shared-library scan must have found.
for needed in gstreamer1.0-plugins-base gstreamer1.0-plugins-good qt6-qpa-plugins libqt6widgets6 libgstreamer1.0-0; do
  case ", $DEPENDS," in
  *", $needed "* | *", $needed,"*) ;;
  *) fail "Depends lacks $needed: $DEPENDS" ;;
  esac
done
# grep reads the whole output (no -q): under pipefail, a grep that leaves at
# the first match can kill the writer with SIGPIPE and fail the check.
dpkg-deb -I "$DEB" | grep "^ Description: " >/dev/null || fail "dpkg-deb -I shows no Description"

ROOT=$WORK/root
dpkg-deb -x "$DEB" "$ROOT"
STATION=$ROOT/usr/bin/framewell
[ -x "$STATION" ] || { fail "no executable station after dpkg-deb -x"; exit 1; }
if ldd "$STATION" | grep "not found" >/dev/null; then
  fail "the extracted station misses libraries: $(ldd "$STATION" | grep 'not found' | tr -s ' \n' ' ')"
fi

# The menu entry must start the packaged program and name the packaged icon.
DESKTOP=$ROOT/usr/share/applications/framewell.desktop
exec_name=$(sed -nE 's/^Exec=([^ ]+).*/\1/p' "$DESKTOP")
icon_name=$(sed -nE 's/^Icon=(.*)$/\1/p' "$DESKTOP")
[ -x "$ROOT/usr/bin/$exec_name" ] || fail "the desktop entry starts '$exec_name', which the package lacks"
[ -f "$ROOT/usr/share/icons/hicolor/scalable/apps/$icon_name.svg" ] ||
  fail "the desktop entry names icon '$icon_name', which the package lacks"

mkdir -p "$WORK/home" "$WORK/xdg"
env -u FRAMEWELL_HOME -u DISPLAY -u WAYLAND_DISPLAY HOME="$WORK/home" XDG_DATA_HOME="$WORK/xdg" \
  QT_QPA_PLATFORM=offscreen FRAMEWELL_VIDEO_SOURCE="videotestsrc is-live=true" \
  timeout "$SHOW_SECONDS" "$STATION" >"$WORK/station.out" 2>&1
RC=$?

# timeout's 124: the station was still running when its time was up.
if [ "$RC" -ne 124 ]; then
  fail "the extracted station ended by itself with exit code $RC"
  cat "$WORK/station.out" >&2
fi

LOG=$WORK/xdg/framewell/logs/$(date +%Y%m%d)_qbk.log
if [ ! -f "$LOG" ]; then
  fail "no log at $LOG; files written: $(cd "$WORK" && find home xdg root -name '*_qbk.log' | tr '\n' ' ')"
elif ! grep -q ", INFO, Framewell $VERSION started" "$LOG"; then
  fail "the log $LOG lacks the start line"
else
  echo "package-test: the installed station logged to $LOG"
fi
[ -d "$WORK/xdg/framewell/temp" ] || fail "no temp/ below $WORK/xdg/framewell"
for stray in "$ROOT/usr/bin/logs" "$ROOT/usr/bin/temp" "$WORK/home/.local/share/framewell"; do
  [ -e "$stray" ] && fail "the installed station wrote $stray"
done

if [ "$problems" -ne 0 ]; then
  echo "package-test: $problems checks failed" >&2
  exit 1
fi
echo "package-test: package contents, control fields and the installed station's folders are right"
