#!/usr/bin/env bash
# Runs scripts/check-layers.sh over small made-up trees: each row is a file, the
# header it includes, and whether the check must refuse it.
set -uo pipefail
script="$1/scripts/check-layers.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cases=(
  # file                          include                          refused?
  "dicom/DcmObj.cpp               base/Log.h                       no"
  "dicom/DcmObj.cpp               net/link/Socket.h                yes"
  "base/Log.cpp                   dicom/DcmObj.h                   yes"
  "net/link/Socket.cpp            net/pdu/PDataTF.h                yes"
  "net/pdu/PDataTF.cpp            net/link/Buffer.h                no"
  "net/query/CFind.cpp            net/dimse/CStore.h               yes"
  "net/dimse/CStore.cpp           conversion/ConvertTransferSyntax.h no"
  "net/dimse/CStore.cpp           presentation/TImages.h           yes"
  "conversion/Convert.cpp         presentation/IconSkipper.h       yes"
  "station/StationRecords.cpp     net/query/StudyInfo.h            no"
  "station/StationRecords.cpp     acquisition/ImageBuilder.h       yes"
  "ui/MessageBoxes.cpp            acquisition/TForm3.h             yes"
  "acquisition/TForm3.cpp         ui/MessageBoxes.h                no"
  "acquisition/TForm3.cpp         app/TForm1.h                     yes"
  "acquisition/Session.cpp        tools/common/ToolLog.h           yes"
  "app/TForm1.cpp                 framewell/Version.h              no"
  "app/TForm1.cpp                 acquisition/TForm3.h             no"
  "tools/fwdump/FwDump.cpp        app/shell/ConfigFile.h           no"
)

failed=0
for row in "${cases[@]}"; do
  read -r file include refused <<<"$row"
  tree="$work/tree"
  rm -rf "$tree" && mkdir -p "$tree/scripts" "$tree/$(dirname "$file")"
  cp "$script" "$tree/scripts/"
  printf '#include "%s"\n' "$include" >"$tree/$file"
  git -C "$tree" init -q && git -C "$tree" add -A
  output=$(bash "$tree/scripts/check-layers.sh" 2>&1)
  status=$?
  if [[ $refused == yes && ($status -eq 0 || $output != *"$file:1 includes $include"*) ]]; then
    echo "FAIL: $file including $include was not refused: $output"
    failed=1
  elif [[ $refused == no && $status -ne 0 ]]; then
    echo "FAIL: $file including $include was refused: $output"
    failed=1
  fi
done
[[ $failed -eq 0 ]] && echo "check-layers: ${#cases[@]} cases as expected"
exit "$failed"
