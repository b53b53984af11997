#!/usr/bin/env bash
# Refuses an include that goes up the layers of the tree. Each folder may
# include its own layer and the layers below it:
#
#   base < dicom < conversion < net/link < net/pdu < net/association
#        < net/dimse, net/query (siblings) < station < acquisition < app
#
# presentation/ (display) sits on conversion/ beside the network; ui/ (the
# message-box seam, Qt only) sits on base/ and serves acquisition/ and app/.
# tools/, bench/, fuzz/ and tests/ are above everything and are not checked;
# nothing below them may include them. Prints every offending line; exit 1 if
# any.
set -uo pipefail
cd "$(dirname "$0")/.."

net_below_dimse="net/link net/pdu net/association"
declare -A allowed=(
  [base]="base"
  [dicom]="base dicom"
  [conversion]="base dicom conversion"
  [presentation]="base dicom conversion presentation"
  [net/link]="base dicom net/link"
  [net/pdu]="base dicom net/link net/pdu"
  [net/association]="base dicom $net_below_dimse"
  [net/dimse]="base dicom conversion $net_below_dimse net/dimse"
  [net/query]="base dicom $net_below_dimse net/query"
  [station]="base dicom $net_below_dimse net/dimse net/query station"
  [ui]="base ui"
  [acquisition]="base dicom conversion presentation $net_below_dimse net/dimse net/query station ui acquisition"
  [app]="base dicom conversion presentation $net_below_dimse net/dimse net/query station ui acquisition app"
)

# The layer a path belongs to: net/ by its second folder, the rest by the first.
layer_of() {
  case $1 in
    net/*/*) local rest=${1#net/}; echo "net/${rest%%/*}" ;;
    */*) echo "${1%%/*}" ;;
    *) echo "" ;;
  esac
}

bad=0
while IFS= read -r file; do
  layer=$(layer_of "$file")
  [[ -n ${allowed[$layer]+set} ]] || continue
  ok=${allowed[$layer]}
  while IFS=: read -r line target; do
    target_layer=$(layer_of "$target")
    [[ $target_layer == framewell ]] && continue # the generated version header
    if [[ " $ok " != *" $target_layer "* ]]; then
      echo "check-layers: $file:$line includes $target, above its layer"
      bad=1
    fi
  done < <(grep -noE '^#include "[a-z_]+/[^"]+"' "$file" | sed -E 's/#include "//; s/"$//')
done < <(git ls-files '*.h' '*.cpp')

if [ "$bad" -eq 0 ]; then echo "check-layers: every include follows the layer order"; fi
exit "$bad"
