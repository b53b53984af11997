#!/usr/bin/env bash
# Installs every Debian package Framewell needs to build, run and test.
# Safe to run again: apt-get only installs what is missing.
set -euo pipefail

PACKAGES=(
  # build and run
  cmake ninja-build pkg-config g++ qt6-base-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-tools
  libgdcm-dev libjpeg62-turbo-dev libopenjp2-7-dev libcharls-dev zlib1g-dev fonts-dejavu-core
  # tests, benchmarks, fuzzing, sanitizer runtimes, screenshots
  googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  dcmtk libdcmtk-dev orthanc dicom3tools libopenjp2-tools python3-pydicom python3-numpy python3-pil curl
  xvfb xauth imagemagick iproute2 clang-format
  locales
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${#missing[@]} missing packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
