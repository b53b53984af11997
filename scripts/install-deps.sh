#!/usr/bin/env bash
# Installs every Debian package Framewell needs to build, run and test.
# Safe to run again: apt-get only installs what is missing.
set -euo pipefail

PACKAGES=(
  # build and run
  cmake ninja-build pkg-config g++ qt6-base-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-tools
  gstreamer1.0-plugins-base-apps
  # the other decoders and sources a capture device may need; the sanitizer
  # stage must stay green with them (scripts/lsan.supp)
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav
  libgdcm-dev libjpeg62-turbo-dev libopenjp2-7-dev libcharls-dev zlib1g-dev fonts-dejavu-core
  # tests, benchmarks, fuzzing, sanitizer runtimes, screenshots
  googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  dcmtk libdcmtk-dev orthanc dicom3tools libopenjp2-tools
  python3 python3-pydicom python3-numpy python3-pil
  xvfb xauth imagemagick iproute2 clang-format git curl time netbase valgrind
  locales
  # the Debian package (CPack's DEB generator)
  dpkg-dev file
)

# Every program the tests, benchmarks and scripts call, with the package that
# holds it; checked below against the list above (or an essential package),
# so the list stays true. netbase is here for /etc/services (the socket
# tests look up the "echo" service by name).
PROGRAMS=(
  "bash bash" "sh dash" "setpriv util-linux" "timeout coreutils"
  "git git" "cmake cmake" "ctest cmake" "ninja ninja-build" "pkg-config pkg-config"
  "g++ g++" "clang clang" "clang++ clang" "clang-format clang-format"
  "storescp dcmtk" "storescu dcmtk" "wlmscpfs dcmtk" "dcmqrscp dcmtk" "dump2dcm dcmtk"
  "dcmdump dcmtk" "dcmcjpeg dcmtk" "dcmdjpeg dcmtk"
  "Orthanc orthanc" "curl curl" "dciodvfy dicom3tools"
  "opj_compress libopenjp2-tools" "opj_decompress libopenjp2-tools"
  "python3 python3" "xvfb-run xvfb" "Xvfb xvfb" "xauth xauth" "convert imagemagick"
  "ss iproute2" "time time" "valgrind valgrind"
  "gst-device-monitor-1.0 gstreamer1.0-plugins-base-apps"
  "cpack cmake" "dpkg-deb dpkg" "dpkg-shlibdeps dpkg-dev" "file file" "ldd libc-bin"
)
# Python modules the scripts import with /usr/bin/python3.
PYTHON_MODULES=(pydicom numpy PIL)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep "install ok installed" >/dev/null; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
else
  echo "install-deps: installing ${#missing[@]} missing packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Where each program is, in the system folders only (a program of the same
# name elsewhere on the PATH does not count), and the package owning it: one
# dpkg-query call for all of them. With the merged /usr, dpkg knows some files
# under /bin only, so both forms are asked.
declare -A path_of owner_of
queries=()
for entry in "${PROGRAMS[@]}"; do
  read -r program _ <<<"$entry"
  for folder in /usr/bin /usr/sbin /bin /sbin; do
    if [ -x "$folder/$program" ]; then
      path_of[$program]=$(readlink -f "$folder/$program")
      queries+=("${path_of[$program]}" "${path_of[$program]#/usr}")
      break
    fi
  done
done
while IFS= read -r line; do
  owner=${line%%: *}
  owner_of[${line#*: }]=${owner%%:*}
done < <(dpkg-query -S "${queries[@]}" 2>/dev/null)

# Packages that count: the list, what it depends on (two levels, for
# metapackages such as imagemagick and pkg-config), and essential ones.
depends_of() {
  dpkg-query -W -f='${Depends}, ${Pre-Depends}\n' "$@" 2>/dev/null | tr ',|' '\n\n' |
    sed -E 's/^ *([^ :(]+).*/\1/' | grep -v '^ *$' | sort -u
}
declare -A counts
for package in "${PACKAGES[@]}"; do counts[$package]=1; done
first=$(depends_of "${PACKAGES[@]}")
for package in $first $(depends_of $first); do counts[$package]=1; done
while read -r package essential; do
  [ "$essential" = "yes" ] && counts[$package]=1
done < <(dpkg-query -W -f='${Package} ${Essential}\n' 2>/dev/null)

problems=0
for entry in "${PROGRAMS[@]}"; do
  read -r program package <<<"$entry"
  path=${path_of[$program]:-}
  if [ -z "$path" ]; then
    echo "install-deps: $program is not installed" >&2; problems=$((problems + 1)); continue
  fi
  owner=${owner_of[$path]:-${owner_of[${path#/usr}]:-}}
  if [ -z "${counts[$package]:-}" ]; then
    echo "install-deps: $program: its package $package is not in the list" >&2; problems=$((problems + 1))
  elif [ -z "$owner" ] || [ -z "${counts[$owner]:-}" ]; then
    echo "install-deps: $program ($path) comes from '${owner:-no package}', not from the list" >&2
    problems=$((problems + 1))
  fi
done
for module in "${PYTHON_MODULES[@]}"; do
  if ! /usr/bin/python3 -c "import $module" 2>/dev/null; then
    echo "install-deps: python module $module is missing" >&2
    problems=$((problems + 1))
  fi
done
if [ "$problems" -ne 0 ]; then
  echo "install-deps: $problems programs or modules are not provided by the listed packages" >&2
  exit 1
fi
echo "install-deps: ${#PROGRAMS[@]} programs and ${#PYTHON_MODULES[@]} python modules come from the listed packages"
