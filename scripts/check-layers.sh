#!/usr/bin/env bash
# Refuses an include that goes up the network layers. Each folder of net/
# may include its own layer and the layers below it:
#
#   link < pdu < association < dimse, query   (dimse and query are siblings)
#
# The toolkit below the network (dicom/, presentation/, app/base/) includes
# no network header at all. Prints every offending line; exit 1 if any.
set -uo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [link]="link"
  [pdu]="link pdu"
  [association]="link pdu association"
  [dimse]="link pdu association dimse"
  [query]="link pdu association query"
)

bad=0
while IFS= read -r file; do
  case $file in
    net/*/*) layer=${file#net/}; layer=${layer%%/*}; ok=${allowed[$layer]-} ;;
    dicom/* | presentation/* | app/base/*) ok="" ;;
    *) continue ;;
  esac
  while IFS=: read -r line target; do
    target_layer=${target#net/}; target_layer=${target_layer%%/*}
    if [[ " $ok " != *" $target_layer "* ]]; then
      echo "check-layers: $file:$line includes $target, above its layer"
      bad=1
    fi
  done < <(grep -noE '^#include "net/[a-z]+/' "$file" | sed -E 's/#include "//; s/\/$//')
done < <(git ls-files '*.h' '*.cpp')

if [ "$bad" -eq 0 ]; then echo "check-layers: net/ includes follow the layer order"; fi
exit "$bad"
