#!/usr/bin/env bash
# Prints figures of the code's shape, for reviews of the structure: upward
# includes, reach-ins into the association's internals, C frees written by hand
# outside the handle headers, long functions, functions with many parameters and
# bare (group, element) pairs. Counts the product code (not tests, fuzz targets,
# benchmarks or the generated dictionary). Needs universal-ctags (apt-get install
# universal-ctags). --list prints the functions behind the counts.
set -uo pipefail
cd "$(dirname "$0")/.."
list=0
[[ ${1-} == --list ]] && list=1

mapfile -t code < <(git ls-files '*.h' '*.cpp' | grep -vE '^(tests|fuzz|bench)/|DataDictionaryTable\.cpp$|dicom/Tags\.h$')
mapfile -t tests < <(git ls-files '*.h' '*.cpp' | grep -E '^(tests|fuzz)/')

count() { grep -hoE "$1" "${@:2}" 2>/dev/null | wc -l; }
count_perl() { grep -hoP "$1" "${@:2}" 2>/dev/null | wc -l; }

upward=$(bash scripts/check-layers.sh | grep -c 'above its layer')
# A member named without a call after it: accessors of the same name are fine.
internals='(\.|->)(assocRQ|assocAC|assocRJ|pdata|Link|AcceptedContexts|releaseRQ|releaseRP|abortRQ|RequestMessageID)\b(?!\s*\()'
outside_association=()
for f in "${code[@]}"; do [[ $f == net/association/* ]] || outside_association+=("$f"); done
reach_code=$(count_perl "$internals" "${outside_association[@]}")
reach_tests=$(count_perl "$internals" "${tests[@]}")
without_handles=()
for f in "${code[@]}"; do [[ $f == *Handles.h ]] || without_handles+=("$f"); done
frees=$(count '\b(gst_object_unref|gst_caps_unref|gst_sample_unref|gst_buffer_unref|gst_message_unref|gst_structure_free|gst_mini_object_unref|gst_iterator_free|g_free|g_error_free|g_object_unref|g_list_free[a-z_]*)\(' "${without_handles[@]}")
pairs=$(count '0x[0-9A-Fa-f]{4}, ?0x[0-9A-Fa-f]{4}\b' "${code[@]}")

functions=$(ctags -x --c++-kinds=f --fields=+neS --output-format=json -o - "${code[@]}" 2>/dev/null |
  python3 -c '
import json, sys
long_ones, many_params = [], []
for line in sys.stdin:
    tag = json.loads(line)
    if tag.get("kind") != "function" or "end" not in tag:
        continue
    lines = tag["end"] - tag["line"] + 1
    sig = tag.get("signature", "()")[1:-1].strip()
    depth, params = 0, (0 if sig in ("", "void") else 1)
    for c in sig:
        if c in "<([{": depth += 1
        elif c in ">)]}": depth -= 1
        elif c == "," and depth == 0: params += 1
    where = "%s:%d %s" % (tag["path"], tag["line"], tag["name"])
    if lines > 60: long_ones.append("%s (%d lines)" % (where, lines))
    if params >= 7: many_params.append("%s (%d parameters)" % (where, params))
print(len(long_ones), len(many_params))
if "'$list'" == "1":
    for x in long_ones + many_params: print(x, file=sys.stderr)
')
read -r long_functions many_parameters <<<"$functions"

printf '%-52s %s\n' \
  "upward includes" "$upward" \
  "reach-ins into the association (code)" "$reach_code" \
  "reach-ins into the association (tests, fuzz)" "$reach_tests" \
  "GLib/GStreamer frees by hand outside *Handles.h" "$frees" \
  "functions over 60 lines" "$long_functions" \
  "functions with 7 or more parameters" "$many_parameters" \
  "bare (group, element) pairs" "$pairs"
